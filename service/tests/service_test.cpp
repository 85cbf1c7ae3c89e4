// The service "Vexlo Service _KOBA" under Wine's service manager: installed, started, stopped
// and deleted through VexloSerB's switches, watched through QueryServiceStatus and `sc query`,
// with its monitor process and the machine Run value it keeps.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "pipe_client.h"
#include "pipe_protocol.h"
#include "process_util.h"
#include "run_value.h"
#include "service_control.h"
#include "settings.h"

namespace koba::service {
namespace {

using testing::Child;
using testing::NextToTest;
using testing::RunToEnd;
using testing::WaitUntil;

constexpr DWORD kWaitMs = 30000;

std::wstring Program() {
  return L"\"" + NextToTest(L"VexloSerB.exe") + L"\"";
}

int RunSwitches(const wchar_t* switches) {
  return RunToEnd(Program() + L" " + switches, kWaitMs);
}

// The service's status; false when the service does not exist.
bool QueryStatus(SERVICE_STATUS* status) {
  const win::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager)
    return false;
  const win::UniqueServiceHandle service(
      OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
  return service && QueryServiceStatus(service.get(), status);
}

bool Installed() {
  SERVICE_STATUS status{};
  return QueryStatus(&status);
}

bool WaitState(DWORD state, SERVICE_STATUS* status) {
  return WaitUntil([&] { return QueryStatus(status) && status->dwCurrentState == state; }, kWaitMs);
}

bool Control(DWORD control, SERVICE_STATUS* status) {
  const win::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const win::UniqueServiceHandle service(
      manager ? OpenServiceW(manager.get(), kServiceName,
                             SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE | SERVICE_QUERY_STATUS)
              : nullptr);
  return service && ControlService(service.get(), control, status);
}

// The process id of the running monitor (its hidden window), or 0.
DWORD MonitorPid() {
  const HWND window = FindWindowW(L"VexloMonClass_KOBA", L"VexloMon001_KOBA");
  DWORD pid = 0;
  if (window != nullptr)
    GetWindowThreadProcessId(window, &pid);
  return pid;
}

bool ListServed() {
  return WaitUntil(
      [] {
        const auto pipe = OpenPipe(kListPipeName, 200);
        std::vector<std::string> paths;
        return pipe && RequestDeviceList(pipe.get(), &paths);
      },
      kWaitMs);
}

std::wstring RunValue() {
  wchar_t data[MAX_PATH];
  if (settings::ReadRegStringW(HKEY_LOCAL_MACHINE, kRunKey, kTrayMonitorFile, data, MAX_PATH) !=
      ERROR_SUCCESS) {
    return L"<none>";
  }
  return data;
}

void SetRunValue(const std::wstring& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const win::UniqueRegKey own(key);
  if (data.empty()) {
    RegDeleteValueW(key, kTrayMonitorFile);
  } else {
    RegSetValueExW(key, kTrayMonitorFile, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
}

std::wstring ExpectedRunValue() {
  wchar_t install[MAX_PATH];
  if (settings::ReadRegStringW(HKEY_LOCAL_MACHINE, settings::kSettingsKey, L"InstallPath", install,
                               MAX_PATH) != ERROR_SUCCESS) {
    install[0] = L'\0';
  }
  return std::wstring(install) + L"\\" + kTrayMonitorFile;
}

bool KillMonitor(DWORD pid) {
  const win::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  return process && TerminateProcess(process.get(), 9) &&
         WaitForSingleObject(process.get(), kWaitMs) == WAIT_OBJECT_0;
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { Remove(); }
  void TearDown() override { Remove(); }
  static void Remove() {
    RunSwitches(L"-k -u");
    EXPECT_TRUE(WaitUntil([] { return !Installed() && MonitorPid() == 0; }, kWaitMs));
  }
};

TEST_F(ServiceTest, InstallStartStopAndDelete) {
  SetRunValue(L"");
  EXPECT_EQ(RunSwitches(L"-i -s"), 0);
  SERVICE_STATUS status{};
  ASSERT_TRUE(WaitState(SERVICE_RUNNING, &status));
  EXPECT_EQ(status.dwControlsAccepted, 7u);
  std::string output;
  EXPECT_EQ(RunToEnd(L"sc query \"Vexlo Service _KOBA\"", kWaitMs, &output), 0);
  EXPECT_NE(output.find("RUNNING"), std::string::npos) << output;
  EXPECT_TRUE(ListServed());
  EXPECT_NE(MonitorPid(), 0u);
  EXPECT_TRUE(WaitUntil([] { return RunValue() == ExpectedRunValue(); }, kWaitMs)) << RunValue();

  EXPECT_EQ(RunSwitches(L"-k"), 0);
  ASSERT_TRUE(WaitState(SERVICE_STOPPED, &status));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_TRUE(WaitUntil([] { return MonitorPid() == 0; }, kWaitMs));

  EXPECT_EQ(RunSwitches(L"-u"), 0);
  EXPECT_TRUE(WaitUntil([] { return !Installed(); }, kWaitMs));
  EXPECT_NE(RunToEnd(L"sc query \"Vexlo Service _KOBA\"", kWaitMs, &output), 0);
}

TEST_F(ServiceTest, PauseAndInterrogateLeaveItRunning) {
  EXPECT_EQ(RunSwitches(L"-i -s"), 0);
  SERVICE_STATUS status{};
  ASSERT_TRUE(WaitState(SERVICE_RUNNING, &status));
  ASSERT_TRUE(WaitUntil([] { return MonitorPid() != 0; }, kWaitMs));
  const DWORD monitor = MonitorPid();
  for (DWORD control : {DWORD{SERVICE_CONTROL_PAUSE}, DWORD{SERVICE_CONTROL_CONTINUE},
                        DWORD{SERVICE_CONTROL_INTERROGATE}}) {
    ASSERT_TRUE(Control(control, &status)) << control << " " << GetLastError();
    ASSERT_TRUE(QueryStatus(&status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING)) << control;
  }
  EXPECT_EQ(MonitorPid(), monitor);
  EXPECT_TRUE(ListServed());
}

TEST_F(ServiceTest, KilledMonitorIsRestartedAndTheRunValueKept) {
  const std::wstring elsewhere = L"D:\\Elsewhere\\Q2Svr_KOBA.exe";
  SetRunValue(elsewhere);
  EXPECT_EQ(RunSwitches(L"-i -s"), 0);
  SERVICE_STATUS status{};
  ASSERT_TRUE(WaitState(SERVICE_RUNNING, &status));
  ASSERT_TRUE(WaitUntil([] { return MonitorPid() != 0; }, kWaitMs));

  // A value naming the program in another folder is left alone, restart after restart.
  DWORD first = MonitorPid();
  ASSERT_TRUE(KillMonitor(first));
  DWORD second = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        second = MonitorPid();
        return second != 0 && second != first;
      },
      kWaitMs));
  EXPECT_TRUE(ListServed());
  EXPECT_EQ(RunValue(), elsewhere);

