// The virtual key bus under Wine, seen as a program of the system sees USB keys: SetupAPI
// enumeration of the CD-ROM interface, CreateFileA on the path, the vendor SCSI commands through
// IOCTL_SCSI_PASS_THROUGH_DIRECT, and device-interface notifications to a window. Needs the
// driver installed into the prefix (the vkeybus_install fixture runs tools/install-vkey.sh).
#include <windows.h>

#include <winioctl.h>

#include <dbt.h>
#include <gtest/gtest.h>
#include <initguid.h>
#include <ntddscsi.h>
#include <ntddstor.h>
#include <psapi.h>
#include <setupapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus_client.h"
#include "common/win_handle.h"
#include "device.h"
#include "process_census.h"
#include "store.h"
#include "testing/temp_store.h"

using vkey::Bytes;

namespace {

constexpr DWORD kDeadlineMs = 60000;

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string PathOf(const std::string& serial, const std::string& model = "5070") {
  return "\\\\?\\usbstor#cdrom&ven_korvanet&prod_" + model + "&rev_1.00#" + Lower(serial) +
         "&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
}

struct DevInfoCloser {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};

// The device monitor's enumeration: the CD-ROM interfaces present, with their class, kept when
// the path names the maker and the revision.
std::vector<std::string> KeyPaths(std::vector<std::string>* classes = nullptr) {
  std::vector<std::string> paths;
  HDEVINFO raw = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_CDROM, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (raw == INVALID_HANDLE_VALUE)
    return paths;
  std::unique_ptr<void, DevInfoCloser> set(raw);
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof iface;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(raw, nullptr, &GUID_DEVINTERFACE_CDROM, i, &iface);
       ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(raw, &iface, nullptr, 0, &size, nullptr);
    std::vector<char> buffer(size + 8, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailA(raw, &iface, detail, size, nullptr, &device))
      continue;
    char cls[1024] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(raw, &device, SPDRP_CLASS, nullptr,
                                           reinterpret_cast<BYTE*>(cls), sizeof cls, nullptr))
      continue;
    const std::string path = Lower(detail->DevicePath);
    if (path.find("&ven_korvanet") == std::string::npos ||
        path.find("&rev_1.") == std::string::npos)
      continue;
    paths.push_back(detail->DevicePath);
    if (classes)
      classes->push_back(cls);
  }
  return paths;
}

// Polls the enumeration until it lists exactly `expected` (in any order); returns what it saw
// last.
std::vector<std::string> AwaitPaths(std::vector<std::string> expected) {
  std::sort(expected.begin(), expected.end());
  const ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
  for (;;) {
    std::vector<std::string> seen = KeyPaths();
    std::vector<std::string> sorted = seen;
    std::sort(sorted.begin(), sorted.end());
    if (sorted == expected || GetTickCount64() > deadline)
      return seen;
    Sleep(10);
  }
}

// One SCSI_PASS_THROUGH_DIRECT buffer: the record, a filler and the sense area, in the layout of
// a 64-bit caller (56-byte record) or of a 32-bit one (44 bytes, 32-bit data pointer).
enum class Layout { k64, k32 };

struct PassThroughBuffer {
  alignas(8) uint8_t bytes[96] = {};
  Layout layout;
  DWORD size() const { return layout == Layout::k64 ? 96 : 80; }
  ULONG sense_offset() const { return layout == Layout::k64 ? 64 : 48; }

  void Fill(uint8_t opcode, uint8_t direction, void* data, ULONG length) {
    std::memset(bytes, 0, sizeof bytes);
    if (layout == Layout::k64) {
      auto* r = reinterpret_cast<SCSI_PASS_THROUGH_DIRECT*>(bytes);
      r->Length = sizeof *r;
      r->TargetId = 1;
      r->CdbLength = 6;
      r->SenseInfoLength = 24;
      r->DataIn = direction;
      r->DataTransferLength = length;
      r->TimeOutValue = 300;
      r->DataBuffer = data;
      r->SenseInfoOffset = sense_offset();
      r->Cdb[0] = opcode;
    } else {
      auto* r = reinterpret_cast<VKEYBUS_PASS_THROUGH_DIRECT32*>(bytes);
      r->Length = sizeof *r;
      r->TargetId = 1;
      r->CdbLength = 6;
      r->SenseInfoLength = 24;
      r->DataIn = direction;
      r->DataTransferLength = length;
      r->TimeOutValue = 300;
      r->DataBuffer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data));
      r->SenseInfoOffset = sense_offset();
      r->Cdb[0] = opcode;
    }
  }
  uint8_t ScsiStatus() const { return bytes[2]; }
  const uint8_t* Sense() const { return bytes + sense_offset(); }
};

