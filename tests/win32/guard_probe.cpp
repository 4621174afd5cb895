// Acts on a running guard as a child or a parent would, for
// scripts/installer-test.sh and the figures scripts:
//   guard [MS]      waits for a guard's window     ask LINE   asks the guardian
//   rtt N           N reads of the hours from the guardian, timed in this process (Wine's own
//                   start-up left out); prints rtt median=<ms> ms min=<ms> max=<ms>
//   end CODE...     ends the guard with each code, prints how soon it is back
//   quit PASSWORD   "设置", the password, "结束Qorvel"; waits for the end
//   road OLD NEW    "设置", OLD, deletes the first and the fourth hour listed, adds 5 and 1,
//                   saves NEW as the password, "结束Qorvel"; prints the failed-save line after
//                   each change ("-" when empty) and waits for the end
//   desktop         runs until killed (Wine stops its services when no program runs)
//   suspend         suspends the guard as suspend tools do (NtSuspendProcess), prints how
//                   soon another guard's window is locked and whether the frozen one ended
//   killloop MS     ends every guard every 50 ms until the guardian's log says the session
//                   was left uncovered in a locked hour (at most MS), prints how soon
//   wm_null SECONDS sends the main window WM_NULL every 20 ms from its first sight (the start-up
//                   prompt answered with Cancel) until it has been locked that long; prints the
//                   slowest reply: wm_null worst=<ms> ms probes=<n>
//   hide SECONDS    hides the locked main window every 20 ms that long; prints the share of looks
//                   in which it held: hide held=<percent> % looks=<n>
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/form2_window.h"
#include "platform/win32/guardian_link_win32.h"
#include "platform/win32/text.h"
#include "lock_sample.h"

namespace {

using qorvel::platform::win32::Narrow;

// Polls until ready() or the time is up; a busy machine only makes it wait.
template <typename Ready>
bool WaitFor(Ready ready, DWORD ms) {
  for (const ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(20))
    if (ready()) return true;
  return ready();
}

// The callers poll, so a window a topmost move hides from one walk is found by the next.
HWND WindowOf(DWORD pid, const wchar_t* window_class) {
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, window_class, nullptr)) != nullptr;) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// A running qorvel.exe other than `not_pid`, showing its main window if `shown`.
DWORD Guard(DWORD not_pid = 0, bool shown = true) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0; more = Process32NextW(snapshot, &entry))
    if (lstrcmpiW(entry.szExeFile, L"qorvel.exe") == 0 && entry.th32ProcessID != not_pid &&
        (!shown || WindowOf(entry.th32ProcessID, L"QorvelForm1") != nullptr))
      found = entry.th32ProcessID;
  CloseHandle(snapshot);
  return found;
}

constexpr DWORD kLimitMs = 60000;

int End(int count, wchar_t** codes) {
  for (int i = 0; i < count; ++i) {
    DWORD pid = 0;
    if (!WaitFor([&] { return (pid = Guard(0, false)) != 0; }, kLimitMs)) return std::printf("no guard\n"), 1;
    const UINT code = static_cast<UINT>(_wtoi(codes[i]));
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    DWORD exit_code = 0;
    if (process == nullptr || !TerminateProcess(process, code) || WaitForSingleObject(process, kLimitMs) != 0 ||
        !GetExitCodeProcess(process, &exit_code) || exit_code != code)
      return std::printf("could not end %lu with %u\n", pid, code), 1;
    CloseHandle(process);
    const ULONGLONG ended = GetTickCount64();
    if (!WaitFor([&] { return Guard(pid) != 0; }, kLimitMs)) return std::printf("code %u: not back\n", code), 1;
    std::printf("code %u: back_ms=%llu\n", code, GetTickCount64() - ended);
    std::fflush(stdout);
  }
  return 0;
}

// Posted, not sent: each click opens a modal window in the guard.
void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

namespace w32 = qorvel::platform::win32;

// Sent, so each change is done, over the guardian, before the next one.
void Send(HWND settings, int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(GetDlgItem(settings, id), message, wparam, lparam, SMTO_NORMAL, kLimitMs, &result);
}

