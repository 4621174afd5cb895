// qorvel-guardian.exe: the service that brings the guard back. The installer
// calls it with a verb:
//   install  create the service (or update its path) and start it
//   stop     stop it and wait until it has stopped
//   remove   stop it, delete it and the settings copy; a service that does not
//            stop in time is deleted all the same, and goes when it stops
//   timezone-right remove|restore
//            take "Change the time zone" from Users (install), give it back
//            (uninstall): the hour check follows the local time
// Without a verb it is the service itself, started by the service manager.
#include <windows.h>
#include <wtsapi32.h>

#include <cstdio>
#include <string>

#include "platform/win32/guardian_checks_win32.h"
#include "platform/win32/guardian_service_win32.h"

namespace {

namespace w32 = qorvel::platform::win32;

w32::GuardianSignals g_signals;
SERVICE_STATUS_HANDLE g_status = nullptr;

void Report(DWORD state, DWORD exit_code = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  if (state == SERVICE_RUNNING)
    status.dwControlsAccepted =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE |
                                 SERVICE_ACCEPT_TIMECHANGE;
  // A non-zero code counts as a failure: the service manager restarts us.
  status.dwWin32ExitCode = exit_code;
  SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD event, void* data, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Report(SERVICE_STOP_PENDING);
      SetEvent(g_signals.stop);
      return NO_ERROR;
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      SetEvent(g_signals.shutdown);
      return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE: {
      const DWORD session = static_cast<WTSSESSION_NOTIFICATION*>(data)->dwSessionId;
      {
        const std::lock_guard lock(g_signals.mutex);
        // A number logged off may come back with a new logon.
        if (event == WTS_SESSION_LOGOFF) g_signals.logging_off.insert(session);
        if (event == WTS_SESSION_LOGON) g_signals.logging_off.erase(session);
      }
      SetEvent(g_signals.sessions_changed);
      return NO_ERROR;
    }
    case SERVICE_CONTROL_TIMECHANGE:
      SetEvent(g_signals.clock_changed);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status = RegisterServiceCtrlHandlerExW(w32::kGuardianServiceName, Control, nullptr);
  if (g_status == nullptr) return;
  Report(SERVICE_RUNNING);
  Report(SERVICE_STOPPED, w32::RunGuardian(g_signals));
}

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE h) : h_(h) {}
  ~ServiceHandle() {
    if (h_ != nullptr) CloseServiceHandle(h_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  operator SC_HANDLE() const { return h_; }

 private:
  SC_HANDLE h_;
};

int Fail(const char* what) {
  std::fprintf(stderr, "qorvel-guardian: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}

bool StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS status{};
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 300; ++i) {
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) return true;
    Sleep(100);
  }
  return false;
}

int Install() {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager == nullptr) return Fail("OpenSCManagerW");
  wchar_t own[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  // Quoted: unquoted, a path with a space is read up to its first space.
  const std::wstring path = L"\"" + std::wstring(own) + L"\"";
  SC_HANDLE created = CreateServiceW(manager, w32::kGuardianServiceName, L"Qorvel Guardian", SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                     path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);  // LocalSystem
  if (created == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
    created = OpenServiceW(manager, w32::kGuardianServiceName, SERVICE_ALL_ACCESS);
    if (created != nullptr &&
        !ChangeServiceConfigW(created, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              path.c_str(), nullptr, nullptr, nullptr, L"LocalSystem", nullptr, nullptr))
      return Fail("ChangeServiceConfigW");
  }
  const ServiceHandle service(created);
  if (service == nullptr) return Fail("CreateServiceW");
  SC_ACTION restart[3] = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 5000}};
  SERVICE_FAILURE_ACTIONSW actions{24 * 3600, nullptr, nullptr, 3, restart};
  SERVICE_FAILURE_ACTIONS_FLAG on_error{TRUE};
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions))
    std::fprintf(stderr, "qorvel-guardian: no restart after a failure (error %lu)\n", GetLastError());
  // Also after a stop with an error code; Wine does not know this one.
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &on_error);
  if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    // Installed all the same: an automatic service starts with Windows.
    std::fprintf(stderr, "qorvel-guardian: installed, starts with Windows (StartServiceW: error %lu)\n",
                 GetLastError());
    return 3;
  }
  return 0;
}

// Stops the service; with `remove`, also deletes it and the settings copy.
int Stop(bool remove) {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager == nullptr) return Fail("OpenSCManagerW");
  const ServiceHandle service(
      OpenServiceW(manager, w32::kGuardianServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (service == nullptr && GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return Fail("OpenServiceW");
  if (service != nullptr && !StopAndWait(service)) {
    if (!remove) return Fail("stopping the service");
    std::fprintf(stderr, "qorvel-guardian: not stopped in time (error %lu); deleted all the same\n", GetLastError());
  }
  if (!remove) return 0;
  if (service != nullptr && !DeleteService(service)) return Fail("DeleteService");
  const std::wstring folder = w32::GuardianDataFolder();
  WIN32_FIND_DATAW found{};
  const HANDLE walk = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (walk != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(walk, &found));
    FindClose(walk);
  }
  RemoveDirectoryW(folder.c_str());
  return 0;
}

}  // namespace

// The verb's line goes to the installer's log, and to the guardian's when
// the stopped guardian has its folder.
int TimeZoneRight(const wchar_t* action) {
  std::string line;
  const int code = w32::TimeZoneRightVerb(action, w32::SystemAccountRights(), line);
  std::printf("qorvel-guardian: %s\n", line.c_str());
  const HANDLE log = CreateFileW((w32::GuardianDataFolder() + L"\\guardian.log").c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    char text[256];
    const int n = wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                            t.wSecond);
    const std::string entry = std::string(text, n) + line + "\r\n";
    DWORD written = 0;
    WriteFile(log, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
    CloseHandle(log);
  }
  return code;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"timezone-right") return TimeZoneRight(argv[2]);
  const std::wstring verb = argc == 2 ? argv[1] : L"";
  if (verb == L"install") return Install();
  if (verb == L"stop") return Stop(false);
  if (verb == L"remove") return Stop(true);
  if (argc != 1) {
    std::fprintf(stderr, "usage: qorvel-guardian [install|stop|remove|timezone-right remove|restore]\n");
    return 2;
  }
  g_signals.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_signals.shutdown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_signals.sessions_changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_signals.clock_changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  wchar_t name[] = L"QorvelGuardian";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : Fail("StartServiceCtrlDispatcherW");
}
