// The guardian's Linux side: logind's sessions over the system bus, guards
// started as their user and watched through pidfds, the guards' socket, and
// the settings file with its copy.
#include "platform/linux/guardian_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

namespace qorvel::platform::lin {
namespace {

constexpr auto kService = "org.freedesktop.login1";
constexpr auto kManagerPath = "/org/freedesktop/login1";
constexpr auto kManager = "org.freedesktop.login1.Manager";
constexpr auto kProperties = "org.freedesktop.DBus.Properties";
// Far larger than any settings file; a bigger one is not ours to copy.
constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr std::size_t kMaxClients = 16;
// A guard needs one connection; the rest are its account's other programs.
constexpr std::size_t kMaxClientsPerUser = 4;
constexpr int kClientTimeoutMs = 5000;
// What the guard takes from its session, besides the account's own.
constexpr const char* kSessionVariables[] = {"DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
                                             "LANG",    "LANGUAGE",   "LC_ALL"};

guardian::Time Now() { return std::chrono::steady_clock::now(); }

std::optional<std::string> ReadAll(int fd) {
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > kMaxFileBytes) return std::nullopt;
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

// A plain file's bytes, never through a link (the child owns the folder).
guardian::SettingsFile ReadPlainFile(const std::string& path) {
  using State = guardian::SettingsFile::State;
  // O_NONBLOCK: a FIFO planted there must not stop the guardian.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return {errno == ENOENT ? State::missing : State::unreadable, {}};
  struct stat st {};
  std::optional<std::string> bytes;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) bytes = ReadAll(fd);
  close(fd);
  if (!bytes) return {State::unreadable, {}};
  return {State::present, std::move(*bytes)};
}

// The settings file as it stands: anything but a plain file is hostile and
// never opened through (a device could act on an open, a FIFO would block).
// *seen: the opened file's stat, taken before its bytes were read.
guardian::SettingsFile ReadSettingsFile(const std::string& path, struct stat* seen) {
  using State = guardian::SettingsFile::State;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return {errno == ENOENT ? State::missing : State::unreadable, {}};
  if (!S_ISREG(st.st_mode)) return {State::hostile, {}};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return {errno == ENOENT ? State::missing : State::unreadable, {}};
  // Swapped since the look: unread, and looked at again at the next check.
  struct stat opened {};
  std::optional<std::string> bytes;
  if (fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev) bytes = ReadAll(fd);
  close(fd);
  if (!bytes) return {State::unreadable, {}};
  *seen = opened;
  return {State::present, std::move(*bytes)};
}

// A descriptor of the plain file or folder at path, never through a link.
int OpenPlain(const std::string& path, bool folder) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))) return -1;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (folder ? O_DIRECTORY : 0));
  if (fd >= 0 && (fstat(fd, &st) != 0 || (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)))) {
    close(fd);
    return -1;
  }
  return fd;
}

// Root's, with these rights, through a descriptor from OpenPlain.
bool Own(int fd, mode_t mode) {
  if (fd < 0) return false;
  const bool ok = fchown(fd, 0, 0) == 0 && fchmod(fd, mode) == 0;
  close(fd);
  return ok;
}

std::string ProcPath(pid_t pid, const char* what) { return "/proc/" + std::to_string(pid) + "/" + what; }

std::map<std::string, std::string> Environment(pid_t pid) {
  std::map<std::string, std::string> variables;
  if (pid <= 0) return variables;
  const auto file = ReadPlainFile(ProcPath(pid, "environ"));
  std::string_view rest = file.bytes;
  while (!rest.empty()) {
    const std::string_view entry = rest.substr(0, rest.find('\0'));
    rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
    const auto eq = entry.find('=');
    if (eq != std::string_view::npos) variables.emplace(entry.substr(0, eq), entry.substr(eq + 1));
  }
  return variables;
}