std::string StatusLine(HWND settings) {
  wchar_t text[64] = {};
  Send(settings, w32::kForm2Status, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
  return text[0] == L'\0' ? "-" : Narrow(text);
}

// The settings window's road: hours out and in, a new password.
void Road(HWND settings, const wchar_t* new_password) {
  for (const auto& [listed, index] : {std::pair{true, 0}, {true, 3}, {false, 4}, {false, 0}}) {
    Send(settings, listed ? w32::kForm2List1 : w32::kForm2Combo1, listed ? LB_SETCURSEL : CB_SETCURSEL, index);
    Send(settings, listed ? w32::kForm2Command2 : w32::kForm2Command1, BM_CLICK);
    std::printf("%s %d: %s\n", listed ? "delete" : "add", index, StatusLine(settings).c_str());
  }
  Send(settings, w32::kForm2Text1, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(new_password));
  Send(settings, w32::kForm2Command3, BM_CLICK);
  std::printf("password: %s\n", StatusLine(settings).c_str());
  std::fflush(stdout);
}

int Quit(const wchar_t* password, const wchar_t* new_password = nullptr) {
  DWORD pid = 0;
  if (!WaitFor([&] { return (pid = Guard()) != 0; }, kLimitMs)) return std::printf("no guard\n"), 1;
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  Click(GetDlgItem(WindowOf(pid, L"QorvelForm1"), 102));  // "设置"
  HWND prompt = nullptr, settings = nullptr;
  if (!WaitFor([&] { return (prompt = WindowOf(pid, L"#32770")) != nullptr; }, kLimitMs))
    return std::printf("no password prompt\n"), 1;
  const HWND edit = FindWindowExW(prompt, nullptr, L"Edit", nullptr);
  for (const wchar_t* c = password; *c != L'\0'; ++c) PostMessageW(edit, WM_CHAR, *c, 1);
  Click(GetDlgItem(prompt, IDOK));
  if (!WaitFor([&] { return (settings = WindowOf(pid, qorvel::platform::win32::kForm2ClassName)) != nullptr; }, kLimitMs))
    return std::printf("no settings window\n"), 1;
  if (new_password != nullptr) Road(settings, new_password);
  Click(GetDlgItem(settings, qorvel::platform::win32::kForm2Command4));  // "结束Qorvel"
  if (WaitForSingleObject(process, kLimitMs) != WAIT_OBJECT_0) return std::printf("the guard did not end\n"), 1;
  return std::printf("ended %lu\n", pid), 0;
}

// A guard other than `not_pid` whose window is locked (maximised).
DWORD LockedGuard(DWORD not_pid) {
  const DWORD pid = Guard(not_pid);
  const HWND main = pid == 0 ? nullptr : WindowOf(pid, L"QorvelForm1");
  return main != nullptr && IsZoomed(main) ? pid : 0;
}

int Suspend() {
  DWORD pid = 0;
  if (!WaitFor([&] { return (pid = LockedGuard(0)) != 0; }, kLimitMs)) return std::printf("no locked guard\n"), 1;
  const HANDLE process = OpenProcess(PROCESS_SUSPEND_RESUME | SYNCHRONIZE, FALSE, pid);
  using Suspender = LONG(WINAPI*)(HANDLE);
  const auto suspend =
      reinterpret_cast<Suspender>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSuspendProcess")));
  if (process == nullptr || suspend == nullptr || suspend(process) != 0) return std::printf("could not suspend %lu\n", pid), 1;
  const ULONGLONG frozen = GetTickCount64();
  DWORD next = 0;
  if (!WaitFor([&] { return (next = LockedGuard(pid)) != 0; }, kLimitMs)) return std::printf("no new locked guard\n"), 1;
  const ULONGLONG back = GetTickCount64() - frozen;
  const bool ended = WaitForSingleObject(process, kLimitMs) == WAIT_OBJECT_0;
  std::printf("suspended %lu, locked again by %lu: back_ms=%llu, the frozen one %s\n", pid, next, back,
              ended ? "ended" : "still runs");
  return ended ? 0 : 1;
}

// Occurrences of `text` in the guardian's log.
int InLog(const char* text) {
  std::ifstream file("C:\\ProgramData\\Qorvel\\guardian.log", std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  const std::string all = bytes.str();
  int n = 0;
  for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
  return n;
}

int KillLoop(DWORD limit_ms) {
  constexpr const char* kUncovered = "not covered in a locked hour";
  const int before = InLog(kUncovered);
  const ULONGLONG start = GetTickCount64();
  int ended = 0;
  for (ULONGLONG last_look = 0; GetTickCount64() < start + limit_ms; Sleep(50)) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      if (lstrcmpiW(entry.szExeFile, L"qorvel.exe") != 0) continue;
      const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
      if (process != nullptr && TerminateProcess(process, 0)) ++ended;
      if (process != nullptr) CloseHandle(process);
    }
    CloseHandle(snapshot);
    if (GetTickCount64() - last_look < 500) continue;
    last_look = GetTickCount64();
    if (InLog(kUncovered) > before)
      return std::printf("uncovered_ms=%llu guards_ended=%d\n", GetTickCount64() - start, ended), 0;
  }
  return std::printf("no uncovered line after %lu ms, guards_ended=%d\n", limit_ms, ended), 1;
}

