// The real settings window and password prompt, in-process with fake
// services and a fake main window, driven by messages from inside their
// modal loops under Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <imm.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/win32/dialogs_win32.h"
#include "platform/win32/form2_window.h"
#include "platform/win32/input_box.h"
#include "platform/win32/profile_file_win32.h"
#include "platform/win32/text.h"
#include "settings/password_gate.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace w32 = platform::win32;

// Acts on modal windows from inside their own message loops: a thread timer
// waits for each step's window to show, then acts on it. After about five
// seconds without it, every window is closed rather than left hanging.
struct Step {
  const wchar_t *window_class, *caption;
  std::function<void(HWND)> act;
};
std::vector<Step> g_steps;
std::size_t g_next = 0;
int g_waited = 0;

void CALLBACK RunNextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_next == g_steps.size()) return;
  const Step& step = g_steps[g_next];
  const HWND found = FindWindowW(step.window_class, step.caption);
  if (found != nullptr && IsWindowVisible(found)) {
    ++g_next;  // first: the action's own modal loop fires this timer too
    g_waited = 0;
    step.act(found);
  } else if (++g_waited == 250) {
    EnumThreadWindows(GetCurrentThreadId(), [](HWND hwnd, LPARAM) { return PostMessageW(hwnd, WM_CLOSE, 0, 0); }, 0);
  }
}

// Runs modal, which shows the steps' windows.
void WithSteps(std::vector<Step> steps, const std::function<void()>& modal) {
  g_steps = std::move(steps);
  g_next = 0;
  g_waited = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, RunNextStep);
  modal();
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_next, g_steps.size()) << "a window never showed";
}

HWND Item(HWND form, int id) { return GetDlgItem(form, id); }
std::wstring Text(HWND form, int id) {
  wchar_t text[64] = {};
  return std::wstring(text, GetDlgItemTextW(form, id, text, 64));
}
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

TEST(InputBox, ReturnsTheTypedTextOnlyOnOk) {
  struct Case { bool masked; std::wstring typed; UINT msg; WPARAM wp; std::string expected; };
  for (const auto& c : {Case{true, L"家长=口令", WM_COMMAND, IDOK, "家长=口令"},
                        Case{true, L"abc", WM_KEYDOWN, VK_RETURN, "abc"}, Case{false, L"Ab", WM_COMMAND, IDOK, "Ab"},
                        Case{true, L"907", WM_COMMAND, IDCANCEL, ""}, Case{true, L"907", WM_KEYDOWN, VK_ESCAPE, ""},
                        Case{true, L"907", WM_SYSCOMMAND, SC_CLOSE, ""}}) {
    SCOPED_TRACE(testing::Message() << c.expected << " " << c.msg << " " << c.wp);
    std::string answer;
    WithSteps({{L"#32770", L"app",
                [&c](HWND box) {
                  EXPECT_EQ(GetFocus(), EditOf(box)) << "typing goes straight into the field";
                  EXPECT_EQ((GetWindowLongW(EditOf(box), GWL_STYLE) & ES_PASSWORD) != 0, c.masked);
                  const HIMC ime = ImmGetContext(EditOf(box));
                  EXPECT_NE(ime, nullptr) << "a Chinese password needs the input method";
                  ImmReleaseContext(EditOf(box), ime);
                  EXPECT_NE(FindWindowExW(box, nullptr, L"Static", L"请输入密码"), nullptr);
                  Type(EditOf(box), c.typed);
                  PostMessageW(c.msg == WM_KEYDOWN ? EditOf(box) : box, c.msg, c.wp, 0);
                }}},
              [&] { answer = w32::ShowInputBox("请输入密码", "app", c.masked); });
    EXPECT_EQ(answer, c.expected);
  }
}

