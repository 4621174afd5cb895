// The real qorvel.exe starting in the test prefix: the first-run file, the
// start-with-Windows prompt answered both ways, the Run value, and a second
// instance beside the first. Owns C:\mdb.ini and the Run value "qorvel".
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>

#include "platform/win32/text.h"
#include "real_program.h"

namespace qorvel::platform::win32 {
namespace {

using test::ExePath;
using test::WaitFor;
using test::WindowOf;

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kPrompt[] = "是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907";

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

struct Guard : test::RunningProgram {
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
