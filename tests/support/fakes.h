#pragma once
// Fakes of the services and of the main window, recording what the logic
// asks of them in one shared log so tests can check the order of calls
// across services.
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "guard/form1.h"
#include "platform/services.h"

namespace qorvel::test {

using Log = std::vector<std::string>;

// Profile files kept in memory as code page 936 bytes, with the same rules as
// the real ones.
class MemoryProfileFile final : public platform::ProfileFile {
 public:
  explicit MemoryProfileFile(Log& log) : log_(log) {}
  std::string get_section(std::string_view section, std::size_t buffer_size,
                          std::string_view file) override;
  bool write_string(std::string_view section, std::string_view key,
                    std::optional<std::string_view> value, std::string_view file) override;

  // The file's text in UTF-8, or nullopt when it does not exist.
  [[nodiscard]] std::optional<std::string> text(std::string_view file) const;
  void set_text(std::string_view file, std::string_view utf8);
  void remove(std::string_view file) { files_.erase(std::string(file)); }
  [[nodiscard]] bool exists(std::string_view file) const { return files_.count(std::string(file)) != 0; }

  bool fail_writes = false;   // every write fails and changes nothing
  int writes = 0;             // write_string calls

 private:
  Log& log_;
  std::map<std::string, std::string> files_;  // path -> code page 936 bytes
};

class FakeClock final : public platform::Clock {
 public:
  platform::LocalTime now() const override { return time; }
  // "2026/12/6 0:30:05"; the date alone at midnight.
  std::string general_date(const platform::LocalTime& t) const override;
  platform::LocalTime time{2026, 12, 6, 0, 30, 0};
  void set_hour(int hour, int minute = 0) { time.hour = hour; time.minute = minute; }
};

class FakeProcess final : public platform::ProcessInfo {
 public:
  bool previous_instance() const override { return previous; }
  std::string exe_directory() const override { return directory; }
  std::string exe_name() const override { return name; }
  bool previous = false;
  std::string directory = "D:\\tools";
  std::string name = "guard";
};

class FakeFileSystem final : public platform::FileSystem {
 public:
  explicit FakeFileSystem(const MemoryProfileFile& profile) : profile_(profile) {}
  std::optional<bool> file_exists(std::string_view path) const override {
    if (fail) return std::nullopt;
    return profile_.exists(path);
  }
  bool fail = false;

 private:
  const MemoryProfileFile& profile_;
};

class FakePrivilege final : public platform::Privilege {
 public:
  explicit FakePrivilege(Log& log) : log_(log) {}
  bool enable_shutdown_privilege() override { log_.push_back("privilege"); return true; }
 private:
  Log& log_;
};

class FakePower final : public platform::Power {
 public:
  explicit FakePower(Log& log) : log_(log) {}
  bool exit_windows(unsigned flags, unsigned reason) override;
 private:
  Log& log_;
};

class FakeShell final : public platform::Shell {
 public:
  explicit FakeShell(Log& log) : log_(log) {}
  bool start_process(std::string_view command_line, int show_style) override;
 private:
  Log& log_;
};

class FakeRegistry final : public platform::Registry {
 public:
  explicit FakeRegistry(Log& log) : log_(log) {}
  bool set_local_machine_string(std::string_view subkey, std::string_view name,
                                std::string_view data) override;
  bool fail = false;
  std::map<std::string, std::string> values;  // "subkey\\name" -> data
 private:
  Log& log_;
};

// Message and input boxes answered from queues; an empty queue answers
// Cancel (message box 2, input box "").
class FakeDialogs final : public platform::Dialogs {
 public:
  explicit FakeDialogs(Log& log) : log_(log) {}
  int message_box(std::string_view text, unsigned style) override;
  std::string input_box(std::string_view prompt, std::string_view title, bool masked) override;
  std::deque<int> message_answers;
  std::deque<std::string> input_answers;
  struct Shown { std::string text; unsigned style; };
  std::vector<Shown> messages;
  int inputs = 0;
  bool last_input_masked = false;
 private:
  Log& log_;
};

// All fakes wired together; services is what the logic is given.
struct FakeServices {
  Log log;
  MemoryProfileFile profile{log};
  FakeClock clock;
  FakeProcess process;
  FakeFileSystem files{profile};
  FakePrivilege privilege{log};
  FakePower power{log};
  FakeShell shell{log};
  FakeRegistry registry{log};
  FakeDialogs dialogs{log};
  platform::Services services{profile, clock, process, files, privilege, power, shell, registry, dialogs};
};

class FakeWindow final : public platform::Window {
 public:
  explicit FakeWindow(Log& log) : log_(log) {}
  void set_window_pos(int insert_after, unsigned flags) override;
  void set_window_state(platform::WindowState state) override;
  void set_top(int twips) override;
  void set_left(int twips) override;
  void set_width(int twips) override;
  void set_height(int twips) override;
  bool topmost = false;
  platform::WindowState state = platform::WindowState::normal;
  int top = -1, left = -1, width = 15555, height = 14055;
 private:
  Log& log_;
};

class FakeTimer final : public platform::Timer {
 public:
  explicit FakeTimer(Log& log) : log_(log) {}
  void set_enabled(bool on) override { enabled_ = on; log_.push_back(on ? "timer on" : "timer off"); }
  bool enabled() const override { return enabled_; }
 private:
  Log& log_;
  bool enabled_ = true;
};

class FakeForm1View final : public guard::Form1View {
 public:
  explicit FakeForm1View(Log& log) : log_(log), window_(log), timer_(log) {}
  platform::Window& window() override { return window_; }
  platform::Timer& timer() override { return timer_; }
  void set_clock_text(std::string_view text) override;
  void set_hours_text(std::string_view text) override;
  std::string hours_text() const override { return hours; }
  void unload() override { unloaded = true; log_.push_back("unload Form1"); }

  FakeWindow& fake_window() { return window_; }
  FakeTimer& fake_timer() { return timer_; }
  std::string clock = "Label1";
  std::string hours;
  bool unloaded = false;
 private:
  Log& log_;
  FakeWindow window_;
  FakeTimer timer_;
};

// The first-run settings file, as Windows writes it.
std::string FirstRunFileText();

}  // namespace qorvel::test
