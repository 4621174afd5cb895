// The real qorvel.exe under Wine, driven from outside as the black-box test
// drives the Linux program. Owns C:\mdb.ini and the Run value "qorvel".
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "guard/startup.h"
#include "platform/codepage.h"
#include "platform/win32/form1_window.h"
#include "platform/win32/form2_window.h"
#include "platform/win32/text.h"
#include "support/fakes.h"
#include "lock_sample.h"

namespace qorvel {
namespace {

using platform::win32::Narrow;
using test::SettingsText;

namespace w32 = platform::win32;
using F1 = w32::Form1Window;
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Polls until ready() or the time is up; a busy machine only makes it wait.
template <typename Ready>
bool WaitFor(Ready ready) {
  for (const ULONGLONG end = GetTickCount64() + 30000; GetTickCount64() < end; Sleep(50))
    if (ready()) return true;
  return ready();
}

std::string SettingsFile() {
  return {std::istreambuf_iterator<char>(std::ifstream("C:\\mdb.ini", std::ios::binary).rdbuf()), {}};
}
const std::vector<int> kAllHours{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};
// What the hours button shows: the last hour first.
std::string HoursLine(const std::vector<int>& hours) {
  std::string line;
  for (const int h : hours) line = std::to_string(h) + "点  " + line;
  return line;
}
// Every hour allowed, or none: the layout does not depend on the clock.
void WriteSettings(bool every_hour) {
  std::ofstream("C:\\mdb.ini", std::ios::binary) << SettingsText(every_hour ? kAllHours : std::vector<int>{}, "907", '1');
}

std::string RunValue() {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"qorvel", RRF_RT_REG_SZ, nullptr, data, &size);
  return Narrow(data);
}
void CleanSystem() {
  DeleteFileW(L"C:\\mdb.ini");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunKey, L"qorvel");
}

