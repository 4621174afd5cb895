// The real qorvel.exe starting in the test prefix: the first-run file, the
// start-with-Windows prompt answered both ways, the Run value, and a second
// instance beside the first. Uses C:\mdb.ini and the Run value "qorvel".
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

constexpr wchar_t kSettingsFile[] = L"C:\\mdb.ini";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kPrompt[] = "是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907";
constexpr char kDone[] = "设置成功,重启后生效";

// The build hands us a Unix path; Wine shows "/" as drive Z:.
std::wstring ExePath() {
  std::wstring path = L"Z:" + Widen(QORVEL_EXE);
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::string FirstRunFile(const char* flag) {
  std::string text = "[HOUR]\r\n";
  for (int h = 1; h <= 23; ++h) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  return text + "[mm]\r\nnober=907\r\n[bb]\r\ntwo=" + flag + "\r\n";
}

std::string ReadFileBytes(const wchar_t* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool WaitFor(const std::function<bool()>& ready, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(50);
  }
  return true;
}

// Top-level windows of one process with this class (or any) and caption.
std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* class_name, const wchar_t* caption) {
  struct Query {
    DWORD pid;
    const wchar_t* class_name;
    const wchar_t* caption;
    std::vector<HWND> found;
  } query{pid, class_name, caption, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto& q = *reinterpret_cast<Query*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        wchar_t text[64] = {};
        wchar_t cls[64] = {};
        GetWindowTextW(hwnd, text, 64);
        GetClassNameW(hwnd, cls, 64);
        if (owner == q.pid && std::wstring_view(text) == q.caption &&
            (q.class_name == nullptr || std::wstring_view(cls) == q.class_name)) {
          q.found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&query));
  return query.found;
}

HWND MessageBoxOf(DWORD pid) {
  const auto boxes = WindowsOf(pid, L"#32770", L"qorvel");
  return boxes.empty() ? nullptr : boxes.front();
}

std::string BoxText(HWND box) {
  wchar_t text[256] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 256);
  return Narrow(text);
}

// Waits for a box of the process showing this text; nullptr on time-out.
HWND WaitForBox(DWORD pid, const std::string& text) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = MessageBoxOf(pid);
        return found != nullptr && BoxText(found) == text;
      },
      30);
  return found != nullptr && BoxText(found) == text ? found : nullptr;
}

// The guard window refuses to close, so every started copy is terminated.
class Guard {
 public:
  Guard() {
    std::wstring command = L"\"" + ExePath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_) != 0;
  }
  ~Guard() {
    if (!started_) return;
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  [[nodiscard]] bool started() const { return started_; }
  [[nodiscard]] DWORD pid() const { return process_.dwProcessId; }
  [[nodiscard]] bool shows_window() const {
    const auto windows = WindowsOf(pid(), nullptr, L"Qorvel");
    return !windows.empty() && IsWindowVisible(windows.front());
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

std::optional<std::string> RunValue() {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"qorvel", RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return Narrow(data);
}

void CleanSystem() {
  DeleteFileW(kSettingsFile);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunKey, L"qorvel");
}

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(GetFileAttributesW(ExePath().c_str()), INVALID_FILE_ATTRIBUTES) << Narrow(ExePath());
    CleanSystem();
  }
  void TearDown() override { CleanSystem(); }
};

TEST_F(StartUp, FirstRunAsksUntilAcceptedAndASecondInstanceOnlyGuards) {
  {
    // Cancel: the file is there and the flag stays 0.
    Guard first;
    ASSERT_TRUE(first.started());
    const HWND prompt = WaitForBox(first.pid(), kPrompt);
    ASSERT_NE(prompt, nullptr) << "no start-up prompt";
    EXPECT_EQ(ReadFileBytes(kSettingsFile), FirstRunFile("0"));
    PostMessageW(prompt, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitFor([&] { return first.shows_window(); }, 30));
    EXPECT_EQ(ReadFileBytes(kSettingsFile), FirstRunFile("0"));
    EXPECT_EQ(RunValue(), std::nullopt);
  }

  // The next start asks again; OK registers it and says so.
  Guard registered;
  ASSERT_TRUE(registered.started());
  const HWND prompt = WaitForBox(registered.pid(), kPrompt);
  ASSERT_NE(prompt, nullptr) << "the prompt did not come back after Cancel";
  PostMessageW(prompt, WM_COMMAND, IDOK, 0);
  const HWND done = WaitForBox(registered.pid(), kDone);
  ASSERT_NE(done, nullptr) << "no success message";

  std::wstring directory = ExePath();
  directory.resize(directory.rfind(L'\\'));
  std::string expected = Narrow(directory) + "\\qorvel";
  if (expected.find(' ') != std::string::npos) expected = "\"" + expected + "\"";
  EXPECT_EQ(RunValue(), expected);
  EXPECT_EQ(ReadFileBytes(kSettingsFile), FirstRunFile("1"));
  PostMessageW(done, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return registered.shows_window(); }, 30));

  // A second copy beside it: its window comes up without any question.
  Guard second;
  ASSERT_TRUE(second.started());
  bool asked = false;
  EXPECT_TRUE(WaitFor(
      [&] {
        asked = asked || MessageBoxOf(second.pid()) != nullptr;
        return asked || second.shows_window();
      },
      30));
  EXPECT_FALSE(asked);
  Sleep(1000);
  EXPECT_EQ(MessageBoxOf(second.pid()), nullptr);
  EXPECT_TRUE(registered.shows_window());
  EXPECT_TRUE(second.shows_window());
  EXPECT_EQ(ReadFileBytes(kSettingsFile), FirstRunFile("1"));
}

}  // namespace
}  // namespace qorvel::platform::win32
