/* vkeybus.sys: the virtual key bus. TEST DOUBLE, loads only under Wine, never shipped and never
 * installed by the installer (tools/install-vkey.sh puts it into a test prefix).
 *
 * A root-enumerated bus driver: one child device per plugged-in virtual key, seen by Windows as
 * a USB CD-ROM-class storage device ("USBSTOR\CdRom&Ven_Korvanet&Prod_<model>&Rev_1.00", instance
 * "<serial>&0", the CD-ROM device interface enabled while it is plugged in). The children answer
 * IOCTL_SCSI_PASS_THROUGH_DIRECT with the key's vendor commands (F1 sends an APDU, F2 receives the
 * answer), run by the store half of the bus, vkeybus_store.dll.
 *
 * It relies on what only Wine offers: the driver runs inside winedevice.exe, an ordinary process,
 * so it loads a user-mode DLL that reads the key store, and reaches the caller's data buffer with
 * ReadProcessMemory/WriteProcessMemory on the calling process (imported from kernelbase; importing
 * kernel32 or ntdll would make Wine run the entry point as DllMain). */
#include <ntddk.h>

#include <initguid.h>

#include <ntddscsi.h>
#include <ntddstor.h>

#include "vkeybus_protocol.h"

/* kernelbase, through the import library made from kernelbase.def. */
#define KB_IMPORT __declspec(dllimport) __stdcall
#define KB_PROCESS_VM (0x0008 | 0x0010 | 0x0020) /* VM_OPERATION | VM_READ | VM_WRITE */
void* KB_IMPORT LoadLibraryW(const WCHAR* name);
void* KB_IMPORT GetProcAddress(void* module, const char* name);
HANDLE KB_IMPORT OpenProcess(ULONG access, BOOLEAN inherit, ULONG pid);
BOOLEAN KB_IMPORT ReadProcessMemory(HANDLE process, const void* from, void* to, SIZE_T size,
                                    SIZE_T* done);
BOOLEAN KB_IMPORT WriteProcessMemory(HANDLE process, void* to, const void* from, SIZE_T size,
                                     SIZE_T* done);
BOOLEAN KB_IMPORT CloseHandle(HANDLE handle);
/* A user-mode critical section guards the bus: the PnP manager sends its requests from a thread
 * of its own, and a kernel mutex shared with the request dispatch thread was seen left owned
 * with no holder under Wine. */
typedef struct KB_CRITICAL_SECTION {
  void* opaque[5];
} KB_CRITICAL_SECTION;
void KB_IMPORT InitializeCriticalSection(KB_CRITICAL_SECTION* section);
void KB_IMPORT EnterCriticalSection(KB_CRITICAL_SECTION* section);
void KB_IMPORT LeaveCriticalSection(KB_CRITICAL_SECTION* section);

#define TAG 0x6276764Bu /* pool tag "Kvvb" */
#define ERROR_FILE_NOT_FOUND_ 2u
#define ERROR_DEVICE_NOT_CONNECTED_ 1167u

typedef enum { KIND_CONTROL, KIND_BUS, KIND_KEY } DEVICE_KIND;

typedef struct COMMON_EXT {
  DEVICE_KIND kind;
} COMMON_EXT;

typedef struct KEY_EXT {
  COMMON_EXT common;
  VKEYBUS_KEY key;
  BOOLEAN plugged; /* reported to the PnP manager as a child of the bus */
  BOOLEAN interface_on;
  /* Removed by the PnP manager while handles were still open: the device goes with the last
   * close. Deleted under an open handle, it would never see that handle's close request, which
   * frees the caller's record and its process handle. */
  BOOLEAN removed;
  ULONG open_files;    /* guarded by g_lock */
  UNICODE_STRING link; /* the CD-ROM interface's symbolic link */
} KEY_EXT;

typedef struct BUS_EXT {
  COMMON_EXT common;
  DEVICE_OBJECT* self;
  DEVICE_OBJECT* lower;
  DEVICE_OBJECT* pdo;
  DEVICE_OBJECT* keys[VKEYBUS_MAX_KEYS]; /* plugged-in children, in plug order */
  ULONG count;
} BUS_EXT;

