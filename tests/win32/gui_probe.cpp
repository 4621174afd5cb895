// Prints the GDI and USER object counts of the running qorvel.exe and
// whether its main window is maximised, for scripts/soak:
//   gdi=<n> user=<n> locked=<0|1>
// Exits with 1 when no qorvel.exe runs. (Under Wine the counts may be 0.)
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

namespace {

DWORD FindQorvel() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD pid = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, L"qorvel.exe") == 0) pid = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return pid;
}

}  // namespace

int main() {
  const DWORD pid = FindQorvel();
  if (pid == 0) return 1;
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  const DWORD gdi = process != nullptr ? GetGuiResources(process, GR_GDIOBJECTS) : 0;
  const DWORD user = process != nullptr ? GetGuiResources(process, GR_USEROBJECTS) : 0;
  if (process != nullptr) CloseHandle(process);
  struct Found { DWORD pid; HWND hwnd; } found{pid, nullptr};
  EnumWindows(
      [](HWND w, LPARAM param) -> BOOL {
        auto& f = *reinterpret_cast<Found*>(param);
        wchar_t name[32] = {};
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        GetClassNameW(w, name, 32);
        if (owner != f.pid || lstrcmpW(name, L"QorvelForm1") != 0) return TRUE;
        f.hwnd = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  std::printf("gdi=%lu user=%lu locked=%d\n", gdi, user, found.hwnd != nullptr && IsZoomed(found.hwnd) ? 1 : 0);
  return 0;
}