std::string ExecutableOf(pid_t pid) {
  char buffer[4096];
  const ssize_t n = readlink(ProcPath(pid, "exe").c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::optional<uid_t> OwnerOf(pid_t pid) {
  struct stat st {};
  if (stat(ProcPath(pid, "").c_str(), &st) != 0) return std::nullopt;
  return st.st_uid;
}

std::vector<pid_t> Processes() {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid > 0 && *end == '\0') pids.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return pids;
}

// The session's environment: its leader's, unless the leader (a display
// manager's helper) never knew the display; then a process of the session's
// user that does.
std::map<std::string, std::string> SessionEnvironment(const LogindSession& session) {
  auto variables = Environment(session.leader);
  if (variables.contains("DISPLAY")) return variables;
  for (const pid_t pid : Processes()) {
    if (OwnerOf(pid) != session.uid) continue;
    auto found = Environment(pid);
    const auto id = found.find("XDG_SESSION_ID");
    if (id != found.end() && id->second == session.id && found.contains("DISPLAY")) return found;
  }
  return variables;
}

}  // namespace

std::optional<guardian::Session> CoreSession(const LogindSession& session) {
  // A user's session of any kind: one no window covers is logged off in a locked hour.
  if (session.klass != "user") return std::nullopt;
  guardian::Session out{session.id, session.user};
  if (session.state == "active") out.state = guardian::SessionState::active;
  else if (session.state == "closing") out.state = guardian::SessionState::closing;
  else out.state = guardian::SessionState::background;
  out.coverable = session.type == "x11";
  out.administrator = session.administrator;
  return out;
}

