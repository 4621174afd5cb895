// The real qorvel.exe on several monitors: Xorg's dummy driver gives Wine
// real RandR outputs (scripts/test starts it and names it in
// QORVEL_XORG_DISPLAY). Every monitor is covered while locked and free while
// compact; a monitor added while locked is covered. Owns C:\mdb.ini of its
// own prefix and the dummy outputs DUMMY1 and DUMMY2.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/text.h"
#include "real_program.h"

namespace qorvel::platform::win32 {
namespace {

using test::WaitFor;

// Empty HOUR: locked at every hour. All 24 hours: compact at every hour. The
// start-up flag is set, so no prompt comes up.
void WriteSettings(bool locked) {
  std::string text = "[HOUR]\r\n";
  for (int h = 0; h < 24 && !locked; ++h) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  std::ofstream("C:\\mdb.ini", std::ios::binary) << text << "[mm]\r\nnober=907\r\n[bb]\r\ntwo=1\r\n";
}

// A Unix command line, through sh; Wine starts Unix programs like any other.
void Shell(const std::wstring& script) {
  std::wstring command = L"Z:\\bin\\sh -c \"" + script + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION p{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &p));
  WaitForSingleObject(p.hProcess, 30000);
  CloseHandle(p.hThread);
  CloseHandle(p.hProcess);
}

std::vector<RECT> ListMonitors() {
  std::vector<RECT> found;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR m, HDC, LPRECT, LPARAM param) -> BOOL {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (GetMonitorInfoW(m, &info)) reinterpret_cast<std::vector<RECT>*>(param)->push_back(info.rcMonitor);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<POINT> CentreAndCorners(const RECT& r) {
  return {{(r.left + r.right) / 2, (r.top + r.bottom) / 2},
          {r.left, r.top},
          {r.right - 1, r.top},
          {r.left, r.bottom - 1},
          {r.right - 1, r.bottom - 1}};
}

struct Guard : test::RunningProgram {
  // The top-level window at the point, if it is a topmost one of the guard.
  bool Holds(POINT at) const {
    HWND w = GetAncestor(WindowFromPoint(at), GA_ROOT);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    return w != nullptr && owner == p.dwProcessId && (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  }
  bool HoldsAll(const RECT& monitor) const {
    const auto points = CentreAndCorners(monitor);
    return std::all_of(points.begin(), points.end(), [&](POINT at) { return Holds(at); });
  }
  // Visible windows of the guard of one class, or only those reaching into
  // the rectangle. EnumWindows takes one snapshot of the z-order, which the
  // guard's ticks keep reshuffling.
  std::vector<HWND> Windows(const wchar_t* window_class, const RECT* within = nullptr) const {
    std::vector<HWND> all, found;
    EnumWindows([](HWND w, LPARAM list) { return reinterpret_cast<std::vector<HWND>*>(list)->push_back(w), TRUE; },
                reinterpret_cast<LPARAM>(&all));
    for (HWND w : all) {
      wchar_t name[64] = {};
      DWORD owner = 0;
      RECT r{}, overlap{};
      GetWindowThreadProcessId(w, &owner);
      GetClassNameW(w, name, 64);
      GetWindowRect(w, &r);
      if (owner == p.dwProcessId && IsWindowVisible(w) && lstrcmpW(name, window_class) == 0 &&
          (within == nullptr || IntersectRect(&overlap, &r, within)))
        found.push_back(w);
    }
    return found;
  }
  bool AnythingOn(const RECT& monitor) const {
    return !Windows(L"QorvelForm1", &monitor).empty() || !Windows(L"QorvelCover", &monitor).empty();
  }
};

class MultiMonitor : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetEnvironmentVariableW(L"QORVEL_XORG_DISPLAY", nullptr, 0) == 0)
      GTEST_SKIP() << "needs the Xorg dummy display that scripts/test starts (QORVEL_XORG_DISPLAY)";
    ASSERT_TRUE(WaitFor([] { return ListMonitors().size() == 2; }))
        << "Wine does not see the two dummy monitors";
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area_, 0);
  }
  void TearDown() override {
    if (IsSkipped()) return;
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &work_area_, 0);
    Shell(L"/usr/bin/xrandr --output DUMMY2 --off");
    DeleteFileW(L"C:\\mdb.ini");
  }
  RECT work_area_{};
};

TEST_F(MultiMonitor, LockedCoversEveryMonitorAndCompactLeavesTheSecondFree) {
  auto screens = ListMonitors();
  std::sort(screens.begin(), screens.end(), [](const RECT& a, const RECT& b) { return a.left < b.left; });
  const RECT first = screens[0];
  const RECT second = screens[1];
  // The task bar's strip: a work area 40 pixels short at the bottom.
  RECT shrunk = first;
  shrunk.bottom -= 40;
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &shrunk, 0));
  RECT now{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &now, 0);
  ASSERT_EQ(now.bottom, shrunk.bottom) << "the work area did not shrink";

  WriteSettings(/*locked=*/true);
  const Guard guard;
  ASSERT_TRUE(WaitFor([&] { return guard.HoldsAll(first) && guard.HoldsAll(second); }))
      << "not every monitor is covered by a topmost window of the guard";
  EXPECT_TRUE(guard.Holds({(first.left + first.right) / 2, first.bottom - 20})) << "the task bar's strip is free";

  // A cover refuses to close, like the main window.
  const auto covers = guard.Windows(L"QorvelCover");
  ASSERT_EQ(covers.size(), 1u);
  PostMessageW(covers[0], WM_CLOSE, 0, 0);
  PostMessageW(covers[0], WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(covers[0], WM_NULL, 0, 0, SMTO_BLOCK, 10000, &ignored);  // the posts are handled
  EXPECT_TRUE(IsWindow(covers[0]) && IsWindowVisible(covers[0]));
  EXPECT_TRUE(guard.HoldsAll(second));

  // A third monitor plugged in while locked.
  Shell(L"/usr/bin/xrandr --output DUMMY2 --mode 800x600 --right-of DUMMY1");
  ASSERT_TRUE(WaitFor([] { return ListMonitors().size() == 3; })) << "Wine missed DUMMY2";
  const ULONGLONG seen = GetTickCount64();
  RECT third{};
  for (const RECT& r : ListMonitors())
    if (r.left >= second.right) third = r;
  EXPECT_TRUE(WaitFor([&] { return guard.HoldsAll(third); })) << "the new monitor stays free";
  std::printf("third monitor covered %llu ms after Windows listed it (goal: 2500)\n", GetTickCount64() - seen);

  WriteSettings(/*locked=*/false);
  EXPECT_TRUE(WaitFor([&] { return !guard.AnythingOn(second) && !guard.AnythingOn(third); }))
      << "something of the guard is left on the other monitors while compact";
  EXPECT_TRUE(guard.Windows(L"QorvelCover").empty());
}

}  // namespace
}  // namespace qorvel::platform::win32
