// What the real program's test (program_test.cpp) cannot reach from
// outside, in-process under Wine: the cover windows on the one monitor there
// is, the password prompt's answers and time limit, and the Win32 services'
// rules for the executable's path, folders and midnight.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "platform/win32/clock_win32.h"
#include "platform/win32/cover_windows.h"
#include "platform/win32/input_box.h"
#include "platform/win32/system_win32.h"

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
  ASSERT_NE(cover, nullptr);
  Pump();
  RECT r{};
  GetWindowRect(cover, &r);
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

// Acts on modal windows from inside their own message loops: a thread timer
// waits for each step's window to show, then acts on it. Windows still open
// 30 s after the last step are destroyed, and the test fails.
struct Step {
  const wchar_t *window_class, *caption;
  std::function<void(HWND)> act;
};
std::vector<Step> g_steps;
std::size_t g_next = 0;
ULONGLONG g_since = 0;
bool g_rescued = false;

void WithSteps(std::vector<Step> steps, const std::function<void()>& modal) {
  g_steps = std::move(steps);
  g_next = 0;
  g_since = GetTickCount64();
  g_rescued = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    const HWND found = g_next < g_steps.size() ? FindWindowW(g_steps[g_next].window_class, g_steps[g_next].caption)
                                               : nullptr;
    if (found != nullptr && IsWindowVisible(found)) {
      g_since = GetTickCount64();
      g_steps[g_next++].act(found);  // counted first: the action's own modal loop fires this timer too
    } else if (GetTickCount64() - g_since > 30000) {
      g_rescued = true;
      EnumThreadWindows(GetCurrentThreadId(), [](HWND hwnd, LPARAM) { return DestroyWindow(hwnd); }, 0);
    }
  });
  modal();
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_next, g_steps.size()) << "a window never showed";
  EXPECT_FALSE(g_rescued) << "a window stayed open";
}

void Type(HWND edit, std::wstring_view text) { for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1); }
HWND EditOf(HWND box) { return FindWindowExW(box, nullptr, L"Edit", nullptr); }
TEST(InputBox, ReturnsTheTypedTextOnlyOnOk) {
  const struct { bool masked; std::wstring typed; UINT msg; WPARAM wp; std::string expected; } cases[] = {
      {true, L"家长=口令", WM_COMMAND, IDOK, "家长=口令"}, {true, L"abc", WM_KEYDOWN, VK_RETURN, "abc"},
      {false, L"Ab", WM_COMMAND, IDOK, "Ab"},            {true, L"907", WM_COMMAND, IDCANCEL, ""},
      {true, L"907", WM_KEYDOWN, VK_ESCAPE, ""},         {true, L"907", WM_SYSCOMMAND, SC_CLOSE, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.expected << " " << c.msg << " " << c.wp);
    std::string answer;
    WithSteps({{L"#32770", L"app",
                [&c](HWND box) {
                  const HWND edit = EditOf(box);
                  EXPECT_EQ((GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) != 0, c.masked);
                  EXPECT_NE(FindWindowExW(box, nullptr, L"Static", L"请输入密码"), nullptr);
                  Type(edit, c.typed);
                  PostMessageW(c.msg == WM_KEYDOWN ? edit : box, c.msg, c.wp, 0);
                }}},
              [&] { answer = w32::ShowInputBox("请输入密码", "app", c.masked); });
    EXPECT_EQ(answer, c.expected);
  }
}

// A prompt left open must neither fall behind the lock nor keep the guard off.
TEST(InputBox, StaysAboveATopmostOwnerAndGivesUpWhenTheTimeRunsOut) {
  const Focused owner;
  SetActiveWindow(owner.hwnd);
  bool topmost = false;
  std::string answer = "unanswered";
  WithSteps({{L"#32770", L"app",
              [&](HWND box) {
                topmost = Topmost(box);
                Type(EditOf(box), L"90");  // typed, never confirmed
              }}},
            [&] { answer = w32::ShowInputBox("请输入密码", "app", true, std::chrono::seconds(1)); });
  EXPECT_TRUE(topmost);
  EXPECT_EQ(answer, "");
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

}  // namespace
}  // namespace qorvel