/* The caller of a key device handle, opened once per process for its data buffers. */
typedef struct CALLER {
  ULONG pid;
  HANDLE process;
} CALLER;

static DRIVER_OBJECT* g_driver;
static DEVICE_OBJECT* g_control;
static BUS_EXT* g_bus;
static KB_CRITICAL_SECTION g_lock; /* guards g_bus's children and the store functions */
static VkeyBusPresentKeysFn g_present_keys;
static VkeyBusFindKeyFn g_find_key;
static VkeyBusCommandFn g_command;

static void Lock(void) {
  EnterCriticalSection(&g_lock);
}

static void Unlock(void) {
  LeaveCriticalSection(&g_lock);
}

/* Loads the store half once; false when it is missing. Called with the lock held. */
static BOOLEAN StoreReady(void) {
  void* dll;
  if (g_command)
    return TRUE;
  dll = LoadLibraryW(VKEYBUS_STORE_DLL);
  if (!dll)
    return FALSE;
  g_present_keys = (VkeyBusPresentKeysFn)GetProcAddress(dll, "VkeyBus_PresentKeys");
  g_find_key = (VkeyBusFindKeyFn)GetProcAddress(dll, "VkeyBus_FindKey");
  g_command = (VkeyBusCommandFn)GetProcAddress(dll, "VkeyBus_Command");
  if (!g_present_keys || !g_find_key)
    g_command = NULL;
  return g_command != NULL;
}

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static BOOLEAN SameSerial(const char* a, const char* b) {
  ULONG i;
  for (i = 0; i < sizeof(((VKEYBUS_KEY*)0)->serial); ++i) {
    if (a[i] != b[i])
      return FALSE;
    if (!a[i])
      return TRUE;
  }
  return TRUE;
}

/* ---- Identifiers -------------------------------------------------------------------------- */

typedef struct WIDE_TEXT {
  WCHAR* text;
  ULONG length;
  ULONG capacity;
} WIDE_TEXT;

static void Append(WIDE_TEXT* t, const char* s) {
  while (*s && t->length + 1 < t->capacity)
    t->text[t->length++] = (WCHAR)(unsigned char)*s++;
  t->text[t->length] = 0;
}

/* Ends one string of a multi-string; the buffer is zeroed, so the list ends itself. */
static void Next(WIDE_TEXT* t) {
  if (t->length + 2 < t->capacity)
    ++t->length;
}

/* A pool string for IRP_MN_QUERY_ID / QUERY_DEVICE_TEXT (the PnP manager frees it). */
static WCHAR* KeyId(const KEY_EXT* key, BUS_QUERY_ID_TYPE type) {
  WIDE_TEXT t;
  t.capacity = 512;
  t.length = 0;
  t.text = ExAllocatePoolWithTag(PagedPool, t.capacity * sizeof(WCHAR), TAG);
  if (!t.text)
    return NULL;
  RtlZeroMemory(t.text, t.capacity * sizeof(WCHAR));
  switch (type) {
    case BusQueryDeviceID:
      Append(&t, "USBSTOR\\CdRom&Ven_Korvanet&Prod_");
      Append(&t, key->key.model);
      Append(&t, "&Rev_1.00");
      break;
    case BusQueryHardwareIDs:
      Append(&t, "USBSTOR\\CdRom&Ven_Korvanet&Prod_");
      Append(&t, key->key.model);
      Append(&t, "&Rev_1.00");
      Next(&t);
      Append(&t, "USBSTOR\\CdRom&Ven_Korvanet&Prod_");
      Append(&t, key->key.model);
      Next(&t);
      Append(&t, "USBSTOR\\CdRom&Ven_Korvanet");
      Next(&t);
      break;
    case BusQueryCompatibleIDs:
      Append(&t, "USBSTOR\\CdRom");
      Next(&t);
      break;
    case BusQueryInstanceID:
      Append(&t, key->key.serial);
      Append(&t, "&0");
      break;
    default:
      ExFreePoolWithTag(t.text, TAG);
      return NULL;
  }
  return t.text;
}