bool Administrator(uid_t uid, const std::string& user) {
  if (uid == 0) return true;
  passwd account{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(uid, &account, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(user.c_str(), account.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(user.c_str(), account.pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  for (const char* name : {"sudo", "admin", "wheel"}) {
    group entry{};
    group* result = nullptr;
    std::vector<char> group_buffer(65536);
    if (getgrnam_r(name, &entry, group_buffer.data(), group_buffer.size(), &result) != 0 || result == nullptr)
      continue;
    if (std::find(groups.begin(), groups.end(), entry.gr_gid) != groups.end()) return true;
  }
  return false;
}

std::string DisplayName(std::string_view display) {
  // host:number.screen; the screen is part of the same display.
  const auto colon = display.rfind(':');
  const auto dot = display.find('.', colon == std::string_view::npos ? 0 : colon);
  return std::string(display.substr(0, dot));
}

std::optional<std::string> ProcessVariable(pid_t pid, std::string_view name) {
  auto variables = Environment(pid);
  const auto it = variables.find(std::string(name));
  if (it == variables.end()) return std::nullopt;
  return it->second;
}

GuardianDaemon::GuardianDaemon(QDBusConnection bus, Paths paths) : bus_(std::move(bus)), paths_(std::move(paths)) {
  tick_.setSingleShot(true);
  // One wake when due: a coarse timer wakes early, then again.
  tick_.setTimerType(Qt::PreciseTimer);
  connect(&tick_, &QTimer::timeout, this, [this] {
    core_->Tick(Now());
    DropIdle(Now());
    Schedule();
  });
  core_.emplace(*this);
}

GuardianDaemon::~GuardianDaemon() {
  for (auto& [fd, client] : clients_) {
    client.reader.reset();
    client.writer.reset();
    close(fd);
  }
  for (auto& [id, guard] : guards_) {
    guard.notifier.reset();
    close(guard.pidfd);
  }
  accept_notifier_.reset();
  if (listener_ >= 0) close(listener_);
}

bool GuardianDaemon::Start() {
  if (!bus_.isConnected()) {
    note("no system bus: " + bus_.lastError().message().toStdString());
    return false;
  }
  if (!Listen()) return false;
  for (const char* signal : {"SessionNew", "SessionRemoved"})
    bus_.connect(kService, kManagerPath, kManager, signal, this, SLOT(RefreshSessions()));
  bus_.connect(kService, kManagerPath, kManager, "PrepareForShutdown", this, SLOT(PrepareForShutdown(bool)));
  // A session's state changes arrive on its own object; any path will do.
  bus_.connect(kService, QString(), kProperties, "PropertiesChanged", this, SLOT(RefreshSessions()));
  clock_watch_ = std::make_unique<ClockWatch>([this](std::string_view line) { note(line); }, "/etc/localtime");
  return ReadSessions();
}

bool GuardianDaemon::Listen() {
  // The folder is root's and nobody else's: no one else can have made the name.
  const std::string folder = std::filesystem::path(paths_.socket).parent_path().string();
  mkdir(folder.c_str(), 0755);
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    note("the socket's folder " + folder + " is missing or not root's alone");
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (paths_.socket.size() >= sizeof address.sun_path) return false;
  paths_.socket.copy(address.sun_path, paths_.socket.size());
  unlink(paths_.socket.c_str());  // a previous run's
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // Every user's guard must reach it.
  if (listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      chmod(paths_.socket.c_str(), 0666) != 0 || listen(listener_, 16) != 0) {
    note("cannot listen on " + paths_.socket + ": " + std::strerror(errno));
    return false;
  }
  accept_notifier_.reset(new QSocketNotifier(listener_, QSocketNotifier::Read));
  connect(accept_notifier_.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
  return true;
}

void GuardianDaemon::RefreshSessions() { ReadSessions(); }

bool GuardianDaemon::ReadSessions() {
  const QDBusMessage reply = bus_.call(QDBusMessage::createMethodCall(kService, kManagerPath, kManager, "ListSessions"),
                                       QDBus::Block, kLogindTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
    note("logind did not list the sessions: " + reply.errorMessage().toStdString());
    return false;
  }
  std::map<std::string, LogindSession> found;
  const auto list = reply.arguments().front().value<QDBusArgument>();
  list.beginArray();
  while (!list.atEnd()) {
    QString id, user, seat;
    uint uid = 0;
    QDBusObjectPath path;
    list.beginStructure();
    list >> id >> uid >> user >> seat >> path;
    list.endStructure();
    QDBusMessage get = QDBusMessage::createMethodCall(kService, path.path(), kProperties, "GetAll");
    get.setArguments({QStringLiteral("org.freedesktop.login1.Session")});
    const QDBusMessage properties = bus_.call(get, QDBus::Block, kLogindTimeoutMs);
    if (properties.type() != QDBusMessage::ReplyMessage || properties.arguments().size() != 1) continue;  // gone since
    const auto values = qdbus_cast<QVariantMap>(properties.arguments().front());
    found[id.toStdString()] = {id.toStdString(),
                               uid,
                               user.toStdString(),
                               values.value("Type").toString().toStdString(),
                               values.value("Class").toString().toStdString(),
                               values.value("State").toString().toStdString(),
                               values.value("Display").toString().toStdString(),
                               static_cast<pid_t>(values.value("Leader").toUInt()),
                               Administrator(uid, user.toStdString())};
  }
  list.endArray();
  for (const auto& [id, session] : found) {
    const auto before = sessions_.find(id);
    if (before == sessions_.end() || before->second.state != session.state)
      note("session " + id + " of " + session.user + ": " + session.type + " " + session.klass + " " + session.state);
  }
  for (const auto& [id, session] : sessions_)
    if (!found.contains(id)) note("session " + id + " gone");
  sessions_ = std::move(found);
  std::vector<guardian::Session> sessions;
  for (const auto& [id, session] : sessions_)
    if (auto core = CoreSession(session)) sessions.push_back(std::move(*core));
  core_->SessionsChanged(sessions, Now());
  Schedule();
  return true;
}

void GuardianDaemon::PrepareForShutdown(bool starting) {
  if (!starting) return;
  note("the machine is shutting down");
  core_->ShuttingDown();
  Schedule();
}

void GuardianDaemon::Schedule() {
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(core_->NextTick() - Now()).count();
  tick_.start(static_cast<int>(std::clamp<long long>(wait, 0, 60'000)));
}

bool GuardianDaemon::Watch(const std::string& session_id, pid_t pid, bool child) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    note("cannot watch process " + std::to_string(pid) + ": " + std::strerror(errno));
    return false;
  }
  Watched& watched = guards_[session_id];
  if (watched.pidfd >= 0) {
    watched.notifier.reset();
    close(watched.pidfd);
  }
  watched = {pid, pidfd, child, Notifier(new QSocketNotifier(pidfd, QSocketNotifier::Read))};
  connect(watched.notifier.get(), &QSocketNotifier::activated, this, [this, session_id] { GuardGone(session_id); });
  return true;
}

void GuardianDaemon::GuardGone(const std::string& session_id) {
  const auto it = guards_.find(session_id);
  if (it == guards_.end()) return;
  Watched gone = std::move(it->second);
  guards_.erase(it);
  gone.notifier.reset();
  // The core first, so whatever it starts is under way before this is said.
  core_->GuardEnded(session_id, Now());
  std::string how = "ended";
  int status = 0;
  if (gone.child && waitpid(gone.pid, &status, WNOHANG) == gone.pid) {
    how = WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                              : "ended with exit code " + std::to_string(WEXITSTATUS(status));
  }
  close(gone.pidfd);
  note("guard " + std::to_string(gone.pid) + " of session " + session_id + " " + how);
  Schedule();
}

bool GuardianDaemon::adopt_guard(const guardian::Session& session, guardian::Pid reporter) {
  const auto found = sessions_.find(session.id);
  if (found == sessions_.end()) return false;
  const auto pid = static_cast<pid_t>(reporter);
  // The kernel's link to what runs, never argv or comm, which the child sets.
  const std::string exe = ExecutableOf(pid);
  const auto display = ProcessVariable(pid, "DISPLAY");
  std::string why;
  if (OwnerOf(pid) != found->second.uid) why = "another account's";
  else if (exe != paths_.guard && exe != paths_.guard + " (deleted)") why = "runs " + exe;  // deleted: an upgrade
  else if (ProcessVariable(pid, "XDG_SESSION_ID") != session.id) why = "another session's";
  // A copy on a display of its own would cover nothing here.
  else if (!display || DisplayName(*display) != DisplayName(DisplayOf(found->second)))
    why = "on display " + display.value_or("(none)");
  if (!why.empty()) {
    note("not adopting process " + std::to_string(pid) + " in session " + session.id + ": " + why);
    return false;
  }
  if (!Watch(session.id, pid, false)) return false;
  note("watching guard " + std::to_string(pid) + ", already running in session " + session.id);
  return true;
}

void GuardianDaemon::end_guard(const guardian::Session& session, guardian::Pid pid) {
  // Through the pidfd: never another process that took the number, and
  // SIGKILL ends a stopped one too. Its end comes through the pidfd.
  const auto it = guards_.find(session.id);
  if (it == guards_.end() || it->second.pid != static_cast<pid_t>(pid)) return;
  if (syscall(SYS_pidfd_send_signal, it->second.pidfd, SIGKILL, nullptr, 0) != 0)
    note("cannot end guard " + std::to_string(pid) + ": " + std::strerror(errno));
}

void GuardianDaemon::log_off(const guardian::Session& session) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kManagerPath, kManager, "TerminateSession");
  call.setArguments({QString::fromStdString(session.id)});
  const QDBusMessage reply = bus_.call(call, QDBus::Block, kLogindTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage)
    note("logind did not end session " + session.id + ": " + reply.errorMessage().toStdString());
}

std::optional<int> GuardianDaemon::local_hour() {
  // The machine's zone (/etc/localtime: a service has no TZ), never a user's.
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  return local.tm_hour;
}

std::string GuardianDaemon::DisplayOf(const LogindSession& session) const {
  if (!session.display.empty()) return session.display;
  const auto environment = SessionEnvironment(session);
  const auto it = environment.find("DISPLAY");
  return it != environment.end() ? it->second : std::string();
}

std::optional<guardian::Pid> GuardianDaemon::start_guard(const guardian::Session& session) {
  const auto found = sessions_.find(session.id);
  if (found == sessions_.end()) return std::nullopt;
  const LogindSession& logind = found->second;
  passwd account{};
  passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(logind.uid, &account, buffer.data(), buffer.size(), &result) != 0 || result == nullptr) {
    note("no account for uid " + std::to_string(logind.uid));
    return std::nullopt;
  }
  // Everything the child needs is made here: after fork, with the bus's
  // thread in the parent, only async-signal-safe calls are allowed.
  int group_count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(group_count));
  if (getgrouplist(account.pw_name, account.pw_gid, groups.data(), &group_count) < 0) {
    groups.resize(static_cast<std::size_t>(group_count));
    if (getgrouplist(account.pw_name, account.pw_gid, groups.data(), &group_count) < 0) return std::nullopt;
  }
  groups.resize(static_cast<std::size_t>(group_count));
  const std::string home = account.pw_dir != nullptr ? account.pw_dir : "/";
  const std::string name = account.pw_name;
  std::vector<std::string> variables = {"HOME=" + home,
                                        "USER=" + name,
                                        "LOGNAME=" + name,
                                        "SHELL=" + std::string(account.pw_shell != nullptr ? account.pw_shell : "/bin/sh"),
                                        "PATH=/usr/local/bin:/usr/bin:/bin",
                                        "XDG_SESSION_ID=" + logind.id};
  const auto environment = SessionEnvironment(logind);
  for (const char* variable : kSessionVariables) {
    const auto it = environment.find(variable);
    if (it != environment.end() && it->first != "DISPLAY") variables.push_back(it->first + "=" + it->second);
  }
  // The display the guard is adopted on: logind's, else the session's own.
  if (const std::string display = DisplayOf(logind); !display.empty()) variables.push_back("DISPLAY=" + display);
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::string guard = paths_.guard;
  char* argv[] = {guard.data(), nullptr};
  const uid_t uid = logind.uid;
  const gid_t gid = account.pw_gid;

  const pid_t pid = fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    setsid();  // not in the guardian's process group
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
    if (chdir(home.c_str()) != 0 && chdir("/") != 0) _exit(126);
    execve(guard.c_str(), argv, envp.data());
    _exit(127);
  }
  if (Watch(session.id, pid, true)) return static_cast<guardian::Pid>(pid);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return std::nullopt;
}

void GuardianDaemon::note(std::string_view line) {
  std::fprintf(stderr, "qorvel-guardian: %.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stderr);
}

bool GuardianDaemon::Stamp::operator==(const Stamp& o) const {
  return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
         mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
}

guardian::SettingsFile GuardianDaemon::read_settings() {
  // Asked at every request and report: read again only when the plain file
  // at the path is another, or changed. A stamp younger than a second is
  // not trusted: a write within the file system's clock step keeps it.
  const time_t now = time(nullptr);
  struct stat st {};
  if (stamp_ && lstat(paths_.settings.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim} == *stamp_)
    return last_file_;
  stamp_.reset();
  auto file = ReadSettingsFile(paths_.settings, &st);
  if (file.state == guardian::SettingsFile::State::present && st.st_mtim.tv_sec < now - 1 &&
      st.st_ctim.tv_sec < now - 1) {
    stamp_ = Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    last_file_ = file;
  }
  // Once per spell: an oversized or unreadable file is neither copied nor replaced.
  const bool odd = file.state == guardian::SettingsFile::State::unreadable;
  if (odd && !odd_file_noted_) note("the settings file cannot be read: neither copied nor replaced");
  odd_file_noted_ = odd;
  return file;
}

bool GuardianDaemon::write_setting(std::string_view section, std::string_view key,
                                   std::optional<std::string_view> value) {
  // The guard's own engine, so the bytes are the ones it wrote itself. Its
  // new files, the temporary one included, are root's alone from the start.
  const mode_t before = umask(077);
  const bool ok = engine_.write_string(section, key, value, paths_.settings);
  umask(before);
  return ok;
}

bool GuardianDaemon::protect_settings() {
  // Only root may make or replace a name in the folder; only root may read
  // the file. Set through descriptors, on what was checked.
  const std::string folder = std::filesystem::path(paths_.settings).parent_path().string();
  const bool folder_ok = Own(OpenPlain(folder, true), 0755);
  if (!folder_ok) note("cannot make " + folder + " root's alone: " + std::strerror(errno));
  return Own(OpenPlain(paths_.settings, false), 0600) && folder_ok;
}

bool GuardianDaemon::move_aside() {
  // rename moves the name itself: a link is not followed, a folder keeps
  // what the child put in it.
  const std::string stem = paths_.settings + "." + std::to_string(time(nullptr));
  for (int n = 1; n <= 100; ++n) {
    const std::string aside = stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".moved";
    if (renameat2(AT_FDCWD, paths_.settings.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
      note("moved " + paths_.settings + " aside to " + aside);
      return true;
    }
    if (errno != EEXIST) break;
  }
  note("cannot move " + paths_.settings + " aside: " + std::strerror(errno));
  return false;
}

bool GuardianDaemon::restore_settings(std::string_view bytes) {
  // An unnamed file linked into place when whole: link never replaces a
  // file that exists, a reader never sees half of one, and the child has no
  // name to plant in the folder it may write.
  const std::string folder = std::filesystem::path(paths_.settings).parent_path().string();
  const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  // Root's alone before it has a name.
  bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
  ok = ok && linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), AT_FDCWD, paths_.settings.c_str(),
                    AT_SYMLINK_FOLLOW) == 0;
  close(fd);
  return ok;
}

std::optional<std::string> GuardianDaemon::load_copy() {
  const auto file = ReadPlainFile(paths_.copy + "/mdb.ini");
  if (file.state != guardian::SettingsFile::State::present) return std::nullopt;
  return file.bytes;
}

void GuardianDaemon::save_copy(std::string_view bytes) {
  // Root's alone: the copy holds the password.
  mkdir(paths_.copy.c_str(), 0700);
  const std::string path = paths_.copy + "/mdb.ini";
  const std::string temp = path + ".new";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  bool ok = chmod(paths_.copy.c_str(), 0700) == 0 && fd >= 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
  if (fd >= 0) ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) note("cannot keep a copy of the settings file in " + paths_.copy + ": " + std::strerror(errno));
}

