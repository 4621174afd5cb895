// The guardian's ports on Windows and its one event loop: it sleeps on the
// guards' process handles, the pipe and the service's events, and wakes for
// the guardian's next due time; nothing polls.
#include "platform/win32/guardian_service_win32.h"

#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "guardian/guardian.h"
#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

using guardian::Session;
using guardian::SessionState;
using guardian::SettingsFile;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kSettingsPath[] = L"C:\\mdb.ini";
// The copy holds the parent's password: SYSTEM and administrators only.
constexpr wchar_t kAdminsOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Any signed-in user may ask (the password decides); only SYSTEM serves it.
constexpr wchar_t kPipeAccess[] = L"D:P(A;;FA;;;SY)(A;;FRFW;;;AU)";
// A client holding the one pipe instance longer is dropped, so a stuck or
// hostile one cannot keep the parent's request out.
constexpr ULONGLONG kClientLimitMs = 5000;
constexpr DWORD kMaxSettingsBytes = 1 << 20;
constexpr LONGLONG kMaxLogBytes = 1 << 20;

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Handle() {
    if (h_ != nullptr) CloseHandle(h_);
  }
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(h_, other.h_);
    return *this;
  }
  [[nodiscard]] HANDLE get() const { return h_; }

 private:
  HANDLE h_ = nullptr;
};

// Security attributes from SDDL text.
class Security {
 public:
  explicit Security(const wchar_t* sddl) {
    attributes_.nLength = sizeof attributes_;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &attributes_.lpSecurityDescriptor,
                                                         nullptr);
  }
  ~Security() { LocalFree(attributes_.lpSecurityDescriptor); }
  Security(const Security&) = delete;
  Security& operator=(const Security&) = delete;
  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  SECURITY_ATTRIBUTES attributes_{};
};

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = L"";
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// A file's bytes; nullopt with GetLastError() set when it cannot be read.
std::optional<std::string> ReadBytes(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == nullptr) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    bytes.append(buffer, got);
    if (bytes.size() > kMaxSettingsBytes) return std::nullopt;
  }
  return bytes;
}

bool WriteBytes(const std::wstring& path, std::string_view bytes, DWORD disposition) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.get() != nullptr &&
         WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::wstring SessionText(DWORD number, WTS_INFO_CLASS what) {
  wchar_t* text = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, number, what, &text, &bytes) || text == nullptr)
    return {};
  std::wstring out(text, bytes / sizeof(wchar_t));
  WTSFreeMemory(text);
  out.resize(std::min(out.size(), out.find(L'\0')));
  return out;
}

// Windows reuses session numbers; the logon time makes the id unique.
std::string SessionId(DWORD number) {
  long long logon = 0;
  WTSINFOW* info = nullptr;
  DWORD bytes = 0;
  if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, number, WTSSessionInfo,
                                  reinterpret_cast<wchar_t**>(&info), &bytes) &&
      info != nullptr) {
    if (bytes >= sizeof(WTSINFOW)) logon = info->LogonTime.QuadPart;
    WTSFreeMemory(info);
  }
  return std::to_string(number) + "@" + std::to_string(logon);
}

DWORD SessionNumber(const std::string& id) { return static_cast<DWORD>(std::stoul(id)); }