static WCHAR* KeyDescription(const KEY_EXT* key) {
  WIDE_TEXT t;
  t.capacity = 64;
  t.length = 0;
  t.text = ExAllocatePoolWithTag(PagedPool, t.capacity * sizeof(WCHAR), TAG);
  if (!t.text)
    return NULL;
  Append(&t, "Korvanet ");
  Append(&t, key->key.model);
  Append(&t, " USB Key");
  return t.text;
}

/* ---- Children ----------------------------------------------------------------------------- */

/* Adds a child for `key`; the lock is held. False when the bus is full or out of memory. */
static BOOLEAN AddChild(const VKEYBUS_KEY* key) {
  DEVICE_OBJECT* pdo;
  KEY_EXT* ext;
  if (g_bus->count == VKEYBUS_MAX_KEYS)
    return FALSE;
  if (!NT_SUCCESS(IoCreateDevice(
          g_driver, sizeof(KEY_EXT), NULL, FILE_DEVICE_CD_ROM,
          FILE_AUTOGENERATED_DEVICE_NAME | FILE_DEVICE_SECURE_OPEN | FILE_REMOVABLE_MEDIA, FALSE,
          &pdo)))
    return FALSE;
  ext = pdo->DeviceExtension;
  RtlZeroMemory(ext, sizeof *ext);
  ext->common.kind = KIND_KEY;
  ext->key = *key;
  ext->key.serial[sizeof ext->key.serial - 1] = 0;
  ext->key.model[sizeof ext->key.model - 1] = 0;
  ext->plugged = TRUE;
  pdo->Flags |= DO_BUFFERED_IO;
  pdo->Flags &= ~DO_DEVICE_INITIALIZING;
  g_bus->keys[g_bus->count++] = pdo;
  return TRUE;
}

static LONG FindChild(const char* serial) {
  ULONG i;
  for (i = 0; i < g_bus->count; ++i)
    if (SameSerial(((KEY_EXT*)g_bus->keys[i]->DeviceExtension)->key.serial, serial))
      return (LONG)i;
  return -1;
}

/* Takes the child out of the bus's list; the lock is held. The PnP manager removes its device
 * once the bus relations no longer list it. */
static void DropChild(LONG index) {
  ULONG i;
  ((KEY_EXT*)g_bus->keys[index]->DeviceExtension)->plugged = FALSE;
  for (i = (ULONG)index; i + 1 < g_bus->count; ++i)
    g_bus->keys[i] = g_bus->keys[i + 1];
  --g_bus->count;
}

static void Invalidate(void) {
  if (g_bus)
    IoInvalidateDeviceRelations(g_bus->pdo, BusRelations);
}

/* Plugs in exactly the keys the store has present. */
static NTSTATUS Resync(void) {
  VKEYBUS_KEY present[VKEYBUS_MAX_KEYS];
  uint32_t count = 0;
  ULONG i, j;
  BOOLEAN changed = FALSE;
  Lock();
  if (!StoreReady() || g_present_keys(present, VKEYBUS_MAX_KEYS, &count) != 0) {
    Unlock();
    return STATUS_DEVICE_NOT_READY;
  }
  for (i = g_bus->count; i-- > 0;) {
    const char* serial = ((KEY_EXT*)g_bus->keys[i]->DeviceExtension)->key.serial;
    for (j = 0; j < count && !SameSerial(present[j].serial, serial); ++j)
      ;
    if (j == count) {
      DropChild((LONG)i);
      changed = TRUE;
    }
  }
  for (j = 0; j < count; ++j)
    if (FindChild(present[j].serial) < 0 && AddChild(&present[j]))
      changed = TRUE;
  Unlock();
  if (changed)
    Invalidate();
  return STATUS_SUCCESS;
}

