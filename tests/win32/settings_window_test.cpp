// The real settings window and password prompt, in-process with fake
// services and a fake main window, driven by messages under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/win32/form2_window.h"

#include <uxtheme.h>

#include "platform/win32/input_box.h"
#include "platform/win32/text.h"
#include "settings/password_gate.h"
#include "settings_steps.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace w32 = platform::win32;
using test::FindOwnWindow;
using test::Log;
using test::WindowText;

constexpr std::string_view kFile = store::kSettingsFile;

int Dpi(int axis) {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, axis);
  ReleaseDC(nullptr, dc);
  return dpi;
}
int PxX(int twips) { return MulDiv(twips, Dpi(LOGPIXELSX), 1440); }
int PxY(int twips) { return MulDiv(twips, Dpi(LOGPIXELSY), 1440); }

RECT ChildRect(HWND parent, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(parent, id), &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<std::wstring> ListItems(HWND form) {
  HWND list = GetDlgItem(form, w32::kForm2List1);
  std::vector<std::wstring> items;
  const auto n = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    wchar_t buf[64] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
    items.emplace_back(buf);
  }
  return items;
}

std::vector<std::wstring> Hours(std::initializer_list<int> hours) {
  std::vector<std::wstring> out;
  for (int h : hours) out.push_back(std::to_wstring(h));
  return out;
}

void Click(HWND form, int id) { SendMessageW(GetDlgItem(form, id), BM_CLICK, 0, 0); }

void SelectListed(HWND form, const wchar_t* hour) {
  HWND list = GetDlgItem(form, w32::kForm2List1);
  const auto i = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(hour));
  ASSERT_GE(i, 0) << "hour not listed";
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
}

void PickHour(HWND form, const wchar_t* hour) {
  HWND combo = GetDlgItem(form, w32::kForm2Combo1);
  const auto i = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(hour));
  ASSERT_GE(i, 0) << "hour not offered";
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
}

// The password prompt answered with OK or Cancel.
test::Steps::Step Answer(std::wstring typed, bool ok) {
  return [typed, ok] {
    HWND box = FindOwnWindow(L"#32770", L"app");
    if (box == nullptr) return false;
    test::Type(FindWindowExW(box, nullptr, L"Edit", nullptr), typed);
    SendMessageW(GetDlgItem(box, ok ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    return true;
  };
}

// Acts on the settings window once it is up.
test::Steps::Step OnForm2(std::function<void(HWND)> act) {
  return [act] {
    HWND form = FindOwnWindow(w32::kForm2ClassName, L"设置");
    if (form == nullptr) return false;
    act(form);
    return true;
  };
}

class PromptDialogs final : public platform::Dialogs {
 public:
  int message_box(std::string_view text, unsigned) override {
    ADD_FAILURE() << "unexpected message " << text;
    return platform::kIdOk;
  }
  std::string input_box(std::string_view prompt, std::string_view title, bool masked) override {
    return w32::ShowInputBox(prompt, title, masked);
  }
};

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd, msg, wp, lp); }

// The pieces of a running program, with the real prompt and settings window
// and a plain window standing in for the main one as their owner.
struct Rig {
  Rig() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QorvelTestOwner";
    RegisterClassW(&wc);  // fails harmlessly the second time
    owner = CreateWindowExW(0, L"QorvelTestOwner", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    host.set_owner(owner);
    form1.set_settings_door(&gate);
    fx.profile.set_text(kFile, test::FirstRunFileText());
  }
  ~Rig() { DestroyWindow(owner); }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  long Count(std::string_view entry) const { return std::count(fx.log.begin(), fx.log.end(), entry); }

  test::FakeServices fx;
  PromptDialogs dialogs;
  platform::Services services{fx.profile, fx.clock,    fx.process, fx.files, fx.privilege,
                              fx.power,   fx.shell,    fx.registry, dialogs};
  test::FakeForm1View main{fx.log};
  guard::Form1 form1{services, main};
  HWND owner = nullptr;
  w32::Win32Form2Host host{services, form1};
  settings::PasswordGate gate{services, form1, host};
};

std::string FileWithHours(std::initializer_list<int> hours, std::string_view password) {
  std::string text = "[HOUR]\r\n";
  for (int h : hours) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  return text + "[mm]\r\nnober=" + std::string(password) + "\r\n[bb]\r\ntwo=0\r\n";
}

