// The guardian's ports on Windows and its one event loop: it sleeps on the
// guards' process handles, the pipe and the service's events, and wakes for
// the guardian's next due time; nothing polls.
#include "platform/win32/guardian_service_win32.h"

#include <aclapi.h>
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
#include "guardian/protocol.h"
#include "platform/win32/guardian_checks_win32.h"
#include "platform/win32/profile_file_win32.h"
#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

using guardian::Session;
using guardian::SessionState;
using guardian::SettingsFile;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kSettingsPath[] = L"C:\\mdb.ini";
// Any signed-in user may ask (the password decides); only SYSTEM serves it.
constexpr wchar_t kPipeAccess[] = L"D:P(A;;FA;;;SY)(A;;FRFW;;;AU)";
// A client holding a pipe instance longer is dropped, so a stuck or hostile
// one cannot keep the parent's request out.
constexpr ULONGLONG kClientLimitMs = 5000;
// Every guard reports twice a second: a few instances, so one slow client
// never holds up a report for long.
constexpr DWORD kPipeInstances = 4;
constexpr wchar_t kZoneKey[] = L"SYSTEM\\CurrentControlSet\\Control\\TimeZoneInformation";
// Room for most answers at once; a longer one is written as the client reads.
constexpr DWORD kOutBuffer = 64 * 1024;
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
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_ = nullptr;
};

// Opens what stands at the path itself: a link or junction is not followed,
// a folder opens as one.
Handle OpenItself(const std::wstring& path, DWORD access) {
  return Handle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// A file on disk with no other name: a second name could be reached, and
// changed, from wherever it stands.
bool PlainFile(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
         info.nNumberOfLinks == 1;
}

bool PlainFolder(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
             FILE_ATTRIBUTE_DIRECTORY;
}

Descriptor FromSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR made = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &made, nullptr)) return nullptr;
  return Descriptor(made);
}

class SystemSecurity final : public FileSecurity {
 public:
  bool apply(HANDLE object, const std::wstring&, PSECURITY_DESCRIPTOR descriptor) override {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) return false;
    // Protected: nothing the folder above allows comes down to it.
    return SetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
  }
};

bool OwnedByTrusted(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR held = nullptr;
  if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &held) !=
      ERROR_SUCCESS)
    return false;
  const bool trusted = TrustedOwner(owner);
  LocalFree(held);
  return trusted;
}

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

// The bytes of an open file; nullopt when it cannot be read whole.
std::optional<std::string> ReadAll(HANDLE file) {
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(buffer, got);
    if (bytes.size() > kMaxSettingsBytes) return std::nullopt;
  }
}

// A file's bytes; nullopt when it cannot be read.
std::optional<std::string> ReadBytes(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  return ReadAll(file.get());
}

