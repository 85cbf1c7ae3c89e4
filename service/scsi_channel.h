// The key's SCSI side as the storage stack offers it: each step is one DeviceIoControl with
// IOCTL_SCSI_PASS_THROUGH_DIRECT on the key handle, with one buffer (the pass-through record, a
// filler and the sense area) as input and output.
#pragma once

#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <cstddef>

#include "device_transaction.h"

namespace koba::service {

struct ScsiPassThroughBuffer {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);
#if !defined(_WIN64)
// The 32-bit record the key's firmware was specified against.
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(ScsiPassThroughBuffer, sense) == 48);
static_assert(sizeof(ScsiPassThroughBuffer) == 80);
#endif

// Vendor commands of the key: the first CDB byte.
inline constexpr UCHAR kCdbSend = 0xF1;
inline constexpr UCHAR kCdbReceive = 0xF2;

// Fills the pass-through record of one step.
void PrepareStep(ScsiPassThroughBuffer* buffer, bool data_in, void* data, ULONG length);

class DeviceIoChannel : public ScsiChannel {
 public:
  explicit DeviceIoChannel(HANDLE key) : key_(key) {}
  bool Send(const uint8_t* data, size_t length) override;
  bool Receive(uint8_t* data, size_t length) override;

 private:
  bool Step(bool data_in, void* data, size_t length);
  HANDLE key_;
};

}  // namespace koba::service
