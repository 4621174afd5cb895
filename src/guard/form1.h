#pragma once
// The main window: the hour check that picks its layout, its start-up, and
// its password-free commands.
#include <array>
#include <string>
#include <string_view>

#include "guard/covers.h"
#include "guard/notices.h"
#include "platform/services.h"

namespace qorvel::guard {

// Design geometry of the compact layout, in twips.
inline constexpr int kCompactWidth = 615;
inline constexpr int kCompactHeight = 260;

// What the logic needs of the main window.
class Form1View {
 public:
  virtual ~Form1View() = default;
  virtual platform::Window& window() = 0;
  virtual platform::Timer& timer() = 0;  // Timer1, 500 ms
  virtual void set_clock_text(std::string_view text) = 0;  // L1
  virtual void set_hours_text(std::string_view text) = 0;  // Label2, sizes to its text
  [[nodiscard]] virtual std::string hours_text() const = 0;
  // The locked screen's line under the banner.
  virtual void set_unlock_text(std::string_view text) = 0;
  // A notice beside the compact window for a few seconds, with the system's
  // notification sound; it takes neither the focus nor clicks.
  virtual void show_notice(std::string_view text) = 0;
  // Destroys the window and ends the program; the only way it closes.
  virtual void unload() = 0;
};

// The settings button's handler lives with the settings window; the main
// window only knows how to knock.
class SettingsDoor {
 public:
  virtual ~SettingsDoor() = default;
  virtual void open() = 0;
};

class Form1 {
 public:
  Form1(platform::Services& services, Form1View& view);

  void set_settings_door(SettingsDoor* door) { door_ = door; }
  // The other monitors' covers follow the layout; without them the main
  // window alone is the lock.
  void set_covers(Covers* covers) { covers_ = covers; }
  [[nodiscard]] Covers* covers() { return covers_; }

  // Runs once before the window is first shown: the shutdown privilege and
  // the first-run file.
  void Form_Load();
  // Runs once right after the window is first shown, from its own thread's
  // event loop: the first hour check at once, then the start-with-the-system
  // prompt, while the timer ticks on beneath it.
  void Form_Shown();
  void Timer1_Timer();
  // Reads the allowed hours afresh and applies the compact or locked layout.
  void CheckHour();
  // Rebuilds Label2 from the allowed hours, latest-listed first.
  void ShowAllowedHours();

  // Tells the guardian what the window shows, from the window's own thread,
  // whether or not the hour check runs; the view calls it every half second.
  void Heartbeat();
  // What the settings button has open: reported instead of the layout.
  enum class Activity { none, asking, settings };
  void set_activity(Activity activity) { activity_ = activity; }

  void Command1_Click();  // "锁屏": lock the workstation
  void Command2_Click();  // "设置": the password gate
  void Command3_Click();  // "关机": power off
  void Command4_Click();  // "可用时段": ShowAllowedHours
  // Command5 "学习加时" has no handler.

  platform::Timer& Timer1() { return view_.timer(); }
  platform::Window& window() { return view_.window(); }
  // Ends the program (the settings window's end button).
  void Unload() { view_.unload(); }
  // The password that opened the settings window, or the one saved there
  // since: the proof the guardian asks for before it lets the guard end.
  void set_parent_password(std::string password) {
    services_.guardian.set_proof(password);
    parent_password_ = std::move(password);
  }
  [[nodiscard]] const std::string& parent_password() const { return parent_password_; }

 private:
  void ApplyCompactLayout();
  void ApplyLockedLayout(const platform::LocalTime& now);
  void Warn(Notice notice, const platform::LocalTime& now);

  platform::Services& services_;
  Form1View& view_;
  SettingsDoor* door_ = nullptr;
  Covers* covers_ = nullptr;
  std::string parent_password_;
  // Per notice (five minutes, one minute), the hour before the lock it was
  // last shown for, as yyyymmddhh.
  std::array<long long, 2> warned_{-1, -1};
  Activity activity_ = Activity::none;
  bool locked_ = false;  // the last hour check's layout
  bool startup_prompt_due_ = false;  // the first instance's, from Form_Load
};

}  // namespace qorvel::guard