bool WriteBytes(const std::wstring& path, std::string_view bytes, DWORD disposition,
                SECURITY_ATTRIBUTES* rights = nullptr) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, rights, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
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
  Win32GuardianPorts()
      : folder_(GuardianDataFolder()),
        guard_exe_(OwnFolder() + L"\\qorvel.exe"),
        folder_ok_(PrepareDataFolder(folder_, SystemFileSecurity())),
        settings_(kSettingsPath, SystemFileSecurity()) {
    // A folder that is not the guardian's own holds no copy and no log of it.
    if (folder_ok_)
      log_ = Handle(CreateFileW((folder_ + L"\\guardian.log").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
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
      sessions_.push_back(Session{SessionId(number), Narrow(user), state, true, Administrator(number)});
      note("session " + sessions_.back().id + " of " + sessions_.back().user + ": " +
           (state == SessionState::active ? "in front" : state == SessionState::closing ? "logging off" : "behind") +
           (sessions_.back().administrator ? ", an administrator" : ""));
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

  bool adopt_guard(const Session& session, guardian::Pid pid) override {
    Handle process(OpenGuardProcess(static_cast<DWORD>(pid), SessionNumber(session.id), guard_exe_));
    if (!process) return false;
    note("watching the running guard " + std::to_string(pid) + " of session " + session.id);
    guards_[session.id] = std::move(process);
    return true;
  }

  std::optional<guardian::Pid> start_guard(const Session& session) override {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(SessionNumber(session.id), &token)) return NoteError("WTSQueryUserToken"), std::nullopt;
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
      return NoteError("CreateProcessAsUserW"), std::nullopt;
    }
    CloseHandle(started.hThread);
    guards_[session.id] = Handle(started.hProcess);
    return started.dwProcessId;
  }

  void end_guard(const Session& session, guardian::Pid pid) override {
    // The kept handle, never the pid again: a suspended process ends as well.
    const auto it = guards_.find(session.id);
    if (it == guards_.end() || GetProcessId(it->second.get()) != pid) return;
    if (!TerminateProcess(it->second.get(), 1)) NoteError("TerminateProcess");
  }

  void log_off(const Session& session) override {
    // Wine logs nobody off; the line shows the call was made.
    const BOOL ok = WTSLogoffSession(WTS_CURRENT_SERVER_HANDLE, SessionNumber(session.id), FALSE);
    note("WTSLogoffSession(" + std::to_string(SessionNumber(session.id)) + ") " +
         (ok ? std::string("called") : "failed: error " + std::to_string(GetLastError())));
  }

  std::optional<int> local_hour() override {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return t.wHour;
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

  SettingsFile read_settings() override { return settings_.read(); }
  bool restore_settings(std::string_view bytes) override { return settings_.restore(bytes); }
  bool write_setting(std::string_view section, std::string_view key,
                     std::optional<std::string_view> value) override {
    return settings_.write(section, key, value);
  }
  bool protect_settings() override { return settings_.protect(); }
  bool move_aside() override { return settings_.move_aside(); }

  std::optional<std::string> load_copy() override {
    if (!folder_ok_) return std::nullopt;
    return ReadBytes(folder_ + L"\\mdb.ini");
  }

  void save_copy(std::string_view bytes) override {
    if (!folder_ok_) return;
    // Whole or not at all: a copy cut short would be put back cut short.
    const std::wstring copy = folder_ + L"\\mdb.ini";
    if (!WriteBytes(copy + L".new", bytes, CREATE_ALWAYS) ||
        !MoveFileExW((copy + L".new").c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING))
      NoteError("saving the settings copy");
  }

  // The session's user's token says it; a session without one is nobody's.
  static bool Administrator(DWORD number) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(number, &token)) return false;
    const Handle held(token);
    return TokenIsAdministrator(token);
  }

  bool NoteError(const char* what) {
    note(std::string(what) + " failed: error " + std::to_string(GetLastError()));
    return false;
  }

 private:
  std::wstring folder_;
  std::wstring guard_exe_;
  bool folder_ok_;
  SettingsPath settings_;
  Handle log_;
  std::vector<Session> sessions_;
  std::map<std::string, Handle, std::less<>> guards_;
};

// One instance of the guardian's pipe: listen, read one request, answer,
// wait for the client to close, listen again.
class PipeServer {
 public:
  explicit PipeServer(bool first) : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    Security access(kPipeAccess);
    // FIRST_PIPE_INSTANCE: a pipe someone else made first is never joined.
    pipe_ = Handle(CreateNamedPipeW(kGuardianPipe,
                                    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                    kPipeInstances, kOutBuffer, sizeof buffer_, 0, access.get()));
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

  // The event fired. `answer(session number, pid, request)` gives the reply.
  template <typename Answer>
  void Step(Answer answer) {
    DWORD got = 0;
    // Too long, gone, or closed after its answer as it should: the next one.
    const bool done = outcome_ == Outcome::connected ||
                      (outcome_ == Outcome::begun && GetOverlappedResult(pipe_.get(), &io_, &got, FALSE));
    if (!done || state_ == State::draining) return Listen();
    switch (state_) {
      case State::listening:
        since_ = GetTickCount64();
        return Begin(State::reading, ReadFile(pipe_.get(), buffer_, sizeof buffer_, nullptr, Fresh()));
      case State::reading: {
        // The sender's session comes from the kernel, never from the message.
        DWORD pid = 0, session = 0;
        reply_ = guardian::FormatAnswer({});
        if (GetNamedPipeClientProcessId(pipe_.get(), &pid) && ProcessIdToSessionId(pid, &session))
          reply_ = answer(session, pid, std::string_view(buffer_, got));
        // A long answer may wait on a client that does not read: the time
        // limit ends it like any other step.
        return Begin(State::writing,
                     WriteFile(pipe_.get(), reply_.data(), static_cast<DWORD>(reply_.size()), nullptr, Fresh()));
      }
      case State::writing:
        // Disconnecting now would throw the reply away: wait for the close.
        return Begin(State::draining, ReadFile(pipe_.get(), buffer_, sizeof buffer_, nullptr, Fresh()));
      case State::draining: return Listen();
    }
  }

