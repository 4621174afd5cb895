// Stands in for RunDll32.exe in tests: records how it was started instead of
// locking the workstation. The test names the record file in
// QORVEL_STANDIN_MARKER; the record is "show=N" and the command line.
#include <windows.h>

#include <string>

int main() {
  wchar_t marker[MAX_PATH];
  if (GetEnvironmentVariableW(L"QORVEL_STANDIN_MARKER", marker, MAX_PATH) == 0) return 1;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;
  const std::wstring record = L"show=" + std::to_wstring(show) + L"\n" + GetCommandLineW();

  const int n = WideCharToMultiByte(CP_UTF8, 0, record.c_str(), static_cast<int>(record.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, record.c_str(), static_cast<int>(record.size()), bytes.data(), n, nullptr,
                      nullptr);
  // Written to a side name and renamed, so the test never reads half a record.
  const std::wstring partial = std::wstring(marker) + L".part";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return MoveFileExW(partial.c_str(), marker, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
