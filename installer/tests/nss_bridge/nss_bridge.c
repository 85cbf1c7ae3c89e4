/* Test-only, never installed: a Winelib nss3.dll whose exports call Debian's Linux NSS, so
 * that the installer plug-in's Firefox exports reach a real NSS under Wine. Windows passes
 * 32-bit unsigned longs and Windows paths; the Linux side gets its own widths and a Unix
 * "sql:" profile folder. */
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <windef.h>

#include <winbase.h>
#include <winnls.h>

/* The Linux functions, declared with their published shapes. */
extern void PR_Init(int type, int priority, unsigned int max_ptds);
extern int PR_Cleanup(void);
extern int NSS_Initialize(const char* dir, const char* cert_prefix, const char* key_prefix,
                          const char* secmod_name, unsigned int flags);
extern int NSS_Shutdown(void);
extern void* SECMOD_GetDefaultModuleList(void);
extern void* SECMOD_FindModule(const char* name);
extern void SECMOD_DestroyModule(void* module);
extern int SECMOD_AddNewModule(const char* name, const char* dll_path,
                               unsigned long mechanism_flags, unsigned long cipher_flags);

extern void* PK11_GetInternalKeySlot(void);
extern void PK11_FreeSlot(void* slot);
extern int PK11_ImportCert(void* slot, void* cert, unsigned long key, const char* nickname,
                           int include_trust);
extern void* CERT_DecodeCertFromPackage(char* der, int length);
extern void CERT_DestroyCertificate(void* cert);
extern void* CERT_GetDefaultCertDB(void);
/* The trust record is three unsigned ints on both sides. */
extern int CERT_GetCertTrust(const void* cert, void* trust);
extern int CERT_ChangeCertTrust(void* db, void* cert, void* trust);

extern char* CDECL wine_get_unix_file_name(const WCHAR* dos);

void CDECL w_PR_Init(int type, int priority, unsigned int max_ptds) {
  PR_Init(type, priority, max_ptds);
}

int CDECL w_PR_Cleanup(void) {
  return PR_Cleanup();
}

int CDECL w_NSS_Initialize(const char* dir, const char* cert_prefix, const char* key_prefix,
                           const char* secmod_name, unsigned int flags) {
  WCHAR wide[MAX_PATH];
  char *unix_dir, *config;
  int status;

  if (!MultiByteToWideChar(CP_ACP, 0, dir, -1, wide, MAX_PATH))
    return -1;
  if (!(unix_dir = wine_get_unix_file_name(wide)))
    return -1;
  config = malloc(strlen(unix_dir) + 5);
  strcpy(config, "sql:");
  strcat(config, unix_dir);
  status = NSS_Initialize(config, cert_prefix, key_prefix, secmod_name, flags);
  free(config);
  HeapFree(GetProcessHeap(), 0, unix_dir);
  return status;
}

int CDECL w_NSS_Shutdown(void) {
  return NSS_Shutdown();
}

void* CDECL w_SECMOD_GetDefaultModuleList(void) {
  return SECMOD_GetDefaultModuleList();
}

void* CDECL w_SECMOD_FindModule(const char* name) {
  return SECMOD_FindModule(name);
}

void CDECL w_SECMOD_DestroyModule(void* module) {
  SECMOD_DestroyModule(module);
}

int CDECL w_SECMOD_AddNewModule(const char* name, const char* dll_path,
                                unsigned int mechanism_flags, unsigned int cipher_flags) {
  return SECMOD_AddNewModule(name, dll_path, mechanism_flags, cipher_flags);
}

void* CDECL w_PK11_GetInternalKeySlot(void) {
  return PK11_GetInternalKeySlot();
}

void CDECL w_PK11_FreeSlot(void* slot) {
  PK11_FreeSlot(slot);
}

int CDECL w_PK11_ImportCert(void* slot, void* cert, unsigned int key, const char* nickname,
                            int include_trust) {
  return PK11_ImportCert(slot, cert, key, nickname, include_trust);
}

void* CDECL w_CERT_DecodeCertFromPackage(char* der, int length) {
  return CERT_DecodeCertFromPackage(der, length);
}

void CDECL w_CERT_DestroyCertificate(void* cert) {
  CERT_DestroyCertificate(cert);
}

void* CDECL w_CERT_GetDefaultCertDB(void) {
  return CERT_GetDefaultCertDB();
}

int CDECL w_CERT_GetCertTrust(const void* cert, void* trust) {
  return CERT_GetCertTrust(cert, trust);
}

int CDECL w_CERT_ChangeCertTrust(void* db, void* cert, void* trust) {
  return CERT_ChangeCertTrust(db, cert, trust);
}