// The build hands us a Unix path; Wine shows "/" as drive Z:.
std::wstring ExePath() {
  std::wstring path = L"Z:" + platform::win32::Widen(QORVEL_EXE);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

// WM_GETTEXT: GetWindowText reads no control of another process.
std::string Text(HWND w) {
  std::wstring text(static_cast<std::size_t>(SendMessageW(w, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(SendMessageW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return Narrow(text);
}
RECT Rect(HWND w, HWND parent = nullptr) {
  RECT r{};
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}
bool Topmost(HWND w) { return (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }
void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// One started copy of the program; it refuses to close, so it is terminated.
struct Guard {
  Guard() {
    std::wstring command = L"\"" + ExePath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &p));
  }
  ~Guard() {
    TerminateProcess(p.hProcess, 0);
    WaitForSingleObject(p.hProcess, 10000);
    CloseHandle(p.hThread);
    CloseHandle(p.hProcess);
  }
  // EnumWindows walks one snapshot of the z-order, which the ticks reshuffle.
  HWND Window(const wchar_t* window_class, const char* caption) const {
    struct Wanted { DWORD pid; const wchar_t* window_class; std::string caption; HWND found; } wanted{
        p.dwProcessId, window_class, caption, nullptr};
    EnumWindows([](HWND w, LPARAM param) -> BOOL {
          auto& want = *reinterpret_cast<Wanted*>(param);
          wchar_t name[64] = {};
          DWORD owner = 0;
          GetWindowThreadProcessId(w, &owner);
          GetClassNameW(w, name, 64);
          const bool match = owner == want.pid && IsWindowVisible(w) && lstrcmpW(name, want.window_class) == 0 &&
                             Text(w) == want.caption;
          if (match) want.found = w;
          return !match;
        }, reinterpret_cast<LPARAM>(&wanted));
    return wanted.found;
  }
  HWND Main() const { return Window(L"QorvelForm1", "Qorvel"); }
  HWND Box() const { return Window(L"#32770", "qorvel"); }
  bool Answer(std::string_view text, int button) const {
    return WaitFor([&] { return Text(GetDlgItem(Box(), 0xFFFF)) == text; }) &&
           PostMessageW(Box(), WM_COMMAND, button, 0);
  }
  HWND WaitWindow(const wchar_t* window_class, const char* caption) const {
    HWND w = nullptr;
    WaitFor([&] { return (w = Window(window_class, caption)) != nullptr; });
    return w;
  }
  HWND Prompt() const {
    PostMessageW(GetDlgItem(Main(), F1::kCommand2), BM_CLICK, 0, 0);
    return WaitWindow(L"#32770", "app");
  }
  void Enter(HWND prompt, const wchar_t* password) const {
    const HWND field = FindWindowExW(prompt, nullptr, L"Edit", nullptr);
    EXPECT_NE(GetWindowLongW(field, GWL_STYLE) & ES_PASSWORD, 0);
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password));
    PostMessageW(prompt, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(prompt); });
  }
  bool EndedWithZero() const {
    DWORD exit = STILL_ACTIVE;
    return WaitForSingleObject(p.hProcess, 30000) == WAIT_OBJECT_0 && GetExitCodeProcess(p.hProcess, &exit) && exit == 0;
  }
  PROCESS_INFORMATION p{};
};

TEST(StartUp, FirstRunAsksUntilAcceptedAndASecondInstanceOnlyGuards) {
  CleanSystem();
  {
    const Guard first;
    ASSERT_NE(first.WaitWindow(L"#32770", "qorvel"), nullptr) << "no start-up prompt";
    EXPECT_EQ(SettingsFile(), SettingsText()) << "the first-run file, before the answer";
    // A second copy while the first still asks, the flag still 0, must ask
    // nothing. Its start-up is over once it has handled a click posted after
    // its window showed.
    const Guard second;
    const HWND second_main = second.WaitWindow(L"QorvelForm1", "Qorvel");
    ASSERT_NE(second_main, nullptr);
    PostMessageW(GetDlgItem(second_main, F1::kCommand4), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !Text(GetDlgItem(second_main, F1::kLabel2)).empty(); }));
    EXPECT_EQ(second.Box(), nullptr) << "the second instance asked";
    ASSERT_TRUE(first.Answer(guard::kRegisterPrompt, IDCANCEL));
    ASSERT_NE(first.WaitWindow(L"QorvelForm1", "Qorvel"), nullptr);
  }
  const Guard registered;
  ASSERT_TRUE(registered.Answer(guard::kRegisterPrompt, IDOK)) << "the prompt did not come back after Cancel";
  ASSERT_TRUE(registered.Answer(guard::kRegisterDone, IDOK));
  std::string expected = Narrow(ExePath().substr(0, ExePath().rfind(L'\\'))) + "\\qorvel";
  if (expected.find(' ') != std::string::npos) expected = "\"" + expected + "\"";
  EXPECT_EQ(RunValue(), expected);
  EXPECT_EQ(SettingsFile(), SettingsText(test::kFirstRunHours, "907", '1'));
  EXPECT_NE(registered.WaitWindow(L"QorvelForm1", "Qorvel"), nullptr);
  CleanSystem();
}

// The prompt comes once the window is up: at a locked hour it stands above
// the topmost lock, and the hour check runs on beneath it.
TEST(StartUp, ThePromptStandsAboveTheLockThatIsUpBeneathIt) {
  CleanSystem();
  std::ofstream("C:\\mdb.ini", std::ios::binary) << SettingsText({}, "907", '0');
  const Guard guard;
  const HWND box = guard.WaitWindow(L"#32770", "qorvel");
  ASSERT_NE(box, nullptr) << "no start-up prompt";
  const HWND main = guard.Main();
  EXPECT_TRUE(main != nullptr && IsZoomed(main) && Topmost(main)) << "no lock beneath the prompt";
  EXPECT_TRUE(GetWindow(box, GW_OWNER) == main && Topmost(box)) << "the prompt is not above the lock";
  ShowWindow(main, SW_MINIMIZE);
  EXPECT_TRUE(WaitFor([&] { return IsZoomed(main) && !IsIconic(main); })) << "no hour check beneath the prompt";
  // The prompt's own message loop meets what other programs post, as the
  // guard's loop does: the session's end first, then the window's.
  PostMessageW(main, WM_ENDSESSION, TRUE, 0);
  PostMessageW(main, WM_NCDESTROY, 0, 0);
  ShowWindow(main, SW_MINIMIZE);
  EXPECT_TRUE(WaitFor([&] { return IsZoomed(main) && !IsIconic(main); })) << "a posted message took the lock away";
  EXPECT_EQ(WaitForSingleObject(guard.p.hProcess, 0), WAIT_TIMEOUT) << "a posted message ended the guard";
  EXPECT_TRUE(guard.Answer(guard::kRegisterPrompt, IDCANCEL));
  CleanSystem();
}

