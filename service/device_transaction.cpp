#include "device_transaction.h"

#include <cstring>

#include "pipe_protocol.h"

namespace koba::service {

uint32_t RunDeviceTransaction(ScsiChannel& channel, const uint8_t* request, size_t length,
                              uint8_t* reply, size_t reply_capacity, size_t* reply_length) {
  *reply_length = 0;
  if (!channel.Send(request, length))
    return kErrNotReady;

  const size_t expected = ExpectedLength(request, length);
  if (expected + 4 > kMessageCapacity)
    return kErrInsufficientBuffer;

  uint8_t buffer[kMessageCapacity] = {};
  if (!channel.Receive(buffer, expected + 4))
    return kErrNotReady;

  const size_t reported = static_cast<size_t>(buffer[0]) << 8 | buffer[1];
  if (reported + 2 > kMessageCapacity || reported > reply_capacity)
    return kErrInsufficientBuffer;
  uint32_t result = 0;
  if (reported > expected + 2 && !channel.Receive(buffer, reported + 2))
    result = kErrNotReady;
  std::memcpy(reply, buffer + 2, reported);
  *reply_length = reported;
  return result;
}

}  // namespace koba::service
