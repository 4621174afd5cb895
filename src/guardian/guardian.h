#pragma once
// The guardian: runs outside the child's account and brings the guard back
// whenever it ends, unless the parent ended it. The settings file is its
// alone: guards read and write it through the guardian, which checks the
// parent's password, keeps a copy and puts back a deleted file. The
// decisions live here; each platform only reports sessions, guard ends and
// requests, and carries out what it is asked.
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "guardian/protocol.h"

namespace qorvel::guardian {

using Time = std::chrono::steady_clock::time_point;
using Duration = std::chrono::milliseconds;
using Pid = std::uint64_t;  // a process, as the kernel names it

// A session not covered by a guard for this long after it became active gets
// one: the start-up entry normally starts it first.
inline constexpr Duration kLogonGrace{10'000};
// Back-off between starts of a guard that keeps ending, and its cap: with the
// guard's own start-up, its window is back within 2 s even in a kill loop.
inline constexpr Duration kFirstBackoff{250};
inline constexpr Duration kMaxBackoff{1'000};
// A guard that ran this long ended by itself, not in a loop: back-off resets.
inline constexpr Duration kSteadyRun{10'000};
// How often the settings file is looked at when nothing else wakes us.
inline constexpr Duration kFileCheck{1'000};
// Due work waits this long for a guard's report, whose wake then does it:
// while guards report, the guardian wakes for nothing else.
inline constexpr Duration kTickSlack{500};
// A wrong password is answered at most this often per session.
inline constexpr Duration kQuitTryGap{1'000};
// A guard reports at least once a second; one silent this long is frozen or
// hung, and is ended so that a new one takes its place. A new guard has
// longer for its first report: a busy machine may take seconds to start it.
inline constexpr Duration kReportLimit{3'000};
inline constexpr Duration kFirstReportLimit{10'000};
// In an hour the file does not allow, a session in front whose screen no
// guard has reported covered for this long is logged off.
inline constexpr Duration kUncoveredLimit{30'000};

enum class SessionState {
  active,      // signed in, in front
  background,  // signed in, switched away or disconnected: keeps its guard
  closing,     // logging off: no new guard
};

struct Session {
  std::string id;  // unique for one logon (platforms that reuse ids add the logon time)
  std::string user;
  SessionState state = SessionState::active;
  bool coverable = true;  // false for a Wayland or text session: no window can cover it
  bool administrator = false;  // never logged off: an administrator can stop the guardian anyway
  friend bool operator==(const Session&, const Session&) = default;
};

// The settings file as the guardian finds it.
struct SettingsFile {
  // hostile: a folder, link, junction or device stands at the path.
  enum class State { missing, present, unreadable, hostile } state = State::missing;
  std::string bytes;
};

// What the guardian asks of its platform.
class Ports {
 public:
  virtual ~Ports() = default;
  // Watches this process, which reported as a guard, if it is one of the
  // session's (its user's, running the guard's executable, on the session's
  // display); its end is reported through Guardian::GuardEnded.
  virtual bool adopt_guard(const Session& session, Pid pid) = 0;
  // Starts a guard in the session as its user and watches it.
  virtual std::optional<Pid> start_guard(const Session& session) = 0;
  // Ends a watched guard that stopped reporting, whatever its state (a
  // stopped process too); its end comes through GuardEnded.
  virtual void end_guard(const Session& session, Pid pid) = 0;
  // Logs the session off (WTSLogoffSession, logind's TerminateSession).
  virtual void log_off(const Session& session) = 0;
  // The hour of the machine's own clock and time zone; nullopt if unknown.
  virtual std::optional<int> local_hour() = 0;
  virtual void note(std::string_view line) = 0;
  virtual SettingsFile read_settings() = 0;
  // Creates the settings file with these bytes; never replaces one that exists.
  virtual bool restore_settings(std::string_view bytes) = 0;
  // The system's own profile call on the settings file (text in UTF-8): writes
  // key=value into the section, creating file and section as needed, or
  // removes the key's line when there is no value. False on failure.
  virtual bool write_setting(std::string_view section, std::string_view key,
                             std::optional<std::string_view> value) = 0;
  // Gives the settings file its rights: administrators (root) alone may read
  // or write it. False when the file is missing or the rights were not set.
  virtual bool protect_settings() = 0;
  // Renames what stands at the settings path aside, without following it;
  // true when the path is free afterwards.
  virtual bool move_aside() = 0;
  // The guardian's own copy, in a folder only administrators can reach.
  virtual std::optional<std::string> load_copy() = 0;
  virtual void save_copy(std::string_view bytes) = 0;
};

class Guardian {
 public:
  explicit Guardian(Ports& ports);

  // The sessions as they are now; call on start-up and on every change.
  void SessionsChanged(const std::vector<Session>& sessions, Time now);
  // The machine is shutting down: no session gets a new guard.
  void ShuttingDown();
  void GuardEnded(std::string_view session_id, Time now);
  // One request line from process `pid` of `session_id`, both as the
  // kernel names them ("" for no session), and the answer line to send back.
  [[nodiscard]] std::string Answer(std::string_view session_id, Pid pid, std::string_view line, Time now);
  // Runs what is due: starts, back-offs, the settings file.
  void Tick(Time now);
  // When Tick must run next at the latest.
  [[nodiscard]] Time NextTick() const;

 private:
  enum class Phase { waiting, guarded, quit, closing };
  struct Watch {
    Session session;
    Phase phase = Phase::waiting;
    Time due{};  // when a waiting session is looked at
    Time started{};
    int quick_ends = 0;
    Pid pid = 0;              // the guard watched while guarded
    Time last_report{};       // its last report
    bool reported = false;    // since it started
    Time last_cover{};        // its last report of a covered screen, or when the session was seen
    std::optional<Pid> volunteer;  // a process of the session that reported without being watched
    Time volunteer_at{};
  };
  void LookAt(Watch& watch, Time now);
  void CheckFile();
  void Report(Watch& watch, Pid pid, std::string_view word, Time now);
  void CheckLiveness(Watch& watch, Time now);
  void CheckCover(Watch& watch, Time now);
  [[nodiscard]] bool HourAllowed();
  guardian::Answer Handle(std::string_view session_id, const Request& request, Time now);
  enum class Proof { right, wrong, wait };
  Proof Prove(std::string_view session_id, std::string_view password, Time now);
  guardian::Answer Write(std::string_view session_id, const Request& request, Time now);
  bool WriteFirstRun();
  void Keep(std::optional<std::string> copy);

  Ports& ports_;
  std::map<std::string, Watch, std::less<>> watches_;
  std::optional<std::string> copy_;
  std::string hours_version_;  // of the copy's [HOUR]; empty without a copy
  std::map<std::string, Time, std::less<>> last_wrong_;  // per session
  Time next_file_check_{};
  bool shutting_down_ = false;
  std::optional<Time> locked_since_;  // since when the hour has been one the file does not allow
};

// The password the settings file asks for, read from its bytes by the same
// rules as the password gate.
[[nodiscard]] std::string StoredPasswordIn(std::string_view file_bytes);

}  // namespace qorvel::guardian