int WmNull(double seconds) {
  DWORD pid = 0;
  HWND main = nullptr;
  if (!WaitFor([&] {
    if (pid == 0 && (pid = Guard(0, false)) == 0) return false;
    if (const HWND box = WindowOf(pid, L"#32770")) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    return (main = WindowOf(pid, L"QorvelForm1")) != nullptr;
  }, 2 * kLimitMs)) return std::printf("no guard\n"), 1;
  double worst = 0;
  ULONGLONG locked_at = 0;
  int probes = 0;
  for (const ULONGLONG give_up = GetTickCount64() + 2 * kLimitMs;
       locked_at == 0 || GetTickCount64() < locked_at + static_cast<ULONGLONG>(seconds * 1000); Sleep(20)) {
    if (GetTickCount64() > give_up) return std::printf("never locked\n"), 1;
    DWORD_PTR result = 0;
    const auto start = std::chrono::steady_clock::now();
    if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result) == 0 && !IsWindow(main)) return 1;
    worst = std::max(worst, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    ++probes;
    if (locked_at == 0 && IsZoomed(main)) locked_at = GetTickCount64();
  }
  return std::printf("wm_null worst=%.1f ms probes=%d\n", worst, probes), 0;
}

int Hide(double seconds) {
  DWORD pid = 0;
  HWND main = nullptr;
  if (!WaitFor([&] {
    return (pid = Guard()) != 0 && qorvel::test::LockHolds(main = WindowOf(pid, L"QorvelForm1"));
  }, kLimitMs)) return std::printf("no locked guard\n"), 1;
  int looks = 0;
  const double held = qorvel::test::HeldUnderHiding(main, static_cast<ULONGLONG>(seconds * 1000), &looks);
  return std::printf("hide held=%.1f %% looks=%d\n", held, looks), 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2)
    return std::fprintf(stderr, "usage: guard_probe guard [MS], end CODE..., ask LINE, quit PASSWORD, road OLD NEW, desktop, wm_null SECONDS, "
                   "hide SECONDS, suspend, killloop MS\n"), 2;
  const std::wstring what = argv[1];
  if (what == L"desktop") Sleep(INFINITE);
  DWORD pid = 0;
  if (what == L"guard") {
    const DWORD limit = argc == 3 ? static_cast<DWORD>(_wtoi(argv[2])) : kLimitMs;
    return WaitFor([&] { return (pid = Guard()) != 0; }, limit) ? std::printf("pid=%lu\n", pid), 0 : 1;
  }
  if (what == L"end") return End(argc - 2, argv + 2);
  if (what == L"suspend") return Suspend();
  if (what == L"killloop" && argc == 3) return KillLoop(static_cast<DWORD>(_wtoi(argv[2])));
  if (what == L"ask" && argc == 3) {
    const auto reply = w32::Win32GuardianChannel().exchange(Narrow(argv[2]) + "\n");
    if (!reply) return std::printf("no pipe\n"), 1;
    return std::printf("%s", reply->c_str()), 0;
  }
  if (what == L"rtt" && argc == 3) {
    std::vector<double> ms;
    for (int i = 0; i < _wtoi(argv[2]); ++i) {
      const auto from = std::chrono::steady_clock::now();
      const auto reply = w32::Win32GuardianChannel().exchange("read HOUR \n");
      if (!reply || reply->rfind("ok", 0) != 0) return std::printf("rtt no answer\n"), 1;
      ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count());
    }
    if (ms.empty()) return 2;
    std::sort(ms.begin(), ms.end());
    const double median = (ms[(ms.size() - 1) / 2] + ms[ms.size() / 2]) / 2;
    return std::printf("rtt median=%.2f ms min=%.2f max=%.2f\n", median, ms.front(), ms.back()), 0;
  }
  if (what == L"road" && argc == 4) return Quit(argv[2], argv[3]);
  if (argc != 3) return 2;
  if (what == L"hide") return Hide(_wtof(argv[2]));
  return what == L"quit" ? Quit(argv[2]) : what == L"wm_null" ? WmNull(_wtof(argv[2])) : 2;
}