// Each tick puts back what the user minimised or moved; close requests are
// refused, the buttons reach their handlers, and the session's end ends it.
TEST(MainWindow, EachTickAppliesItsLayoutWhateverTheUserDid) {
  for (const bool locked : {true, false}) {
    SCOPED_TRACE(locked ? "locked" : "compact");
    WriteSettings(!locked);
    const Guard guard;
    HWND main = nullptr;
    const auto layout = [&] {
      RECT r = Rect(main), work{}, button = Rect(GetDlgItem(main, F1::kCommand2));
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
      if (IsIconic(main) || (IsZoomed(main) != FALSE) != locked || Topmost(main) != locked) return false;
      if (!locked) return r.left == 0 && r.top == 0 && r.right == 41 && r.bottom == 17 && EqualRect(&r, &button);
      return r.left <= work.left && r.top <= work.top && r.right >= work.right && r.bottom >= work.bottom;
    };
    ASSERT_TRUE(WaitFor([&] { return (main = guard.Main()) != nullptr && layout(); })) << "no layout";
    EXPECT_EQ(GetWindowLongPtrW(main, GWL_EXSTYLE) & (WS_EX_TOOLWINDOW | WS_EX_APPWINDOW), WS_EX_TOOLWINDOW)
        << "no task-bar button";
    ShowWindow(main, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor(layout)) << "still minimised";
    if (!locked) SetWindowPos(main, nullptr, 300, 200, 400, 300, SWP_NOZORDER);
    ASSERT_TRUE(WaitFor(layout)) << "left where it was moved";
    SendMessageW(main, WM_CLOSE, 0, 0);
    SendMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(main) && IsWindowVisible(main)) << "closed";
    if (locked) {
      const RECT clock = Rect(GetDlgItem(main, F1::kL1), main), banner = Rect(GetDlgItem(main, F1::kLabel1), main);
      EXPECT_NE(Text(GetDlgItem(main, F1::kL1)).find('/'), std::string::npos) << "no date";
      EXPECT_GT(clock.right - clock.left, 600) << "72 pt, sized to the date, not to \"Label1\"";
      EXPECT_TRUE(banner.top == 136 && banner.right - banner.left > 200 && banner.bottom - banner.top > 30)
          << "26.25 pt, sized to its text";
      continue;
    }
    // Each button where it was designed; the hours button fills the hours line.
    const struct { int id; RECT at; std::string label2; } buttons[] = {
        {F1::kCommand5, {120, 0, 180, 17}, ""}, {F1::kCommand3, {40, 0, 81, 17}, ""}, {F1::kCommand1, {80, 0, 121, 17}, ""},
        {F1::kCommand4, {180, 0, 240, 17}, HoursLine(kAllHours)}};
    for (const auto& b : buttons) {
      const RECT r = Rect(GetDlgItem(main, b.id), main);
      EXPECT_TRUE(EqualRect(&r, &b.at)) << b.id << ": " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
      if (b.id == F1::kCommand5 || b.id == F1::kCommand4) Click(main, b.id);  // the others lock or power off
      const RECT label2 = Rect(GetDlgItem(main, F1::kLabel2), main);
      EXPECT_EQ(Text(GetDlgItem(main, F1::kLabel2)), b.label2) << b.id;
      EXPECT_EQ(label2.left == 248 && label2.right - label2.left > 500, !b.label2.empty()) << "sized to its text";
    }
    EXPECT_NE(SendMessageW(main, WM_QUERYENDSESSION, 0, 0), 0);
    SendMessageW(main, WM_ENDSESSION, FALSE, 0);  // cancelled by another program
    EXPECT_TRUE(IsWindow(main));
    SendMessageW(main, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(guard.EndedWithZero()) << "the session's end did not end it";
  }
  DeleteFileW(L"C:\\mdb.ini");
}

