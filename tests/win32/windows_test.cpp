// The Win32 windows in-process under Wine, with fake services (the real
// program's own road is program_test.cpp): the main window, the covers, the
// password prompt and the settings window, driven by messages from inside
// their modal loops; and the Win32 services worth a check of their own.
#include <gtest/gtest.h>
#include <windows.h>
#include <imm.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/win32/clock_win32.h"
#include "platform/win32/cover_windows.h"
#include "platform/win32/dialogs_win32.h"
#include "platform/win32/form1_window.h"
#include "platform/win32/form2_window.h"
#include "platform/win32/input_box.h"
#include "platform/win32/profile_file_win32.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/text.h"
#include "platform/win32/virtual_desktops_win32.h"
#include "settings/password_gate.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace w32 = platform::win32;
using platform::win32::Form1Window;
using w32::Narrow;

// Dispatches what is queued; true when a WM_QUIT came.
bool Pump() {
  bool quit = false;
  for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
    quit |= msg.message == WM_QUIT;
    DispatchMessageW(&msg);
  }
  return quit;
}
// Runs the messages until ready() or the time is up; a busy machine only makes it wait.
template <typename Ready> bool WaitFor(Ready ready) {
  for (const ULONGLONG end = GetTickCount64() + 30000; GetTickCount64() < end; Sleep(10))
    if (Pump(), ready()) return true;
  return ready();
}
std::string Text(HWND hwnd) { return Narrow(w32::WindowText(hwnd)); }
RECT RectIn(HWND parent, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}
bool Topmost(HWND hwnd) { return (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

class Form1WindowTest : public ::testing::Test, guard::SettingsDoor {
 protected:
  void SetUp() override {
    if (GetDpiForSystem() != 96) GTEST_SKIP() << "pixel checks assume 96 DPI";
    fx.profile.set_text(store::kSettingsFile, test::SettingsText());
    window.form().set_settings_door(this);
    window.show();
    Pump();
  }
  void open() override { fx.log.push_back("settings door"); }
  HWND hwnd() const { return window.hwnd(); }
  HWND Item(int id) const { return GetDlgItem(hwnd(), id); }
  RECT ItemRect(int id) const { return RectIn(hwnd(), Item(id)); }

  test::FakeServices fx;
  Form1Window window{fx.services};
};

TEST_F(Form1WindowTest, EachTickAppliesItsLayoutWhateverTheUserDid) {
  EXPECT_EQ(GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) & (WS_EX_TOOLWINDOW | WS_EX_APPWINDOW), WS_EX_TOOLWINDOW)
      << "no task-bar button";
  enum Meddle { kNone, kMinimize, kMoveAway };
  RECT work{}, r{}, shown{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  // The first-run file allows 1 to 23; hour 0 locks.
  const struct { int hour; Meddle meddle; } steps[] = {{0, kNone}, {0, kMinimize}, {1, kMinimize}, {1, kMoveAway}, {0, kNone}};
  for (const auto& [hour, meddle] : steps) {
    SCOPED_TRACE(testing::Message() << "hour " << hour << " meddle " << meddle);
    if (meddle == kMinimize) ShowWindow(hwnd(), SW_MINIMIZE);
    if (meddle == kMoveAway) SetWindowPos(hwnd(), nullptr, 300, 200, 400, 300, SWP_NOZORDER);
    fx.clock.set_hour(hour, 7);
    SendMessageW(hwnd(), WM_TIMER, Form1Window::kTimer1, 0);
    Pump();
    const bool locked = hour == 0;
    GetWindowRect(hwnd(), &r);
    EXPECT_TRUE(!IsIconic(hwnd()) && (IsZoomed(hwnd()) != FALSE) == locked && Topmost(hwnd()) == locked);
    shown = ItemRect(Form1Window::kCommand2);  // 设置 fills the compact window: 615 x 260 twips
    EXPECT_TRUE(locked || (EqualRect(&r, &shown) && r.left == 0 && r.top == 0 && r.right == 41 && r.bottom == 17));
    if (!locked) continue;
    EXPECT_TRUE(r.left <= work.left && r.top <= work.top && r.right >= work.right && r.bottom >= work.bottom);
    EXPECT_EQ(Text(Item(Form1Window::kL1)), fx.clock.general_date(fx.clock.time));
    const RECT clock = ItemRect(Form1Window::kL1), banner = ItemRect(Form1Window::kLabel1);
    EXPECT_GT(clock.right - clock.left, 600) << "72 pt, sized to the date, not to \"Label1\"";
    EXPECT_TRUE(banner.top == 136 && banner.right - banner.left > 200 && banner.bottom - banner.top > 30)
        << "26.25 pt, sized to its text";
  }
}

// Real ticks come only once the window is shown: the hidden one stays hidden
// while the shown one ticks.
TEST_F(Form1WindowTest, Timer1TicksOnlyOnceShown) {
  test::FakeServices other;
  other.profile.set_text(store::kSettingsFile, "[HOUR]\r\n");
  Form1Window hidden{other.services};
  hidden.set_enabled(true);
  fx.clock.set_hour(0);
  EXPECT_TRUE(WaitFor([&] { return fx.clock.reads >= 3; }));
  EXPECT_TRUE(IsZoomed(hwnd()));
  EXPECT_EQ(other.clock.reads, 0);
  EXPECT_FALSE(IsWindowVisible(hidden.hwnd()));
}

TEST_F(Form1WindowTest, RefusesCloseRequestsAndEndsWithTheSession) {
  const HWND h = hwnd();
  SendMessageW(h, WM_CLOSE, 0, 0);
  SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageW(h, WM_SYSKEYDOWN, VK_F4, LPARAM{1} << 29);  // Alt+F4
  EXPECT_FALSE(Pump());
  EXPECT_TRUE(IsWindow(h) && IsWindowVisible(h));
  EXPECT_NE(SendMessageW(h, WM_QUERYENDSESSION, 0, 0), 0);
  SendMessageW(h, WM_ENDSESSION, FALSE, 0);  // cancelled by another program
  EXPECT_TRUE(IsWindow(h));
  SendMessageW(h, WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(Pump());
  EXPECT_FALSE(IsWindow(h));
}

TEST_F(Form1WindowTest, ButtonsReachTheirHandlers) {
  std::string hours;
  for (int h = 23; h >= 1; --h) hours += std::to_string(h) + "点  ";
  const struct { int id; const char* file; test::Log log; std::string label2; RECT at; } cases[] = {
      {Form1Window::kCommand4, nullptr, {}, hours, {180, 0, 240, 17}},
      {Form1Window::kCommand5, nullptr, {}, hours, {120, 0, 180, 17}},
      {Form1Window::kCommand1, nullptr, {"start RunDll32.exe user32.dll,LockWorkStation /1"}, hours, {80, 0, 121, 17}},
      {Form1Window::kCommand3, nullptr, {"exit_windows 12 0"}, hours, {40, 0, 81, 17}},
      {Form1Window::kCommand2, nullptr, {"settings door"}, hours, {0, 0, 41, 17}},
      {Form1Window::kCommand4, "[HOUR]\r\n", {}, "", {180, 0, 240, 17}},  // shrinks back
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    if (c.file != nullptr) fx.profile.set_text(store::kSettingsFile, c.file);
    fx.log.clear();
    SendMessageW(Item(c.id), BM_CLICK, 0, 0);
    Pump();
    EXPECT_EQ(fx.log, c.log);
    EXPECT_EQ(window.hours_text(), c.label2);
    const RECT r = ItemRect(c.id), label2 = ItemRect(Form1Window::kLabel2);
    EXPECT_TRUE(EqualRect(&r, &c.at)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    EXPECT_EQ(label2.left == 248 && label2.right - label2.left > 500, !c.label2.empty()) << "sized to its text";
  }
}

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

  // The whole monitor is covered, not its work area: the task bar's strip too.
  RECT work{}, shrunk{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  shrunk = work;
  shrunk.bottom -= 40;
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &shrunk, 0));
  const auto monitors = covers.monitors();
  SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
  ASSERT_TRUE(monitors && !monitors->empty());
  EXPECT_EQ(monitors->front(), covers.main_window_monitor());
  EXPECT_EQ(monitors->front().bottom, GetSystemMetrics(SM_CYSCREEN));
}

// Wine has no virtual desktop manager: every answer is "unavailable".
TEST(VirtualDesktops, AbsentUnderWineChangesNothing) {
  w32::Win32VirtualDesktops desktops;
  if (desktops.available()) GTEST_SKIP() << "this system has virtual desktops";
  const Focused main;
  const auto id = reinterpret_cast<platform::WindowId>(main.hwnd);
  EXPECT_EQ(desktops.on_current_desktop(id), std::nullopt);
  EXPECT_EQ(desktops.foreground_desktop(), std::nullopt);
  EXPECT_FALSE(desktops.move_to_desktop(id, "{00000000-0000-0000-0000-000000000001}"));
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

HWND Item(HWND form, int id) { return GetDlgItem(form, id); }
void Click(HWND form, int id) { SendMessageW(Item(form, id), BM_CLICK, 0, 0); }
// Selects the entry with this text in the list or the picker.
void Select(HWND form, int id, const wchar_t* text) {
  const bool list = id == w32::kForm2List1;
  const auto i = SendMessageW(Item(form, id), list ? LB_FINDSTRINGEXACT : CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                              reinterpret_cast<LPARAM>(text));
  SendMessageW(Item(form, id), list ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(i), 0);
}
void Type(HWND edit, std::wstring_view text) { for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1); }
HWND EditOf(HWND box) { return FindWindowExW(box, nullptr, L"Edit", nullptr); }
// The password prompt, answered with OK.
Step Prompt(const wchar_t* password) {
  return {L"#32770", L"app", [password](HWND box) { Type(EditOf(box), password); Click(box, IDOK); }};
}

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
                  EXPECT_EQ(GetFocus(), edit) << "typing goes straight into the field";
                  EXPECT_EQ((GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) != 0, c.masked);
                  const HIMC ime = ImmGetContext(edit);
                  EXPECT_NE(ime, nullptr) << "a Chinese password needs the input method";
                  ImmReleaseContext(edit, ime);
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

std::string SettingsFile() {
  std::ifstream in("C:\\mdb.ini", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The password gate and the settings window over Windows' own profile
// functions, with a plain window in place of the main one: what Text1 saves
// is what the gate compares, in code page 936 on disk.
TEST(SettingsRoad, AParentEditsHoursAndPasswordThenEndsTheProgram) {
  test::FakeServices fx;
  w32::Win32ProfileFile profile;
  w32::Win32Dialogs dialogs{fx.system};
  auto& s = fx.system;
  platform::Services services{profile, fx.clock, s, s, s, s, s, s, dialogs};
  test::FakeForm1View main{fx.log};
  guard::Form1 form1{services, main};
  const Focused owner;
  w32::Win32Form2Host host{services, form1, owner.hwnd};
  settings::PasswordGate gate{services, form1, host};
  form1.set_settings_door(&gate);
  std::ofstream("C:\\mdb.ini", std::ios::binary) << test::SettingsText();

  const auto edit = [&](HWND form) {
    EXPECT_FALSE(IsWindowEnabled(owner.hwnd)) << "modal over the main window";
    EXPECT_FALSE(main.on);
    EXPECT_EQ(Text(Item(form, w32::kForm2Text1)), "907");
    EXPECT_EQ(SendMessageW(Item(form, w32::kForm2Combo1), CB_GETCURSEL, 0, 0), CB_ERR);
    Click(form, w32::kForm2Command1);  // nothing picked: nothing added
    for (const wchar_t* hour : {L"1", L"5"}) {
      Select(form, w32::kForm2List1, hour);
      Click(form, w32::kForm2Command2);
    }
    for (const wchar_t* hour : {L"5", L"3"}) {  // 3 is listed already
      Select(form, w32::kForm2Combo1, hour);
      Click(form, w32::kForm2Command1);
    }
    EXPECT_EQ(SendMessageW(Item(form, w32::kForm2List1), LB_GETCOUNT, 0, 0), 22) << "refreshed after each change";
    SetWindowTextW(Item(form, w32::kForm2Text1), L"家长=口令");
    Click(form, w32::kForm2Command3);
    PostMessageW(form, WM_CLOSE, 0, 0);
  };
  WithSteps({Prompt(L"907"), {w32::kForm2ClassName, L"设置", edit}}, [&] { form1.Command2_Click(); });
  std::vector<int> hours{2, 3, 4};
  for (int h = 6; h <= 23; ++h) hours.push_back(h);
  hours.push_back(5);
  EXPECT_EQ(SettingsFile(), platform::utf8_to_cp936(test::SettingsText(hours, "家长=口令")));
  std::string line;
  for (const int h : hours) line = std::to_string(h) + "点  " + line;
  EXPECT_EQ(main.hours, line);
  EXPECT_EQ(std::count(fx.log.begin(), fx.log.end(), "timer on"), 1);
  EXPECT_TRUE(IsWindowEnabled(owner.hwnd));

  WithSteps({Prompt(L"家长=口令"), {w32::kForm2ClassName, L"设置", [](HWND form) { Click(form, w32::kForm2Command4); }}},
            [&] { form1.Command2_Click(); });
  EXPECT_TRUE(main.unloaded);
  DeleteFileW(L"C:\\mdb.ini");
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