class Win32GuardianPorts final : public guardian::Ports {
 public:
  Win32GuardianPorts() : folder_(GuardianDataFolder()), guard_exe_(OwnFolder() + L"\\qorvel.exe") {
    Security admins(kAdminsOnly);
    if (!CreateDirectoryW(folder_.c_str(), admins.get())) {
      // A folder left by an earlier install may have lost its protection.
      SetFileSecurityW(folder_.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                       admins.get()->lpSecurityDescriptor);
    }
    log_ = Handle(CreateFileW((folder_ + L"\\guardian.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  // The signed-in sessions. A failed listing keeps the last one, so a
  // passing error never drops a watched guard.
  std::vector<Session> ListSessions(const std::set<DWORD>& logging_off) {
    WTS_SESSION_INFOW* info = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count)) {
      NoteError("WTSEnumerateSessionsW");
      return sessions_;
    }
    sessions_.clear();
    // Wine lists none; the console's session is the one a child sits at.
    WTS_SESSION_INFOW console{WTSGetActiveConsoleSessionId(), nullptr, WTSActive};
    const bool listed = count > 0;
    if (!listed && console.SessionId != 0xFFFFFFFF) count = 1;
    for (DWORD i = 0; i < count; ++i) {
      const WTS_SESSION_INFOW& listing = listed ? info[i] : console;
      const DWORD number = listing.SessionId;
      SessionState state = SessionState::background;
      if (listing.State == WTSActive) {
        state = SessionState::active;
      } else if (listing.State != WTSConnected && listing.State != WTSDisconnected) {
        continue;  // listening, idle or down: nobody there
      }
      // The sign-in screen's session has no user yet.
      const std::wstring user = SessionText(number, WTSUserName);
      if (user.empty() && state != SessionState::active) continue;
      if (logging_off.contains(number)) state = SessionState::closing;
      sessions_.push_back(Session{SessionId(number), Narrow(user), state});
      note("session " + sessions_.back().id + " of " + sessions_.back().user + ": " +
           (state == SessionState::active ? "in front" : state == SessionState::closing ? "logging off" : "behind"));
    }
    WTSFreeMemory(info);
    return sessions_;
  }

  // The session id a session number has now.
  [[nodiscard]] std::string IdOf(DWORD number) const {
    for (const auto& s : sessions_)
      if (SessionNumber(s.id) == number) return s.id;
    return {};
  }

  std::map<std::string, Handle, std::less<>>& guards() { return guards_; }

  bool adopt_guard(const Session& session) override {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      DWORD in = 0;
      if (lstrcmpiW(entry.szExeFile, L"qorvel.exe") != 0 || !ProcessIdToSessionId(entry.th32ProcessID, &in) ||
          in != SessionNumber(session.id))
        continue;
      Handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      wchar_t path[MAX_PATH] = L"";
      DWORD size = MAX_PATH;
      // Another program named qorvel.exe guards nothing; one that just
      // ended may still be listed.
      if (process.get() == nullptr || !QueryFullProcessImageNameW(process.get(), 0, path, &size) ||
          lstrcmpiW(path, guard_exe_.c_str()) != 0 || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT)
        continue;
      note("watching the running guard " + std::to_string(entry.th32ProcessID) + " of session " + session.id);
      guards_[session.id] = std::move(process);
      return true;
    }
    return false;
  }

  bool start_guard(const Session& session) override {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(SessionNumber(session.id), &token)) return NoteError("WTSQueryUserToken");
    Handle user(token);
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, user.get(), FALSE)) environment = nullptr;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    std::wstring command = L"\"" + guard_exe_ + L"\"";
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessAsUserW(user.get(), guard_exe_.c_str(), command.data(), nullptr, nullptr, FALSE,
                                         CREATE_UNICODE_ENVIRONMENT, environment, OwnFolder().c_str(), &startup,
                                         &started);
    const DWORD error = GetLastError();
    if (environment != nullptr) DestroyEnvironmentBlock(environment);
    if (!ok) {
      SetLastError(error);
      return NoteError("CreateProcessAsUserW");
    }
    CloseHandle(started.hThread);
    guards_[session.id] = Handle(started.hProcess);
    return true;
  }

  void note(std::string_view line) override {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    char stamp[32];
    const int n = wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                            t.wSecond);
    const std::string text = std::string(stamp, n) + std::string(line) + "\r\n";
    // A start failing every 2 s for days must not fill the disk: past its
    // limit the log starts over.
    LARGE_INTEGER size{};
    const bool full = GetFileSizeEx(log_.get(), &size) && size.QuadPart > kMaxLogBytes;
    SetFilePointerEx(log_.get(), LARGE_INTEGER{}, nullptr, full ? FILE_BEGIN : FILE_END);
    if (full) SetEndOfFile(log_.get());
    DWORD written = 0;
    WriteFile(log_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }

  SettingsFile read_settings() override {
    if (auto bytes = ReadBytes(kSettingsPath)) return {SettingsFile::State::present, std::move(*bytes)};
    const DWORD error = GetLastError();
    return {error == ERROR_FILE_NOT_FOUND ? SettingsFile::State::missing : SettingsFile::State::unreadable, {}};
  }

  bool restore_settings(std::string_view bytes) override {
    // CREATE_NEW: a file that is there, whoever wrote it, stays.
    return WriteBytes(kSettingsPath, bytes, CREATE_NEW);
  }

  std::optional<std::string> load_copy() override { return ReadBytes(folder_ + L"\\mdb.ini"); }

  void save_copy(std::string_view bytes) override {
    // Whole or not at all: a copy cut short would be put back cut short.
    const std::wstring copy = folder_ + L"\\mdb.ini";
    if (!WriteBytes(copy + L".new", bytes, CREATE_ALWAYS) ||
        !MoveFileExW((copy + L".new").c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING))
      NoteError("saving the settings copy");
  }

  bool NoteError(const char* what) {
    note(std::string(what) + " failed: error " + std::to_string(GetLastError()));
    return false;
  }

 private:
  std::wstring folder_;
  std::wstring guard_exe_;
  Handle log_;
  std::vector<Session> sessions_;
  std::map<std::string, Handle, std::less<>> guards_;
};

