#include "result_codes.h"

#include <gtest/gtest.h>

namespace koba::core {
namespace {

TEST(ResultCodes, MessagesByExactCode) {
  const struct {
    int code;
    const wchar_t* text;
  } cases[] = {
      // The whole message table.
      {-100, L"The operation canceled."},
      {-101, L"The system cannot find the file specified."},
      {-102, L"There is not any UsbKey."},
      {-103, L"There is not any UsbKey."},
      {-104, L"It should exist only one UsbKey."},
      {-105, L"An internal consistency timer has expired."},
      {-106, L"The parameter is error."},
      {-200, L"The Pin verifed error."},
      {-215, L"The Pin verifed error."},
      {-221, L"The UsbKey is locked."},
      {-222, L"The Pin verifed error."},
      {-300, L"Other error."},
      {-302, L"Read data error."},
      {-333, L"The process isnot firefox."},
      {-351, L"The error occurred when exporting public key."},
      {-352, L"The error occurred when writing objects."},
      {-353, L"Do not write cert again."},
      {-359, L"Did not get the random!"},
      {-360, L"The error occurred when openning file!"},
      {-361, L"It should exist only one certificate request."},
      {-362, L"It should format device before enrolling a certificate request."},
      {-400, L"Not enough memory available to complete this command."},
      {-403, L"The error occurred when Generating keypair."},
      {-404, L"The error occurred when creating pkcs10."},
      {-405, L"The certificate does not exist."},
      {-407, L"The error occurred when parsing the PKCS#7 pacage."},
      {-408, L"The error occurred when writing certificate to usbkey."},
      {-409, L"The error occurred when construting PKCS#7 package."},
      {-410, L"The error occurred when verify PKCS#7 package."},
      {-411, L"Function is not supported."},
      {-413, L"Too many special cert."},
      // Codes outside it.
      {0, L"Other error."},
      {1, L"Other error."},
      {-214, L"Other error."},
      {-363, L"Other error."},
      {-393, L"Other error."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MessageFor(c.code), c.text) << c.code;
  }
  EXPECT_EQ(ControlMessageFor(-363), L"Error state.");
  EXPECT_EQ(ControlMessageFor(-393), L"Environment is destroyed.");
  EXPECT_EQ(ControlMessageFor(-405), L"The certificate does not exist.");
}

TEST(ResultCodes, BufferFormIsBoundedAndTerminated) {
  wchar_t buf[300];
  EXPECT_EQ(MessageFor(-106, buf, 300), 23u);
  EXPECT_STREQ(buf, L"The parameter is error.");
  wchar_t small[5];
  EXPECT_EQ(MessageFor(-106, small, 5), 4u);
  EXPECT_STREQ(small, L"The ");
  EXPECT_EQ(MessageFor(-106, nullptr, 10), 0u);
  EXPECT_EQ(MessageFor(-106, buf, 0), 0u);
}

TEST(ResultCodes, PinStatusMapping) {
  using P = PinOperation;
  const struct {
    uint32_t status;
    int login, change, init;
  } cases[] = {
      {0, 0, 0, 0},
      {static_cast<uint32_t>(-100), -100, -100, -100},
      {0x8010002E, -102, -300, -300},
      {0xE011000F, -105, -105, -105},
      {0xE0110010, -221, -300, -300},
      {0xE0110015, -300, -300, -300},
      {0xE011001E, -300, -300, -300},
      {0xE011FFFE, -393, -393, -393},
      {0xE011FFFF, -300, -300, -300},
      {0x12345, -300, -300, -300},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MapPinStatus(P::kLogin, c.status), c.login) << std::hex << c.status;
    EXPECT_EQ(MapPinStatus(P::kChangePin, c.status), c.change) << std::hex << c.status;
    EXPECT_EQ(MapPinStatus(P::kInitToken, c.status), c.init) << std::hex << c.status;
  }
  EXPECT_TRUE(IsWrongPinStatus(0xE0110010));
  EXPECT_TRUE(IsWrongPinStatus(0xE011001E));
  EXPECT_FALSE(IsWrongPinStatus(0xE011001F));
  EXPECT_FALSE(IsWrongPinStatus(0xE011000F));
  EXPECT_EQ(WrongPinCode(15), -215);
  EXPECT_EQ(WrongPinCode(1), -201);
  EXPECT_EQ(WrongPinCode(0), -221);
}

}  // namespace
}  // namespace koba::core