// Another program in the session asks the locked window to go: each request
// is refused at once, a loop of hides never uncovers the screen, and posted
// quits leave the guard ticking.
TEST(LockWindow, RefusesWhatAnotherProgramAsks) {
  WriteSettings(false);
  const Guard guard;
  HWND main = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (main = guard.Main()) != nullptr && test::LockHolds(main); })) << "never locked";
  int looks = 0;
  const double held = test::HeldUnderHiding(main, 3000, &looks);
  std::printf("held under hiding: %.1f %% of %d looks\n", held, looks);
  EXPECT_GE(held, 95.0) << "of " << looks << " looks";
  ASSERT_TRUE(WaitFor([&] { return test::LockHolds(main); }));
  constexpr UINT kKeep = SWP_NOACTIVATE | SWP_NOSIZE | SWP_NOMOVE;
  const struct { const char* what; void (*ask)(HWND); } requests[] = {
      {"SW_HIDE", [](HWND w) { ShowWindow(w, SW_HIDE); }},
      {"SW_MINIMIZE", [](HWND w) { ShowWindow(w, SW_MINIMIZE); }},
      {"SC_MINIMIZE", [](HWND w) { SendMessageW(w, WM_SYSCOMMAND, SC_MINIMIZE, 0); }},
      {"SW_RESTORE", [](HWND w) { ShowWindow(w, SW_RESTORE); }},
      {"CloseWindow", [](HWND w) { CloseWindow(w); }},
      {"a move", [](HWND w) { SetWindowPos(w, nullptr, 150, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE); }},
      {"a resize", [](HWND w) { SetWindowPos(w, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE); }},
      {"HWND_BOTTOM", [](HWND w) { SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, kKeep); }},
      {"HWND_NOTOPMOST", [](HWND w) { SetWindowPos(w, HWND_NOTOPMOST, 0, 0, 0, 0, kKeep); }},
      {"WS_VISIBLE taken away",
       [](HWND w) { SetWindowLongPtrW(w, GWL_STYLE, GetWindowLongPtrW(w, GWL_STYLE) & ~WS_VISIBLE); }},
      {"made see-through", [](HWND w) {
         SetWindowLongPtrW(w, GWL_EXSTYLE, GetWindowLongPtrW(w, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_TRANSPARENT);
         SetLayeredWindowAttributes(w, 0, 0, LWA_ALPHA);
       }},
      {"a move that skips WM_WINDOWPOSCHANGING",
       [](HWND w) { SetWindowPos(w, nullptr, 150, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSENDCHANGING); }},
      {"a lowering that skips WM_WINDOWPOSCHANGING",
       [](HWND w) { SetWindowPos(w, HWND_NOTOPMOST, 0, 0, 0, 0, kKeep | SWP_NOSENDCHANGING); }},
      {"a hide that skips WM_WINDOWPOSCHANGING",
       [](HWND w) { SetWindowPos(w, nullptr, 0, 0, 0, 0, kKeep | SWP_NOZORDER | SWP_HIDEWINDOW | SWP_NOSENDCHANGING); }},
  };
  for (const auto& r : requests) {
    r.ask(main);
    EXPECT_TRUE(test::LockHolds(main)) << r.what << " was not refused at once";
    ASSERT_TRUE(WaitFor([&] { return test::LockHolds(main); })) << r.what;
  }
  // Timer ticks come only once the queue holds nothing posted: a new clock
  // text shows every posted message was taken, and the guard still runs.
  const HWND clock = GetDlgItem(main, F1::kL1);
  const std::string before = Text(clock);
  DWORD pid = 0;
  const DWORD thread = GetWindowThreadProcessId(main, &pid);
  for (const UINT message : {WM_QUIT, WM_CLOSE, WM_NCDESTROY, WM_ENDSESSION}) PostMessageW(main, message, TRUE, 0);
  PostThreadMessageW(thread, WM_QUIT, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(clock) != before; })) << "the ticks stopped";
  EXPECT_EQ(WaitForSingleObject(guard.p.hProcess, 0), WAIT_TIMEOUT) << "a posted message ended the guard";
  ShowWindow(main, SW_HIDE);
  EXPECT_TRUE(test::LockHolds(main)) << "a posted message took the hold away";
  // The lock's own password prompt stands above it.
  const HWND prompt = guard.Prompt();
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(GetWindowLongPtrW(prompt, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
  HWND first = GetTopWindow(nullptr);
  while (first != nullptr && !IsWindowVisible(first)) first = GetWindow(first, GW_HWNDNEXT);
  EXPECT_EQ(first, prompt) << "the lock covers its own prompt";
  PostMessageW(prompt, WM_COMMAND, IDCANCEL, 0);
  DeleteFileW(L"C:\\mdb.ini");
}

// The right password opens the settings window modally, the lock below it and
// the hour check off until it closes; a Chinese password is saved in code
// page 936.
TEST(SettingsRoad, AParentEditsHoursAndPasswordThenEndsTheProgram) {
  WriteSettings(true);
  const Guard guard;
  HWND form = nullptr;
  const HWND main = guard.WaitWindow(L"QorvelForm1", "Qorvel");
  guard.Enter(guard.Prompt(), L"123");
  const HWND prompt = guard.Prompt();  // once it shows, the wrong password's turn is over
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(guard.Window(L"QorvelForm2", "设置"), nullptr) << "a wrong password opened the settings";
  guard.Enter(prompt, L"907");
  ASSERT_NE(form = guard.WaitWindow(L"QorvelForm2", "设置"), nullptr) << "the right password opened nothing";
  EXPECT_FALSE(IsWindowEnabled(main)) << "not modal over the main window";
  EXPECT_FALSE(Topmost(main)) << "the lock stays above the settings window";
  EXPECT_EQ(Text(GetDlgItem(form, w32::kForm2Text1)), "907");
  EXPECT_EQ(SendDlgItemMessageW(form, w32::kForm2Combo1, CB_GETCURSEL, 0, 0), CB_ERR);
  Click(form, w32::kForm2Command1);  // nothing picked: nothing added
  // Deletes the hours 0 and 5, then adds 5 back and 3, which is listed.
  for (const auto& [listed, index] : {std::pair{true, 0}, {true, 4}, {false, 4}, {false, 2}}) {
    SendDlgItemMessageW(form, listed ? w32::kForm2List1 : w32::kForm2Combo1, listed ? LB_SETCURSEL : CB_SETCURSEL,
                        index, 0);
    Click(form, listed ? w32::kForm2Command2 : w32::kForm2Command1);
  }
  EXPECT_EQ(SendDlgItemMessageW(form, w32::kForm2List1, LB_GETCOUNT, 0, 0), 23) << "refreshed after each change";
  SendDlgItemMessageW(form, w32::kForm2Text1, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"家长=口令"));
  Click(form, w32::kForm2Command3);
  ShowWindow(main, SW_MINIMIZE);  // stays so while the hour check is off
  PostMessageW(form, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(form); })) << "still open";
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(main) && !IsIconic(main); })) << "the hour check did not resume";
  const std::vector<int> hours{1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 5};
  EXPECT_EQ(SettingsFile(), platform::utf8_to_cp936(test::SettingsText(hours, "家长=口令", '1')));
  EXPECT_EQ(Text(GetDlgItem(main, F1::kLabel2)), HoursLine(hours)) << "the hours line, refreshed on closing";

  guard.Enter(guard.Prompt(), L"家长=口令");
  ASSERT_NE(form = guard.WaitWindow(L"QorvelForm2", "设置"), nullptr) << "the new password opened nothing";
  PostMessageW(GetDlgItem(form, w32::kForm2Command4), BM_CLICK, 0, 0);
  EXPECT_TRUE(guard.EndedWithZero()) << "the end button did not end the program";
  DeleteFileW(L"C:\\mdb.ini");
}

}  // namespace
}  // namespace qorvel