// The one instance of the guardian's pipe: listen, read one request, answer,
// wait for the client to close, listen again.
class PipeServer {
 public:
  PipeServer() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    Security access(kPipeAccess);
    // FIRST_PIPE_INSTANCE: a pipe someone else made first is never joined.
    pipe_ = Handle(CreateNamedPipeW(kGuardianPipe,
                                    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                    1, 512, 512, 0, access.get()));
    if (pipe_.get() != nullptr) Listen();
  }
  [[nodiscard]] bool ok() const { return pipe_.get() != nullptr; }
  [[nodiscard]] HANDLE event() const { return event_.get(); }

  // How long the loop may sleep before Expire must look.
  [[nodiscard]] DWORD MsLeft() const {
    if (state_ == State::listening) return INFINITE;
    const ULONGLONG now = GetTickCount64();
    return now >= since_ + kClientLimitMs ? 0 : static_cast<DWORD>(since_ + kClientLimitMs - now);
  }

  void Expire() {
    if (MsLeft() != 0) return;
    DWORD ignored = 0;
    if (outcome_ == Outcome::begun && CancelIoEx(pipe_.get(), &io_))
      GetOverlappedResult(pipe_.get(), &io_, &ignored, TRUE);
    Listen();
  }

  // The event fired. `answer(session number, request)` gives the reply.
  template <typename Answer>
  void Step(Answer answer) {
    DWORD got = 0;
    const bool done = outcome_ == Outcome::connected ||
                      (outcome_ == Outcome::begun && GetOverlappedResult(pipe_.get(), &io_, &got, FALSE));
    if (!done || state_ == State::draining) return Listen();  // too long, gone, or closed as it should
    if (state_ == State::listening) {
      since_ = GetTickCount64();
      return Begin(State::reading, ReadFile(pipe_.get(), buffer_, sizeof buffer_, nullptr, Fresh()));
    }
    // The sender's session comes from the kernel, never from the message.
    DWORD pid = 0, session = 0;
    std::string_view reply = guardian::AnswerLine(guardian::QuitAnswer::refused);
    if (GetNamedPipeClientProcessId(pipe_.get(), &pid) && ProcessIdToSessionId(pid, &session))
      reply = answer(session, std::string_view(buffer_, got));
    // The reply fits the pipe's empty buffer: the write does not wait on the client.
    OVERLAPPED write{};
    write.hEvent = event_.get();
    DWORD written = 0;
    if (!WriteFile(pipe_.get(), reply.data(), static_cast<DWORD>(reply.size()), nullptr, &write) &&
        GetLastError() != ERROR_IO_PENDING)
      return Listen();
    GetOverlappedResult(pipe_.get(), &write, &written, TRUE);
    // Disconnecting now would throw the reply away: wait for the close.
    Begin(State::draining, ReadFile(pipe_.get(), buffer_, sizeof buffer_, nullptr, Fresh()));
  }

 private:
  enum class State { listening, reading, draining };
  enum class Outcome { begun, connected, failed };

  // Records how the operation just started on io_ went.
  void Begin(State state, BOOL ok) {
    state_ = state;
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    outcome_ = ok || error == ERROR_IO_PENDING ? Outcome::begun
               : error == ERROR_PIPE_CONNECTED ? Outcome::connected
                                               : Outcome::failed;
    if (outcome_ != Outcome::begun) SetEvent(event_.get());
  }
  void Listen() {
    DisconnectNamedPipe(pipe_.get());  // harmless when nobody is connected
    Begin(State::listening, ConnectNamedPipe(pipe_.get(), Fresh()));
  }
  OVERLAPPED* Fresh() {
    io_ = OVERLAPPED{};
    io_.hEvent = event_.get();
    ResetEvent(event_.get());
    return &io_;
  }

  Handle event_;
  Handle pipe_;
  OVERLAPPED io_{};
  State state_ = State::listening;
  Outcome outcome_ = Outcome::begun;
  ULONGLONG since_ = 0;
  char buffer_[512] = {};
};

}  // namespace