TEST(SettingsRoad, AParentEditsHoursAndPasswordThenTheGuardResumes) {
  Rig r;
  bool visited = false;
  {
    test::Steps steps({Answer(L"907", true), OnForm2([&](HWND form) {
                         visited = true;
                         EXPECT_EQ(GetWindow(form, GW_OWNER), r.owner);
                         EXPECT_FALSE(IsWindowEnabled(r.owner)) << "modal over the main window";
                         EXPECT_FALSE(r.main.fake_timer().enabled());
                         EXPECT_EQ(ListItems(form).size(), 23u);
                         EXPECT_EQ(WindowText(GetDlgItem(form, w32::kForm2Text1)), L"907");

                         for (const wchar_t* hour : {L"22", L"23", L"5"}) {
                           SelectListed(form, hour);
                           Click(form, w32::kForm2Command2);
                         }
                         EXPECT_EQ(SendMessageW(GetDlgItem(form, w32::kForm2List1), LB_GETCURSEL, 0, 0), LB_ERR);
                         PickHour(form, L"5");
                         Click(form, w32::kForm2Command1);
                         PickHour(form, L"3");  // listed already
                         Click(form, w32::kForm2Command1);
                         EXPECT_EQ(ListItems(form), Hours({1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                                           18, 19, 20, 21, 5}));

                         SetWindowTextW(GetDlgItem(form, w32::kForm2Text1), L"新=密码");
                         Click(form, w32::kForm2Command3);
                         EXPECT_TRUE(IsWindow(form)) << "saving does not close";
                         PostMessageW(form, WM_CLOSE, 0, 0);
                       })});
    r.form1.Command2_Click();
  }
  ASSERT_TRUE(visited);
  EXPECT_EQ(r.fx.profile.text(kFile),
            FileWithHours({1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 5}, "新=密码"));
  EXPECT_EQ(r.Count("timer on"), 1);
  EXPECT_TRUE(r.main.fake_timer().enabled());
  EXPECT_EQ(r.main.hours, "5点  21点  20点  19点  18点  17点  16点  15点  14点  13点  12点  11点  10点  9点  8点  7点  "
                          "6点  4点  3点  2点  1点  ");
  EXPECT_TRUE(IsWindowEnabled(r.owner));
  EXPECT_EQ(FindOwnWindow(w32::kForm2ClassName, L"设置"), nullptr);

  // The next ticks follow the new list.
  r.fx.clock.set_hour(22);
  r.form1.Timer1_Timer();
  EXPECT_TRUE(r.main.fake_window().topmost);
  r.fx.clock.set_hour(5);
  r.form1.Timer1_Timer();
  EXPECT_FALSE(r.main.fake_window().topmost);

  // And the new password is the one asked for.
  r.fx.log.clear();
  {
    test::Steps steps({Answer(L"新=密码", true), OnForm2([](HWND form) { PostMessageW(form, WM_CLOSE, 0, 0); })});
    r.form1.Command2_Click();
  }
  EXPECT_EQ(r.Count("timer on"), 1);
}

struct CloseCase {
  const char* name;
  std::function<void(HWND)> close;
  bool program_ends;
  bool quit_passed_on;
};

void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }

class Form2Close : public ::testing::TestWithParam<CloseCase> {};

TEST_P(Form2Close, RunsTheUnloadOnceAndEndsTheModalLoop) {
  const auto& c = GetParam();
  Rig r;
  r.main.hours = "stale";
  {
    test::Steps steps({OnForm2(c.close)});
    r.host.show_modal();
  }
  MSG msg{};
  const bool quit = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
  EXPECT_EQ(quit, c.quit_passed_on);
  if (quit) {
    EXPECT_EQ(msg.wParam, 3u);
  }
  EXPECT_EQ(r.Count("timer on"), 1);
  EXPECT_EQ(r.Count("Label2 "), 1);
  EXPECT_NE(r.main.hours, "stale");
  EXPECT_EQ(r.main.unloaded, c.program_ends);
  EXPECT_EQ(r.fx.profile.text(kFile), test::FirstRunFileText()) << "closing writes nothing";
  EXPECT_TRUE(IsWindowEnabled(r.owner));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, Form2Close,
    ::testing::Values(
        CloseCase{"WmClose", [](HWND f) { PostMessageW(f, WM_CLOSE, 0, 0); }, false, false},
        CloseCase{"CloseBox", [](HWND f) { PostMessageW(f, WM_SYSCOMMAND, SC_CLOSE, 0); }, false, false},
        CloseCase{"AltF4", [](HWND f) { PostMessageW(f, WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29)); }, false, false},
        CloseCase{"EndButton", [](HWND f) { Click(f, w32::kForm2Command4); }, true, false},
        CloseCase{"ProgramQuits", [](HWND) { PostQuitMessage(3); }, false, true}),
    [](const auto& tc) { return std::string(tc.param.name); });

