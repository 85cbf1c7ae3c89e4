// APDU round trips per second to one virtual key, side by side in one run: through the storage
// stack (CreateFileA on the key's device path, DeviceIoControl IOCTL_SCSI_PASS_THROUGH_DIRECT
// to the virtual key bus driver, F1 then F2, as the device monitor talks to a key) and through
// the device extension library's in-process SCSI side (VkeyScsi_PassThrough). The bus must be
// installed in the prefix (tools/install-vkey.sh); the key lives in a store of the run's own.
#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "bus_client.h"
#include "common/win_handle.h"
#include "device.h"
#include "store.h"
#include "testing/temp_store.h"

namespace {

constexpr char kSerial[] = "BENCH001";
const uint8_t kSelect[] = {0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x01};

struct Record {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};

void Fill(Record* r, uint8_t opcode, uint8_t direction, void* data, ULONG length) {
  std::memset(r, 0, sizeof *r);
  r->sptd.Length = sizeof r->sptd;
  r->sptd.TargetId = 1;
  r->sptd.CdbLength = 6;
  r->sptd.SenseInfoLength = 24;
  r->sptd.DataIn = direction;
  r->sptd.DataTransferLength = length;
  r->sptd.TimeOutValue = 300;
  r->sptd.DataBuffer = data;
  r->sptd.SenseInfoOffset = offsetof(Record, sense);
  r->sptd.Cdb[0] = opcode;
}

// One SELECT and its answer through `step` (one pass-through call); false on any failure.
bool RoundTrip(const std::function<bool(Record*)>& step) {
  uint8_t out[sizeof kSelect], in[8] = {};
  std::memcpy(out, kSelect, sizeof kSelect);
  Record r;
  Fill(&r, 0xF1, SCSI_IOCTL_DATA_OUT, out, sizeof out);
  if (!step(&r) || r.sptd.ScsiStatus)
    return false;
  Fill(&r, 0xF2, SCSI_IOCTL_DATA_IN, in, 4);
  return step(&r) && !r.sptd.ScsiStatus && in[0] == 0 && in[1] == 2 && in[2] == 0x90;
}

// Round trips per second over about `seconds`; -1 when one fails.
double Rate(const std::function<bool(Record*)>& step, double seconds) {
  const auto start = std::chrono::steady_clock::now();
  long n = 0;
  double elapsed = 0;
  do {
    if (!RoundTrip(step))
      return -1;
    ++n;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (elapsed < seconds);
  return n / elapsed;
}

}  // namespace

int main() {
  vkey::testing::TempStore store;
  if (!vkey::bus::Installed()) {
    std::fprintf(stderr, "vkeybus_bench: %s\n",
                 vkey::bus::Explain(vkey::bus::kBusNotInstalled).c_str());
    return 1;
  }
  const std::wstring folder = vkey::StoreFolder();
  HKEY raw = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, vkey::kStoreSettingKey, 0, nullptr, 0,
                  KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr);
  koba::win::UniqueRegKey setting(raw);
  RegSetValueExW(setting.get(), vkey::kStoreSettingValue, 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  vkey::Transact([](vkey::Store& s) {
    s.keys.clear();
    vkey::AddKey(s, kSerial, false);
    return true;
  });
  if (vkey::bus::Resync() != 0) {
    std::fprintf(stderr, "vkeybus_bench: the bus does not follow the store\n");
    return 1;
  }
  const std::string path =
      "\\\\?\\usbstor#cdrom&ven_korvanet&prod_5070&rev_1.00#bench001&0#"
      "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  koba::win::UniqueHandle device;
  const ULONGLONG deadline = GetTickCount64() + 20000;
  while (!device && GetTickCount64() < deadline) {
    device = koba::win::OwnFile(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    if (!device)
      Sleep(10);
  }
  HMODULE devex = LoadLibraryW(vkey::testing::BesideTest(L"..\\vkey\\Q2DevEx01_koba.dll").c_str());
  auto pass = reinterpret_cast<BOOL(WINAPI*)(const char*, void*, uint32_t)>(
      reinterpret_cast<void*>(devex ? GetProcAddress(devex, "VkeyScsi_PassThrough") : nullptr));
  if (!device || !pass) {
    std::fprintf(stderr, "vkeybus_bench: no device (%lu) or no VkeyScsi_PassThrough\n",
                 GetLastError());
    return 1;
  }
  const double ioctl = Rate(
      [&](Record* r) {
        DWORD returned = 0;
        return DeviceIoControl(device.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, r, sizeof *r, r,
                               sizeof *r, &returned, nullptr) != FALSE;
      },
      3.0);
  const double library =
      Rate([&](Record* r) { return pass(path.c_str(), r, sizeof *r) != FALSE; }, 3.0);
  std::printf(
      "APDU round trips (SELECT: F1 + F2) to one virtual key: DeviceIoControl through the bus "
      "driver %.0f/s (%.2f ms each), VkeyScsi_PassThrough in process %.0f/s (%.2f ms each), "
      "ratio %.2f\n",
      ioctl, 1000 / ioctl, library, 1000 / library, library / ioctl);
  device.reset();
  vkey::Transact([](vkey::Store& s) {
    s.keys.clear();
    return true;
  });
  vkey::bus::Resync();
  RegDeleteValueW(setting.get(), vkey::kStoreSettingValue);
  FreeLibrary(devex);
  return ioctl > 0 && library > 0 ? 0 : 1;
}