void GuardianDaemon::Accept() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || !Admit(peer)) {
      close(fd);
      continue;
    }
    Client& client = clients_[fd];
    client = {fd, peer.pid, peer.uid, {}, {}, 0, Now(), Notifier(new QSocketNotifier(fd, QSocketNotifier::Read)), {}};
    connect(client.reader.get(), &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
  }
}

bool GuardianDaemon::Admit(const ucred& peer) {
  const auto mine = std::count_if(clients_.begin(), clients_.end(),
                                  [&](const auto& entry) { return entry.second.uid == peer.uid; });
  if (mine < static_cast<long>(kMaxClientsPerUser) && clients_.size() < kMaxClients) return true;
  // A watched guard always gets in: the longest silent connection that is
  // no guard's makes way, its own account's first, so a child's programs
  // holding every place cannot silence the real guard.
  const auto guard = [&](pid_t pid) {
    return std::any_of(guards_.begin(), guards_.end(), [&](const auto& entry) { return entry.second.pid == pid; });
  };
  if (!guard(peer.pid)) return false;
  const bool own = mine >= static_cast<long>(kMaxClientsPerUser);
  int victim = -1;
  for (const auto& [fd, client] : clients_) {
    if ((own && client.uid != peer.uid) || guard(client.pid)) continue;
    if (victim < 0 || client.heard < clients_.at(victim).heard) victim = fd;
  }
  if (victim < 0) return false;
  Drop(victim);
  return true;
}

