#pragma once
// The guardian on Linux: a root daemon that follows logind's sessions, starts
// and watches one guard in each user's X11 session, answers the guards'
// requests on a Unix socket, and owns the settings file: root's, 0600, in
// root's 0755 folder, with a copy of its own. Every decision is the core's
// (guardian/guardian.h); this only carries them out.
#include <sys/socket.h>
#include <sys/types.h>

#include <QDBusConnection>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "guardian/guardian.h"
#include "platform/linux/clock_watch_linux.h"
#include "platform/linux/services_linux.h"

namespace qorvel::platform::lin {

inline constexpr std::string_view kGuardianCopyDirectory = "/var/lib/qorvel-guardian";

// One logind session as the guardian reads it.
struct LogindSession {
  std::string id;
  uid_t uid = 0;
  std::string user;
  std::string type;   // x11, wayland, tty, ...
  std::string klass;  // user, greeter, ...
  std::string state;  // active, online, closing
  std::string display;
  pid_t leader = 0;
  bool administrator = false;  // root, or in group sudo, admin or wheel
};

// What the core sees of it; nothing for a session that is no user's (a
// greeter). Only X11 sessions can be covered; Wayland and text consoles are
// logged off in a locked hour instead.
[[nodiscard]] std::optional<guardian::Session> CoreSession(const LogindSession& session);

// Whether the account is an administrator's: root, or a member of group
// sudo, admin or wheel.
[[nodiscard]] bool Administrator(uid_t uid, const std::string& user);

// A display's name without its screen: ":0.0" and ":0" are one display.
[[nodiscard]] std::string DisplayName(std::string_view display);

// A process's environment variable, read from /proc; nullopt if absent.
[[nodiscard]] std::optional<std::string> ProcessVariable(pid_t pid, std::string_view name);

class GuardianDaemon final : public QObject, public guardian::Ports {
  Q_OBJECT

 public:
  struct Paths {
    std::string settings;  // the settings file
    std::string copy;      // the copy's folder, root's alone
    std::string socket;
    std::string guard;     // the guard's executable
  };
  GuardianDaemon(QDBusConnection bus, Paths paths);
  ~GuardianDaemon() override;
  // Opens the socket and reads the sessions; false (with a note) if either fails.
  bool Start();

  bool adopt_guard(const guardian::Session& session, guardian::Pid pid) override;
  std::optional<guardian::Pid> start_guard(const guardian::Session& session) override;
  void end_guard(const guardian::Session& session, guardian::Pid pid) override;
  void log_off(const guardian::Session& session) override;
  std::optional<int> local_hour() override;
  void note(std::string_view line) override;
  guardian::SettingsFile read_settings() override;
  bool restore_settings(std::string_view bytes) override;
  bool write_setting(std::string_view section, std::string_view key,
                     std::optional<std::string_view> value) override;
  bool protect_settings() override;
  bool move_aside() override;
  std::optional<std::string> load_copy() override;
  void save_copy(std::string_view bytes) override;

 private slots:
  void RefreshSessions();
  void PrepareForShutdown(bool starting);

 private:
  // Off at once, deleted once its own signal has returned.
  struct Later {
    void operator()(QSocketNotifier* notifier) const {
      notifier->setEnabled(false);
      notifier->deleteLater();
    }
  };
  using Notifier = std::unique_ptr<QSocketNotifier, Later>;
  struct Watched {
    pid_t pid = 0;
    int pidfd = -1;
    bool child = false;
    Notifier notifier;
    bool heard = false;  // it has reported
  };
  struct Client {
    int fd = -1;
    pid_t pid = 0;  // both from SO_PEERCRED, once: the kernel's word
    uid_t uid = 0;
    std::string in;  // read, not yet answered
    std::string out;  // the answer, sent as the guard takes it
    std::size_t sent = 0;
    guardian::Time heard{};  // its connection or its last whole request
    Notifier reader, writer;
  };
  // What read_settings last found at the path, and when it may be trusted
  // again without reading the file.
  struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    bool operator==(const Stamp& o) const;
  };
  bool ReadSessions();
  bool Listen();
  bool Watch(const std::string& session_id, pid_t pid, bool child);
  void GuardGone(const std::string& session_id);
  void Accept();
  void Read(int fd);
  void Answer(int fd);
  bool Send(int fd);
  void Drop(int fd);
  bool Admit(const ucred& peer);
  void DropIdle(guardian::Time now);
  std::string SessionOf(pid_t pid) const;
  std::string DisplayOf(const LogindSession& session) const;
  void Schedule();

  QDBusConnection bus_;
  Paths paths_;
  int listener_ = -1;
  Notifier accept_notifier_;
  std::map<std::string, LogindSession> sessions_;
  std::map<std::string, Watched> guards_;
  std::map<int, Client> clients_;
  std::optional<Stamp> stamp_;  // of the file as last read whole
  guardian::SettingsFile last_file_;
  bool odd_file_noted_ = false;
  PortableProfileFile engine_;
  QTimer tick_;
  std::optional<guardian::Guardian> core_;
  std::unique_ptr<ClockWatch> clock_watch_;
};

}  // namespace qorvel::platform::lin
