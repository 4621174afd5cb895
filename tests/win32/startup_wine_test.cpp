// The real qorvel.exe starting in the test prefix: the first-run file, the
// start-with-Windows prompt answered both ways, the Run value, and a second
// instance beside the first. Owns C:\mdb.ini and the Run value "qorvel".
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kPrompt[] = "是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907";

// The build hands us a Unix path; Wine shows "/" as drive Z:.
std::wstring ExePath() {
  std::wstring path = L"Z:" + Widen(QORVEL_EXE);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::string FirstRunFile(const char* flag) {
  std::string text = "[HOUR]\r\n";
  for (int h = 1; h <= 23; ++h) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  return text + "[mm]\r\nnober=907\r\n[bb]\r\ntwo=" + flag + "\r\n";
}

std::string SettingsFile() {
  std::ifstream in("C:\\mdb.ini", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string RunValue() {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"qorvel", RRF_RT_REG_SZ, nullptr, data, &size);
  return Narrow(data);
}

template <typename Ready>
bool WaitFor(Ready ready) {
  for (int i = 0; i < 600; ++i) {  // 30 s
    if (ready()) return true;
    Sleep(50);
  }
  return false;
}

// A visible top-level window of the process: the main window, or a message
// box titled after the executable. EnumWindows walks one snapshot of the
// z-order: a FindWindowEx walk can skip a window that the other guard's
// topmost call moves above the one it stands on.
HWND WindowOf(DWORD pid, const wchar_t* window_class, const wchar_t* caption) {
  struct Wanted {
    DWORD pid;
    const wchar_t* window_class;
    const wchar_t* caption;
    HWND found;
  } wanted{pid, window_class, caption, nullptr};
  EnumWindows(
      [](HWND w, LPARAM param) -> BOOL {
        auto& want = *reinterpret_cast<Wanted*>(param);
        wchar_t name[64] = {};
        wchar_t text[64] = {};
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        GetClassNameW(w, name, 64);
        GetWindowTextW(w, text, 64);
        if (owner != want.pid || !IsWindowVisible(w) || lstrcmpW(name, want.window_class) != 0 ||
            lstrcmpW(text, want.caption) != 0)
          return TRUE;
        want.found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&wanted));
  return wanted.found;
}

// The guard refuses to close, so every started copy is terminated.
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
  bool ShowsWindow() const { return WindowOf(p.dwProcessId, L"QorvelForm1", L"Qorvel") != nullptr; }
  HWND Box() const { return WindowOf(p.dwProcessId, L"#32770", L"qorvel"); }
  // Waits for the message box showing this text and answers it.
  bool Answer(std::string_view text, int button) const {
    const auto shows = [&] {
      wchar_t shown[256] = {};
      return GetDlgItemTextW(Box(), 0xFFFF, shown, 256) > 0 && Narrow(shown) == text;
    };
    return WaitFor(shows) && PostMessageW(Box(), WM_COMMAND, button, 0);
  }

  PROCESS_INFORMATION p{};
};

void CleanSystem() {
  DeleteFileW(L"C:\\mdb.ini");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunKey, L"qorvel");
}

TEST(StartUp, FirstRunAsksUntilAcceptedAndASecondInstanceOnlyGuards) {
  CleanSystem();
  {
    const Guard first;
    ASSERT_TRUE(first.Answer(kPrompt, IDCANCEL)) << "no start-up prompt";
    EXPECT_TRUE(WaitFor([&] { return first.ShowsWindow(); }));
    EXPECT_EQ(SettingsFile(), FirstRunFile("0"));
    EXPECT_EQ(RunValue(), "");
  }
  const Guard registered;
  ASSERT_TRUE(registered.Answer(kPrompt, IDOK)) << "the prompt did not come back after Cancel";
  ASSERT_TRUE(registered.Answer("设置成功,重启后生效", IDOK));
  std::string expected = Narrow(ExePath().substr(0, ExePath().rfind(L'\\'))) + "\\qorvel";
  if (expected.find(' ') != std::string::npos) expected = "\"" + expected + "\"";
  EXPECT_EQ(RunValue(), expected);
  EXPECT_EQ(SettingsFile(), FirstRunFile("1"));
  ASSERT_TRUE(WaitFor([&] { return registered.ShowsWindow(); }));

  // A second copy beside it comes up without any question.
  const Guard second;
  EXPECT_TRUE(WaitFor([&] { return second.Box() != nullptr || second.ShowsWindow(); }));
  Sleep(1000);
  EXPECT_EQ(second.Box(), nullptr) << "the second instance asked";
  EXPECT_TRUE(registered.ShowsWindow());
  EXPECT_TRUE(second.ShowsWindow());
  EXPECT_EQ(SettingsFile(), FirstRunFile("1"));
  CleanSystem();
}

}  // namespace
}  // namespace qorvel::platform::win32
