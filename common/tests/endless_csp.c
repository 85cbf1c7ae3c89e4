/* Test only: a provider whose container enumeration never ends, each call naming a new
   container "c<n>". Loaded by csp_test by its path; never installed. */
#include <windows.h>

#include <wincrypt.h>

#include <stdint.h>
#include <stdio.h>

__declspec(dllexport) int WINAPI
    CPAcquireContext(uintptr_t* prov, const char* container, uint32_t flags, void* table) {
  (void)container;
  (void)flags;
  (void)table;
  *prov = 1;
  return TRUE;
}

__declspec(dllexport) int WINAPI CPReleaseContext(uintptr_t prov, uint32_t flags) {
  (void)prov;
  (void)flags;
  return TRUE;
}

__declspec(dllexport) int WINAPI CPGetProvParam(uintptr_t prov, uint32_t param, uint8_t* data,
                                                uint32_t* length, uint32_t flags) {
  static unsigned next;
  (void)prov;
  (void)param;
  if (flags & CRYPT_FIRST)
    next = 0;
  const int n = snprintf((char*)data, *length, "c%u", next++);
  *length = (uint32_t)n + 1;
  return TRUE;
}
