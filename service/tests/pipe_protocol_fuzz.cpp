// Fuzzes what arrives from a pipe client and from the key: the input is split into a request
// and the key's data-in bytes; the list request check and the device transaction must never
// read or write outside their buffers.
#include <cstring>
#include <vector>

#include "device_transaction.h"
#include "pipe_protocol.h"

namespace {

class FuzzKey : public koba::service::ScsiChannel {
 public:
  FuzzKey(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Send(const uint8_t*, size_t) override { return size_ != 1; }
  bool Receive(uint8_t* out, size_t length) override {
    std::memcpy(out, data_, std::min(length, size_));
    return size_ != 3;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  const size_t split = std::min<size_t>(data[0] | data[1] << 8, size - 2);
  std::vector<uint8_t> request(data + 2, data + 2 + split);
  const uint8_t* answer = data + 2 + split;
  const size_t answer_size = size - 2 - split;

  koba::service::IsListRequest(request.data(), request.size());
  if (request.empty())
    return 0;
  FuzzKey key(answer, answer_size);
  std::vector<uint8_t> reply(koba::service::kMessageCapacity);
  size_t n = 0;
  koba::service::RunDeviceTransaction(key, request.data(), request.size(), reply.data(),
                                      reply.size(), &n);
  if (n > reply.size())
    __builtin_trap();
  std::vector<char> list(koba::service::kPathListCapacity);
  koba::service::PathList paths(list.data(), list.size());
  paths.Append(std::string_view(reinterpret_cast<const char*>(answer), answer_size));
  const size_t list_size = paths.Finish();
  koba::service::ForEachPath(list.data(), list_size, [](std::string_view) {});
  return 0;
}
