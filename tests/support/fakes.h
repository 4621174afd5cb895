#pragma once
// Fakes of the services and the windows. They share one log, so a test can
// check the order of calls across services.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "guard/form1.h"
#include "platform/codepage.h"
#include "platform/portable/ini_text.h"
#include "platform/services.h"
#include "store/module1.h"

namespace qorvel::test {

using Log = std::vector<std::string>;
template <class N> std::string Str(N n) { return std::to_string(n); }

// The settings file's text as Windows writes it: these hours, password and
// start-up flag; the defaults give the first-run file.
inline const std::vector<int> kFirstRunHours = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                                13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};

inline std::string SettingsText(const std::vector<int>& hours = kFirstRunHours, std::string_view password = "907",
                                char flag = '0') {
  std::string text = "[HOUR]\r\n";
  for (const int h : hours) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  return text + "[mm]\r\nnober=" + std::string(password) + "\r\n[bb]\r\ntwo=" + flag + "\r\n";
}

// Settings files kept in memory as code page 936 bytes and edited by the
// portable engine, so the logic meets the real file rules.
struct MemoryProfileFile final : platform::ProfileFile {
  explicit MemoryProfileFile(Log& l) : log(l) {}
  std::string get_section(std::string_view section, std::size_t size, std::string_view file) override {
    const auto it = files.find(file);
    const std::string_view bytes = it == files.end() ? std::string_view() : it->second;
    return platform::cp936_to_utf8(platform::ini::get_section(bytes, platform::utf8_to_cp936(section), size).buffer);
  }
  bool write_string(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                    std::string_view file) override {
    log.push_back("write [" + std::string(section) + "] " + std::string(key) +
                  (value ? "=" + std::string(*value) : " deleted"));
    if (fail_writes) return false;
    using platform::utf8_to_cp936;
    auto& bytes = files[std::string(file)];
    const auto ansi = value ? std::optional(utf8_to_cp936(*value)) : std::nullopt;
    if (auto updated = platform::ini::write_string(bytes, utf8_to_cp936(section), utf8_to_cp936(key), ansi))
      bytes = std::move(*updated);
    return true;
  }
  [[nodiscard]] std::optional<std::string> text(std::string_view file) const {  // UTF-8; nullopt if missing
    const auto it = files.find(file);
    return it == files.end() ? std::nullopt : std::optional(platform::cp936_to_utf8(it->second));
  }
  void set_text(std::string_view file, std::string_view utf8) { files[std::string(file)] = platform::utf8_to_cp936(utf8); }
  Log& log;
  std::map<std::string, std::string, std::less<>> files;
  bool fail_writes = false;  // every write fails and changes nothing
};

struct FakeClock final : platform::Clock {
  platform::LocalTime now() const override { return time; }
  std::string general_date(const platform::LocalTime& t) const override {  // a fixed day, as wide as a real date
    return "2026/12/6 " + Str(t.hour) + ":" + Str(t.minute) + ":" + Str(t.second);
  }
  void set_hour(int hour, int minute = 0) { time.hour = hour; time.minute = minute; }
  platform::LocalTime time{2026, 12, 6, 0, 30, 0};
};

// Every other service. Calls that act are logged; message boxes all give
// `answer`, the input box gives `typed`.
struct FakeSystem final : platform::ProcessInfo, platform::FileSystem, platform::Privilege, platform::Power,
                          platform::Shell, platform::Registry, platform::Dialogs, platform::GuardianLink {
  FakeSystem(Log& l, const MemoryProfileFile& p) : log(l), profile(p) {}
  bool previous_instance() const override { return previous; }
  std::string exe_directory() const override { return directory; }
  std::string exe_name() const override { return "guard"; }
  std::optional<bool> file_exists(std::string_view path) const override {
    return existence_unknown ? std::nullopt : std::optional(profile.text(path).has_value());
  }
  bool enable_shutdown_privilege() override { return Note("privilege"); }
  bool exit_windows(unsigned f, unsigned why) override { return Note("exit_windows " + Str(f) + " " + Str(why)); }
  bool start_process(std::string_view line, int show) override { return Note("start " + std::string(line) + " /" + Str(show)); }
  bool set_local_machine_string(std::string_view subkey, std::string_view value, std::string_view data) override {
    return Note("registry " + std::string(subkey) + "\\" + std::string(value) + "=" + std::string(data)) && !registry_fails;
  }
  int message_box(std::string_view text, unsigned style, std::chrono::seconds limit) override {
    Note("message " + Str(style) + " " + Str(limit.count()) + " " + std::string(text));
    if (while_asking) while_asking();
    return answer;
  }
  std::string input_box(std::string_view prompt, std::string_view title, bool masked, std::chrono::seconds limit) override {
    Note("input " + std::string(prompt) + " / " + std::string(title) + (masked ? " masked " : " ") + Str(limit.count()));
    if (while_asking) while_asking();
    return typed;
  }
  // Without `guardian_password` no guardian owns the file: the guard reads it itself.
  bool owns_settings() const override { return guardian_password.has_value(); }
  void set_proof(std::string password) override { Note("proof " + password); }
  bool check_password(std::string_view password) override {
    return Note("guardian check " + std::string(password)) && password == guardian_password;
  }
  bool write_first_run() override { return Note("guardian first run"); }
  bool announce_quit(std::string_view password) override { return Note("guardian quit " + std::string(password)); }
  void report_state(std::string_view word) override { reports.emplace_back(word); }
  std::vector<std::string> reports;
  bool Note(std::string entry) { log.push_back(std::move(entry)); return true; }
  Log& log;
  const MemoryProfileFile& profile;
  bool previous = false, existence_unknown = false, registry_fails = false;
  std::string directory = "D:\\tools", typed;
  std::optional<std::string> guardian_password;
  std::function<void()> while_asking;  // runs while a message or input box is up
  int answer = 2;  // IDCANCEL
};

