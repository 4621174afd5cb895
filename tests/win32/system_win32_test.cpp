// The Win32 services against Wine; the start-up test covers the rest on the
// real executable. The power-off service is never called here.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>

#include "platform/win32/system_win32.h"
#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

TEST(ModulePath, SplitsDirectoryAndNameWithoutExtension) {
  const struct { const char *path, *directory, *name; } cases[] = {
      {"C:\\guard.exe", "C:\\", "guard"},  // the root keeps its separator
      {"D:\\a.b\\guard", "D:\\a.b", "guard"},
      {"D:\\x\\my.guard.exe", "D:\\x", "my.guard"},
      {"C:\\Program Files\\守护\\守护.exe", "C:\\Program Files\\守护", "守护"},
  };
  for (const auto& c : cases) {
    const auto parts = SplitModulePath(c.path);
    EXPECT_EQ(parts.directory, c.directory) << c.path;
    EXPECT_EQ(parts.name, c.name) << c.path;
  }
}

TEST(FileSystem, OnlyAFileExists) {
  const std::wstring dir = L"qorvel-files", file = dir + L"\\设置.ini";
  CreateDirectoryW(dir.c_str(), nullptr);
  CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const Win32FileSystem files;
  EXPECT_EQ(files.file_exists(Narrow(file)), true);
  EXPECT_EQ(files.file_exists(Narrow(dir + L"\\missing\\mdb.ini")), false);
  EXPECT_EQ(files.file_exists(Narrow(dir)), false);  // a folder is not a settings file
  DeleteFileW(file.c_str());
  RemoveDirectoryW(dir.c_str());
}

TEST(Registry, WritesCodePage936StringsUnderLocalMachine) {
  const std::string subkey = "Software\\QorvelTest-" + std::to_string(GetCurrentProcessId());
  const std::string data = "\"C:\\Program Files\\守护\\守护\"";
  ASSERT_TRUE(Win32Registry().set_local_machine_string(subkey, "守护", data));
  wchar_t read[256] = {};
  DWORD size = sizeof read;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, Widen(subkey).c_str(), L"守护", RRF_RT_REG_SZ, nullptr, read, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(Narrow(read), data);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, Widen(subkey).c_str());
}

}  // namespace
}  // namespace qorvel::platform::win32