void GuardianDaemon::DropIdle(guardian::Time now) {
  // A guard reports twice a second; a connection silent for this long, or
  // one that never finishes its line, frees its place.
  std::vector<int> idle;
  for (const auto& [fd, client] : clients_)
    if (now - client.heard >= std::chrono::milliseconds(kClientTimeoutMs)) idle.push_back(fd);
  for (const int fd : idle) Drop(fd);
}

void GuardianDaemon::Read(int fd) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  char buffer[512];
  const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) return Drop(fd);
  it->second.in.append(buffer, static_cast<std::size_t>(n));
  Answer(fd);
  // Here too: while guards report, the tick's timer hardly ever fires.
  DropIdle(Now());
}

void GuardianDaemon::Answer(int fd) {
  // The lines in turn, each answered whole before the next is read.
  for (;;) {
    const auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    Client& client = it->second;
    const auto end = client.in.find('\n');
    if (end == std::string::npos) {
      if (client.in.size() > guardian::kMaxRequestLine) Drop(fd);
      return;
    }
    const std::string line = client.in.substr(0, end + 1);
    client.in.erase(0, end + 1);
    const std::string session_id = SessionOf(client.pid);
    const auto now = Now();
    client.heard = now;
    client.out = core_->Answer(session_id, static_cast<guardian::Pid>(client.pid), line, now);
    client.sent = 0;
    // Said once per guard: one that never reports is ended, and the log says why.
    const auto guard = guards_.find(session_id);
    if (guard != guards_.end() && guard->second.pid == client.pid && !guard->second.heard && line.starts_with("state ")) {
      guard->second.heard = true;
      note("guard " + std::to_string(client.pid) + " of session " + session_id + " reports");
    }
    Schedule();
    if (!Send(fd)) return;  // the rest waits until this answer has gone
  }
}