static NTSTATUS Plug(const char* serial) {
  VKEYBUS_KEY key;
  uint32_t error;
  NTSTATUS status = STATUS_SUCCESS;
  Lock();
  error = StoreReady() ? g_find_key(serial, &key) : ERROR_DEVICE_NOT_CONNECTED_;
  if (error == ERROR_FILE_NOT_FOUND_)
    status = STATUS_OBJECT_NAME_NOT_FOUND;
  else if (error)
    status = STATUS_DEVICE_NOT_CONNECTED;
  else if (FindChild(serial) >= 0)
    error = 1; /* already plugged in: nothing to announce */
  else if (!AddChild(&key))
    status = STATUS_INSUFFICIENT_RESOURCES;
  Unlock();
  if (NT_SUCCESS(status) && !error)
    Invalidate();
  return status;
}

static NTSTATUS Unplug(const char* serial) {
  LONG index;
  Lock();
  index = FindChild(serial);
  if (index >= 0)
    DropChild(index);
  Unlock();
  if (index < 0)
    return STATUS_OBJECT_NAME_NOT_FOUND;
  Invalidate();
  return STATUS_SUCCESS;
}

/* ---- SCSI pass-through -------------------------------------------------------------------- */

/* The fields of a SCSI_PASS_THROUGH_DIRECT record of either width. */
typedef struct PASS_THROUGH {
  ULONG record_size;
  UCHAR direction;
  UCHAR cdb_length;
  UCHAR sense_length;
  ULONG transfer_length;
  ULONG64 data;
  ULONG sense_offset;
  UCHAR opcode;
} PASS_THROUGH;

/* Reads the record by its size: 44 bytes from a 32-bit caller, 56 from a 64-bit one. */
static BOOLEAN ReadRecord(const UCHAR* buffer, ULONG size, PASS_THROUGH* pt) {
  const USHORT length = *(const USHORT*)buffer;
  if (size < sizeof(VKEYBUS_PASS_THROUGH_DIRECT32) || length > size)
    return FALSE;
  if (length == sizeof(VKEYBUS_PASS_THROUGH_DIRECT32)) {
    const VKEYBUS_PASS_THROUGH_DIRECT32* r = (const VKEYBUS_PASS_THROUGH_DIRECT32*)buffer;
    pt->direction = r->DataIn;
    pt->cdb_length = r->CdbLength;
    pt->sense_length = r->SenseInfoLength;
    pt->transfer_length = r->DataTransferLength;
    pt->data = r->DataBuffer;
    pt->sense_offset = r->SenseInfoOffset;
    pt->opcode = r->Cdb[0];
  } else if (length == sizeof(SCSI_PASS_THROUGH_DIRECT)) {
    const SCSI_PASS_THROUGH_DIRECT* r = (const SCSI_PASS_THROUGH_DIRECT*)buffer;
    pt->direction = r->DataIn;
    pt->cdb_length = r->CdbLength;
    pt->sense_length = r->SenseInfoLength;
    pt->transfer_length = r->DataTransferLength;
    pt->data = (ULONG64)(ULONG_PTR)r->DataBuffer;
    pt->sense_offset = r->SenseInfoOffset;
    pt->opcode = r->Cdb[0];
  } else {
    return FALSE;
  }
  pt->record_size = length;
  return pt->cdb_length >= 6 && pt->cdb_length <= 16 &&
         pt->transfer_length <= VKEYBUS_MAX_TRANSFER && (!pt->transfer_length || pt->data);
}

/* Writes the outcome into the record: the SCSI status, the bytes moved, and on CHECK CONDITION
 * fixed-format sense data (ILLEGAL REQUEST, invalid command operation code) where the caller put
 * its sense area. */