static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "x86_64 record");

// Data buffers below 4 GiB, which the 32-bit record's pointer can hold.
uint8_t* LowBuffer() {
  static uint8_t* buffer = [] {
    for (uintptr_t at = 0x10000000; at < 0xF0000000; at += 0x01000000)
      if (void* p = VirtualAlloc(reinterpret_cast<void*>(at), 0x20000, MEM_RESERVE | MEM_COMMIT,
                                 PAGE_READWRITE))
        return static_cast<uint8_t*>(p);
    return static_cast<uint8_t*>(nullptr);
  }();
  return buffer;
}

// The device monitor's transaction: F1 with the APDU, then F2 for the expected length plus
// four. Returns the answer, or sets `error` to the failing step's Win32 error.
Bytes Exchange(HANDLE device, const Bytes& apdu, Layout layout, DWORD* error) {
  uint8_t* out = layout == Layout::k32 ? LowBuffer() : new uint8_t[0x10000];
  uint8_t* in = out + 0x8000;
  std::unique_ptr<uint8_t[]> owner(layout == Layout::k64 ? out : nullptr);
  std::memcpy(out, apdu.data(), apdu.size());
  PassThroughBuffer b{};
  b.layout = layout;
  DWORD returned = 0;
  *error = 0;
  b.Fill(0xF1, SCSI_IOCTL_DATA_OUT, out, static_cast<ULONG>(apdu.size()));
  if (!DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, b.bytes, b.size(), b.bytes, b.size(),
                       &returned, nullptr)) {
    *error = GetLastError();
    return {};
  }
  EXPECT_EQ(b.ScsiStatus(), 0);
  const size_t expected = apdu.size() == 5 && apdu[4] ? apdu[4] : 0;
  std::memset(in, 0, 0x1000);
  b.Fill(0xF2, SCSI_IOCTL_DATA_IN, in, static_cast<ULONG>(expected + 4));
  if (!DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, b.bytes, b.size(), b.bytes, b.size(),
                       &returned, nullptr)) {
    *error = GetLastError();
    return {};
  }
  EXPECT_EQ(b.ScsiStatus(), 0);
  size_t n = static_cast<size_t>(in[0] << 8 | in[1]);
  if (n > expected + 2) {
    b.Fill(0xF2, SCSI_IOCTL_DATA_IN, in, static_cast<ULONG>(n + 2));
    EXPECT_TRUE(DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, b.bytes, b.size(), b.bytes,
                                b.size(), &returned, nullptr));
  }
  return Bytes(in + 2, in + 2 + n);
}

// The process that hosts the bus driver: the winedevice.exe with vkeybus.sys loaded.
koba::win::UniqueHandle BusHost() {
  const koba::win::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, L"winedevice.exe") != 0)
      continue;
    koba::win::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE,
                    entry.th32ProcessID));
    HMODULE modules[256];
    DWORD needed = 0;
    if (!process ||
        !EnumProcessModulesEx(process.get(), modules, sizeof modules, &needed, LIST_MODULES_ALL))
      continue;
    for (DWORD i = 0; i < std::min<DWORD>(needed / sizeof(HMODULE), 256); ++i) {
      wchar_t name[MAX_PATH] = {};
      if (GetModuleBaseNameW(process.get(), modules[i], name, MAX_PATH) &&
          _wcsicmp(name, L"vkeybus.sys") == 0)
        return process;
    }
  }
  return nullptr;
}

