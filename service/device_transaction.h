// The device transaction of a key pipe: one command APDU sent to the key as a vendor SCSI
// command (CDB F1, data out), its answer read back (CDB F2, data in) as a 2-byte big-endian
// length followed by the response bytes. The SCSI steps go through a `ScsiChannel`, so the
// rules are the same over DeviceIoControl and in the tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace koba::service {

// Result codes of a transaction; they stay inside the monitor (the client sees the connection
// end). 0 is success.
inline constexpr uint32_t kErrNotReady = 0x80100010;       // a SCSI step failed
inline constexpr uint32_t kErrUnknownReader = 0x80100009;  // the key cannot be opened
// The request asks for, or the key reports, more than the 4096-byte buffers hold.
inline constexpr uint32_t kErrInsufficientBuffer = 0x80100008;

class ScsiChannel {
 public:
  virtual ~ScsiChannel() = default;
  // Data out: `length` bytes of `data`. Returns false when the step failed or the SCSI status
  // was not 0.
  virtual bool Send(const uint8_t* data, size_t length) = 0;
  // Data in: asks for `length` bytes into `data`.
  virtual bool Receive(uint8_t* data, size_t length) = 0;
};

// Runs the transaction for `request` (`length` bytes, at least 1) and puts the key's response
// bytes into `reply` (`reply_capacity` bytes) with their count in `*reply_length`. Nothing is
// written past either buffer: a request whose expected length would overrun the 4096-byte
// receive buffer, or a reported length over 4094 or over the reply's capacity, fails with
// kErrInsufficientBuffer before anything is copied.
uint32_t RunDeviceTransaction(ScsiChannel& channel, const uint8_t* request, size_t length,
                              uint8_t* reply, size_t reply_capacity, size_t* reply_length);

}  // namespace koba::service