static void WriteOutcome(UCHAR* buffer, ULONG size, const PASS_THROUGH* pt, UCHAR scsi_status,
                         ULONG transferred) {
  UCHAR sense_written = 0;
  if (scsi_status == 2 && pt->sense_length && pt->sense_offset >= pt->record_size &&
      pt->sense_offset <= size && size - pt->sense_offset >= pt->sense_length) {
    UCHAR* sense = buffer + pt->sense_offset;
    sense_written = pt->sense_length < 18 ? pt->sense_length : 18;
    RtlZeroMemory(sense, sense_written);
    sense[0] = 0x70;
    if (sense_written > 2)
      sense[2] = 0x05;
    if (sense_written > 7)
      sense[7] = 10;
    if (sense_written > 12)
      sense[12] = 0x20;
  }
  if (pt->record_size == sizeof(VKEYBUS_PASS_THROUGH_DIRECT32)) {
    VKEYBUS_PASS_THROUGH_DIRECT32* r = (VKEYBUS_PASS_THROUGH_DIRECT32*)buffer;
    r->ScsiStatus = scsi_status;
    r->SenseInfoLength = sense_written;
    r->DataTransferLength = transferred;
  } else {
    SCSI_PASS_THROUGH_DIRECT* r = (SCSI_PASS_THROUGH_DIRECT*)buffer;
    r->ScsiStatus = scsi_status;
    r->SenseInfoLength = sense_written;
    r->DataTransferLength = transferred;
  }
}

static HANDLE CallerProcess(FILE_OBJECT* file) {
  CALLER* caller = file ? file->FsContext : NULL;
  const ULONG pid = (ULONG)(ULONG_PTR)PsGetCurrentProcessId();
  if (!caller)
    return NULL;
  if (caller->process && caller->pid != pid) {
    CloseHandle(caller->process);
    caller->process = NULL;
  }
  if (!caller->process) {
    caller->process = OpenProcess(KB_PROCESS_VM, FALSE, pid);
    caller->pid = pid;
  }
  return caller->process;
}

static NTSTATUS PassThrough(KEY_EXT* key, IRP* irp, IO_STACK_LOCATION* stack) {
  UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  PASS_THROUGH pt;
  HANDLE process;
  UCHAR* data = NULL;
  uint32_t transferred = 0, error;
  uint8_t scsi_status = 0;
  SIZE_T moved = 0;
  char serial[sizeof key->key.serial];
  NTSTATUS status = STATUS_SUCCESS;

  if (!buffer || !ReadRecord(buffer, in, &pt) || out < pt.record_size)
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  if (pt.direction > SCSI_IOCTL_DATA_UNSPECIFIED)
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  process = CallerProcess(stack->FileObject);
  if (!process)
    return Complete(irp, STATUS_ACCESS_DENIED, 0);
  if (pt.transfer_length) {
    data = ExAllocatePoolWithTag(NonPagedPool, pt.transfer_length, TAG);
    if (!data)
      return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlZeroMemory(data, pt.transfer_length);
    if (pt.direction == SCSI_IOCTL_DATA_OUT &&
        (!ReadProcessMemory(process, (const void*)(ULONG_PTR)pt.data, data, pt.transfer_length,
                            &moved) ||
         moved != pt.transfer_length)) {
      ExFreePoolWithTag(data, TAG);
      return Complete(irp, STATUS_INVALID_USER_BUFFER, 0);
    }
  }

  Lock();
  RtlCopyMemory(serial, key->key.serial, sizeof serial);
  error = key->plugged && g_command ? g_command(serial, pt.opcode, pt.direction, data,
                                                pt.transfer_length, &transferred, &scsi_status)
                                    : ERROR_DEVICE_NOT_CONNECTED_;
  Unlock();
  if (!error && pt.direction == SCSI_IOCTL_DATA_IN && transferred &&
      (!WriteProcessMemory(process, (void*)(ULONG_PTR)pt.data, data, transferred, &moved) ||
       moved != transferred))
    status = STATUS_INVALID_USER_BUFFER;
  if (data)
    ExFreePoolWithTag(data, TAG);
  if (error == ERROR_DEVICE_NOT_CONNECTED_) {
    /* Pulled out, also mid-transaction by a scripted fault: the device goes away. */
    Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    Unplug(serial);
    return STATUS_DEVICE_NOT_CONNECTED;
  }
  if (error)
    return Complete(irp, STATUS_UNSUCCESSFUL, 0);
  if (!NT_SUCCESS(status))
    return Complete(irp, status, 0);
  WriteOutcome(buffer, in < out ? in : out, &pt, scsi_status, transferred);
  return Complete(irp, STATUS_SUCCESS, out < in ? out : in);
}

