#include "platform/win32/system_win32.h"

#include <cstdint>
#include <vector>

#include "platform/win32/text.h"

namespace qorvel::platform::win32 {

ModulePath SplitModulePath(std::string_view path) {
  const auto slash = path.find_last_of('\\');
  std::string_view directory = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
  std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::string dir(directory);
  // "C:" alone would mean the drive's current directory, not its root.
  if (dir.size() == 2 && dir[1] == ':') dir += '\\';
  const auto dot = file.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return {dir, std::string(file)};
}

std::string ModuleFileName() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return Narrow(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 2);  // a long path was cut
  }
}

std::wstring InstanceMutexName(std::string_view module_path) {
  std::wstring folded = Widen(module_path);
  if (!folded.empty()) CharLowerBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  // A path may be longer than a kernel object name and holds backslashes,
  // which name a namespace; a hash has neither problem.
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : folded) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 1099511628211ull;
  }
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring name = L"Local\\Qorvel-";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xF];
  return name;
}

Win32ProcessInfo::Win32ProcessInfo() {
  const std::string path = ModuleFileName();
  parts_ = SplitModulePath(path);
  mutex_ = CreateMutexW(nullptr, FALSE, InstanceMutexName(path).c_str());
  previous_ = mutex_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

Win32ProcessInfo::~Win32ProcessInfo() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

std::optional<bool> Win32FileSystem::file_exists(std::string_view path) const {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    return std::nullopt;
  }
  // A folder of that name is not the settings file.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32Privilege::enable_shutdown_privilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  static_assert((TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY) == 40);

  bool enabled = false;
  LUID luid{};
  if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid)) {
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Luid = luid;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous{};
    static_assert(sizeof previous == 16);
    DWORD returned = 0;
    enabled = AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous, &previous, &returned) &&
              GetLastError() != ERROR_NOT_ALL_ASSIGNED;
  }
  CloseHandle(token);
  return enabled;
}

bool Win32Power::exit_windows(unsigned flags, unsigned reason) {
  return ExitWindowsEx(flags, reason) != 0;
}

bool Win32Shell::start_process(std::string_view command_line, int show_style) {
  std::wstring command = Widen(command_line);  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show_style);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  // Fire and forget: nobody waits for the child.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool Win32Registry::set_local_machine_string(std::string_view subkey, std::string_view name,
                                             std::string_view data) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, Utf8ToAnsi(subkey).c_str(), &key) != ERROR_SUCCESS) return false;
  const std::string ansi = Utf8ToAnsi(data);
  const LONG set = RegSetValueExA(key, Utf8ToAnsi(name).c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(ansi.c_str()),
                                  static_cast<DWORD>(ansi.size() + 1));
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

}  // namespace qorvel::platform::win32