// A prompt left open must neither fall behind the lock nor keep the guard off.
TEST(InputBox, StaysAboveATopmostOwnerAndGivesUpWhenTheTimeRunsOut) {
  const HWND owner = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"lock", WS_POPUP | WS_VISIBLE, 0, 0, 200, 200,
                                     nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(owner);
  SetActiveWindow(owner);
  bool topmost = false;
  std::string answer = "unanswered";
  WithSteps({{L"#32770", L"app",
              [&](HWND box) {
                topmost = (GetWindowLongPtrW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
                Type(EditOf(box), L"90");  // typed, never confirmed
              }}},
            [&] { answer = w32::ShowInputBox("请输入密码", "app", true, std::chrono::seconds(1)); });
  EXPECT_TRUE(topmost);
  EXPECT_EQ(answer, "");
  DestroyWindow(owner);
}

// A running program's pieces, with a plain window in place of the main one.
// The settings file is kept in memory unless a real profile service is given.
struct Rig {
  explicit Rig(platform::ProfileFile* file = nullptr) : profile(file != nullptr ? *file : fx.profile) {
    form1.set_settings_door(&gate);
    fx.profile.set_text(store::kSettingsFile, test::FirstRunFileText());
  }
  ~Rig() { DestroyWindow(owner); }

  test::FakeServices fx;
  platform::ProfileFile& profile;
  w32::Win32Dialogs dialogs{fx.process};
  platform::Services services{profile,  fx.clock, fx.process,  fx.files, fx.privilege,
                              fx.power, fx.shell, fx.registry, dialogs, fx.system};
  test::FakeForm1View main{fx.log};
  guard::Form1 form1{services, main};
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
  w32::Win32Form2Host host{services, form1, owner};
  settings::PasswordGate gate{services, form1, host};
};

Step OnForm2(std::function<void(HWND)> act) { return {w32::kForm2ClassName, L"设置", std::move(act)}; }

TEST(SettingsRoad, AParentEditsHoursAndPasswordThenTheGuardResumes) {
  Rig r;
  const auto edit = [&](HWND form) {
    EXPECT_FALSE(IsWindowEnabled(r.owner)) << "modal over the main window";
    EXPECT_FALSE(r.main.fake_timer().enabled());
    EXPECT_EQ(Text(form, w32::kForm2Text1), L"907");
    const HWND picker = Item(form, w32::kForm2Combo1);
    EXPECT_EQ(GetWindowLongW(picker, GWL_STYLE) & 0x3, CBS_DROPDOWNLIST) << "accepts only its items";
    EXPECT_TRUE(SendMessageW(picker, CB_GETCOUNT, 0, 0) == 23 && SendMessageW(picker, CB_GETCURSEL, 0, 0) == CB_ERR);
    for (const wchar_t* hour : {L"22", L"23", L"5"}) {
      Select(form, w32::kForm2List1, hour);
      Click(form, w32::kForm2Command2);
    }
    for (const wchar_t* hour : {L"5", L"3"}) {  // 3 is listed already
      Select(form, w32::kForm2Combo1, hour);
      Click(form, w32::kForm2Command1);
    }
    EXPECT_EQ(SendMessageW(Item(form, w32::kForm2List1), LB_GETCOUNT, 0, 0), 21) << "refreshed after each change";
    SetWindowTextW(Item(form, w32::kForm2Text1), L"新=密码");
    Click(form, w32::kForm2Command3);
    EXPECT_EQ(Text(form, w32::kForm2Text1), L"新=密码") << "saving does not close";
    PostMessageW(form, WM_CLOSE, 0, 0);
  };
  WithSteps({{L"#32770", L"app", [](HWND box) { Type(EditOf(box), L"907"); Click(box, IDOK); }}, OnForm2(edit)},
            [&] { r.form1.Command2_Click(); });
  std::string file = "[HOUR]\r\n", label2;
  for (int h : {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 5}) {
    file += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
    label2 = std::to_string(h) + "点  " + label2;
  }
  EXPECT_EQ(r.fx.profile.text(store::kSettingsFile), file + "[mm]\r\nnober=新=密码\r\n[bb]\r\ntwo=0\r\n");
  EXPECT_EQ(r.main.hours, label2);
  EXPECT_EQ(std::count(r.fx.log.begin(), r.fx.log.end(), "timer on"), 1);
  EXPECT_TRUE(IsWindowEnabled(r.owner));
  for (const int hour : {22, 5}) {  // the next ticks follow the new list
    r.fx.clock.set_hour(hour);
    r.form1.Timer1_Timer();
    EXPECT_EQ(r.main.fake_window().topmost, hour == 22);
  }
}

// Through Windows' own profile functions: what Text1 saves is what the gate
// compares, in code page 936 on disk.
TEST(SettingsRoad, AChinesePasswordSavedInTheWindowOpensTheGate) {
  w32::Win32ProfileFile file;
  Rig r(&file);
  DeleteFileW(L"C:\\mdb.ini");
  const auto save = [](HWND form) {
    SetWindowTextW(Item(form, w32::kForm2Text1), L"");
    Type(Item(form, w32::kForm2Text1), L"家长口令");
    Click(form, w32::kForm2Command3);
    PostMessageW(form, WM_CLOSE, 0, 0);
  };
  WithSteps({{L"#32770", L"app", [](HWND box) { Type(EditOf(box), L"907"); Click(box, IDOK); }}, OnForm2(save)},
            [&] { r.form1.Command2_Click(); });
  std::ifstream in("C:\\mdb.ini", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[mm]\r\nnober=\xBC\xD2\xB3\xA4\xBF\xDA\xC1\xEE\r\n");
  in.close();

  bool opened = false;
  WithSteps({{L"#32770", L"app",
              [](HWND box) {
                Type(EditOf(box), L"家长口令");
                Click(box, IDOK);
              }},
             OnForm2([&](HWND form) {
               opened = true;
               PostMessageW(form, WM_CLOSE, 0, 0);
             })},
            [&] { r.form1.Command2_Click(); });
  EXPECT_TRUE(opened);
  DeleteFileW(L"C:\\mdb.ini");
}

TEST(SettingsRoad, EndButtonUnloadsBothWindowsAndLeavesTheFile) {
  Rig r;
  WithSteps({OnForm2([](HWND form) { Click(form, w32::kForm2Command4); })}, [&] { r.host.show_modal(); });
  EXPECT_TRUE(r.main.unloaded);
  EXPECT_EQ(r.fx.profile.text(store::kSettingsFile), test::FirstRunFileText());
  EXPECT_TRUE(IsWindowEnabled(r.owner));
}

}  // namespace
}  // namespace qorvel
