// Hostile frames of the largest size the host reads, parsed under an address-space limit close
// to what a 32-bit host has: every one leaves the document null and the next request is read.
// Built without sanitizers, which cannot run under such a limit.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "framing.h"

namespace koba::host {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string Frame(const std::string& payload) {
  const auto n = static_cast<uint32_t>(payload.size());
  std::string frame{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                    static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
  return frame + payload;
}

class FrameMemory : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const rlimit limit{kAddressSpace, kAddressSpace};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
  }
  static constexpr rlim_t kAddressSpace = 1536ull << 20;
};

TEST_F(FrameMemory, LargestHostileFramesAreRefusedAndTheStreamGoesOn) {
  const size_t size = static_cast<size_t>(kMaxRequestBytes);
  std::string tiny = "[";
  tiny.reserve(size);
  while (tiny.size() + 4 < size)
    tiny += "0,";
  tiny += "0]";
  const struct {
    const char* what;
    std::string payload;
  } cases[] = {
      {"nested arrays", std::string(size / 2, '[') + std::string(size / 2, ']')},
      {"tiny elements", std::move(tiny)},
      {"nested objects",
       [&] {
         std::string text;
         text.reserve(size);
         while (text.size() + 6 < size / 2)
           text += "{\"a\":";
         return text + "0" + std::string(text.size() / 5, '}');
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_LE(c.payload.size(), size);
    std::unique_ptr<std::FILE, FileCloser> in(std::tmpfile());
    ASSERT_NE(in, nullptr);
    const std::string bytes = Frame(c.payload) + Frame(R"({"type":"next"})");
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), in.get()), bytes.size());
    std::rewind(in.get());
    rapidjson::Document doc;
    ASSERT_EQ(ReadRequest(in.get(), doc), 0);
    EXPECT_TRUE(doc.IsNull());
    ASSERT_EQ(ReadRequest(in.get(), doc), 0);
    ASSERT_TRUE(doc.IsObject());
    EXPECT_STREQ(doc["type"].GetString(), "next");
  }
}

}  // namespace
}  // namespace koba::host
