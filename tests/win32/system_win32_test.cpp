// The Win32 services against Wine's kernel, registry and user32. The
// power-off service is never called here.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/win32/dialogs_win32.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

std::wstring TempDir() {
  wchar_t buffer[MAX_PATH];
  GetTempPathW(MAX_PATH, buffer);
  return std::wstring(buffer) + L"qorvel-system-" + std::to_wstring(GetCurrentProcessId());
}

std::string ReadUtf8File(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct SplitCase {
  const char* path;
  const char* directory;
  const char* name;
};

TEST(ModulePath, SplitsDirectoryAndNameWithoutExtension) {
  const SplitCase cases[] = {
      {"D:\\tools\\guard.exe", "D:\\tools", "guard"},
      {"C:\\guard.exe", "C:\\", "guard"},  // the root keeps its separator
      {"D:\\a.b\\guard", "D:\\a.b", "guard"},
      {"D:\\x\\my.guard.exe", "D:\\x", "my.guard"},
      {"C:\\Program Files\\守护\\守护.exe", "C:\\Program Files\\守护", "守护"},
      {"\\\\server\\share\\g.exe", "\\\\server\\share", "g"},
  };
  for (const auto& c : cases) {
    const auto parts = SplitModulePath(c.path);
    EXPECT_EQ(parts.directory, c.directory) << c.path;
    EXPECT_EQ(parts.name, c.name) << c.path;
  }
}

TEST(ProcessInfo, NamesThisExecutable) {
  const Win32ProcessInfo process;
  EXPECT_EQ(process.exe_name(), "system_wine_tests");
  const std::string path = ModuleFileName();
  EXPECT_EQ(process.exe_directory() + "\\system_wine_tests.exe", path);
}

TEST(ProcessInfo, SecondHolderOfTheSamePathIsAPreviousInstance) {
  {
    const Win32ProcessInfo first;
    EXPECT_FALSE(first.previous_instance());
    const Win32ProcessInfo second;
    EXPECT_TRUE(second.previous_instance());
  }
  // Released with the last holder: a later start is first again.
  const Win32ProcessInfo third;
  EXPECT_FALSE(third.previous_instance());
}

TEST(ProcessInfo, MutexNameFoldsCaseAndSeparatesFolders) {
  const auto name = InstanceMutexName("C:\\Tools\\Qorvel.exe");
  EXPECT_EQ(name, InstanceMutexName("c:\\tools\\QORVEL.EXE"));
  EXPECT_NE(name, InstanceMutexName("C:\\Other\\Qorvel.exe"));
}

TEST(FileSystem, TellsFilesFromFoldersAndMissingPaths) {
  const std::wstring dir = TempDir();
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring file = dir + L"\\设置.ini";
  CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  struct Case {
    std::wstring path;
    std::optional<bool> exists;
  };
  const Case cases[] = {
      {file, true},
      {dir + L"\\missing.ini", false},
      {dir + L"\\missing\\mdb.ini", false},
      {dir, false},  // a folder is not a file
  };
  const Win32FileSystem files;
  for (const auto& c : cases) {
    EXPECT_EQ(files.file_exists(Narrow(c.path)), c.exists) << Narrow(c.path);
  }
  DeleteFileW(file.c_str());
  RemoveDirectoryW(dir.c_str());
}

TEST(Privilege, EnablesShutdownInTheProcessToken) {
  Win32Privilege privilege;
  ASSERT_TRUE(privilege.enable_shutdown_privilege());

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  PRIVILEGE_SET wanted{};
  wanted.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &wanted.Privilege[0].Luid));
  BOOL held = FALSE;
  EXPECT_TRUE(PrivilegeCheck(token, &wanted, &held));
  EXPECT_TRUE(held);
  CloseHandle(token);
}

TEST(Registry, WritesAnsiStringsUnderLocalMachine) {
  const std::string subkey = "Software\\QorvelTest-" + std::to_string(GetCurrentProcessId());
  struct Case {
    const char* name;
    const char* data;
  };
  const Case cases[] = {
      {"qorvel", "D:\\tools\\qorvel"},
      {"守护", "\"C:\\Program Files\\守护\\守护\""},  // code page 936 both ways
      {"empty", ""},
  };
  Win32Registry registry;
  for (const auto& c : cases) {
    ASSERT_TRUE(registry.set_local_machine_string(subkey, c.name, c.data)) << c.name;
    wchar_t read[256] = {};
    DWORD size = sizeof read;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, Widen(subkey).c_str(), Widen(c.name).c_str(),
                           RRF_RT_REG_SZ, nullptr, read, &size),
              ERROR_SUCCESS)
        << c.name;
    EXPECT_EQ(Narrow(read), c.data) << c.name;
  }
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, Widen(subkey).c_str()), ERROR_SUCCESS);
}

// Starts "RunDll32.exe ..." and waits for the stand-in beside this test to
// write down how it was started.
TEST(Shell, StartsTheCommandLineWithItsShowStyle) {
  const std::wstring marker = TempDir() + L"-rundll32.txt";
  DeleteFileW(marker.c_str());
  SetEnvironmentVariableW(L"QORVEL_STANDIN_MARKER", marker.c_str());

  Win32Shell shell;
  ASSERT_TRUE(shell.start_process("RunDll32.exe user32.dll,LockWorkStation", 1));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES &&
         std::chrono::steady_clock::now() < deadline) {
    Sleep(50);
  }
  EXPECT_EQ(ReadUtf8File(marker), "show=1\nRunDll32.exe user32.dll,LockWorkStation");
  DeleteFileW(marker.c_str());
}

TEST(Shell, ReportsAProgramThatIsNotThere) {
  Win32Shell shell;
  EXPECT_FALSE(shell.start_process("qorvel-no-such-program.exe", 1));
}

// Answers the first message box titled after this executable, reading its
// text on the way.
class BoxAnswerer {
 public:
  BoxAnswerer(int button) {
    thread_ = std::thread([this, button] {
      for (int i = 0; i < 400 && !box_; ++i) {
        box_ = FindWindowW(L"#32770", L"system_wine_tests");
        if (!box_) Sleep(25);
      }
      if (!box_) return;
      wchar_t buffer[256] = {};
      GetDlgItemTextW(box_, 0xFFFF, buffer, 256);
      text_ = Narrow(buffer);
      PostMessageW(box_, WM_COMMAND, static_cast<WPARAM>(button), 0);
    });
  }
  std::string join() {
    thread_.join();
    return text_;
  }

 private:
  std::thread thread_;
  std::atomic<HWND> box_{nullptr};
  std::string text_;
};

TEST(Dialogs, MessageBoxIsTitledAfterTheExecutableAndReturnsTheButton) {
  struct Case {
    unsigned style;
    int button;
    const char* text;
  };
  const Case cases[] = {
      {1, IDOK, "是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907"},
      {1, IDCANCEL, "第二行\r\n取消"},
      {64, IDOK, "设置成功,重启后生效"},
  };
  const Win32ProcessInfo process;
  Win32Dialogs dialogs(process);
  for (const auto& c : cases) {
    BoxAnswerer answerer(c.button);
    EXPECT_EQ(dialogs.message_box(c.text, c.style), c.button) << c.text;
    // The box shows line breaks as they are; the static text keeps them.
    EXPECT_EQ(answerer.join(), c.text);
  }
}

}  // namespace
}  // namespace qorvel::platform::win32