 private:
  enum class State { listening, reading, writing, draining };
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
  std::string reply_;
  // One byte over the longest line: a longer one ends in ERROR_MORE_DATA and is dropped unanswered.
  char buffer_[guardian::kMaxRequestLine + 1] = {};
};

}  // namespace

Descriptor ProtectedFileDescriptor() { return FromSddl(kProtectedFileSddl); }
Descriptor ProtectedFolderDescriptor() { return FromSddl(kProtectedFolderSddl); }

FileSecurity& SystemFileSecurity() {
  static SystemSecurity security;
  return security;
}

bool TrustedOwner(PSID owner) {
  if (owner == nullptr || !IsValidSid(owner)) return false;
  if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
  // The guardian's own account: SYSTEM on Windows, the user under Wine.
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const Handle held(token);
  alignas(TOKEN_USER) char buffer[256];
  DWORD size = 0;
  return GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
         EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

bool MoveAside(const std::wstring& path) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  wchar_t stamp[32];
  wsprintfW(stamp, L"%04u%02u%02u%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  for (int n = 0; n < 100; ++n) {
    const std::wstring aside = path + L"." + stamp + (n == 0 ? L"" : L"-" + std::to_wstring(n)) + L".moved";
    // A rename moves the link or junction itself, never what it points to.
    if (MoveFileExW(path.c_str(), aside.c_str(), 0)) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

SettingsFile SettingsPath::read() const {
  // Looked at first with no right to its contents, which even a folder whose
  // rights shut the guardian out grants through the folder above.
  {
    const Handle item = OpenItself(path_, FILE_READ_ATTRIBUTES);
    if (!item) return {Missing(GetLastError()) ? SettingsFile::State::missing : SettingsFile::State::unreadable, {}};
    if (!PlainFile(item.get())) return {SettingsFile::State::hostile, {}};
  }
  const Handle file = OpenItself(path_, GENERIC_READ);
  if (!file) return {Missing(GetLastError()) ? SettingsFile::State::missing : SettingsFile::State::unreadable, {}};
  if (!PlainFile(file.get())) return {SettingsFile::State::hostile, {}};
  auto bytes = ReadAll(file.get());
  if (!bytes) return {SettingsFile::State::unreadable, {}};
  return {SettingsFile::State::present, std::move(*bytes)};
}

bool SettingsPath::restore(std::string_view bytes) {
  // CREATE_NEW: whatever stands there, whoever put it, stays; the rights are
  // there from the first byte.
  const Descriptor rights = ProtectedFileDescriptor();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, rights.get(), FALSE};
  return rights && WriteBytes(path_, bytes, CREATE_NEW, &attributes);
}

bool SettingsPath::write(std::string_view section, std::string_view key, std::optional<std::string_view> value) {
  // The profile call follows whatever stands at the path: only a plain file, or none.
  const auto state = read().state;
  if (state != SettingsFile::State::present && state != SettingsFile::State::missing) return false;
  return Win32ProfileFile().write_string(section, key, value, Narrow(path_));
}

bool SettingsPath::protect() {
  const Handle file = OpenItself(path_, READ_CONTROL | WRITE_DAC);
  const Descriptor rights = ProtectedFileDescriptor();
  return file && rights && PlainFile(file.get()) && security_.apply(file.get(), path_, rights.get());
}

bool SettingsPath::move_aside() { return MoveAside(path_); }

bool PrepareDataFolder(const std::wstring& folder, FileSecurity& security) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    {
      const Handle item = OpenItself(folder, READ_CONTROL | WRITE_DAC);
      if (item && PlainFolder(item.get()) && OwnedByTrusted(item.get())) {
        const Descriptor rights = ProtectedFolderDescriptor();
        return rights && security.apply(item.get(), folder, rights.get());
      }
      // A file, a link, a junction, or a folder someone else made: aside.
      if ((item || !Missing(GetLastError())) && !MoveAside(folder)) return false;
    }
    const Descriptor rights = ProtectedFolderDescriptor();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, rights.get(), FALSE};
    CreateDirectoryW(folder.c_str(), &attributes);  // looked at again above
  }
  return false;
}