std::wstring GuardianDataFolder() {
  wchar_t path[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
    lstrcpynW(path, L"C:\\ProgramData", MAX_PATH);
  return std::wstring(path) + L"\\Qorvel";
}

DWORD RunGuardian(GuardianSignals& signals) {
  Win32GuardianPorts ports;
  PipeServer pipe;
  // Taken by someone else: guard on without it; the end button then only
  // brings the guard back, and the parent uninstalls instead.
  if (!pipe.ok()) ports.NoteError("creating the pipe");
  guardian::Guardian guardian(ports);
  const auto list_sessions = [&] {
    std::set<DWORD> logging_off;
    {
      const std::lock_guard lock(signals.mutex);
      logging_off = signals.logging_off;
    }
    guardian.SessionsChanged(ports.ListSessions(logging_off), Clock::now());
  };
  const auto answer = [&](DWORD session, std::string_view request) {
    const auto password = guardian::ParseQuitRequest(request);
    if (!password) return guardian::AnswerLine(guardian::QuitAnswer::refused);
    return guardian::AnswerLine(guardian.QuitAsked(ports.IdOf(session), *password, Clock::now()));
  };
  ports.note("the guardian runs");
  list_sessions();
  for (;;) {
    std::vector<HANDLE> handles{signals.stop, signals.shutdown, signals.sessions_changed, pipe.event()};
    const std::size_t first_guard = handles.size();
    std::vector<std::string> ids;
    for (const auto& [id, process] : ports.guards()) {
      if (handles.size() == MAXIMUM_WAIT_OBJECTS) break;  // 60 sessions at once: the rest wait their turn
      ids.push_back(id);
      handles.push_back(process.get());
    }
    const auto until_tick = std::chrono::ceil<std::chrono::milliseconds>(guardian.NextTick() - Clock::now());
    const DWORD timeout =
        std::min(pipe.MsLeft(), static_cast<DWORD>(std::clamp<long long>(until_tick.count(), 0, 60'000)));
    const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
    if (woke == WAIT_FAILED) {
      const DWORD error = GetLastError();
      ports.NoteError("WaitForMultipleObjects");
      return error;
    }
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      guardian.ShuttingDown();
      ports.note("the machine shuts down");
      break;
    }
    if (woke == WAIT_OBJECT_0 + 2) list_sessions();
    if (woke == WAIT_OBJECT_0 + 3) pipe.Step(answer);
    if (woke >= WAIT_OBJECT_0 + first_guard && woke < WAIT_OBJECT_0 + handles.size()) {
      const std::string id = ids[woke - WAIT_OBJECT_0 - first_guard];
      ports.guards().erase(id);
      guardian.GuardEnded(id, Clock::now());
    }
    pipe.Expire();
    guardian.Tick(Clock::now());
  }
  ports.note("the guardian stops");
  return 0;
}

}  // namespace qorvel::platform::win32
