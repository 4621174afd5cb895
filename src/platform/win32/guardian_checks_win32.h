#pragma once
// What the guardian service decides about processes, users and rights on
// Windows, apart from its loop so that a test can meet each decision.
#include <windows.h>

#include <string>
#include <string_view>

namespace qorvel::platform::win32 {

// A handle (SYNCHRONIZE, terminate, query) to process `pid` when it still
// runs, in session `session`, from the executable `guard_exe`; nullptr
// otherwise. The image is read from the process itself: any program may be
// named qorvel.exe.
[[nodiscard]] HANDLE OpenGuardProcess(DWORD pid, DWORD session, const std::wstring& guard_exe);

// Whether BUILTIN\Administrators is among these groups and counts (not only
// to deny access).
[[nodiscard]] bool AdministratorIn(const TOKEN_GROUPS& groups);
// Whether a user's token is an administrator's: itself, or the full token
// linked to a filtered (UAC) one.
[[nodiscard]] bool TokenIsAdministrator(HANDLE token);

// "Change the time zone", given to BUILTIN\Users by default.
inline constexpr wchar_t kTimeZoneRight[] = L"SeTimeZonePrivilege";
inline constexpr wchar_t kUsersSid[] = L"S-1-5-32-545";

// The local security policy's account rights, as the verb reaches them.
class AccountRights {
 public:
  virtual ~AccountRights() = default;
  // NTSTATUS-like: 0 for success.
  virtual long remove(PSID account, std::wstring_view right) = 0;
  virtual long add(PSID account, std::wstring_view right) = 0;
};
AccountRights& SystemAccountRights();

// `qorvel-guardian.exe timezone-right remove|restore`: takes the right from
// Users at install, gives it back at uninstall. Returns the exit code and
// sets `line` to what was done, for the installer's log and the guardian's.
int TimeZoneRightVerb(std::wstring_view action, AccountRights& rights, std::string& line);

}  // namespace qorvel::platform::win32
