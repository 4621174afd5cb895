#pragma once
// The services on a Linux desktop: the settings file under /var/lib/qorvel,
// the local clock, process facts, logind over the system bus and the XDG
// autostart entry. Failures come back as values; nothing here throws.
#include <QDBusConnection>
#include <QLocale>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock_process.h"
#include "platform/portable/portable_profile_file.h"
#include "platform/profile_file.h"
#include "platform/system.h"

namespace qorvel::platform::lin {

inline constexpr std::string_view kSettingsPath = "/var/lib/qorvel/mdb.ini";
inline constexpr std::string_view kAutostartDirectory = "/etc/xdg/autostart";

// Where a path the core names lives here: the settings file's Windows name
// (any letter case) is settings_path; an absolute POSIX path stays itself;
// any other Windows path has no home (nullopt).
[[nodiscard]] std::optional<std::string> MapPath(std::string_view path, std::string_view settings_path);

// The profile functions over the mapped file, in code page 936, so one file
// serves both systems. A file it creates gets mode 0666, so every desktop
// user's guard can save changes to it.
class LinuxProfileFile final : public ProfileFile {
 public:
  explicit LinuxProfileFile(std::string settings_path = std::string(kSettingsPath))
      : settings_path_(std::move(settings_path)) {}
  [[nodiscard]] std::string get_section(std::string_view section, std::size_t buffer_size,
                                        std::string_view file) override;
  bool write_string(std::string_view section, std::string_view key,
                    std::optional<std::string_view> value, std::string_view file) override;

 private:
  std::string settings_path_;
  PortableProfileFile engine_;
};

class LinuxFileSystem final : public FileSystem {
 public:
  explicit LinuxFileSystem(std::string settings_path = std::string(kSettingsPath))
      : settings_path_(std::move(settings_path)) {}
  // A directory of that name is not a file; a path that cannot be looked at
  // (no permission on a folder) is unknown.
  [[nodiscard]] std::optional<bool> file_exists(std::string_view path) const override;

 private:
  std::string settings_path_;
};

// The locale's long time format made 24-hour and without a time zone.
[[nodiscard]] QString LongTime24Format(const QLocale& locale);

// Local time from the C library (so TZ holds); text in the given locale.
class LinuxClock final : public Clock {
 public:
  explicit LinuxClock(QLocale locale = QLocale::system())
      : locale_(std::move(locale)), time_format_(LongTime24Format(locale_)) {}
  [[nodiscard]] LocalTime now() const override;
  [[nodiscard]] std::string general_date(const LocalTime& t) const override;

 private:
  QLocale locale_;
  // Asked twice a second: the format once, the date's text once a day.
  QString time_format_;
  mutable int date_key_ = -1;
  mutable QString date_text_;
};

struct ExecutablePath {
  std::string directory;  // "/" at the root, otherwise no trailing "/"
  std::string name;       // no directory, no extension
};
[[nodiscard]] ExecutablePath SplitExecutablePath(std::string_view path);

// The running executable's full path (/proc/self/exe); "" if unknown.
[[nodiscard]] std::string CurrentExecutable();

// One instance per user and executable path: an exclusive lock on a file in
// runtime_dir (normally $XDG_RUNTIME_DIR), held while the object lives. With
// no usable runtime directory, an abstract socket named after the user and
// the path takes its place.
class LinuxProcessInfo final : public ProcessInfo {
 public:
  LinuxProcessInfo(std::string executable, std::string runtime_dir);
  // The running executable and $XDG_RUNTIME_DIR.
  LinuxProcessInfo();
  ~LinuxProcessInfo() override;
  LinuxProcessInfo(const LinuxProcessInfo&) = delete;
  LinuxProcessInfo& operator=(const LinuxProcessInfo&) = delete;

  [[nodiscard]] bool previous_instance() const override { return previous_; }
  [[nodiscard]] std::string exe_directory() const override { return parts_.directory; }
  [[nodiscard]] std::string exe_name() const override { return parts_.name; }

 private:
  ExecutablePath parts_;
  int fd_ = -1;
  bool previous_ = false;
};

// The name of the instance lock, from the executable's full path.
[[nodiscard]] std::string InstanceLockName(std::string_view executable);

// logind (org.freedesktop.login1) on the system bus. Every call waits at most
// a few seconds, so a stuck bus cannot freeze the lock for long.
inline constexpr int kLogindTimeoutMs = 5000;

// Powering off needs no privilege of the process: this only asks logind
// whether it would be allowed ("yes"), and changes nothing.
class LogindPrivilege final : public Privilege {
 public:
  explicit LogindPrivilege(QDBusConnection bus = QDBusConnection::systemBus()) : bus_(std::move(bus)) {}
  bool enable_shutdown_privilege() override;

