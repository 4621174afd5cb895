#include "platform/win32/guardian_checks_win32.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <cstdio>
#include <vector>

namespace qorvel::platform::win32 {

HANDLE OpenGuardProcess(DWORD pid, DWORD session, const std::wstring& guard_exe) {
  DWORD in = 0;
  if (pid == 0 || !ProcessIdToSessionId(pid, &in) || in != session) return nullptr;
  const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return nullptr;
  wchar_t path[MAX_PATH] = L"";
  DWORD size = MAX_PATH;
  // Looked at through the handle, so the pid cannot be reused in between; one
  // that just ended is no guard.
  if (QueryFullProcessImageNameW(process, 0, path, &size) && lstrcmpiW(path, guard_exe.c_str()) == 0 &&
      WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
    return process;
  CloseHandle(process);
  return nullptr;
}

bool AdministratorIn(const TOKEN_GROUPS& groups) {
  for (DWORD i = 0; i < groups.GroupCount; ++i) {
    const SID_AND_ATTRIBUTES& g = groups.Groups[i];
    if (IsWellKnownSid(g.Sid, WinBuiltinAdministratorsSid) && (g.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0)
      return true;
  }
  return false;
}

namespace {

bool GroupsHoldAdministrator(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<char> buffer(size);
  return GetTokenInformation(token, TokenGroups, buffer.data(), size, &size) &&
         AdministratorIn(*reinterpret_cast<const TOKEN_GROUPS*>(buffer.data()));
}

}  // namespace

bool TokenIsAdministrator(HANDLE token) {
  if (GroupsHoldAdministrator(token)) return true;
  // A split token: the session runs filtered, the administrator is behind it.
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) || linked.LinkedToken == nullptr)
    return false;
  const bool admin = GroupsHoldAdministrator(linked.LinkedToken);
  CloseHandle(linked.LinkedToken);
  return admin;
}

namespace {

class LsaRights final : public AccountRights {
 public:
  long remove(PSID account, std::wstring_view right) override {
    return Call(account, right, [](LSA_HANDLE p, PSID a, LSA_UNICODE_STRING* r) {
      return LsaRemoveAccountRights(p, a, FALSE, r, 1);
    });
  }
  long add(PSID account, std::wstring_view right) override {
    return Call(account, right, [](LSA_HANDLE p, PSID a, LSA_UNICODE_STRING* r) {
      return LsaAddAccountRights(p, a, r, 1);
    });
  }

 private:
  template <typename Change>
  static long Call(PSID account, std::wstring_view right, Change change) {
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT, &policy);
    if (status != 0) return status;
    std::wstring text(right);
    LSA_UNICODE_STRING name{static_cast<USHORT>(text.size() * sizeof(wchar_t)),
                            static_cast<USHORT>(text.size() * sizeof(wchar_t)), text.data()};
    status = change(policy, account, &name);
    LsaClose(policy);
    return status;
  }
};

}  // namespace

AccountRights& SystemAccountRights() {
  static LsaRights rights;
  return rights;
}

int TimeZoneRightVerb(std::wstring_view action, AccountRights& rights, std::string& line) {
  const bool remove = action == L"remove";
  if (!remove && action != L"restore") {
    line = "usage: qorvel-guardian timezone-right remove|restore";
    return 2;
  }
  PSID users = nullptr;
  if (!ConvertStringSidToSidW(kUsersSid, &users)) {
    line = "the Users group's SID: error " + std::to_string(GetLastError());
    return 1;
  }
  const long status = remove ? rights.remove(users, kTimeZoneRight) : rights.add(users, kTimeZoneRight);
  LocalFree(users);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(status));
  line = std::string(remove ? "took \"change the time zone\" from Users" : "gave \"change the time zone\" back to Users") +
         (status == 0 ? "" : std::string(" failed: status ") + hex);
  return status == 0 ? 0 : 1;
}

}  // namespace qorvel::platform::win32
