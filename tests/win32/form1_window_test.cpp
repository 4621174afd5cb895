// The real main window, in-process with fake services, under Wine.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/win32/clock_win32.h"
#include "platform/win32/form1_window.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/text.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using platform::win32::Form1Window;
using platform::win32::Narrow;

std::string Text(HWND hwnd) {
  wchar_t buf[512] = {};
  GetWindowTextW(hwnd, buf, 512);
  return Narrow(buf);
}

// Dispatches what is queued, for at least ms milliseconds; true when a WM_QUIT came.
bool Pump(DWORD ms = 0) {
  bool quit = false;
  for (const ULONGLONG end = GetTickCount64() + ms;; Sleep(5)) {
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
      quit |= msg.message == WM_QUIT;
      DispatchMessageW(&msg);
    }
    if (GetTickCount64() >= end) return quit;
  }
}

class Form1WindowTest : public ::testing::Test, guard::SettingsDoor {
 protected:
  void SetUp() override {
    if (GetDpiForSystem() != 96) GTEST_SKIP() << "pixel checks assume 96 DPI";
    fx.profile.set_text(store::kSettingsFile, test::FirstRunFileText());
    window.form().set_settings_door(this);
    window.show();
    Pump();
  }
  void open() override { fx.log.push_back("settings door"); }
  HWND hwnd() const { return window.hwnd(); }
  HWND Item(int id) const { return GetDlgItem(hwnd(), id); }
  RECT ItemRect(int id) const {
    RECT r{};
    GetWindowRect(Item(id), &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  bool Topmost() const { return (GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

  test::FakeServices fx;
  Form1Window window{fx.services};
};

TEST_F(Form1WindowTest, OpensAtDesignGeometryWithoutTaskBarButton) {
  EXPECT_EQ(Text(hwnd()), "Qorvel");
  const auto style = GetWindowLongPtrW(hwnd(), GWL_STYLE), ex = GetWindowLongPtrW(hwnd(), GWL_EXSTYLE);
  EXPECT_TRUE((style & WS_POPUP) && !(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU)));
  EXPECT_TRUE((ex & WS_EX_TOOLWINDOW) && !(ex & (WS_EX_APPWINDOW | WS_EX_TOPMOST)));
  RECT r{};
  GetWindowRect(hwnd(), &r);
  EXPECT_TRUE(r.right - r.left == 1037 && r.bottom - r.top == 937);  // 15555 x 14055 twips

  // Width or height -1: sized to its text, so only known to be there.
  struct Case { int id; const char* text; int left, top, width, height, label_font_height; };
  for (const auto& c : {Case{Form1Window::kCommand2, "设置", 0, 0, 41, 17, 0},
                        Case{Form1Window::kCommand3, "关机", 40, 0, 41, 17, 0},
                        Case{Form1Window::kCommand1, "锁屏", 80, 0, 41, 17, 0},
                        Case{Form1Window::kCommand5, "学习加时", 120, 0, 60, 17, 0},
                        Case{Form1Window::kCommand4, "可用时段", 180, 0, 60, 17, 0},
                        Case{Form1Window::kLabel2, "", 248, 0, 0, -1, -14},                  // 10.5 pt
                        Case{Form1Window::kL1, "Label1", 0, 24, -1, -1, -96},                // 72 pt
                        Case{Form1Window::kLabel1, "当前锁屏中>>>", 0, 136, -1, -1, -35}}) {  // 26.25 pt
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Text(Item(c.id)), c.text);
    r = ItemRect(c.id);
    EXPECT_TRUE(r.left == c.left && r.top == c.top);
    if (c.width >= 0) EXPECT_EQ(r.right - r.left, c.width); else EXPECT_GT(r.right - r.left, 0);
    if (c.height >= 0) EXPECT_EQ(r.bottom - r.top, c.height); else EXPECT_GT(r.bottom - r.top, 0);
    if (c.label_font_height == 0) continue;
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Item(c.id), WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_TRUE(font.lfHeight == c.label_font_height && font.lfWeight == FW_BOLD && font.lfCharSet == GB2312_CHARSET);
    EXPECT_EQ(Narrow(font.lfFaceName), "微软雅黑");
  }
}

TEST_F(Form1WindowTest, EachTickAppliesItsLayoutWhateverTheUserDid) {
  enum Meddle { kNone, kMinimize, kMoveAway };
  struct Step { int hour; Meddle meddle; bool locked; };
  RECT work{}, r{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  // The first-run file allows 1 to 23; hour 0 locks.
  for (const auto& s : {Step{0, kNone, true}, Step{0, kMinimize, true}, Step{1, kMinimize, false},
                        Step{1, kMoveAway, false}, Step{0, kNone, true}, Step{23, kNone, false}}) {
    SCOPED_TRACE(testing::Message() << "hour " << s.hour << " meddle " << s.meddle);
    if (s.meddle == kMinimize) ShowWindow(hwnd(), SW_MINIMIZE);
    if (s.meddle == kMoveAway) SetWindowPos(hwnd(), nullptr, 300, 200, 400, 300, SWP_NOZORDER);
    fx.clock.set_hour(s.hour, 7);
    SendMessageW(hwnd(), WM_TIMER, Form1Window::kTimer1, 0);
    Pump();
    GetWindowRect(hwnd(), &r);
    EXPECT_TRUE(!IsIconic(hwnd()) && (IsZoomed(hwnd()) != FALSE) == s.locked && Topmost() == s.locked);
    const RECT compact{0, 0, 41, 17}, clock = ItemRect(Form1Window::kL1);  // 615 x 260 twips
    EXPECT_TRUE(s.locked || EqualRect(&r, &compact));
    if (!s.locked) continue;
    EXPECT_TRUE(r.left <= work.left && r.top <= work.top && r.right >= work.right && r.bottom >= work.bottom);
    EXPECT_EQ(Text(Item(Form1Window::kL1)), fx.clock.general_date(fx.clock.time));
    EXPECT_GT(clock.right - clock.left, 600);  // sized to the date, not to "Label1"
  }
}

// Real ticks: none before show(), none while disabled, then every 500 ms.
TEST_F(Form1WindowTest, Timer1TicksOnlyWhenShownAndEnabled) {
  Form1Window hidden{fx.services};
  fx.clock.set_hour(0);
  Pump(1200);
  EXPECT_TRUE(IsZoomed(hwnd()));
  EXPECT_EQ(Text(GetDlgItem(hidden.hwnd(), Form1Window::kL1)), "Label1");
  window.set_enabled(false);
  fx.clock.set_hour(1);
  Pump(700);
  EXPECT_TRUE(IsZoomed(hwnd()) && Topmost());
  window.set_enabled(true);
  Pump(700);
  EXPECT_FALSE(IsZoomed(hwnd()) || Topmost());
}

TEST_F(Form1WindowTest, RefusesCloseRequestsAndEndsWithTheSession) {
  const HWND h = hwnd();
  SendMessageW(h, WM_CLOSE, 0, 0);
  SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageW(h, WM_SYSKEYDOWN, VK_F4, LPARAM{1} << 29);  // Alt+F4
  EXPECT_FALSE(Pump(50));
  EXPECT_TRUE(IsWindow(h) && IsWindowVisible(h));
  EXPECT_NE(SendMessageW(h, WM_QUERYENDSESSION, 0, 0), 0);
  SendMessageW(h, WM_ENDSESSION, FALSE, 0);  // cancelled by another program
  EXPECT_TRUE(IsWindow(h));
  SendMessageW(h, WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(Pump());
  EXPECT_FALSE(IsWindow(h));
}

// Command3 is left out on purpose: it powers the machine off.
TEST_F(Form1WindowTest, ButtonsReachTheirHandlers) {
  std::string hours;
  for (int h = 23; h >= 1; --h) hours += std::to_string(h) + "点  ";
  struct Case { int id; const char* file; test::Log log; std::string label2; };
  for (const auto& c : {Case{Form1Window::kCommand4, nullptr, {}, hours},
                        Case{Form1Window::kCommand5, nullptr, {}, hours},
                        Case{Form1Window::kCommand1, nullptr, {"start RunDll32.exe user32.dll,LockWorkStation /1"}, hours},
                        Case{Form1Window::kCommand2, nullptr, {"settings door"}, hours},
                        Case{Form1Window::kCommand4, "[HOUR]\r\n", {}, ""}}) {  // shrinks back
    SCOPED_TRACE(c.id);
    if (c.file != nullptr) fx.profile.set_text(store::kSettingsFile, c.file);
    fx.log.clear();
    SendMessageW(Item(c.id), BM_CLICK, 0, 0);
    Pump();
    EXPECT_EQ(fx.log, c.log);
    EXPECT_EQ(window.hours_text(), c.label2);
    EXPECT_EQ(ItemRect(Form1Window::kLabel2).right > 500 + 248, !c.label2.empty()) << "sized to its text";
  }
}

// The RunDll32.exe beside this test is a stand-in that writes down how it
// was started; CreateProcess looks in the program's own folder first.
TEST_F(Form1WindowTest, LockButtonStartsRunDll32WithANormalWindow) {
  platform::win32::Win32Shell shell;
  platform::Services real{fx.profile, fx.clock, fx.process, fx.files, fx.privilege,
                          fx.power,   shell,    fx.registry, fx.system, fx.system};
  Form1Window with_shell{real};
  const std::wstring marker = L"qorvel-rundll32.txt";  // in the folder the stand-in inherits
  DeleteFileW(marker.c_str());
  SetEnvironmentVariableW(L"QORVEL_STANDIN_MARKER", marker.c_str());
  SendMessageW(GetDlgItem(with_shell.hwnd(), Form1Window::kCommand1), BM_CLICK, 0, 0);
  for (int i = 0; i < 400 && GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  std::ifstream in(marker.c_str(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "show=1\nRunDll32.exe user32.dll,LockWorkStation");
  in.close();
  DeleteFileW(marker.c_str());
}

// The locale's general date: date and time, but the date alone at midnight.
TEST(Win32Clock, WritesTheDateAloneAtMidnight) {
  const platform::win32::Win32Clock clock;
  const platform::LocalTime midnight{2026, 12, 6, 0, 0, 0};
  const std::string date = clock.general_date(midnight);
  EXPECT_NE(date.find("2026"), std::string::npos);
  EXPECT_EQ(date.find(' '), std::string::npos);
  for (const auto& t : {platform::LocalTime{2026, 12, 6, 0, 0, 1}, platform::LocalTime{2026, 12, 6, 23, 59, 58}}) {
    const std::string text = clock.general_date(t);
    EXPECT_EQ(text.substr(0, date.size() + 1), date + " ");
    EXPECT_NE(text.find(t.second == 1 ? "01" : "58"), std::string::npos);
  }
}

}  // namespace
}  // namespace qorvel
