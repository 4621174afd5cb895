#pragma once
// The notice before a lock on Win32: a small topmost popup beside the compact
// main window. It is never activated and lets clicks through to what lies
// below, so typing and games go on; it destroys itself after its time.
#include <windows.h>

#include <string>

namespace qorvel::platform::win32 {

class NoticeWindow {
 public:
  static constexpr wchar_t kClassName[] = L"QorvelNotice";
  static constexpr UINT_PTR kEndTimer = 1;
  static constexpr UINT kShownMs = 10000;

  NoticeWindow();
  ~NoticeWindow();
  NoticeWindow(const NoticeWindow&) = delete;
  NoticeWindow& operator=(const NoticeWindow&) = delete;

  // Shows the text at the right of `beside`'s top, with the system's
  // notification sound; a notice still shown is replaced.
  void Show(HWND beside, const std::wstring& text);
  // The notice shown, or null once it is gone.
  [[nodiscard]] HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Paint();

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  std::wstring text_;
};

}  // namespace qorvel::platform::win32
