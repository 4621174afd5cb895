// In-process under Wine, what program_test.cpp cannot reach from outside.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/win32/clock_win32.h"
#include "platform/win32/cover_windows.h"
#include "platform/win32/dialogs_win32.h"
#include "platform/win32/form1_window.h"
#include "platform/win32/notice_window.h"
#include "platform/win32/form2_window.h"
#include "platform/win32/guardian_link_win32.h"
#include "platform/win32/guardian_service_win32.h"
#include "platform/win32/input_box.h"
#include "platform/win32/lock_hold.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/text.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace w32 = platform::win32;

void Pump() {
  for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
}
bool Topmost(HWND hwnd) { return (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// A plain window that has the focus, as the main window would.
struct Focused {
  Focused() {
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    Pump();
  }
  ~Focused() { DestroyWindow(hwnd); }
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"lock", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                              nullptr, nullptr, nullptr);
};

TEST(CoverWindows, ShowTopmostWithoutTheFocusAndRefuseToClose) {
  const Focused main;
  w32::CoverWindows covers(main.hwnd);
  const guard::ScreenRect at{300, 50, 700, 350};
  const auto id = covers.create_cover(at);
  const HWND cover = reinterpret_cast<HWND>(id);
  Pump();
  RECT r{};
  ASSERT_TRUE(GetWindowRect(cover, &r));
  EXPECT_EQ((guard::ScreenRect{r.left, r.top, r.right, r.bottom}), at);
  EXPECT_TRUE(IsWindowVisible(cover) && (GetWindowLongPtrW(cover, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME)) == 0);
  EXPECT_EQ(GetWindowLongPtrW(cover, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  // Each: a message from outside, and what it must leave as it was.
  const struct { UINT msg; WPARAM wp; LPARAM lp; LRESULT result; } cases[] = {
      {WM_CLOSE, 0, 0, 0}, {WM_SYSCOMMAND, SC_CLOSE, 0, 0},  // Alt+F4
      {WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(cover), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN), MA_NOACTIVATE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SendMessageW(cover, c.msg, c.wp, c.lp), c.result) << c.msg;
    Pump();
    EXPECT_TRUE(IsWindow(cover) && IsWindowVisible(cover) && GetForegroundWindow() != cover) << c.msg;
  }
  covers.set_cover_topmost(id, false);
  EXPECT_FALSE(Topmost(cover));
  covers.set_cover_topmost(id, true);
  EXPECT_TRUE(Topmost(cover));
  covers.destroy_cover(id);
  EXPECT_FALSE(IsWindow(cover));
}

// A cover held while the lock is up: what another program asks of it is
// refused at once; lowered for the settings window, it may be moved under.
TEST(CoverWindows, HoldAgainstHidingMinimisingMovingAndLowering) {
  const Focused main;
  w32::CoverWindows covers(main.hwnd);
  const guard::ScreenRect at{300, 50, 700, 350};
  const auto id = covers.create_cover(at);
  const HWND cover = reinterpret_cast<HWND>(id);
  const auto holds = [&] {
    RECT r{};
    GetWindowRect(cover, &r);
    return IsWindowVisible(cover) && !IsIconic(cover) && Topmost(cover) &&
           (guard::ScreenRect{r.left, r.top, r.right, r.bottom}) == at;
  };
  constexpr UINT kKeep = SWP_NOACTIVATE | SWP_NOSIZE | SWP_NOMOVE;
  const struct { const char* what; void (*ask)(HWND); } requests[] = {
      {"SW_HIDE", [](HWND w) { ShowWindow(w, SW_HIDE); }},
      {"SW_MINIMIZE", [](HWND w) { ShowWindow(w, SW_MINIMIZE); }},
      {"SC_MINIMIZE", [](HWND w) { SendMessageW(w, WM_SYSCOMMAND, SC_MINIMIZE, 0); }},
      {"a move", [](HWND w) { SetWindowPos(w, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE); }},
      {"HWND_BOTTOM", [](HWND w) { SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, kKeep); }},
      {"WS_MINIMIZE set", [](HWND w) { SetWindowLongPtrW(w, GWL_STYLE, GetWindowLongPtrW(w, GWL_STYLE) | WS_MINIMIZE); }},
      {"WS_VISIBLE taken away",
       [](HWND w) { SetWindowLongPtrW(w, GWL_STYLE, GetWindowLongPtrW(w, GWL_STYLE) & ~WS_VISIBLE); }},
  };
  for (const auto& r : requests) {
    r.ask(cover);
    Pump();
    EXPECT_TRUE(holds()) << r.what;
    EXPECT_NE(GetForegroundWindow(), cover) << r.what;
  }
  SetWindowLongPtrW(cover, GWL_EXSTYLE, GetWindowLongPtrW(cover, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_TRANSPARENT);
  EXPECT_EQ(GetWindowLongPtrW(cover, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TRANSPARENT), 0) << "see-through";
  covers.set_cover_topmost(id, false);
  SetWindowPos(cover, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_FALSE(holds()) << "held while the settings window is open";
  covers.destroy_cover(id);
}

// The decision alone: a change asked of a window held on its place.
TEST(LockHold, AChangeKeepsTheWindowShownInPlaceAndInTheTopmostBand) {
  const RECT place{0, 0, 1024, 768};
  const HWND other = reinterpret_cast<HWND>(0x1234);
  constexpr UINT kKeep = SWP_NOMOVE | SWP_NOSIZE;
  const struct { WINDOWPOS asked; WINDOWPOS held; } cases[] = {
      {{nullptr, HWND_TOP, 0, 0, 0, 0, kKeep | SWP_HIDEWINDOW}, {nullptr, HWND_TOP, 0, 0, 0, 0, kKeep}},
      {{nullptr, HWND_BOTTOM, 0, 0, 0, 0, kKeep}, {nullptr, HWND_TOPMOST, 0, 0, 0, 0, kKeep}},
      {{nullptr, HWND_NOTOPMOST, 0, 0, 0, 0, kKeep}, {nullptr, HWND_TOPMOST, 0, 0, 0, 0, kKeep}},
      {{nullptr, other, 0, 0, 0, 0, kKeep}, {nullptr, HWND_TOPMOST, 0, 0, 0, 0, kKeep}},
      {{nullptr, HWND_BOTTOM, 0, 0, 0, 0, kKeep | SWP_NOZORDER}, {nullptr, HWND_BOTTOM, 0, 0, 0, 0, kKeep | SWP_NOZORDER}},
      {{nullptr, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER}, {nullptr, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER}},
      {{nullptr, nullptr, 40, 30, 200, 100, SWP_NOMOVE | SWP_NOZORDER},
       {nullptr, nullptr, 40, 30, 1024, 768, SWP_NOMOVE | SWP_NOZORDER}},
      {{nullptr, HWND_TOPMOST, -32000, -32000, 160, 28, SWP_SHOWWINDOW},
       {nullptr, HWND_TOPMOST, 0, 0, 1024, 768, SWP_SHOWWINDOW}},  // a minimise's place
  };
  for (const auto& c : cases) {
    WINDOWPOS pos = c.asked;
    w32::HoldPosition(pos, place);
    const auto& h = c.held;
    EXPECT_TRUE(pos.hwndInsertAfter == h.hwndInsertAfter && pos.x == h.x && pos.y == h.y && pos.cx == h.cx &&
                pos.cy == h.cy && pos.flags == h.flags)
        << &c - cases << ": " << pos.hwndInsertAfter << " " << pos.x << "," << pos.y << " " << pos.cx << "x" << pos.cy
        << " " << std::hex << pos.flags;
  }
}

// A child's second desktop: the guard's next locked tick takes the input back.
TEST(LockHold, TheInputComesBackFromASecondDesktop) {
  const struct { const wchar_t *own, *input; bool another; } names[] = {
      {L"Default", L"Default", false}, {L"Default", L"default", false}, {L"Default", L"qorvel-second", true},
      {L"Default", L"", false},  // the secure desktop opens for nobody
      {L"", L"qorvel-second", false},
  };
  for (const auto& n : names) EXPECT_EQ(w32::IsAnotherDesktop(n.own, n.input), n.another) << &n - names;
  EXPECT_FALSE(w32::InputDesktopIsAnother());
  HDESK second = CreateDesktopW(L"qorvel-second", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ASSERT_NE(second, nullptr);
  SwitchDesktop(second);
  // Wine 8 has no input desktop of its own: SwitchDesktop succeeds and
  // changes nothing. Where it does, the switch back is tested.
  if (!w32::InputDesktopIsAnother()) {
    CloseDesktop(second);
    GTEST_SKIP() << "SwitchDesktop changes no input desktop here";
  }
  EXPECT_TRUE(w32::SwitchToOwnDesktop());
  EXPECT_FALSE(w32::InputDesktopIsAnother());
  CloseDesktop(second);
}

// A prompt left open must neither fall behind the lock nor keep the guard
// off. A thread timer acts on it from inside its modal loop; one still open
// 30 s later is destroyed, and the test fails.
HWND g_box = nullptr;
ULONGLONG g_seen = 0;
bool g_topmost = false, g_rescued = false;

TEST(NoticeWindow, ShowsTopmostBesideWithoutTheFocusAndLeavesAtItsTime) {
  const Focused main;
  w32::NoticeWindow notice;
  notice.Show(main.hwnd, L"还有5分钟锁屏");
  const HWND first = notice.hwnd();
  Pump();
  ASSERT_TRUE(IsWindow(first) && IsWindowVisible(first));
  constexpr LONG_PTR kLeavesInputAlone = WS_EX_NOACTIVATE | WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_LAYERED;
  EXPECT_EQ(GetWindowLongPtrW(first, GWL_EXSTYLE) & kLeavesInputAlone, kLeavesInputAlone);
  EXPECT_EQ(GetForegroundWindow(), main.hwnd);
  EXPECT_EQ(SendMessageW(first, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(first), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
            MA_NOACTIVATE);
  RECT r{};
  GetWindowRect(first, &r);
  EXPECT_TRUE(r.left >= 200 && r.left < 240 && r.top == 0) << "beside the main window's right edge, at its top";

  notice.Show(main.hwnd, L"还有1分钟锁屏");
  const HWND second = notice.hwnd();
  EXPECT_FALSE(IsWindow(first)) << "one notice at a time";
  // Its end is the system's timer; the test delivers that tick itself.
  EXPECT_TRUE(KillTimer(second, w32::NoticeWindow::kEndTimer)) << "no end timer set";
  SendMessageW(second, WM_TIMER, w32::NoticeWindow::kEndTimer, 0);
  EXPECT_FALSE(IsWindow(second));
  EXPECT_EQ(notice.hwnd(), nullptr);
  EXPECT_EQ(GetForegroundWindow(), main.hwnd);
}

TEST(NoticeWindow, TheMainWindowShowsNoticesAndTheLocksLastLine) {
  test::FakeServices fx;
  w32::Form1Window form(fx.services);
  guard::Form1View& view = form;
  view.show_notice("还有5分钟锁屏");
  EXPECT_NE(FindWindowW(w32::NoticeWindow::kClassName, L"还有5分钟锁屏"), nullptr);
  view.set_unlock_text("明天7点后可用");
  wchar_t text[32]{};
  GetWindowTextW(GetDlgItem(form.hwnd(), w32::Form1Window::kLabel3), text, 32);
  EXPECT_EQ(std::wstring_view(text), L"明天7点后可用");
}

// Asking the system costs Wine some 25 requests a tick: a lock that stands in
// front is left alone, one that another window covers or that lost the focus
// is asked back in front at the next tick.
int g_position_changes = 0;
LRESULT CALLBACK CountPositionChanges(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && reinterpret_cast<const CWPSTRUCT*>(lp)->message == WM_WINDOWPOSCHANGING) ++g_position_changes;
  return CallNextHookEx(nullptr, code, wp, lp);
}

TEST(LockTick, TheLockIsAskedBackInFrontOnlyWhenSomethingTookItsPlace) {
  test::FakeServices fx;
  w32::Form1Window form(fx.services);
  form.set_enabled(false);  // the ticks are this test's
  form.show();
  const HWND lock = form.hwnd();
  platform::Window& w = form;
  const auto tick = [&] {
    w.set_window_state(platform::WindowState::maximized);
    w.set_window_pos(platform::kHwndTopmost, platform::kSwpNoSizeNoMove);
    Pump();
  };
  tick();
  RECT screen{};
  GetWindowRect(lock, &screen);
  const POINT middle{(screen.left + screen.right) / 2, (screen.top + screen.bottom) / 2};
  const auto window = [](DWORD ex_style, int x, int y, HWND owner) {
    return CreateWindowExW(ex_style, L"STATIC", L"other", WS_POPUP, x, y, 300, 200, owner, nullptr, nullptr, nullptr);
  };
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, CountPositionChanges, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  const struct {
    const char* what;
    std::function<HWND()> disturb;
    bool asked;
  } cases[] = {
      {"nothing changed", [] { return HWND{}; }, false},
      {"a topmost window over it takes the focus",
       [&] {
         HWND other = window(WS_EX_TOPMOST, middle.x - 150, middle.y - 100, nullptr);
         ShowWindow(other, SW_SHOW);
         SetForegroundWindow(other);
         return other;
       },
       true},
      {"a topmost window over it, without the focus",
       [&] {
         HWND other = window(WS_EX_TOPMOST, middle.x - 150, middle.y - 100, nullptr);
         SetWindowPos(other, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
         return other;
       },
       true},
      {"a window below takes the focus",
       [&] {
         HWND other = window(0, middle.x - 150, middle.y - 100, nullptr);
         ShowWindow(other, SW_SHOW);
         SetForegroundWindow(other);
         return other;
       },
       true},
      {"a topmost window above it off the screen",
       [&] {
         HWND other = window(WS_EX_TOPMOST, screen.left - 1000, screen.top - 1000, nullptr);
         SetWindowPos(other, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
         return other;
       },
       false},
      {"a hidden topmost window over it",
       [&] {
         HWND other = window(WS_EX_TOPMOST, middle.x - 150, middle.y - 100, nullptr);
         SetWindowPos(other, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
         return other;
       },
       false},
      {"a display change",
       [&] {
         SendMessageW(lock, WM_DISPLAYCHANGE, 32, MAKELPARAM(screen.right, screen.bottom));
         return HWND{};
       },
       true},
      {"its own prompt over it",
       [&] {
         HWND prompt = window(WS_EX_TOPMOST, middle.x - 150, middle.y - 100, lock);
         SetWindowPos(prompt, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
         return prompt;
       },
       false},
  };
  for (const auto& c : cases) {
    const HWND other = c.disturb();
    Pump();
    g_position_changes = 0;
    tick();
    EXPECT_EQ(g_position_changes > 0, c.asked) << c.what;
    EXPECT_EQ(GetForegroundWindow(), lock) << c.what;
    EXPECT_TRUE(Topmost(lock)) << c.what;
    if (GetWindow(other, GW_OWNER) != lock) {
      EXPECT_EQ(GetAncestor(WindowFromPoint(middle), GA_ROOT), lock) << c.what;
    }
    if (other != nullptr) DestroyWindow(other);
    Pump();
  }
  UnhookWindowsHookEx(hook);
}

// One timer wakes the window a tick: the guardian hears at Timer1's ticks,
// and from a timer of its own only while Timer1 is off (the password prompt).
TEST(Heartbeat, RidesOnTimer1AndGoesOnWhileItIsOff) {
  test::FakeServices fx;
  w32::Form1Window form(fx.services);
  form.set_enabled(false);
  form.show();
  const HWND main = form.hwnd();
  auto& reports = fx.system.reports;
  SendMessageW(main, WM_TIMER, w32::Form1Window::kHeartbeat, 0);
  EXPECT_EQ(reports.size(), 1u);
  form.set_enabled(true);
  EXPECT_FALSE(KillTimer(main, w32::Form1Window::kHeartbeat)) << "a second timer beside Timer1";
  SendMessageW(main, WM_TIMER, w32::Form1Window::kTimer1, 0);
  EXPECT_EQ(reports.size(), 2u) << "no report at Timer1's tick";
  form.set_enabled(false);
  EXPECT_TRUE(KillTimer(main, w32::Form1Window::kHeartbeat)) << "silent while Timer1 is off";
}

// The monitors are read once, then again only after the system announces a
// display change: a monitor plugged in is covered at the tick after.
TEST(CoverWindows, KeepTheMonitorListUntilADisplayChange) {
  const Focused main;
  std::vector<guard::ScreenRect> attached{{0, 0, 1024, 768}};
  int reads = 0;
  w32::CoverWindows covers(main.hwnd, [&] { ++reads; return std::optional(attached); });
  const auto listed = [&] { return covers.monitors().value_or(std::vector<guard::ScreenRect>{}); };
  EXPECT_EQ(listed(), attached);
  EXPECT_EQ(covers.main_window_monitor(), attached.front());
  attached.push_back({100, 0, 1124, 768});  // overlaps the main window's right half
  EXPECT_EQ(listed().size(), 1u);
  EXPECT_EQ(reads, 1);
  const HWND watch = FindWindowW(w32::CoverWindows::kWatchClassName, nullptr);
  ASSERT_NE(watch, nullptr);
  EXPECT_FALSE(IsWindowVisible(watch));
  SendMessageW(watch, WM_DISPLAYCHANGE, 32, MAKELPARAM(1124, 768));
  EXPECT_EQ(listed(), attached);
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(covers.main_window_monitor(), attached.front()) << "the monitor holding most of the main window";
}

TEST(InputBox, StaysAboveATopmostOwnerAndGivesUpWhenTheTimeRunsOut) {
  const Focused owner;
  SetActiveWindow(owner.hwnd);
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    const HWND box = FindWindowW(L"#32770", L"app");
    if (box != nullptr && g_box == nullptr) {
      g_box = box;
      g_seen = GetTickCount64();
      g_topmost = Topmost(box);
      const HWND field = FindWindowExW(box, nullptr, L"Edit", nullptr);
      for (const wchar_t c : std::wstring_view(L"90")) SendMessageW(field, WM_CHAR, c, 1);  // typed, never confirmed
    } else if (box != nullptr && GetTickCount64() - g_seen > 30000) {
      g_rescued = true;
      DestroyWindow(box);
    }
  });
  const std::string answer = w32::ShowInputBox("请输入密码", "app", true, std::chrono::seconds(1));
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_box != nullptr && g_topmost) << "not shown above its topmost owner";
  EXPECT_FALSE(g_rescued) << "it never gave up";
  EXPECT_EQ(answer, "");
}

// The start-up's box over a topmost lock that does not have the focus, as
// when the guard starts behind another program, and nobody answers it.
std::wstring g_title;
HWND g_message = nullptr, g_message_owner = nullptr;
bool g_message_topmost = false, g_message_rescued = false;

TEST(Win32MessageBox, StaysAboveATopmostLockWithoutTheFocusAndGivesUpAsCancel) {
  const HWND lock = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"lock", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                    nullptr, nullptr);
  ShowWindow(lock, SW_SHOWNOACTIVATE);
  SetActiveWindow(nullptr);
  Pump();
  ASSERT_EQ(GetActiveWindow(), nullptr);
  const w32::Win32ProcessInfo process;
  w32::Win32Dialogs dialogs(process);
  dialogs.set_owner(lock);
  g_title = w32::Widen(process.exe_name());
  static ULONGLONG asked = 0;
  asked = GetTickCount64();
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    const HWND box = FindWindowW(L"#32770", g_title.c_str());
    if (box != nullptr && g_message == nullptr) {
      g_message = box;
      g_message_owner = GetWindow(box, GW_OWNER);
      g_message_topmost = Topmost(box);
    } else if (box != nullptr && GetTickCount64() - asked > 30000) {
      g_message_rescued = true;
      EndDialog(box, IDOK);
    }
  });
  const int answer = dialogs.message_box("是否加入开机启动", MB_OKCANCEL, std::chrono::seconds(1));
  const ULONGLONG took = GetTickCount64() - asked;
  KillTimer(nullptr, timer);
  DestroyWindow(lock);
  EXPECT_TRUE(g_message != nullptr && g_message_owner == lock && g_message_topmost) << "not above the lock";
  EXPECT_FALSE(g_message_rescued) << "it never gave up";
  EXPECT_EQ(answer, IDCANCEL);
  EXPECT_GE(took, 900u) << "gave up before its time";
}

TEST(Win32Services, ModulePathFileExistenceAndTheClocksText) {
  const struct { const char *path, *directory, *name; } paths[] = {
      {"C:\\guard.exe", "C:\\", "guard"},  // the root keeps its separator
      {"D:\\x\\my.guard.exe", "D:\\x", "my.guard"},
      {"C:\\Program Files\\守护\\守护.exe", "C:\\Program Files\\守护", "守护"},
  };
  for (const auto& p : paths) {
    const auto parts = w32::SplitModulePath(p.path);
    EXPECT_EQ(parts.directory + " " + parts.name, std::string(p.directory) + " " + p.name) << p.path;
  }
  CreateDirectoryW(L"qorvel-folder", nullptr);
  EXPECT_EQ(w32::Win32FileSystem().file_exists("qorvel-folder"), false) << "a folder is not a settings file";
  EXPECT_EQ(w32::Win32FileSystem().file_exists("qorvel-folder\\missing\\mdb.ini"), false);
  RemoveDirectoryW(L"qorvel-folder");
  // The locale's general date: date and time, but the date alone at midnight.
  const w32::Win32Clock clock;
  const std::string date = clock.general_date({2026, 12, 6, 0, 0, 0});
  EXPECT_TRUE(date.find("2026") != std::string::npos && date.find(' ') == std::string::npos) << date;
  EXPECT_EQ(clock.general_date({2026, 12, 6, 0, 0, 1}).substr(0, date.size() + 1), date + " ");
}

// The settings window says when a save did not land, in red under the
// buttons, and says nothing once one does.
TEST(Form2Window, AFailedSaveIsSaidAndASavedOneClearsIt) {
  test::FakeServices fx;
  fx.profile.set_text(store::kSettingsFile, test::SettingsText({7, 8}, "907", '1'));
  test::FakeForm1View main(fx.log);
  guard::Form1 form1(fx.services, main);
  w32::Form2Window window(nullptr);
  settings::Form2 form(fx.services, window, form1);
  window.set_presenter(&form);
  form.Form_Load();
  const HWND status = GetDlgItem(window.hwnd(), w32::kForm2Status);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(w32::WindowText(status), L"");
  for (const bool fails : {true, false}) {
    fx.profile.fail_writes = fails;
    SendDlgItemMessageW(window.hwnd(), w32::kForm2Combo1, CB_SETCURSEL, 2, 0);  // 3
    SendDlgItemMessageW(window.hwnd(), w32::kForm2Command1, BM_CLICK, 0, 0);
    EXPECT_EQ(w32::WindowText(status), fails ? L"保存失败" : L"") << fails;
    EXPECT_TRUE(IsWindowVisible(status) || !IsWindowVisible(window.hwnd()));
  }
  RECT label{}, button{};
  GetWindowRect(status, &label);
  GetWindowRect(GetDlgItem(window.hwnd(), w32::kForm2Command2), &button);
  EXPECT_TRUE(label.top >= button.bottom && label.left == button.left && label.right - label.left >= 60)
      << "under the delete button, wide enough for its text";
}

// Wine keeps no file's rights, so what is checked is the descriptor the
// guardian hands to Windows, and that it hands it over for its files.
std::wstring SddlOf(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                            &text, nullptr))
    return L"(none)";
  std::wstring out(text);
  LocalFree(text);
  return out;
}

