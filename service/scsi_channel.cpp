#include "scsi_channel.h"

#include <cstring>

namespace koba::service {
namespace {

constexpr UCHAR kPathId = 0;
constexpr UCHAR kTargetId = 1;
constexpr UCHAR kLun = 0;
constexpr UCHAR kCdbLength = 6;
constexpr UCHAR kSenseInfoLength = 24;
constexpr ULONG kTimeOutSeconds = 300;

}  // namespace

void PrepareStep(ScsiPassThroughBuffer* buffer, bool data_in, void* data, ULONG length) {
  std::memset(buffer, 0, sizeof *buffer);
  SCSI_PASS_THROUGH_DIRECT& s = buffer->sptd;
  s.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  s.PathId = kPathId;
  s.TargetId = kTargetId;
  s.Lun = kLun;
  s.CdbLength = kCdbLength;
  s.SenseInfoLength = kSenseInfoLength;
  s.DataIn = data_in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  s.DataTransferLength = length;
  s.TimeOutValue = kTimeOutSeconds;
  s.DataBuffer = data;
  s.SenseInfoOffset = offsetof(ScsiPassThroughBuffer, sense);
  s.Cdb[0] = data_in ? kCdbReceive : kCdbSend;
}

bool DeviceIoChannel::Send(const uint8_t* data, size_t length) {
  return Step(false, const_cast<uint8_t*>(data), length);
}

bool DeviceIoChannel::Receive(uint8_t* data, size_t length) {
  return Step(true, data, length);
}

bool DeviceIoChannel::Step(bool data_in, void* data, size_t length) {
  ScsiPassThroughBuffer buffer;
  PrepareStep(&buffer, data_in, data, static_cast<ULONG>(length));
  DWORD returned = 0;
  return DeviceIoControl(key_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &buffer, sizeof buffer, &buffer,
                         sizeof buffer, &returned, nullptr) &&
         buffer.sptd.ScsiStatus == 0;
}

}  // namespace koba::service