  // A deleted value is written again on the next restart.
  SetRunValue(L"");
  ASSERT_TRUE(KillMonitor(second));
  ASSERT_TRUE(WaitUntil(
      [&] {
        const DWORD third = MonitorPid();
        return third != 0 && third != second;
      },
      kWaitMs));
  EXPECT_TRUE(WaitUntil([] { return RunValue() == ExpectedRunValue(); }, kWaitMs)) << RunValue();
  ASSERT_TRUE(QueryStatus(&status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceTest, SwitchesRunStopDeleteInstallStartInThatOrder) {
  SERVICE_STATUS status{};
  // Install comes before start whatever their order.
  EXPECT_EQ(RunSwitches(L"-s -i"), 0);
  ASSERT_TRUE(WaitState(SERVICE_RUNNING, &status));
  // Stop comes before delete.
  EXPECT_EQ(RunSwitches(L"-u -k"), 0);
  EXPECT_TRUE(WaitUntil([] { return !Installed() && MonitorPid() == 0; }, kWaitMs));

  // Delete comes before install, install before start.
  EXPECT_EQ(RunSwitches(L"-i"), 0);
  ASSERT_TRUE(WaitState(SERVICE_STOPPED, &status));
  EXPECT_EQ(RunSwitches(L"-s -i -u"), 0);
  EXPECT_TRUE(WaitState(SERVICE_RUNNING, &status));
}

TEST_F(ServiceTest, MonitorSwitchWinsAndUnknownSwitchesTryTheDispatcher) {
  Child monitor(Program() + L" -m -i");
  ASSERT_TRUE(monitor.started());
  EXPECT_TRUE(ListServed());
  EXPECT_FALSE(Installed());
  ASSERT_TRUE(WaitUntil([&] { return MonitorPid() == monitor.process_id(); }, kWaitMs));
  monitor.PostQuit();
  DWORD code = 1;
  EXPECT_TRUE(monitor.WaitExit(kWaitMs, &code));
  EXPECT_EQ(code, 0u);

  // Outside the service manager the dispatcher fails at once and the program exits with 0.
  for (const wchar_t* switches : {L"-x", L"install", L""})
    EXPECT_EQ(RunSwitches(switches), 0) << switches;
  EXPECT_FALSE(Installed());
}

}  // namespace
}  // namespace koba::service
