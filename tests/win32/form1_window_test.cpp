// The real main window, in-process with fake services, under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/clock_win32.h"
#include "platform/win32/form1_window.h"
#include "platform/win32/text.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using platform::win32::Form1Window;
using platform::win32::Narrow;

bool g_quit = false;  // a WM_QUIT came through the pump

void Pump(DWORD ms = 0) {
  const ULONGLONG end = GetTickCount64() + ms;
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) g_quit = true;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (ms > 0) Sleep(5);
  } while (GetTickCount64() < end);
}

// Sends from another thread, as another program would, pumping meanwhile.
LRESULT SendFromOutside(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  std::atomic<bool> done{false};
  LRESULT result = 0;
  std::thread sender([&] { result = SendMessageW(hwnd, msg, wp, lp); done = true; });
  while (!done) Pump(5);
  sender.join();
  return result;
}

std::string Text(HWND hwnd) {
  wchar_t buf[512] = {};
  GetWindowTextW(hwnd, buf, 512);
  return Narrow(buf);
}

RECT ChildRect(HWND parent, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(parent, id), &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

class Form1WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    if (dpi != 96) GTEST_SKIP() << "pixel checks assume 96 DPI, screen has " << dpi;
    fx.profile.set_text(store::kSettingsFile, test::FirstRunFileText());
    g_quit = false;
    window.show();
    Pump();
  }
  HWND hwnd() const { return window.hwnd(); }
  void Tick(int hour) {
    fx.clock.set_hour(hour, 7);
    SendMessageW(hwnd(), WM_TIMER, Form1Window::kTimer1, 0);
    Pump();
  }
  bool Topmost() const { return (GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

  test::FakeServices fx;
  Form1Window window{fx.services};
};

TEST_F(Form1WindowTest, OpensBorderlessAtDesignSizeWithoutTaskBarButton) {
  EXPECT_EQ(Text(hwnd()), "Qorvel");
  const auto style = GetWindowLongPtrW(hwnd(), GWL_STYLE);
  const auto ex = GetWindowLongPtrW(hwnd(), GWL_EXSTYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU));
  EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(ex & (WS_EX_APPWINDOW | WS_EX_TOPMOST));
  RECT r{};
  GetWindowRect(hwnd(), &r);
  EXPECT_EQ(r.right - r.left, 1037);  // 15555 twips
  EXPECT_EQ(r.bottom - r.top, 937);   // 14055 twips
}

TEST_F(Form1WindowTest, ControlsAtDesignGeometry) {
  struct Case { int id; const char* text; int left, top, width, height, label_font_height; };
  const Case cases[] = {
      {Form1Window::kCommand2, "设置", 0, 0, 41, 17, 0},
      {Form1Window::kCommand3, "关机", 40, 0, 41, 17, 0},
      {Form1Window::kCommand1, "锁屏", 80, 0, 41, 17, 0},
      {Form1Window::kCommand5, "学习加时", 120, 0, 60, 17, 0},
      {Form1Window::kCommand4, "可用时段", 180, 0, 60, 17, 0},
      {Form1Window::kLabel2, "", 248, 0, 0, -1, -14},  // 10.5 pt
      {Form1Window::kL1, "Label1", 0, 24, -1, -1, -96},  // 72 pt
      {Form1Window::kLabel1, "当前锁屏中>>>", 0, 136, -1, -1, -35},  // 26.25 pt
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    HWND control = GetDlgItem(hwnd(), c.id);
    EXPECT_EQ(Text(control), c.text);
    const RECT r = ChildRect(hwnd(), c.id);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.top, c.top);
    // -1: sized to its text, so only known to be there.
    if (c.width >= 0) EXPECT_EQ(r.right - r.left, c.width); else EXPECT_GT(r.right - r.left, 0);
    if (c.height >= 0) EXPECT_EQ(r.bottom - r.top, c.height); else EXPECT_GT(r.bottom - r.top, 0);
    if (c.label_font_height == 0) continue;
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    EXPECT_EQ(font.lfHeight, c.label_font_height);
    EXPECT_EQ(font.lfWeight, FW_BOLD);
    EXPECT_EQ(font.lfCharSet, GB2312_CHARSET);
    EXPECT_EQ(Narrow(font.lfFaceName), "微软雅黑");
  }
}

