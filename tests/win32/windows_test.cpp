// In-process under Wine, what program_test.cpp cannot reach from outside.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/win32/clock_win32.h"
#include "platform/win32/cover_windows.h"
#include "platform/win32/dialogs_win32.h"
#include "platform/win32/input_box.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/text.h"

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

// A prompt left open must neither fall behind the lock nor keep the guard
// off. A thread timer acts on it from inside its modal loop; one still open
// 30 s later is destroyed, and the test fails.
HWND g_box = nullptr;
ULONGLONG g_seen = 0;
bool g_topmost = false, g_rescued = false;

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

}  // namespace
}  // namespace qorvel
