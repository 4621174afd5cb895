#pragma once
// The main window on Qt: a frameless tool window holding the buttons, the
// three labels and Timer1. It only turns events into Form1 calls.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <array>
#include <string>
#include <string_view>

#include "guard/form1.h"
#include "platform/qt/clock_face.h"
#include "platform/qt/notice_widget.h"
#include "platform/services.h"

namespace qorvel::platform::qt {

class Form1Widget final : public QWidget, public guard::Form1View, public platform::Window, public platform::Timer {
 public:
  static constexpr int kTimer1Interval = 500;  // ms
  // The guardian's wake per report is most of its cost; a frozen guard is
  // still ended after 3 s without one.
  static constexpr int kReportInterval = 1000;  // ms

  // Object names of the controls, for tests and accessibility tools.
  static constexpr const char* kCommand1 = "Command1";  // "锁屏"
  static constexpr const char* kCommand2 = "Command2";  // "设置"
  static constexpr const char* kCommand3 = "Command3";  // "关机"
  static constexpr const char* kCommand4 = "Command4";  // "可用时段"
  static constexpr const char* kCommand5 = "Command5";  // "学习加时"
  static constexpr const char* kL1 = "L1";              // the clock
  static constexpr const char* kLabel1 = "Label1";      // the lock banner
  static constexpr const char* kLabel2 = "Label2";      // the allowed hours
  static constexpr const char* kLabel3 = "Label3";      // when the lock ends

  // Created hidden at its design size, with its Form1 presenter.
  explicit Form1Widget(platform::Services& services);
  Form1Widget(const Form1Widget&) = delete;
  Form1Widget& operator=(const Form1Widget&) = delete;

  guard::Form1& form() { return form_; }
  // First show at the design size; Timer1 ticks only from here, and
  // Form_Shown follows from the event loop.
  void show_design();

  // guard::Form1View
  platform::Window& window() override { return *this; }
  platform::Timer& timer() override { return *this; }
  void set_clock_text(std::string_view text) override;
  void set_hours_text(std::string_view text) override;
  [[nodiscard]] std::string hours_text() const override;
  void set_unlock_text(std::string_view text) override;
  void show_notice(std::string_view text) override;
  void unload() override;

  // platform::Window
  void set_window_pos(int insert_after, unsigned flags) override;
  void set_window_state(platform::WindowState state) override;
  void set_top(int twips) override;
  void set_left(int twips) override;
  void set_width(int twips) override;
  void set_height(int twips) override;

  // platform::Timer
  void set_enabled(bool enabled) override;
  [[nodiscard]] bool enabled() const override { return timer_enabled_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void LayOut();
  void ArmTimer();
  [[nodiscard]] int X(int twips) const;
  [[nodiscard]] int Y(int twips) const;

  guard::Form1 form_;
  std::array<QPushButton*, 5> buttons_{};
  ClockLabel* l1_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* label3_ = nullptr;
  NoticeWidget notice_;
  QTimer timer1_;
  QTimer heartbeat_;  // the guardian hears from this thread even while Timer1 is off
  bool timer_enabled_ = true;
  bool shown_ = false;
  bool unloading_ = false;
};

}  // namespace qorvel::platform::qt
