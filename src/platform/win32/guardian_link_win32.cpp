#include "platform/win32/guardian_link_win32.h"

#include <windows.h>

#include "platform/win32/guardian_service_win32.h"

namespace qorvel::platform::win32 {
namespace {

// A guardian that has not answered by then is taken as absent; its loop
// answers at once, a second client waits its turn on the one instance.
constexpr DWORD kAnswerLimitMs = 5000;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Handle() {
    if (h_ != nullptr) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  [[nodiscard]] HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// Waits for one overlapped operation until `end`; cancels it when late.
bool Finish(HANDLE pipe, OVERLAPPED& io, BOOL started, ULONGLONG end, DWORD& bytes) {
  if (!started && GetLastError() == ERROR_MORE_DATA) {
    // Done at once with part of the message: what it read still counts.
    GetOverlappedResult(pipe, &io, &bytes, FALSE);
    SetLastError(ERROR_MORE_DATA);
    return false;
  }
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  const ULONGLONG now = GetTickCount64();
  if (WaitForSingleObject(io.hEvent, now >= end ? 0 : static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &io);
    GetOverlappedResult(pipe, &io, &bytes, TRUE);
    SetLastError(WAIT_TIMEOUT);
    return false;
  }
  return GetOverlappedResult(pipe, &io, &bytes, FALSE) != FALSE;
}

// Where the service is installed, only it may hear the parent's password: a
// pipe of that name made by another program while the service restarts is
// not spoken to. The service manager names the service's process.
bool ServedByService(HANDLE pipe) {
  ULONG pid = 0;
  if (!GetNamedPipeServerProcessId(pipe, &pid)) return false;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceW(manager, kGuardianServiceName, SERVICE_QUERY_STATUS) : nullptr;
  SERVICE_STATUS_PROCESS status{};
  DWORD size = 0;
  const bool served = service != nullptr &&
                      QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                           sizeof status, &size) &&
                      status.dwCurrentState == SERVICE_RUNNING && status.dwProcessId == pid;
  if (service != nullptr) CloseServiceHandle(service);
  if (manager != nullptr) CloseServiceHandle(manager);
  return served;
}

}  // namespace

bool Win32GuardianChannel::installed() const {
  if (!installed_) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, kGuardianServiceName, SERVICE_QUERY_STATUS) : nullptr;
    // Only a service known to be absent makes the file the guard's own: any
    // other doubt leaves it to the guardian, where a failure is said.
    installed_ = service != nullptr || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
  }
  return *installed_;
}

std::optional<std::string> Win32GuardianChannel::exchange(std::string_view request) {
  const ULONGLONG end = GetTickCount64() + kAnswerLimitMs;
  HANDLE opened = INVALID_HANDLE_VALUE;
  for (;;) {
    opened = CreateFileW(kGuardianPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (opened != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
    // The one instance serves another guard: wait for its turn.
    const ULONGLONG now = GetTickCount64();
    if (now >= end || !WaitNamedPipeW(kGuardianPipe, static_cast<DWORD>(end - now))) return std::nullopt;
  }
  const Handle pipe(opened);
  const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (pipe.get() == nullptr || event.get() == nullptr || !SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr) ||
      (installed() && !ServedByService(pipe.get())))
    return std::nullopt;
  OVERLAPPED io{};
  io.hEvent = event.get();
  DWORD bytes = 0;
  if (!Finish(pipe.get(), io,
              WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), nullptr, &io), end, bytes) ||
      bytes != request.size())
    return std::nullopt;
  // A whole section may take many reads of one message.
  std::string answer;
  char buffer[4096];
  for (;;) {
    io = OVERLAPPED{};
    io.hEvent = event.get();
    bytes = 0;
    const bool whole = Finish(pipe.get(), io, ReadFile(pipe.get(), buffer, sizeof buffer, nullptr, &io), end, bytes);
    if (!whole && GetLastError() != ERROR_MORE_DATA) return std::nullopt;
    answer.append(buffer, bytes);
    if (whole) return answer;
  }
}

}  // namespace qorvel::platform::win32