TEST(GuardianFiles, TheProtectedRightsLeaveSystemAndAdministratorsAlone) {
  for (const auto& [descriptor, sddl] : {std::pair{w32::ProtectedFileDescriptor(), L"D:P(A;;FA;;;SY)(A;;FA;;;BA)"},
                                         {w32::ProtectedFolderDescriptor(), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"}}) {
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(SddlOf(descriptor.get()), sddl);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "C:\\'s rights for Users would come down";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) && present && dacl);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
      const PSID sid = &ace->SidStart;
      EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
      EXPECT_TRUE(IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) << i;
      for (const auto other : {WinBuiltinUsersSid, WinAuthenticatedUserSid, WinWorldSid, WinInteractiveSid})
        EXPECT_FALSE(IsWellKnownSid(sid, other)) << i;
    }
  }
}

// Records what would be handed to Windows.
struct Recorder final : w32::FileSecurity {
  bool apply(HANDLE object, const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) override {
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(object, &info);
    calls.push_back(path + L" " + SddlOf(descriptor) + ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? L" folder" : L""));
    return true;
  }
  std::vector<std::wstring> calls;
};

// A scratch folder of its own under the temporary folder, emptied of what
// the test left there (one level deep, as the test makes it).
struct Scratch {
  Scratch() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root = std::wstring(temp) + L"qorvel-guardian-files";
    Clear();
    CreateDirectoryW(root.c_str(), nullptr);
  }
  ~Scratch() { Clear(); }
  void Clear() const {
    WIN32_FIND_DATAW found{};
    const HANDLE walk = FindFirstFileW((root + L"\\*").c_str(), &found);
    for (BOOL more = walk != INVALID_HANDLE_VALUE; more; more = FindNextFileW(walk, &found)) {
      const std::wstring path = root + L"\\" + found.cFileName;
      if (found.cFileName[0] == L'.') continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteFileW((path + L"\\inside").c_str());
        RemoveDirectoryW(path.c_str());
      } else {
        DeleteFileW(path.c_str());
      }
    }
    if (walk != INVALID_HANDLE_VALUE) FindClose(walk);
    RemoveDirectoryW(root.c_str());
  }
  // The names in the folder that end in ".moved", each "file" or "folder".
  [[nodiscard]] std::vector<std::string> Moved() const {
    std::vector<std::string> moved;
    WIN32_FIND_DATAW found{};
    const HANDLE walk = FindFirstFileW((root + L"\\*.moved").c_str(), &found);
    for (BOOL more = walk != INVALID_HANDLE_VALUE; more; more = FindNextFileW(walk, &found))
      moved.push_back((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder" : "file");
    if (walk != INVALID_HANDLE_VALUE) FindClose(walk);
    return moved;
  }
  std::wstring root;
};

void Put(const std::wstring& path, std::string_view bytes) {
  std::ofstream(w32::Narrow(path), std::ios::binary) << bytes;
}

using State = guardian::SettingsFile::State;

// Whatever stands at the settings path: what the guardian reads there, and
// whether it writes or protects through it.
TEST(GuardianFiles, TheSettingsPathIsReadWrittenAndProtectedOnlyAsAPlainFile) {
  const Scratch scratch;
  const std::wstring path = scratch.root + L"\\mdb.ini", other = scratch.root + L"\\other";
  const struct {
    const char* what;
    void (*make)(const std::wstring& path, const std::wstring& other);
    State state;
    const char* moved;
  } cases[] = {
      {"nothing", [](const std::wstring&, const std::wstring&) {}, State::missing, nullptr},
      {"a file", [](const std::wstring& p, const std::wstring&) { Put(p, "[mm]\r\nmm=907\r\n"); }, State::present, nullptr},
      {"a folder", [](const std::wstring& p, const std::wstring&) { CreateDirectoryW(p.c_str(), nullptr); },
       State::hostile, "folder"},
      {"a second name of another file",
       [](const std::wstring& p, const std::wstring& o) {
         Put(o, "[mm]\r\nmm=child\r\n");
         CreateHardLinkW(p.c_str(), o.c_str(), nullptr);
       },
       State::hostile, "file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scratch.Clear();
    CreateDirectoryW(scratch.root.c_str(), nullptr);
    c.make(path, other);
    Recorder recorder;
    w32::SettingsPath settings(path, recorder);
    const auto file = settings.read();
    EXPECT_EQ(file.state, c.state);
    EXPECT_EQ(file.bytes, c.state == State::present ? "[mm]\r\nmm=907\r\n" : "");
    const bool plain = c.state == State::present;
    EXPECT_EQ(settings.protect(), plain);
    EXPECT_EQ(recorder.calls, plain ? std::vector<std::wstring>{path + L" D:P(A;;FA;;;SY)(A;;FA;;;BA)"}
                                    : std::vector<std::wstring>{});
    EXPECT_EQ(settings.write("HOUR", "hou9", "9"), c.state != State::hostile) << "written through";
    if (c.state != State::hostile) continue;
    EXPECT_EQ(settings.restore("x"), false) << "created over it";
    ASSERT_TRUE(settings.move_aside());
    EXPECT_EQ(settings.read().state, State::missing);
    EXPECT_EQ(scratch.Moved(), std::vector<std::string>{c.moved});
    std::string child;
    std::getline(std::ifstream(w32::Narrow(other)), child);
    EXPECT_TRUE(child.empty() || child == "[mm]") << "the other file was changed: " << child;
    // Then as for a missing file: the copy comes back with its rights.
    ASSERT_TRUE(settings.restore("[mm]\r\nmm=907\r\n"));
    EXPECT_EQ(settings.read().bytes, "[mm]\r\nmm=907\r\n");
    EXPECT_TRUE(settings.protect());
    EXPECT_EQ(recorder.calls.size(), 1u);
  }
}

// A created file gets the rights through the seam once the guardian asks,
// and its bytes are the profile call's.
TEST(GuardianFiles, AFirstRunFileIsTheProfileCallsAndProtected) {
  const Scratch scratch;
  const std::wstring path = scratch.root + L"\\mdb.ini";
  Recorder recorder;
  w32::SettingsPath settings(path, recorder);
  ASSERT_TRUE(settings.write("mm", "mm", "家长"));
  ASSERT_TRUE(settings.write("HOUR", "hou9", "9"));
  ASSERT_TRUE(settings.write("HOUR", "hou9", std::nullopt));
  EXPECT_EQ(settings.read().bytes, "[mm]\r\nmm=\xbc\xd2\xb3\xa4\r\n[HOUR]\r\n");
  ASSERT_TRUE(settings.protect());
  EXPECT_EQ(recorder.calls, std::vector<std::wstring>{path + L" D:P(A;;FA;;;SY)(A;;FA;;;BA)"});
}

TEST(GuardianFiles, TheDataFolderIsMadeTheGuardiansOwn) {
  const Scratch scratch;
  const std::wstring folder = scratch.root + L"\\Qorvel";
  const std::wstring recorded = folder + L" D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA) folder";
  const struct {
    const char* what;
    void (*make)(const std::wstring& folder);
    std::vector<std::string> moved;
    bool kept;
  } cases[] = {
      {"nothing", [](const std::wstring&) {}, {}, false},
      {"a file", [](const std::wstring& f) { Put(f, "x"); }, {"file"}, false},
      {"its own folder",
       [](const std::wstring& f) { CreateDirectoryW(f.c_str(), nullptr); Put(f + L"\\inside", "copy"); }, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scratch.Clear();
    CreateDirectoryW(scratch.root.c_str(), nullptr);
    c.make(folder);
    Recorder recorder;
    EXPECT_TRUE(w32::PrepareDataFolder(folder, recorder));
    EXPECT_EQ(recorder.calls, std::vector<std::wstring>{recorded});
    EXPECT_EQ(scratch.Moved(), c.moved);
    EXPECT_EQ(GetFileAttributesW((folder + L"\\inside").c_str()) != INVALID_FILE_ATTRIBUTES, c.kept);
  }
}

// Owners that may keep a folder of the guardian's: only those who could
// change its rights anyway.
TEST(GuardianFiles, OnlySystemAdministratorsAndTheGuardianOwnItsFolder) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(TOKEN_USER) char own[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, own, sizeof own, &size));
  CloseHandle(token);
  const struct { const wchar_t* sid; bool trusted; } cases[] = {
      {L"SY", true}, {L"BA", true}, {L"BU", false}, {L"AU", false}, {L"WD", false}, {L"IU", false},
      {L"S-1-5-21-1-2-3-1001", false}};
  for (const auto& c : cases) {
    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(c.sid, &sid));
    EXPECT_EQ(w32::TrustedOwner(sid), c.trusted) << w32::Narrow(c.sid);
    LocalFree(sid);
  }
  EXPECT_TRUE(w32::TrustedOwner(reinterpret_cast<TOKEN_USER*>(own)->User.Sid));
  EXPECT_FALSE(w32::TrustedOwner(nullptr));
}

