#pragma once
// The real qorvel.exe started from a test: where it is, waiting on it, and
// its windows. A test program using this defines QORVEL_EXE.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32/text.h"

namespace qorvel::test {

// The build hands us a Unix path; Wine shows "/" as drive Z:.
inline std::wstring ExePath() {
  std::wstring path = L"Z:" + platform::win32::Widen(QORVEL_EXE);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

// Polls until ready() or the time is up; a busy machine only makes it wait.
template <typename Ready>
bool WaitFor(Ready ready, DWORD ms = 30000) {
  for (const ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(50))
    if (ready()) return true;
  return ready();
}

// A visible top-level window of the process with this class (and caption,
// if given). EnumWindows walks one snapshot of the z-order: a FindWindowEx
// walk can skip a window that a guard's topmost call moves above the one it
// stands on.
inline HWND WindowOf(DWORD pid, const wchar_t* window_class, const wchar_t* caption = nullptr) {
  struct Wanted {
    DWORD pid;
    const wchar_t* window_class;
    const wchar_t* caption;
    HWND found;
  } wanted{pid, window_class, caption, nullptr};
  EnumWindows(
      [](HWND w, LPARAM param) -> BOOL {
        auto& want = *reinterpret_cast<Wanted*>(param);
        wchar_t name[64] = {};
        wchar_t text[64] = {};
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        GetClassNameW(w, name, 64);
        GetWindowTextW(w, text, 64);
        if (owner != want.pid || !IsWindowVisible(w) || lstrcmpW(name, want.window_class) != 0 ||
            (want.caption != nullptr && lstrcmpW(text, want.caption) != 0))
          return TRUE;
        want.found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&wanted));
  return wanted.found;
}

// One started copy of the program. The guard refuses to close, so it is
// terminated.
struct RunningProgram {
  RunningProgram() {
    std::wstring command = L"\"" + ExePath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &p));
  }
  ~RunningProgram() {
    TerminateProcess(p.hProcess, 0);
    WaitForSingleObject(p.hProcess, 10000);
    CloseHandle(p.hThread);
    CloseHandle(p.hProcess);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  [[nodiscard]] bool alive() const { return WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT; }

  PROCESS_INFORMATION p{};
};

}  // namespace qorvel::test
