#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::platform {

// ExitWindowsEx flags and the show style of a started command line.
inline constexpr unsigned kEwxForcePowerOff = 12;  // EWX_POWEROFF 8 | EWX_FORCE 4
inline constexpr int kSwShowNormal = 1;

class Privilege {
 public:
  virtual ~Privilege() = default;
  // OpenProcessToken(GetCurrentProcess(), 40), LookupPrivilegeValueA(local,
  // "SeShutdownPrivilege"), AdjustTokenPrivileges with attributes 2.
  virtual bool enable_shutdown_privilege() = 0;
};

class Power {
 public:
  virtual ~Power() = default;
  virtual bool exit_windows(unsigned flags, unsigned reason) = 0;
};

class Shell {
 public:
  virtual ~Shell() = default;
  // Starts the command line as a new process and does not wait for it.
  virtual bool start_process(std::string_view command_line, int show_style) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // RegCreateKeyA(HKEY_LOCAL_MACHINE, subkey) then RegSetValueExA(name,
  // REG_SZ, data with its terminating null). False if either step fails.
  virtual bool set_local_machine_string(std::string_view subkey, std::string_view name,
                                        std::string_view data) = 0;
};

// The guardian: a part outside the user's account that brings the guard back
// whenever it ends, and, where it is installed, owns the settings file. Only
// the parent's end button may tell it to let go.
class GuardianLink {
 public:
  virtual ~GuardianLink() = default;
  // True where a guardian is installed: the settings file is then its alone,
  // and the profile the guard uses goes through it.
  [[nodiscard]] virtual bool owns_settings() const = 0;
  // The password that proved the parent; the guardian asks for it before it
  // shows the password or changes anything but the start-up flag.
  virtual void set_proof(std::string password) = 0;
  // The guardian's verdict on a typed password: false when it refuses or
  // does not answer, never a fallback to a default.
  virtual bool check_password(std::string_view typed) = 0;
  // Asks for the first-run file; the guardian writes it only when it has
  // neither a file nor a copy. False when nothing was written.
  virtual bool write_first_run() = 0;
  // Tells the guardian that the parent ends the guard, proven by the
  // password. False when no guardian took it (none runs, or it refused).
  virtual bool announce_quit(std::string_view password) = 0;
  // Tells the guardian what the guard shows: "locked", "compact", "asking"
  // or "settings". A guard that stops telling is taken for frozen.
  virtual void report_state(std::string_view word) = 0;
};

// How a guard reaches the guardian: one request line, one answer line.
class GuardianChannel {
 public:
  virtual ~GuardianChannel() = default;
  // Whether the system has a guardian registered (a service, a unit), which
  // no standard account can undo.
  [[nodiscard]] virtual bool installed() const = 0;
  // nullopt when no guardian answers in time.
  virtual std::optional<std::string> exchange(std::string_view request) = 0;
};

}  // namespace qorvel::platform