struct FakeServices {
  Log log;
  MemoryProfileFile profile{log};
  FakeClock clock;
  FakeSystem system{log, profile};
  platform::Services services{profile, clock, system, system, system, system, system, system, system, system};
};

struct FakeForm1View final : guard::Form1View, platform::Window, platform::Timer {
  explicit FakeForm1View(Log& l) : log(l) {}
  platform::Window& window() override { return *this; }
  platform::Timer& timer() override { return *this; }
  void set_clock_text(std::string_view text) override { log.push_back("L1 " + std::string(text)); }
  void set_hours_text(std::string_view text) override { hours = text; log.push_back("Label2 " + hours); }
  std::string hours_text() const override { return hours; }
  void set_unlock_text(std::string_view text) override { unlock = text; }
  void show_notice(std::string_view text) override { notices.emplace_back(text); }
  void unload() override { log.push_back("unload Form1"); }
  void set_window_pos(int after, unsigned flags) override { log.push_back("pos " + Str(after) + " " + Str(flags)); }
  void set_window_state(platform::WindowState s) override {
    log.push_back(s == platform::WindowState::maximized ? "state maximized" : "state normal");
  }
  void set_top(int twips) override { log.push_back("top " + Str(twips)); }
  void set_left(int twips) override { log.push_back("left " + Str(twips)); }
  void set_width(int twips) override { log.push_back("width " + Str(twips)); }
  void set_height(int twips) override { log.push_back("height " + Str(twips)); }
  void set_enabled(bool is_on) override { on = is_on; log.push_back(on ? "timer on" : "timer off"); }
  bool enabled() const override { return on; }
  Log& log;
  std::string hours, unlock;
  std::vector<std::string> notices;
  bool on = true;
};

struct FakeGuard {
  FakeServices fx;
  FakeForm1View view{fx.log};
  guard::Form1 form{fx.services, view};
  void SetFile(std::string_view text) { fx.profile.set_text(store::kSettingsFile, text); }
  std::string File() const { return fx.profile.text(store::kSettingsFile).value_or("<none>"); }
  template <class Step> Log Calls(Step step) { fx.log.clear(); step(); return fx.log; }
};

// What the user sees: two monitors, the main window on the left one, unless
// the test sets others; the covers shown; and windows on virtual desktops by
// name, `here` the current one. Its desktop
// worker answers each question at once, before the next tick.
struct FakeScreen final : guard::CoverView, platform::VirtualDesktops {
  explicit FakeScreen(Log& l) : log(l) {}
  std::optional<std::vector<guard::ScreenRect>> monitors() override { return screens; }
  std::optional<guard::ScreenRect> main_window_monitor() override { return main; }
  platform::WindowId main_window() override { return kMain; }
  platform::WindowId create_cover(const guard::ScreenRect& r) override {
    log.push_back("cover " + Describe(r));
    if (fail_creates) return 0;
    shown[++last_id] = r;
    return last_id;
  }
  void destroy_cover(platform::WindowId id) override { log.push_back("uncover " + Describe(shown.at(id))); shown.erase(id); }
  void set_cover_topmost(platform::WindowId id, bool topmost) override {
    log.push_back(std::string(topmost ? "raise " : "lower ") + Describe(shown.at(id)));
  }
  static std::string Describe(const guard::ScreenRect& r) {
    return Str(r.left) + "," + Str(r.top) + "," + Str(r.right) + "," + Str(r.bottom);
  }
  void ask(std::vector<platform::WindowId> windows) override {
    if (!available) return;
    answer.emplace(Answer{{}, here});
    for (const auto w : windows)
      if (desktop_of.contains(w) && desktop_of[w] != here) answer->away.push_back(w);
  }
  std::optional<Answer> take_answer() override { return std::exchange(answer, std::nullopt); }
  void move(std::vector<platform::WindowId> windows, std::string desktop) override {
    for (const auto w : windows) {
      log.push_back("move " + Str(w) + " to " + desktop);
      desktop_of[w] = desktop;
    }
  }
  static constexpr platform::WindowId kMain = 1000;
  Log& log;
  std::optional<std::vector<guard::ScreenRect>> screens =
      std::vector<guard::ScreenRect>{{0, 0, 1280, 1024}, {1280, 0, 2304, 768}};
  std::optional<guard::ScreenRect> main = guard::ScreenRect{0, 0, 1280, 1024};
  std::map<platform::WindowId, guard::ScreenRect> shown;
  platform::WindowId last_id = 0;
  bool fail_creates = false, available = true;
  std::optional<Answer> answer;
  std::string here = "A";
  std::map<platform::WindowId, std::string> desktop_of;  // missing: on `here`
};

}  // namespace qorvel::test
