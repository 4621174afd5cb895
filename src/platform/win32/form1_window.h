#pragma once
// The main window on Win32: a borderless tool window holding the buttons,
// the three labels and Timer1. It only turns messages into Form1 calls.
#include <windows.h>

#include <map>
#include <string>
#include <string_view>

#include "guard/form1.h"
#include "platform/win32/notice_window.h"
#include "platform/services.h"

namespace qorvel::platform::win32 {

class Form1Window final : public guard::Form1View, public platform::Window, public platform::Timer {
 public:
  // Control ids, for GetDlgItem.
  enum ControlId : int {
    kCommand1 = 101,  // "锁屏"
    kCommand2 = 102,  // "设置"
    kCommand3 = 103,  // "关机"
    kCommand4 = 104,  // "可用时段"
    kCommand5 = 105,  // "学习加时"
    kL1 = 201,        // the clock
    kLabel1 = 202,    // the lock banner
    kLabel2 = 203,    // the allowed hours
    kLabel3 = 204,    // when the lock ends
  };
  static constexpr UINT_PTR kTimer1 = 1;
  static constexpr UINT kTimer1Interval = 500;  // ms
  static constexpr UINT_PTR kHeartbeat = 2;
  static constexpr UINT kShownMessage = WM_APP + 1;  // Form_Shown, once, from the loop

  // Creates the window hidden at its design size, with its Form1 presenter.
  explicit Form1Window(platform::Services& services);
  ~Form1Window() override;
  Form1Window(const Form1Window&) = delete;
  Form1Window& operator=(const Form1Window&) = delete;

  guard::Form1& form() { return form_; }
  [[nodiscard]] HWND hwnd() const { return hwnd_; }
  // Shows the window at its design size; Timer1 starts ticking from here,
  // and Form_Shown follows from the message loop.
  void show();

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

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  void CreateFonts();
  void DestroyFonts();
  void LayOutControls();
  void FitLabelToText(int id);
  [[nodiscard]] HWND Control(int id) const;
  void SetLabelText(int id, std::string_view utf8);
  void ArmTimer();
  [[nodiscard]] int TwipsToPixelsX(int twips) const;
  [[nodiscard]] int TwipsToPixelsY(int twips) const;

  guard::Form1 form_;
  HWND hwnd_ = nullptr;
  int dpi_x_ = 96;
  int dpi_y_ = 96;
  HFONT button_font_ = nullptr;
  HFONT clock_font_ = nullptr;   // L1, 72 pt
  HFONT banner_font_ = nullptr;  // Label1, 26.25 pt
  HFONT hours_font_ = nullptr;   // Label2, 10.5 pt
  NoticeWindow notice_;
  bool timer_enabled_ = true;
  bool timer_armed_ = false;
  bool heartbeat_armed_ = false;
  bool shown_ = false;
  // Kept: under Wine each GetDlgItem is a wineserver request, several a tick.
  std::map<int, HWND> controls_;
  RECT placed_{};  // where the last locked SetWindowPos left the window; empty: ask again
};

}  // namespace qorvel::platform::win32