/* ---- PnP ---------------------------------------------------------------------------------- */

static NTSTATUS SignalDone(DEVICE_OBJECT* device, IRP* irp, void* context) {
  (void)device;
  (void)irp;
  KeSetEvent((KEVENT*)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Sends the IRP down and waits for the lower driver; the IRP stays ours. */
static NTSTATUS ForwardAndWait(BUS_EXT* bus, IRP* irp) {
  KEVENT done;
  NTSTATUS status;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
  status = IoCallDriver(bus->lower, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
  }
  return status;
}

static NTSTATUS PassDown(BUS_EXT* bus, IRP* irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(bus->lower, irp);
}

static NTSTATUS BusPnp(BUS_EXT* bus, IRP* irp, IO_STACK_LOCATION* stack) {
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = ForwardAndWait(bus, irp);
      Complete(irp, status, 0);
      if (NT_SUCCESS(status))
        Resync();
      return status;
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS: {
      DEVICE_RELATIONS* relations;
      ULONG i;
      if (stack->Parameters.QueryDeviceRelations.Type != BusRelations)
        return PassDown(bus, irp);
      Lock();
      relations = ExAllocatePoolWithTag(
          PagedPool, sizeof(DEVICE_RELATIONS) + VKEYBUS_MAX_KEYS * sizeof(DEVICE_OBJECT*), TAG);
      if (!relations) {
        Unlock();
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
      }
      relations->Count = bus->count;
      for (i = 0; i < bus->count; ++i) {
        relations->Objects[i] = bus->keys[i];
        ObReferenceObject(bus->keys[i]);
      }
      Unlock();
      irp->IoStatus.Status = STATUS_SUCCESS;
      irp->IoStatus.Information = (ULONG_PTR)relations;
      return PassDown(bus, irp);
    }
    case IRP_MN_REMOVE_DEVICE: {
      NTSTATUS status;
      irp->IoStatus.Status = STATUS_SUCCESS;
      status = PassDown(bus, irp);
      Lock();
      g_bus = NULL;
      Unlock();
      IoDetachDevice(bus->lower);
      IoDeleteDevice(bus->self);
      return status;
    }
    default:
      return PassDown(bus, irp);
  }
}

static void InterfaceOff(KEY_EXT* key) {
  if (key->interface_on) {
    IoSetDeviceInterfaceState(&key->link, FALSE);
    key->interface_on = FALSE;
  }
}

static void DeleteKeyDevice(DEVICE_OBJECT* device, KEY_EXT* key) {
  RtlFreeUnicodeString(&key->link);
  IoDeleteDevice(device);
}

static NTSTATUS KeyPnp(DEVICE_OBJECT* device, KEY_EXT* key, IRP* irp, IO_STACK_LOCATION* stack) {
  switch (stack->MinorFunction) {
    case IRP_MN_QUERY_ID: {
      WCHAR* id = KeyId(key, stack->Parameters.QueryId.IdType);
      return id ? Complete(irp, STATUS_SUCCESS, (ULONG_PTR)id)
                : Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
    case IRP_MN_QUERY_DEVICE_TEXT: {
      WCHAR* text = stack->Parameters.QueryDeviceText.DeviceTextType == DeviceTextDescription
                        ? KeyDescription(key)
                        : NULL;
      return text ? Complete(irp, STATUS_SUCCESS, (ULONG_PTR)text)
                  : Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
    case IRP_MN_QUERY_CAPABILITIES: {
      DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
      caps->RawDeviceOK = 1;
      caps->Removable = 1;
      caps->SurpriseRemovalOK = 1;
      caps->UniqueID = 1;
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS: {
      DEVICE_RELATIONS* relations;
      if (stack->Parameters.QueryDeviceRelations.Type != TargetDeviceRelation)
        return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
      relations = ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), TAG);
      if (!relations)
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
      relations->Count = 1;
      relations->Objects[0] = device;
      ObReferenceObject(device);
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)relations);
    }
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = STATUS_SUCCESS;
      if (!key->link.Buffer)
        status = IoRegisterDeviceInterface(device, &GUID_DEVINTERFACE_CDROM, NULL, &key->link);
      if (NT_SUCCESS(status) && !key->interface_on) {
        status = IoSetDeviceInterfaceState(&key->link, TRUE);
        key->interface_on = NT_SUCCESS(status);
      }
      return Complete(irp, status, 0);
    }
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
      if (stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL)
        InterfaceOff(key);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MN_REMOVE_DEVICE: {
      BOOLEAN gone;
      InterfaceOff(key);
      Lock();
      gone = !key->plugged && !key->open_files;
      key->removed = !key->plugged && key->open_files;
      Unlock();
      Complete(irp, STATUS_SUCCESS, 0);
      if (gone)
        DeleteKeyDevice(device, key);
      return STATUS_SUCCESS;
    }
    default:
      return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
  }
}