bool GuardianDaemon::Send(int fd) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return false;
  Client& client = it->second;
  while (client.sent < client.out.size()) {
    const ssize_t n = send(fd, client.out.data() + client.sent, client.out.size() - client.sent,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      client.sent += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A long answer goes on once the guard has read some; nothing more
      // is read from it meanwhile, and the idle limit drops one that never reads.
      if (!client.writer) {
        client.reader->setEnabled(false);
        client.writer.reset(new QSocketNotifier(fd, QSocketNotifier::Write));
        connect(client.writer.get(), &QSocketNotifier::activated, this, [this, fd] {
          if (!Send(fd)) return;
          const auto found = clients_.find(fd);
          found->second.writer.reset();
          found->second.reader->setEnabled(true);
          Answer(fd);
        });
      }
      return false;
    } else {
      Drop(fd);
      return false;
    }
  }
  client.out.clear();
  client.sent = 0;
  return true;
}

void GuardianDaemon::Drop(int fd) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  it->second.reader.reset();
  it->second.writer.reset();
  close(fd);
  clients_.erase(it);
}

std::string GuardianDaemon::SessionOf(pid_t pid) const {
  // The kernel names the sender; a guard we watch is known by its pid.
  for (const auto& [id, guard] : guards_)
    if (guard.pid == pid) return id;
  // One not watched yet (the logon's grace): the session it was started in,
  // if it runs as that session's user.
  const auto id = ProcessVariable(pid, "XDG_SESSION_ID");
  const auto session = id ? sessions_.find(*id) : sessions_.end();
  if (session == sessions_.end() || OwnerOf(pid) != session->second.uid) return {};
  return session->first;
}

}  // namespace qorvel::platform::lin