// A section's answer can be far longer than one read: the guard's channel
// takes the whole message.
TEST(GuardianChannel, ALongAnswerArrivesWhole) {
  const HANDLE server = CreateNamedPipeW(w32::kGuardianPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                         1, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  std::string answer = "ok ";
  for (int i = 0; answer.size() < 100'000; ++i) answer += "hou" + std::to_string(i) + "=" + std::to_string(i) + "%00";
  answer += "%00\n";
  std::string heard;
  std::thread serve([&] {
    char line[256];
    DWORD got = 0;
    if (ConnectNamedPipe(server, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      if (ReadFile(server, line, sizeof line, &got, nullptr)) heard.assign(line, got);
      WriteFile(server, answer.data(), static_cast<DWORD>(answer.size()), &got, nullptr);
      ReadFile(server, line, sizeof line, &got, nullptr);  // until the client closes
    }
  });
  w32::Win32GuardianChannel channel;
  const auto reply = channel.exchange("read HOUR %00\n");
  serve.join();
  CloseHandle(server);
  EXPECT_EQ(heard, "read HOUR %00\n");
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->size(), answer.size());
  EXPECT_TRUE(*reply == answer);
  EXPECT_FALSE(channel.installed()) << "no service here: the guard keeps its file";
}

}  // namespace
}  // namespace qorvel