// The executable's manifest asks for Common Controls 6, whose themed
// controls draw differently; the looks are checked both ways.
class ManifestContext {
 public:
  explicit ManifestContext(bool active) {
    if (!active) return;
    ACTCTXW ctx{};
    ctx.cbSize = sizeof ctx;
    const std::wstring path = w32::Widen(QORVEL_MANIFEST);
    ctx.lpSource = path.c_str();
    handle_ = CreateActCtxW(&ctx);
    if (handle_ != INVALID_HANDLE_VALUE) ActivateActCtx(handle_, &cookie_);
  }
  ~ManifestContext() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    DeactivateActCtx(0, cookie_);
    ReleaseActCtx(handle_);
  }
  ManifestContext(const ManifestContext&) = delete;
  ManifestContext& operator=(const ManifestContext&) = delete;
  [[nodiscard]] bool failed(bool wanted) const { return wanted && handle_ == INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie_ = 0;
};

// Layout and looks, on a window created but not shown modally.
class Form2Looks : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(context.failed(GetParam())) << "manifest not loaded";
    const bool themed = GetWindowTheme(GetDlgItem(form(), w32::kForm2Command1)) != nullptr;
    ASSERT_EQ(themed, GetParam()) << "buttons of the wrong common controls";
  }
  ManifestContext context{GetParam()};
  w32::Form2Window window{nullptr};
  HWND form() const { return window.hwnd(); }
};

INSTANTIATE_TEST_SUITE_P(Controls, Form2Looks, ::testing::Values(false, true),
                         [](const auto& tc) { return std::string(tc.param ? "CommonControls6" : "Classic"); });

TEST_P(Form2Looks, CaptionClientSizeAndCentre) {
  ASSERT_TRUE(window.alive());
  EXPECT_EQ(WindowText(form()), L"设置");
  const LONG style = GetWindowLongW(form(), GWL_STYLE);
  EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) && (style & WS_THICKFRAME));
  RECT client{};
  GetClientRect(form(), &client);
  EXPECT_EQ(client.right, PxX(4425));
  EXPECT_EQ(client.bottom, PxY(4845));
  RECT outer{};
  GetWindowRect(form(), &outer);
  EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
}

TEST_P(Form2Looks, ControlsHaveTheirTextsAndPlaces) {
  struct Expect { int id; const wchar_t* text; int left, top, width, height; };  // twips, in the client
  const Expect controls[] = {
      {w32::kForm2Frame1, L"设置", 120, 120, 4215, 1215},
      {w32::kForm2Label1, L"选择可上网时段", 240, 630, -1, -1},
      {w32::kForm2Combo1, L"", 1680, 600, 1575, 300},
      {w32::kForm2Command1, L"添加", 3360, 600, 855, 300},
      {w32::kForm2Frame2, L"当前可上网时段", 120, 1440, 4215, 2895},
      {w32::kForm2List1, L"", 360, 1800, 2775, 2340},
      {w32::kForm2Command2, L"删除时段", 3240, 1920, 975, 495},
      {w32::kForm2Label2, L"当前密码", 120, 4480, -1, -1},
      {w32::kForm2Text1, L"", 960, 4440, 2175, 270},
      {w32::kForm2Command3, L"修改", 3240, 4440, 1095, 300},
      {w32::kForm2Command4, L"结束Qorvel", 840, 0, 1335, 255},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(c.id);
    HWND control = GetDlgItem(form(), c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(WindowText(control), c.text);
    const RECT r = ChildRect(form(), c.id);
    EXPECT_EQ(r.left, PxX(c.left));
    EXPECT_EQ(r.top, PxY(c.top));
    if (c.width >= 0) {
      EXPECT_EQ(r.right - r.left, PxX(c.width));
      EXPECT_EQ(r.bottom - r.top, PxY(c.height));
    } else {  // sized to its text: one line, nothing cut
      EXPECT_GT(r.right - r.left, 0);
      EXPECT_LT(r.right - r.left, PxX(1560 - 120)) << "runs into the picker";
    }
  }
  // The end button sits above the group it overlaps.
  HWND above = GetWindow(GetDlgItem(form(), w32::kForm2Command4), GW_HWNDNEXT);
  bool frame_below = false;
  for (; above != nullptr; above = GetWindow(above, GW_HWNDNEXT)) {
    frame_below |= above == GetDlgItem(form(), w32::kForm2Frame1);
  }
  EXPECT_TRUE(frame_below);
}

TEST_P(Form2Looks, PickerOffersOneToTwentyThreeAndNothingElse) {
  HWND combo = GetDlgItem(form(), w32::kForm2Combo1);
  EXPECT_EQ(GetWindowLongW(combo, GWL_STYLE) & 0x3, CBS_DROPDOWNLIST) << "accepts only its own items";
  ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 23);
  for (int i = 0; i < 23; ++i) {
    wchar_t buf[8] = {};
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
    EXPECT_EQ(std::wstring(buf), std::to_wstring(i + 1));
  }
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(window.combo_text(), "");
}