 private:
  QDBusConnection bus_;
};

// The forced power-off flags become PowerOff(false); any other request is
// refused.
class LogindPower final : public Power {
 public:
  explicit LogindPower(QDBusConnection bus = QDBusConnection::systemBus()) : bus_(std::move(bus)) {}
  bool exit_windows(unsigned flags, unsigned reason) override;

 private:
  QDBusConnection bus_;
};

// The one command line the program starts, the workstation lock, becomes
// LockSession for this process's session; every other command line is
// refused, so nothing ever runs a Windows command through a Linux shell.
class LogindShell final : public Shell {
 public:
  // session_id "" lets logind pick the caller's session.
  explicit LogindShell(QDBusConnection bus = QDBusConnection::systemBus(),
                       std::string session_id = SessionFromEnvironment())
      : bus_(std::move(bus)), session_id_(std::move(session_id)) {}
  bool start_process(std::string_view command_line, int show_style) override;
  [[nodiscard]] static std::string SessionFromEnvironment();  // $XDG_SESSION_ID or ""

 private:
  QDBusConnection bus_;
  std::string session_id_;
};

// The Run key's value becomes the machine-wide autostart entry
// <directory>/qorvel.desktop, started with executable. Writing there needs
// administrator rights, like HKLM. When the process lacks them and elevate
// names a pkexec-like program, that program is asked to install the entry
// (the desktop asks for an administrator's password); a refusal there, or
// no elevate, is false and leaves nothing behind.
class AutostartRegistry final : public Registry {
 public:
  AutostartRegistry(std::string executable, std::string directory = std::string(kAutostartDirectory),
                    std::string elevate = "")
      : executable_(std::move(executable)), directory_(std::move(directory)), elevate_(std::move(elevate)) {}
  // Only the Run key is known; the data (a Windows command line) is not
  // used: the entry starts executable.
  bool set_local_machine_string(std::string_view subkey, std::string_view name,
                                std::string_view data) override;
  // pkexec's full path when this process is not root and pkexec exists.
  [[nodiscard]] static std::string FindElevation();

 private:
  bool WriteElevated(const std::string& path, const std::string& text) const;

  std::string executable_;
  std::string directory_;
  std::string elevate_;
};

// How long the administrator may take to answer pkexec's question.
inline constexpr int kElevationTimeoutMs = 300000;

// The desktop entry's text for an executable at path.
[[nodiscard]] std::string AutostartEntry(std::string_view path);
// A path as one argument of an Exec line, quoted and escaped when needed.
[[nodiscard]] std::string DesktopExecArgument(std::string_view path);

// Root's folder under /run: only root may make the socket's name.
inline constexpr std::string_view kGuardianSocket = "/run/qorvel-guardian/socket";

// The guardian's unit, where a package or an install puts it: folders only
// root may write, so no standard account can make or remove it.
inline constexpr const char* kGuardianUnitFiles[] = {
    "/usr/lib/systemd/system/qorvel-guardian.service", "/lib/systemd/system/qorvel-guardian.service",
    "/usr/local/lib/systemd/system/qorvel-guardian.service", "/etc/systemd/system/qorvel-guardian.service"};

// How long the guard waits for an answer, and the longest it takes: a whole
// section, escaped, is about 100 KB at worst.
inline constexpr int kGuardianAnswerTimeoutMs = 3000;
inline constexpr std::size_t kMaxGuardianAnswer = 256 * 1024;

// The guard's side of the guardian's socket: one connection kept for all
// its requests, made again once when the guardian has closed it.
class UnixGuardianChannel final : public GuardianChannel {
 public:
  explicit UnixGuardianChannel(std::string socket_path = std::string(kGuardianSocket),
                               std::vector<std::string> unit_files = {std::begin(kGuardianUnitFiles),
                                                                      std::end(kGuardianUnitFiles)})
      : socket_path_(std::move(socket_path)), unit_files_(std::move(unit_files)) {}
  ~UnixGuardianChannel() override;
  UnixGuardianChannel(const UnixGuardianChannel&) = delete;
  UnixGuardianChannel& operator=(const UnixGuardianChannel&) = delete;
  // The unit file is installed: the settings file is then the guardian's.
  // Asked once: the guard chose its settings file by it at start.
  [[nodiscard]] bool installed() const override;
  std::optional<std::string> exchange(std::string_view request) override;

 private:
  enum class Outcome { answered, closed, failed };
  Outcome Exchange(std::string_view request, std::string& answer);
  void Close();

  std::string socket_path_;
  std::vector<std::string> unit_files_;
  mutable std::optional<bool> installed_;
  int fd_ = -1;
};

// Writes all of bytes to fd, through interruptions; false on any failure.
bool WriteAll(int fd, std::string_view bytes);

}  // namespace qorvel::platform::lin
