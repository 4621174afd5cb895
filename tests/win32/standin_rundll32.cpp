// Stands in for RunDll32.exe in tests: instead of locking the workstation it
// writes "show=N" and its command line to the file QORVEL_STANDIN_MARKER names.
#include <windows.h>

#include <cstdio>

int main() {
  wchar_t marker[MAX_PATH], partial[MAX_PATH + 8];
  if (GetEnvironmentVariableW(L"QORVEL_STANDIN_MARKER", marker, MAX_PATH) == 0) return 1;
  STARTUPINFOW startup{};
  GetStartupInfoW(&startup);
  swprintf(partial, MAX_PATH + 8, L"%ls.part", marker);
  FILE* file = _wfopen(partial, L"wb");
  if (file == nullptr) return 1;
  fprintf(file, "show=%d\n%ls", (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1, GetCommandLineW());
  fclose(file);
  // Renamed when complete, so the test never reads half a record.
  return MoveFileExW(partial, marker, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