koba::win::UniqueHandle Open(const std::string& path) {
  return koba::win::OwnFile(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
}

class VkeyBus : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vkey::bus::Installed()) << vkey::bus::Explain(vkey::bus::kBusNotInstalled);
    folder_ = vkey::StoreFolder();
    ASSERT_EQ(RunVkey("use-store \"" + Narrow(folder_) + "\""), 0u);
    ASSERT_TRUE(AwaitPaths({}).empty());
  }
  void TearDown() override {
    vkey::Transact([](vkey::Store& s) {
      s.keys.clear();
      return true;
    });
    EXPECT_EQ(vkey::bus::Resync(), 0u);
    EXPECT_TRUE(AwaitPaths({}).empty());
    // Back to the prefix's default store for the programs of other tests.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, vkey::kStoreSettingKey, vkey::kStoreSettingValue);
  }

  static std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

  // Runs vkey.exe (beside the test) on the test's store; returns its exit code.
  static DWORD RunVkey(const std::string& args) {
    std::wstring line = L"\"" + vkey::testing::BesideTest(L"vkey.exe") + L"\" ";
    line += std::wstring(args.begin(), args.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
      return GetLastError();
    koba::win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(pi.hProcess, kDeadlineMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }

  static void AddKeys(std::initializer_list<const char*> serials) {
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      for (const char* serial : serials)
        vkey::AddKey(s, serial, false);
      return true;
    }));
    for (const char* serial : serials)
      ASSERT_EQ(vkey::bus::Plug(serial), 0u) << serial;
  }

  static Bytes DeviceIdOf(const std::string& serial) {
    Bytes id;
    vkey::Transact([&](vkey::Store& s) {
      id = s.BySerial(serial + std::string(16 - serial.size(), ' '))->device_id;
      return false;
    });
    return id;
  }

  vkey::testing::TempStore store_;
  std::wstring folder_;
};

TEST_F(VkeyBus, EnumerationFindsExactlyThePresentKeysInAStableOrder) {
  AddKeys({"ENUM0003", "ENUM0001", "ENUM0002"});
  ASSERT_EQ(RunVkey("remove ENUM0001"), 0u);
  ASSERT_EQ(RunVkey("set ENUM0002 model 3951"), 0u);
  ASSERT_EQ(vkey::bus::Unplug("ENUM0002"), 0u);
  ASSERT_EQ(vkey::bus::Plug("ENUM0002"), 0u);
  const std::vector<std::string> want = {PathOf("ENUM0003"), PathOf("ENUM0002", "3951")};
  const std::vector<std::string> first = AwaitPaths(want);
  std::vector<std::string> sorted = first, sorted_want = want;
  std::sort(sorted.begin(), sorted.end());
  std::sort(sorted_want.begin(), sorted_want.end());
  EXPECT_EQ(sorted, sorted_want);
  std::vector<std::string> classes;
  EXPECT_EQ(KeyPaths(&classes), first);
  EXPECT_EQ(classes, std::vector<std::string>(2, "CDROM"));

  std::vector<VKEYBUS_KEY> plugged;
  ASSERT_EQ(vkey::bus::List(&plugged), 0u);
  ASSERT_EQ(plugged.size(), 2u);
  EXPECT_STREQ(plugged[0].serial, "ENUM0003");
  EXPECT_STREQ(plugged[1].model, "3951");
}

TEST_F(VkeyBus, ApdusRoundTripThroughEitherRecordLayout) {
  AddKeys({"RTRIP001", "RTRIP002"});
  AwaitPaths({PathOf("RTRIP001"), PathOf("RTRIP002")});
  ASSERT_NE(LowBuffer(), nullptr);
  for (const char* serial : {"RTRIP001", "RTRIP002"}) {
    koba::win::UniqueHandle device = Open(PathOf(serial));
    ASSERT_TRUE(device) << serial << " " << GetLastError();
    std::string padded = std::string(serial) + std::string(8, ' ');
    Bytes serial_answer(padded.begin(), padded.end());
    serial_answer.insert(serial_answer.end(), {0x90, 0x00});
    Bytes id_answer = DeviceIdOf(serial);
    id_answer.insert(id_answer.end(), {0x90, 0x00});
    struct Case {
      Bytes apdu;
      Bytes answer;
    } cases[] = {{{0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x01}, {0x90, 0x00}},
                 {{0x80, 0xCA, 0x00, 0x01, 0x10}, serial_answer},
                 {{0x80, 0xCA, 0x00, 0x02, 0x10}, id_answer},
                 {{0x80, 0xCA, 0x00, 0x09, 0x00}, {0x6A, 0x88}},
                 {{0x00, 0x77, 0x00, 0x00}, {0x6D, 0x00}}};
    for (Layout layout : {Layout::k64, Layout::k32})
      for (const Case& c : cases) {
        DWORD error = 0;
        EXPECT_EQ(Exchange(device.get(), c.apdu, layout, &error), c.answer)
            << serial << " layout " << (layout == Layout::k64 ? 56 : 44) << " apdu[1] "
            << int(c.apdu[1]);
        EXPECT_EQ(error, 0u);
      }
  }
}

