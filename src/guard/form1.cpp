#include "guard/form1.h"

#include "store/module1.h"

namespace qorvel::guard {

Form1::Form1(platform::Services& services, Form1View& view) : services_(services), view_(view) {}

void Form1::Timer1_Timer() {
  // Stopping a timer leaves ticks already queued; one of them must not undo
  // the password gate's work while its prompt is open.
  if (!view_.timer().enabled()) return;
  CheckHour();
}

void Form1::CheckHour() {
  // Re-read every tick: a hand edit or a settings change counts at once.
  const auto lines = store::ReadProfileSection(services_.profile, "HOUR", store::kSettingsFile);
  // One reading of the clock per tick: every line is compared with the same
  // hour, and the locked clock shows the time that was checked.
  const auto now = services_.clock.now();
  for (const auto& line : lines) {
    if (store::Val(store::ValueField(line)) == static_cast<double>(now.hour)) {
      ApplyCompactLayout();
      if (covers_ != nullptr) covers_->Release();
      locked_ = false;
      return;
    }
  }
  ApplyLockedLayout(now);
  // After the main window: its maximised monitor is the one left uncovered.
  if (covers_ != nullptr) covers_->Lock();
  locked_ = true;
}

void Form1::Heartbeat() {
  const char* word = activity_ == Activity::asking     ? "asking"
                     : activity_ == Activity::settings ? "settings"
                     : locked_                         ? "locked"
                                                       : "compact";
  services_.guardian.report_state(word);
}

// Every tick applies its whole layout, so a moved, minimised or resized
// window is put back within half a second.
void Form1::ApplyCompactLayout() {
  auto& w = view_.window();
  w.set_window_pos(platform::kHwndNotopmost, platform::kSwpNoSizeNoMove);
  w.set_window_state(platform::WindowState::normal);
  w.set_top(0);
  w.set_left(0);
  w.set_width(kCompactWidth);
  w.set_height(kCompactHeight);
}

void Form1::ApplyLockedLayout(const platform::LocalTime& now) {
  view_.set_clock_text(services_.clock.general_date(now));
  auto& w = view_.window();
  w.set_window_state(platform::WindowState::maximized);
  w.set_window_pos(platform::kHwndTopmost, platform::kSwpNoSizeNoMove);
}

void Form1::Command2_Click() {
  if (door_ != nullptr) door_->open();
}

}  // namespace qorvel::guard
