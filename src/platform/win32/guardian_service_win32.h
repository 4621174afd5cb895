#pragma once
// The guardian service's Windows side: the sessions, the guards' processes,
// the settings file and its copy, and the pipe a guard asks to end on. The
// decisions are guardian::Guardian's; this only carries them out.
#include <windows.h>

#include <mutex>
#include <set>

namespace qorvel::platform::win32 {

inline constexpr wchar_t kGuardianServiceName[] = L"QorvelGuardian";
inline constexpr wchar_t kGuardianPipe[] = L"\\\\.\\pipe\\qorvel-guardian";

// What the service's control handler passes to the loop. The handler runs
// on another thread: the events wake the loop, the sets say what happened.
struct GuardianSignals {
  HANDLE stop = nullptr;              // manual reset
  HANDLE shutdown = nullptr;          // manual reset: the machine goes down
  HANDLE sessions_changed = nullptr;  // auto reset
  std::mutex mutex;
  std::set<DWORD> logging_off;  // session numbers seen logging off
};

// Runs until stop or shutdown is signalled. 0, or the Win32 error that
// stopped it: the service manager then restarts it.
DWORD RunGuardian(GuardianSignals& signals);

// The folder of the settings file's copy, %ProgramData%\Qorvel.
std::wstring GuardianDataFolder();

}  // namespace qorvel::platform::win32
