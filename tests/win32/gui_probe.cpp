// Prints the GDI and USER object counts of the running qorvel.exe and
// whether its main window is maximised, for scripts/soak:
//   gdi=<n> user=<n> locked=<0|1>
// Exits with 1 when no qorvel.exe runs. (Under Wine the counts may be 0.)
//
// "gui_probe wm_null <seconds>", for scripts/figures-wine: waits for
// qorvel.exe's main window (answering its start-up prompt with Cancel), then
// sends it WM_NULL every 20 ms from its first sight until it has been locked
// for that many seconds, and prints the slowest reply:
//   wm_null worst=<ms> ms probes=<n>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// qorvel's top-level window of this class, if shown.
HWND WindowOf(DWORD pid, const wchar_t* window_class) {
  struct Found { DWORD pid; const wchar_t* window_class; HWND hwnd; } found{pid, window_class, nullptr};
  EnumWindows(
      [](HWND w, LPARAM param) -> BOOL {
        auto& f = *reinterpret_cast<Found*>(param);
        wchar_t name[32] = {};
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        GetClassNameW(w, name, 32);
        if (owner != f.pid || lstrcmpW(name, f.window_class) != 0 || !IsWindowVisible(w)) return TRUE;
        f.hwnd = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.hwnd;
}

int WmNull(double seconds) {
  const ULONGLONG give_up = GetTickCount64() + 120000;
  DWORD pid = 0;
  HWND main = nullptr;
  while (main == nullptr && GetTickCount64() < give_up) {
    if (pid == 0) pid = FindQorvel();
    if (pid != 0) {
      if (const HWND box = WindowOf(pid, L"#32770")) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
      main = WindowOf(pid, L"QorvelForm1");
    }
    Sleep(5);
  }
  if (main == nullptr) return 1;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  double worst = 0;
  ULONGLONG locked_at = 0;
  int probes = 0;
  while (locked_at == 0 || GetTickCount64() < locked_at + static_cast<ULONGLONG>(seconds * 1000)) {
    if (GetTickCount64() > give_up) return 1;
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&start);
    if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result) == 0 && !IsWindow(main)) return 1;
    QueryPerformanceCounter(&end);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    ++probes;
    worst = std::max(worst, ms);
    if (locked_at == 0 && IsZoomed(main)) locked_at = GetTickCount64();
    Sleep(20);
  }
  std::printf("wm_null worst=%.1f ms probes=%d\n", worst, probes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "wm_null") == 0) return WmNull(std::atof(argv[2]));
  const DWORD pid = FindQorvel();
  if (pid == 0) return 1;
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  const DWORD gdi = process != nullptr ? GetGuiResources(process, GR_GDIOBJECTS) : 0;
  const DWORD user = process != nullptr ? GetGuiResources(process, GR_USEROBJECTS) : 0;
  if (process != nullptr) CloseHandle(process);
  const HWND form1 = WindowOf(pid, L"QorvelForm1");
  std::printf("gdi=%lu user=%lu locked=%d\n", gdi, user, form1 != nullptr && IsZoomed(form1) ? 1 : 0);
  return 0;
}