// Moved to a 200 % monitor: the twips are converted again, fonts included.
TEST_F(Form1WindowTest, FollowsADpiChange) {
  RECT suggested{0, 0, 2074, 1874};
  SendMessageW(hwnd(), WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  const RECT r = ChildRect(hwnd(), Form1Window::kCommand4);
  EXPECT_EQ(r.left, 360);
  EXPECT_EQ(r.right - r.left, 120);
  EXPECT_EQ(r.bottom - r.top, 34);
  EXPECT_EQ(ChildRect(hwnd(), Form1Window::kLabel1).top, 272);
  LOGFONTW font{};
  HWND l1 = GetDlgItem(hwnd(), Form1Window::kL1);
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(l1, WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_EQ(font.lfHeight, -192);
}

TEST_F(Form1WindowTest, EachTickAppliesItsLayoutWhateverTheUserDid) {
  enum Meddle { kNone, kMinimize, kMoveAway };
  struct Step { int hour; Meddle meddle; bool locked; };
  // The first-run file allows 1 to 23; hour 0 locks.
  const Step steps[] = {{0, kNone, true},      {0, kMinimize, true},  {1, kMinimize, false},
                        {1, kMoveAway, false}, {1, kMinimize, false}, {0, kNone, true},
                        {23, kNone, false}};
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "hour " << s.hour << " meddle " << s.meddle);
    if (s.meddle == kMinimize) ShowWindow(hwnd(), SW_MINIMIZE);
    if (s.meddle == kMoveAway) SetWindowPos(hwnd(), nullptr, 300, 200, 400, 300, SWP_NOZORDER);
    Tick(s.hour);
    RECT r{};
    GetWindowRect(hwnd(), &r);
    EXPECT_FALSE(IsIconic(hwnd()));
    EXPECT_EQ(IsZoomed(hwnd()) != FALSE, s.locked);
    EXPECT_EQ(Topmost(), s.locked);
    if (s.locked) {
      EXPECT_TRUE(r.left <= work.left && r.top <= work.top && r.right >= work.right && r.bottom >= work.bottom);
      EXPECT_EQ(Text(GetDlgItem(hwnd(), Form1Window::kL1)), fx.clock.general_date(fx.clock.time));
      const RECT clock = ChildRect(hwnd(), Form1Window::kL1);
      EXPECT_GT(clock.right - clock.left, 600);  // sized to the date, not to "Label1"
    } else {
      // 615 x 260 twips: 41 x 17.33 px, rounded to the nearest pixel.
      const RECT compact{0, 0, 41, 17};
      EXPECT_TRUE(EqualRect(&r, &compact));
    }
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
  EXPECT_FALSE(window.enabled());
  fx.clock.set_hour(1);
  Pump(700);
  EXPECT_TRUE(IsZoomed(hwnd()) && Topmost());
  window.set_enabled(true);
  Pump(700);
  EXPECT_FALSE(IsZoomed(hwnd()) || Topmost());
}

TEST_F(Form1WindowTest, RefusesCloseRequestsFromOutside) {
  struct Case { const char* name; UINT msg; WPARAM wp; LPARAM lp; };
  const Case cases[] = {
      {"WM_CLOSE", WM_CLOSE, 0, 0},
      {"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE, 0},
      {"Alt+F4", WM_SYSKEYDOWN, VK_F4, LPARAM{1} << 29},  // bit 29: Alt held
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SendFromOutside(hwnd(), c.msg, c.wp, c.lp);
    Pump(50);
    EXPECT_TRUE(IsWindow(hwnd()) && IsWindowVisible(hwnd()));
    EXPECT_FALSE(g_quit);
  }
}

TEST_F(Form1WindowTest, SessionEndEndsTheProgram) {
  EXPECT_NE(SendFromOutside(hwnd(), WM_QUERYENDSESSION, 0, 0), 0);
  SendFromOutside(hwnd(), WM_ENDSESSION, FALSE, 0);  // cancelled by another program
  EXPECT_TRUE(IsWindow(hwnd()));
  HWND h = hwnd();
  SendFromOutside(h, WM_ENDSESSION, TRUE, 0);
  Pump();
  EXPECT_FALSE(IsWindow(h));
  EXPECT_TRUE(g_quit);
}

struct LoggingDoor final : guard::SettingsDoor {
  explicit LoggingDoor(test::Log& log) : log_(log) {}
  void open() override { log_.push_back("settings door"); }
  test::Log& log_;
};

TEST_F(Form1WindowTest, ButtonsReachTheirHandlers) {
  // Command3 is left out on purpose: it powers the machine off.
  LoggingDoor door(fx.log);
  window.form().set_settings_door(&door);
  std::string hours;
  for (int h = 23; h >= 1; --h) hours += std::to_string(h) + "点  ";
  struct Case { int id; const char* file; test::Log log; const char* label2; };
  const Case cases[] = {
      {Form1Window::kCommand4, nullptr, {}, hours.c_str()},
      {Form1Window::kCommand5, nullptr, {}, hours.c_str()},
      {Form1Window::kCommand1, nullptr, {"start RunDll32.exe user32.dll,LockWorkStation /1"}, hours.c_str()},
      {Form1Window::kCommand2, nullptr, {"settings door"}, hours.c_str()},
      {Form1Window::kCommand4, "[HOUR]\r\n", {}, ""},  // shrinks back
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    if (c.file != nullptr) fx.profile.set_text(store::kSettingsFile, c.file);
    fx.log.clear();
    SendMessageW(GetDlgItem(hwnd(), c.id), BM_CLICK, 0, 0);
    Pump();
    std::erase_if(fx.log, [](const std::string& e) { return e.starts_with("Label2"); });
    EXPECT_EQ(fx.log, c.log);
    EXPECT_EQ(window.hours_text(), c.label2);
    const RECT r = ChildRect(hwnd(), Form1Window::kLabel2);
    EXPECT_EQ(r.right - r.left > 500, *c.label2 != '\0');
  }
}

TEST(Win32ClockTest, GeneralDateIsDateAloneOnlyAtMidnight) {
  const platform::win32::Win32Clock clock;
  const platform::LocalTime midnight{2026, 3, 4, 0, 0, 0};
  const std::string date = clock.general_date(midnight);
  EXPECT_NE(date.find("2026"), std::string::npos);
  EXPECT_EQ(date.find(':'), std::string::npos);
  // Minutes and seconds are two digits in every locale's long time.
  struct Case { int h, m, s; const char* part; };
  for (const auto& c : {Case{0, 0, 1, "01"}, Case{0, 1, 0, "01"}, Case{12, 0, 0, "00"}, Case{23, 59, 58, "58"}}) {
    const std::string text = clock.general_date({2026, 3, 4, c.h, c.m, c.s});
    SCOPED_TRACE(text);
    ASSERT_TRUE(text.starts_with(date + " "));
    EXPECT_NE(text.find(c.part, date.size()), std::string::npos);
  }
}

}  // namespace
}  // namespace qorvel
