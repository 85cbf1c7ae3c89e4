/* What the virtual key bus driver (vkeybus.sys, a test double that loads only under Wine) shares
 * with its user-mode half (vkeybus_store.dll, loaded into the driver's host process) and with the
 * tools: the control device, its requests, and the calls the driver makes into the store.
 * Plain C: the driver is built against the DDK headers, the rest is C++. */
#pragma once

#include <stdint.h>

/* The control device: "\\.\KobaVkeyBus" from user mode. */
#define VKEYBUS_CONTROL_NAME L"\\Device\\KobaVkeyBus"
#define VKEYBUS_CONTROL_LINK L"\\DosDevices\\KobaVkeyBus"
#define VKEYBUS_CONTROL_PATH "\\\\.\\KobaVkeyBus"

/* The driver's service, and the root device it drives. */
#define VKEYBUS_SERVICE L"KobaVkeyBus"
#define VKEYBUS_ROOT_DEVICE L"ROOT\\KOBAVKEYBUS\\0000"
#define VKEYBUS_HARDWARE_ID L"ROOT\\KobaVkeyBus"
#define VKEYBUS_STORE_DLL L"vkeybus_store.dll"

/* Control requests (METHOD_BUFFERED, FILE_ANY_ACCESS on FILE_DEVICE_UNKNOWN):
 *   PLUG    in: VKEYBUS_SERIAL. Plugs the key in when the store has it present.
 *           Fails with ERROR_FILE_NOT_FOUND (no such key in the driver's store) or
 *           ERROR_DEVICE_NOT_CONNECTED (the store has it removed).
 *   UNPLUG  in: VKEYBUS_SERIAL. Pulls the key's device out; ERROR_FILE_NOT_FOUND when it
 *           was not plugged in.
 *   LIST    out: VKEYBUS_KEY[], the plugged-in keys in plug order.
 *   RESYNC  no data. Plugs in exactly the keys the store has present (as after a start). */
#define VKEYBUS_CTL(n) ((0x22u << 16) | ((0x800u + (n)) << 2))
#define IOCTL_VKEYBUS_PLUG VKEYBUS_CTL(0)
#define IOCTL_VKEYBUS_UNPLUG VKEYBUS_CTL(1)
#define IOCTL_VKEYBUS_LIST VKEYBUS_CTL(2)
#define IOCTL_VKEYBUS_RESYNC VKEYBUS_CTL(3)

#define VKEYBUS_MAX_KEYS 16
#define VKEYBUS_MAX_TRANSFER 65536u

typedef struct VKEYBUS_SERIAL {
  char serial[20]; /* NUL-terminated, trailing spaces trimmed */
} VKEYBUS_SERIAL;

typedef struct VKEYBUS_KEY {
  char serial[20]; /* NUL-terminated, trailing spaces trimmed */
  char model[8];   /* NUL-terminated model code, e.g. "5070" */
} VKEYBUS_KEY;

/* The SCSI_PASS_THROUGH_DIRECT record of a 32-bit caller, 44 bytes with a 32-bit data pointer
 * (the toolchain's own SCSI_PASS_THROUGH_DIRECT32 keeps a native pointer). */
typedef struct VKEYBUS_PASS_THROUGH_DIRECT32 {
  uint16_t Length;
  uint8_t ScsiStatus;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t CdbLength;
  uint8_t SenseInfoLength;
  uint8_t DataIn;
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;
  uint32_t DataBuffer;
  uint32_t SenseInfoOffset;
  uint8_t Cdb[16];
} VKEYBUS_PASS_THROUGH_DIRECT32;
#ifdef __cplusplus
static_assert(sizeof(VKEYBUS_PASS_THROUGH_DIRECT32) == 44, "the 32-bit record");
#else
_Static_assert(sizeof(VKEYBUS_PASS_THROUGH_DIRECT32) == 44, "the 32-bit record");
#endif

/* Exports of vkeybus_store.dll (plain names, WINAPI). They return a Win32 error code.
 *   VkeyBus_PresentKeys(keys, capacity, *count): the keys the store has present.
 *   VkeyBus_FindKey(serial, *key): 0 when present, ERROR_DEVICE_NOT_CONNECTED when removed,
 *     ERROR_FILE_NOT_FOUND when the store has no such key.
 *   VkeyBus_Command(serial, opcode, data_in, data, length, *transferred, *scsi_status): one
 *     vendor command (F1 sends an APDU, F2 receives the answer), as the key's SCSI side runs it;
 *     ERROR_DEVICE_NOT_CONNECTED when the key is (or was just) pulled out. */
#define VKEYBUS_API __stdcall
typedef uint32_t(VKEYBUS_API* VkeyBusPresentKeysFn)(VKEYBUS_KEY* keys, uint32_t capacity,
                                                    uint32_t* count);
typedef uint32_t(VKEYBUS_API* VkeyBusFindKeyFn)(const char* serial, VKEYBUS_KEY* key);
typedef uint32_t(VKEYBUS_API* VkeyBusCommandFn)(const char* serial, uint8_t opcode, uint8_t data_in,
                                                uint8_t* data, uint32_t length,
                                                uint32_t* transferred, uint8_t* scsi_status);
