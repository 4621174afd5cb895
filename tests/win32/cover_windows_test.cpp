// The cover windows in-process, and virtual desktops where Wine has none.
#include <gtest/gtest.h>

#include "platform/win32/cover_windows.h"
#include "platform/portable/desktop_worker.h"
#include "platform/win32/virtual_desktops_win32.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using platform::win32::CoverWindows;

void Pump() {
  for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
}

// A plain window that has the focus, as the main window would.
struct Focused {
  Focused() {
    hwnd = CreateWindowExW(0, L"STATIC", L"focus", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                           nullptr, nullptr);
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    Pump();
  }
  ~Focused() { DestroyWindow(hwnd); }
  HWND hwnd;
};

TEST(CoverWindows, ShowTopmostWithoutTheFocusAndRefuseToClose) {
  const Focused main;
  CoverWindows covers(main.hwnd);
  const guard::ScreenRect at{300, 50, 700, 350};
  HWND cover = reinterpret_cast<HWND>(covers.create_cover(at));
  ASSERT_NE(cover, nullptr);
  Pump();
  RECT r{};
  GetWindowRect(cover, &r);
  EXPECT_EQ((guard::ScreenRect{r.left, r.top, r.right, r.bottom}), at);
  const auto ex_style = GetWindowLongPtrW(cover, GWL_EXSTYLE);
  EXPECT_TRUE(IsWindowVisible(cover));
  EXPECT_EQ(ex_style & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  EXPECT_EQ(GetWindowLongPtrW(cover, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);

  // Each: a message from outside, and what it must leave as it was.
  const struct { const char* what; UINT msg; WPARAM wp; LPARAM lp; LRESULT result; } cases[] = {
      {"WM_CLOSE", WM_CLOSE, 0, 0, 0},
      {"SC_CLOSE (Alt+F4)", WM_SYSCOMMAND, SC_CLOSE, 0, 0},
      {"a click", WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(cover), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN),
       MA_NOACTIVATE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SendMessageW(cover, c.msg, c.wp, c.lp), c.result) << c.what;
    Pump();
    EXPECT_TRUE(IsWindow(cover) && IsWindowVisible(cover)) << c.what;
    EXPECT_NE(GetForegroundWindow(), cover) << c.what;
  }

  covers.set_cover_topmost(reinterpret_cast<platform::WindowId>(cover), false);
  EXPECT_EQ(GetWindowLongPtrW(cover, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  covers.set_cover_topmost(reinterpret_cast<platform::WindowId>(cover), true);
  EXPECT_NE(GetWindowLongPtrW(cover, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  covers.destroy_cover(reinterpret_cast<platform::WindowId>(cover));
  EXPECT_FALSE(IsWindow(cover));
}

// Wine has no virtual desktop manager: the worker makes none, and the lock on
// one monitor makes exactly the calls it makes without one.
TEST(VirtualDesktops, AbsentUnderWineChangesNothing) {
  if (platform::win32::MakeDesktopManager() != nullptr) GTEST_SKIP() << "this system has virtual desktops";
  platform::DesktopWorker desktops(&platform::win32::MakeDesktopManager);
  test::FakeGuard with, without;
  test::FakeCoverView screens{with.fx.log};
  screens.screens = std::vector{guard::ScreenRect{0, 0, 1280, 1024}};
  screens.main = screens.screens->front();
  guard::Covers covers(screens, &desktops);
  with.form.set_covers(&covers);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(with.Calls([&] { with.form.CheckHour(); }), without.Calls([&] { without.form.CheckHour(); }));
  }
}

}  // namespace
}  // namespace qorvel
