#pragma once
// The guardian service's Windows side: the sessions, the guards' processes,
// the settings file and its copy, and the pipe a guard asks to end on. The
// decisions are guardian::Guardian's; this only carries them out.
#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "guardian/guardian.h"

namespace qorvel::platform::win32 {

inline constexpr wchar_t kGuardianServiceName[] = L"QorvelGuardian";
inline constexpr wchar_t kGuardianPipe[] = L"\\\\.\\pipe\\qorvel-guardian";

// What the service's control handler passes to the loop. The handler runs
// on another thread: the events wake the loop, the sets say what happened.
struct GuardianSignals {
  HANDLE stop = nullptr;              // manual reset
  HANDLE shutdown = nullptr;          // manual reset: the machine goes down
  HANDLE sessions_changed = nullptr;  // auto reset
  HANDLE clock_changed = nullptr;     // auto reset: someone set the clock
  std::mutex mutex;
  std::set<DWORD> logging_off;  // session numbers seen logging off
};

// Runs until stop or shutdown is signalled. 0, or the Win32 error that
// stopped it: the service manager then restarts it.
DWORD RunGuardian(GuardianSignals& signals);

// The folder of the settings file's copy, %ProgramData%\Qorvel.
std::wstring GuardianDataFolder();

// The rights the guardian gives its files, as one descriptor each: SYSTEM
// and Administrators have full control, nobody else any access, and nothing
// is inherited from the folder above.
inline constexpr wchar_t kProtectedFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
inline constexpr wchar_t kProtectedFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
struct LocalFreeDeleter {
  void operator()(void* p) const { LocalFree(p); }
};
using Descriptor = std::unique_ptr<void, LocalFreeDeleter>;
[[nodiscard]] Descriptor ProtectedFileDescriptor();
[[nodiscard]] Descriptor ProtectedFolderDescriptor();

// Hands a descriptor to Windows for an open file or folder: the one place
// the rights are set, so a test can see what is asked for (Wine keeps no
// file's rights).
class FileSecurity {
 public:
  virtual ~FileSecurity() = default;
  virtual bool apply(HANDLE object, const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) = 0;
};
FileSecurity& SystemFileSecurity();

// May an object with this owner stay? SYSTEM, Administrators or the
// guardian's own account: a folder a standard user made keeps that user's
// right to change its rights.
[[nodiscard]] bool TrustedOwner(PSID owner);

// The settings file at one path, as the guardian's ports reach it: never
// through a folder, link, junction or device standing there.
class SettingsPath {
 public:
  SettingsPath(std::wstring path, FileSecurity& security) : path_(std::move(path)), security_(security) {}
  [[nodiscard]] guardian::SettingsFile read() const;
  bool restore(std::string_view bytes);
  bool write(std::string_view section, std::string_view key, std::optional<std::string_view> value);
  bool protect();
  bool move_aside();

 private:
  std::wstring path_;
  FileSecurity& security_;
};

// Makes `folder` a folder of the guardian's own with its protected rights:
// anything else standing there (a file, a link, a junction, a folder owned
// by someone else) is first moved aside. False when that fails.
bool PrepareDataFolder(const std::wstring& folder, FileSecurity& security);

// Renames what stands at `path` to `<path>.<time>.moved`, never following it.
bool MoveAside(const std::wstring& path);

}  // namespace qorvel::platform::win32
