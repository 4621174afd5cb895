#include "platform/win32/dialogs_win32.h"

#include "platform/win32/input_box.h"
#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

constexpr UINT_PTR kTimeLimitTimer = 1;

// MessageBoxW takes no time limit. A hook sees the box created on this
// thread, and a timer of the box's own ends it as Cancel, whatever buttons
// it has.
thread_local HHOOK t_watch = nullptr;
thread_local UINT t_limit_ms = 0;

void CALLBACK GiveUp(HWND box, UINT, UINT_PTR id, DWORD) {
  KillTimer(box, id);
  EndDialog(box, IDCANCEL);
}

void StopWatching() {
  if (t_watch != nullptr) UnhookWindowsHookEx(t_watch);
  t_watch = nullptr;
}

LRESULT CALLBACK WatchForTheBox(int code, WPARAM wp, LPARAM lp) {
  const HHOOK self = t_watch;
  if (code == HCBT_CREATEWND) {
    const HWND created = reinterpret_cast<HWND>(wp);
    wchar_t name[8] = {};
    // The first dialog made on this thread from here on is the box.
    if (GetClassNameW(created, name, 8) > 0 && lstrcmpW(name, L"#32770") == 0) {
      SetTimer(created, kTimeLimitTimer, t_limit_ms, &GiveUp);
      StopWatching();
    }
  }
  return CallNextHookEx(self, code, wp, lp);
}

}  // namespace

Win32Dialogs::Win32Dialogs(const ProcessInfo& process) : title_(Widen(process.exe_name())) {}

int Win32Dialogs::message_box(std::string_view text, unsigned style, std::chrono::seconds time_limit) {
  // Owned by whatever window of ours is active, or else the main window, so
  // it stays in front of it even when that is the topmost lock.
  HWND owner = GetActiveWindow();
  if (owner == nullptr && IsWindow(owner_)) owner = owner_;
  if (time_limit.count() > 0) {
    StopWatching();
    t_limit_ms = static_cast<UINT>(time_limit.count() * 1000);
    t_watch = SetWindowsHookExW(WH_CBT, &WatchForTheBox, nullptr, GetCurrentThreadId());
  }
  const int answer = MessageBoxW(owner, Widen(text).c_str(), title_.c_str(), style);
  StopWatching();  // in case no box was made
  return answer;
}

std::string Win32Dialogs::input_box(std::string_view prompt, std::string_view title, bool masked,
                                    std::chrono::seconds time_limit) {
  return ShowInputBox(prompt, title, masked, time_limit);
}

}  // namespace qorvel::platform::win32