/* ---- Dispatch ----------------------------------------------------------------------------- */

static NTSTATUS ControlRequest(IRP* irp, IO_STACK_LOCATION* stack) {
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  VKEYBUS_SERIAL serial;
  if (!g_bus)
    return Complete(irp, STATUS_DEVICE_NOT_READY, 0);
  switch (code) {
    case IOCTL_VKEYBUS_PLUG:
    case IOCTL_VKEYBUS_UNPLUG:
      if (!buffer || in != sizeof serial)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      RtlCopyMemory(&serial, buffer, sizeof serial);
      serial.serial[sizeof serial.serial - 1] = 0;
      return Complete(irp, code == IOCTL_VKEYBUS_PLUG ? Plug(serial.serial) : Unplug(serial.serial),
                      0);
    case IOCTL_VKEYBUS_LIST: {
      ULONG i, n;
      Lock();
      n = g_bus->count;
      if (n && (!buffer || out < n * sizeof(VKEYBUS_KEY))) {
        Unlock();
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      }
      for (i = 0; i < n; ++i)
        ((VKEYBUS_KEY*)buffer)[i] = ((KEY_EXT*)g_bus->keys[i]->DeviceExtension)->key;
      Unlock();
      return Complete(irp, STATUS_SUCCESS, n * sizeof(VKEYBUS_KEY));
    }
    case IOCTL_VKEYBUS_RESYNC:
      return Complete(irp, Resync(), 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

static NTSTATUS DispatchCreate(DEVICE_OBJECT* device, IRP* irp) {
  COMMON_EXT* ext = device->DeviceExtension;
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  CALLER* caller;
  BOOLEAN plugged;
  if (ext->kind == KIND_BUS)
    return PassDown((BUS_EXT*)ext, irp);
  if (ext->kind == KIND_CONTROL)
    return Complete(irp, STATUS_SUCCESS, 0);
  caller = ExAllocatePoolWithTag(NonPagedPool, sizeof *caller, TAG);
  if (!caller)
    return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  Lock();
  plugged = ((KEY_EXT*)ext)->plugged;
  if (plugged)
    ++((KEY_EXT*)ext)->open_files;
  Unlock();
  if (!plugged) {
    ExFreePoolWithTag(caller, TAG);
    return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  caller->pid = 0;
  caller->process = NULL;
  stack->FileObject->FsContext = caller;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchClose(DEVICE_OBJECT* device, IRP* irp) {
  COMMON_EXT* ext = device->DeviceExtension;
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (ext->kind == KIND_BUS)
    return PassDown((BUS_EXT*)ext, irp);
  if (ext->kind == KIND_KEY && stack->FileObject && stack->FileObject->FsContext) {
    KEY_EXT* key = (KEY_EXT*)ext;
    CALLER* caller = stack->FileObject->FsContext;
    BOOLEAN gone;
    if (caller->process)
      CloseHandle(caller->process);
    ExFreePoolWithTag(caller, TAG);
    stack->FileObject->FsContext = NULL;
    Lock();
    gone = --key->open_files == 0 && key->removed;
    Unlock();
    Complete(irp, STATUS_SUCCESS, 0);
    if (gone)
      DeleteKeyDevice(device, key);
    return STATUS_SUCCESS;
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchCleanup(DEVICE_OBJECT* device, IRP* irp) {
  COMMON_EXT* ext = device->DeviceExtension;
  if (ext->kind == KIND_BUS)
    return PassDown((BUS_EXT*)ext, irp);
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(DEVICE_OBJECT* device, IRP* irp) {
  COMMON_EXT* ext = device->DeviceExtension;
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  switch (ext->kind) {
    case KIND_CONTROL:
      return ControlRequest(irp, stack);
    case KIND_BUS:
      return PassDown((BUS_EXT*)ext, irp);
    case KIND_KEY:
      if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_SCSI_PASS_THROUGH_DIRECT)
        return PassThrough((KEY_EXT*)ext, irp, stack);
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static NTSTATUS DispatchPnp(DEVICE_OBJECT* device, IRP* irp) {
  COMMON_EXT* ext = device->DeviceExtension;
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (ext->kind == KIND_BUS)
    return BusPnp((BUS_EXT*)ext, irp, stack);
  if (ext->kind == KIND_KEY)
    return KeyPnp(device, (KEY_EXT*)ext, irp, stack);
  return Complete(irp, STATUS_NOT_SUPPORTED, 0);
}

static NTSTATUS DispatchPower(DEVICE_OBJECT* device, IRP* irp) {
  COMMON_EXT* ext = device->DeviceExtension;
  if (ext->kind == KIND_BUS) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(((BUS_EXT*)ext)->lower, irp);
  }
  PoStartNextPowerIrp(irp);
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
  DEVICE_OBJECT* fdo;
  BUS_EXT* bus;
  NTSTATUS status;
  if (g_bus)
    return STATUS_DEVICE_ALREADY_ATTACHED;
  status = IoCreateDevice(driver, sizeof(BUS_EXT), NULL, FILE_DEVICE_BUS_EXTENDER,
                          FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
  if (!NT_SUCCESS(status))
    return status;
  bus = fdo->DeviceExtension;
  RtlZeroMemory(bus, sizeof *bus);
  bus->common.kind = KIND_BUS;
  bus->self = fdo;
  bus->pdo = pdo;
  bus->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
  if (!bus->lower) {
    IoDeleteDevice(fdo);
    return STATUS_NO_SUCH_DEVICE;
  }
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  Lock();
  g_bus = bus;
  Unlock();
  return STATUS_SUCCESS;
}

static void Unload(DRIVER_OBJECT* driver) {
  UNICODE_STRING link;
  (void)driver;
  RtlInitUnicodeString(&link, VKEYBUS_CONTROL_LINK);
  IoDeleteSymbolicLink(&link);
  if (g_control)
    IoDeleteDevice(g_control);
  g_control = NULL;
}

NTSTATUS DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry) {
  UNICODE_STRING name, link;
  NTSTATUS status;
  (void)registry;
  g_driver = driver;
  InitializeCriticalSection(&g_lock);
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;

  RtlInitUnicodeString(&name, VKEYBUS_CONTROL_NAME);
  RtlInitUnicodeString(&link, VKEYBUS_CONTROL_LINK);
  status = IoCreateDevice(driver, sizeof(COMMON_EXT), &name, FILE_DEVICE_UNKNOWN,
                          FILE_DEVICE_SECURE_OPEN, FALSE, &g_control);
  if (!NT_SUCCESS(status))
    return status;
  ((COMMON_EXT*)g_control->DeviceExtension)->kind = KIND_CONTROL;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(g_control);
    g_control = NULL;
    return status;
  }
  g_control->Flags |= DO_BUFFERED_IO;
  g_control->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