std::wstring GuardianDataFolder() {
  wchar_t path[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
    lstrcpynW(path, L"C:\\ProgramData", MAX_PATH);
  return std::wstring(path) + L"\\Qorvel";
}

// Watches the time zone's key: a change sets the event, once per Rearm.
class ZoneWatch {
 public:
  ZoneWatch() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kZoneKey, 0, KEY_NOTIFY | KEY_QUERY_VALUE, &key) == ERROR_SUCCESS)
      key_ = key;
    Rearm();
  }
  ~ZoneWatch() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ZoneWatch(const ZoneWatch&) = delete;
  ZoneWatch& operator=(const ZoneWatch&) = delete;
  [[nodiscard]] HANDLE event() const { return event_.get(); }
  void Rearm() {
    if (key_ != nullptr)
      RegNotifyChangeKeyValue(key_, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event_.get(), TRUE);
  }
  [[nodiscard]] std::string Zone() const {
    wchar_t name[128] = L"";
    DWORD bytes = sizeof name - sizeof(wchar_t);
    if (key_ == nullptr ||
        RegQueryValueExW(key_, L"TimeZoneKeyName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &bytes) != ERROR_SUCCESS)
      return "?";
    return Narrow(name);
  }

 private:
  Handle event_;
  HKEY key_ = nullptr;
};

DWORD RunGuardian(GuardianSignals& signals) {
  Win32GuardianPorts ports;
  std::vector<std::unique_ptr<PipeServer>> pipes;
  for (DWORD n = 0; n < kPipeInstances; ++n) {
    auto pipe = std::make_unique<PipeServer>(n == 0);
    // Taken by someone else: guard on without it; the end button then only
    // brings the guard back, and the parent uninstalls instead.
    if (!pipe->ok()) {
      ports.NoteError("creating the pipe");
      break;
    }
    pipes.push_back(std::move(pipe));
  }
  ZoneWatch zone;
  guardian::Guardian guardian(ports);
  const auto list_sessions = [&] {
    std::set<DWORD> logging_off;
    {
      const std::lock_guard lock(signals.mutex);
      logging_off = signals.logging_off;
    }
    guardian.SessionsChanged(ports.ListSessions(logging_off), Clock::now());
  };
  const auto answer = [&](DWORD session, DWORD pid, std::string_view request) {
    return guardian.Answer(ports.IdOf(session), pid, request, Clock::now());
  };
  ports.note("the guardian runs");
  list_sessions();
  for (;;) {
    std::vector<HANDLE> handles{signals.stop, signals.shutdown, signals.sessions_changed, signals.clock_changed,
                                zone.event()};
    DWORD pipe_ms = INFINITE;
    for (const auto& pipe : pipes) {
      handles.push_back(pipe->event());
      pipe_ms = std::min(pipe_ms, pipe->MsLeft());
    }
    const std::size_t first_guard = handles.size();
    std::vector<std::string> ids;
    for (const auto& [id, process] : ports.guards()) {
      if (handles.size() == MAXIMUM_WAIT_OBJECTS) break;  // 60 sessions at once: the rest wait their turn
      ids.push_back(id);
      handles.push_back(process.get());
    }
    const auto until_tick = std::chrono::ceil<std::chrono::milliseconds>(guardian.NextTick() - Clock::now());
    const DWORD timeout =
        std::min(pipe_ms, static_cast<DWORD>(std::clamp<long long>(until_tick.count(), 0, 60'000)));
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
    if (woke == WAIT_OBJECT_0 + 3) {
      SYSTEMTIME t{};
      GetLocalTime(&t);
      char now[32];
      wsprintfA(now, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
      ports.note(std::string("the clock was changed; the local time is now ") + now);
    }
    if (woke == WAIT_OBJECT_0 + 4) {
      ports.note("the time zone was changed; it is now " + zone.Zone());
      zone.Rearm();
    }
    // Every instance whose event is set, not only the first: none waits behind another.
    for (const auto& pipe : pipes)
      if (WaitForSingleObject(pipe->event(), 0) == WAIT_OBJECT_0) pipe->Step(answer);
    if (woke >= WAIT_OBJECT_0 + first_guard && woke < WAIT_OBJECT_0 + handles.size()) {
      const std::string id = ids[woke - WAIT_OBJECT_0 - first_guard];
      ports.guards().erase(id);
      guardian.GuardEnded(id, Clock::now());
    }
    for (const auto& pipe : pipes) pipe->Expire();
    guardian.Tick(Clock::now());
  }
  ports.note("the guardian stops");
  return 0;
}

}  // namespace qorvel::platform::win32