TEST_F(VkeyBus, UnknownCommandsAndBadRecordsAreRefused) {
  AddKeys({"CHECK001"});
  AwaitPaths({PathOf("CHECK001")});
  koba::win::UniqueHandle device = Open(PathOf("CHECK001"));
  ASSERT_TRUE(device);
  uint8_t data[16] = {};
  DWORD returned = 0;
  for (Layout layout : {Layout::k64, Layout::k32}) {
    PassThroughBuffer b{};
    b.layout = layout;
    b.Fill(0x12, SCSI_IOCTL_DATA_IN, layout == Layout::k32 ? LowBuffer() : data, 16);
    ASSERT_TRUE(DeviceIoControl(device.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, b.bytes, b.size(),
                                b.bytes, b.size(), &returned, nullptr));
    EXPECT_EQ(b.ScsiStatus(), 2);  // CHECK CONDITION
    EXPECT_EQ(b.Sense()[0], 0x70);
    EXPECT_EQ(b.Sense()[2], 0x05);  // ILLEGAL REQUEST
    EXPECT_EQ(b.Sense()[12], 0x20);
  }
  PassThroughBuffer bad{};
  bad.layout = Layout::k64;
  bad.Fill(0xF1, SCSI_IOCTL_DATA_OUT, data, 4);
  reinterpret_cast<SCSI_PASS_THROUGH_DIRECT*>(bad.bytes)->Length = 48;
  EXPECT_FALSE(DeviceIoControl(device.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, bad.bytes, bad.size(),
                               bad.bytes, bad.size(), &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(vkey::bus::Plug("NOSUCHKEY"), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(VkeyBus, ScriptedFaultsFailTheTransaction) {
  AddKeys({"FAULT001"});
  AwaitPaths({PathOf("FAULT001")});
  koba::win::UniqueHandle device = Open(PathOf("FAULT001"));
  ASSERT_TRUE(device);
  const Bytes select = {0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x01};
  DWORD error = 0;

  ASSERT_EQ(RunVkey("fault FAULT001 VkeyScsi_PassThrough --status 0xE011FFFE"), 0u);
  Exchange(device.get(), select, Layout::k64, &error);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(Exchange(device.get(), select, Layout::k64, &error), (Bytes{0x90, 0x00}));

  // Pulled out in the middle of the transaction: the step fails, the device goes away.
  ASSERT_EQ(RunVkey("fault FAULT001 VkeyScsi_PassThrough --remove"), 0u);
  Exchange(device.get(), select, Layout::k64, &error);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(AwaitPaths({}).empty());
  Exchange(device.get(), select, Layout::k64, &error);
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(Open(PathOf("FAULT001")));

  ASSERT_EQ(RunVkey("insert FAULT001"), 0u);
  EXPECT_EQ(AwaitPaths({PathOf("FAULT001")}).size(), 1u);
  device = Open(PathOf("FAULT001"));
  ASSERT_TRUE(device);
  EXPECT_EQ(Exchange(device.get(), select, Layout::k64, &error), (Bytes{0x90, 0x00}));
}

// A program that holds the key's device open while the key is pulled out: its requests fail,
// and closing the handle releases all the bus held for it. Wine's PnP manager keeps handles of
// its own for every device that comes and goes, so a round with a held handle is measured
// against a round without one.
TEST_F(VkeyBus, AHandleHeldAcrossARemovalFailsItsRequestsAndIsReleased) {
  const koba::win::UniqueHandle host = BusHost();
  ASSERT_TRUE(host);
  AddKeys({"HELD0001"});
  const Bytes select = {0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x01};
  auto round = [&](bool held) {
    ASSERT_EQ(AwaitPaths({PathOf("HELD0001")}).size(), 1u);
    koba::win::UniqueHandle device;
    DWORD error = 0;
    if (held) {
      device = Open(PathOf("HELD0001"));
      ASSERT_TRUE(device);
      EXPECT_EQ(Exchange(device.get(), select, Layout::k64, &error), (Bytes{0x90, 0x00}));
    }
    ASSERT_EQ(RunVkey("remove HELD0001"), 0u);
    EXPECT_TRUE(AwaitPaths({}).empty());
    if (held) {
      Exchange(device.get(), select, Layout::k64, &error);
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
      device.reset();
    }
    ASSERT_EQ(RunVkey("insert HELD0001"), 0u);
    ASSERT_EQ(AwaitPaths({PathOf("HELD0001")}).size(), 1u);
  };
  // What the host keeps once (the store half, its caches) comes with the first rounds.
  round(false);
  round(true);
  koba::test::ProcessCensus start, plain, held;
  ASSERT_TRUE(koba::test::TakeCensus(host.get(), &start));
  for (int i = 0; i < 3; ++i)
    round(false);
  ASSERT_TRUE(koba::test::TakeCensus(host.get(), &plain));
  for (int i = 0; i < 3; ++i)
    round(true);
  ASSERT_TRUE(koba::test::TakeCensus(host.get(), &held));
  EXPECT_EQ(held.handles - plain.handles, plain.handles - start.handles)
      << koba::test::Describe(start) << " -> " << koba::test::Describe(plain) << " -> "
      << koba::test::Describe(held);
}

// A hidden window registered for the CD-ROM interface class, as the tray monitor registers.
class NotificationWindow {
 public:
  NotificationWindow() : thread_([this] { Run(); }) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  ~NotificationWindow() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  bool registered() const { return notify_ != nullptr; }

  // Waits for `event` naming `serial`; false at the deadline.
  bool Await(WPARAM event, const std::string& serial) {
    std::unique_lock<std::mutex> lock(mutex_);
    return ready_.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] {
      return std::any_of(seen_.begin(), seen_.end(), [&](const auto& e) {
        return e.first == event && Lower(e.second).find(Lower(serial)) != std::string::npos;
      });
    });
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<NotificationWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_DEVICECHANGE && self && lp &&
        reinterpret_cast<DEV_BROADCAST_HDR*>(lp)->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
      const auto* d = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(lp);
      std::wstring name(d->dbcc_name);
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->seen_.emplace_back(wp, std::string(name.begin(), name.end()));
      self->ready_.notify_all();
      return TRUE;
    }
    if (msg == WM_CLOSE) {
      DestroyWindow(hwnd);
      return 0;
    }
    if (msg == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  void Run() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VkeyBusTestWindow";
    RegisterClassW(&wc);
    window_ = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr,
                            nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_CDROM;
    notify_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      started_ = true;
    }
    ready_.notify_all();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
      DispatchMessageW(&msg);
    if (notify_)
      UnregisterDeviceNotification(notify_);
  }

  HWND window_ = nullptr;
  HDEVNOTIFY notify_ = nullptr;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  std::vector<std::pair<WPARAM, std::string>> seen_;
  std::thread thread_;
};

TEST_F(VkeyBus, ARegisteredWindowSeesArrivalAndRemoval) {
  ASSERT_TRUE(vkey::Transact([](vkey::Store& s) {
    vkey::RemoveKey(s, vkey::AddKey(s, "NOTIFY01", false));
    vkey::RemoveKey(s, vkey::AddKey(s, "NOTIFY02", false));
    return true;
  }));
  NotificationWindow window;
  ASSERT_TRUE(window.registered()) << GetLastError();
  ASSERT_EQ(RunVkey("insert NOTIFY01"), 0u);
  ASSERT_EQ(RunVkey("insert NOTIFY02"), 0u);
  EXPECT_TRUE(window.Await(DBT_DEVICEARRIVAL, "NOTIFY01"));
  EXPECT_TRUE(window.Await(DBT_DEVICEARRIVAL, "NOTIFY02"));
  ASSERT_EQ(RunVkey("remove NOTIFY01"), 0u);
  EXPECT_TRUE(window.Await(DBT_DEVICEREMOVECOMPLETE, "NOTIFY01"));
  EXPECT_EQ(AwaitPaths({PathOf("NOTIFY02")}), std::vector<std::string>{PathOf("NOTIFY02")});
}

}  // namespace