TEST_P(Form2Looks, ListIsUnsortedInBoldYaHei) {
  HWND list = GetDlgItem(form(), w32::kForm2List1);
  EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & LBS_SORT, 0);
  for (const char* item : {"9", "10", "1", "5"}) window.add_list_item(item);
  EXPECT_EQ(window.list_items(), (std::vector<std::string>{"9", "10", "1", "5"}));
  LOGFONTW font{};
  ASSERT_NE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font, &font), 0);
  EXPECT_STREQ(font.lfFaceName, L"微软雅黑");
  EXPECT_GE(font.lfWeight, FW_BOLD);
  EXPECT_EQ(font.lfHeight, -MulDiv(105, Dpi(LOGPIXELSY), 720));
}

// Renders a control into a bitmap through WM_PRINTCLIENT and returns its pixels.
std::vector<COLORREF> Render(HWND control, int& width) {
  RECT r{};
  GetClientRect(control, &r);
  width = r.right;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
  HGDIOBJ old = SelectObject(dc, bitmap);
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < r.bottom; ++y) {
    for (int x = 0; x < r.right; ++x) pixels.push_back(GetPixel(dc, x, y));
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return pixels;
}

TEST_P(Form2Looks, EndButtonIsRedWithDarkText) {
  int width = 0;
  const auto pixels = Render(GetDlgItem(form(), w32::kForm2Command4), width);
  ASSERT_FALSE(pixels.empty());
  const auto red = std::count(pixels.begin(), pixels.end(), RGB(255, 0, 0));
  const auto text = std::count(pixels.begin(), pixels.end(), GetSysColor(COLOR_BTNTEXT));
  EXPECT_GT(red * 2, static_cast<long>(pixels.size())) << "mostly red";
  EXPECT_GT(text, 10) << "the caption is drawn";
}

TEST_P(Form2Looks, GroupCaptionsInTheHighlightColour) {
  for (int id : {w32::kForm2Frame1, w32::kForm2Frame2}) {
    SCOPED_TRACE(id);
    int width = 0;
    const auto pixels = Render(GetDlgItem(form(), id), width);
    // Smoothed glyphs blend the highlight into the face: count the pixels
    // lying on that blend, well away from the face. Grey or black text does not.
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const double d[3] = {double(GetRValue(highlight)) - GetRValue(face), double(GetGValue(highlight)) - GetGValue(face),
                         double(GetBValue(highlight)) - GetBValue(face)};
    const auto tinted = std::count_if(pixels.begin(), pixels.end(), [&](COLORREF p) {
      const double v[3] = {double(GetRValue(p)) - GetRValue(face), double(GetGValue(p)) - GetGValue(face),
                           double(GetBValue(p)) - GetBValue(face)};
      const double t = (v[0] * d[0] + v[1] * d[1] + v[2] * d[2]) / (d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      double off = 0;
      for (int i = 0; i < 3; ++i) off += std::abs(v[i] - t * d[i]);
      return t > 0.4 && off < 40;
    });
    EXPECT_GT(tinted, 20) << "caption in the highlight colour";
  }
}

TEST_P(Form2Looks, PasswordFieldRoundTripsChinese) {
  window.set_password_text("家长=口令");
  EXPECT_EQ(window.password_text(), "家长=口令");
  EXPECT_EQ(GetWindowLongW(GetDlgItem(form(), w32::kForm2Text1), GWL_STYLE) & ES_PASSWORD, 0)
      << "the parent sees the password here";
}

}  // namespace
}  // namespace qorvel
