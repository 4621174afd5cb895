// The guardian service's decisions about processes, users and the time
// zone's right, met in-process under Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/win32/guardian_checks_win32.h"

namespace qorvel {
namespace {

namespace w32 = platform::win32;

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

DWORD OwnSession() {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  return session;
}

bool Adopted(DWORD pid, DWORD session, const std::wstring& exe) {
  const HANDLE h = w32::OpenGuardProcess(pid, session, exe);
  if (h == nullptr) return false;
  CloseHandle(h);
  return true;
}

// This test program stands for the installed guard: only the running process
// of the session from that very path is one; a name alone is not.
TEST(GuardianChecks, OnlyARunningProcessOfTheSessionFromTheGuardsPathIsAdopted) {
  const std::wstring own = OwnPath();
  const DWORD pid = GetCurrentProcessId(), session = OwnSession();
  std::wstring upper = own;
  CharUpperW(upper.data());
  const std::wstring name = own.substr(own.find_last_of(L'\\') + 1);
  struct Case {
    const char* what;
    DWORD pid, session;
    std::wstring exe;
    bool adopted;
  } cases[] = {
      {"the guard itself", pid, session, own, true},
      {"the same path in another letter case", pid, session, upper, true},
      {"another session's process", pid, session + 1, own, false},
      {"the same name in another folder (a decoy)", pid, session, L"C:\\users\\child\\" + name, false},
      {"the folder without the file", pid, session, own.substr(0, own.find_last_of(L'\\')), false},
      {"no process", 0, session, own, false},
  };
  for (const auto& c : cases) EXPECT_EQ(Adopted(c.pid, c.session, c.exe), c.adopted) << c.what;

  // A process that has ended, its id still held: no guard any more.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  std::wstring command = L"\"" + own + L"\" --gtest_list_tests";
  ASSERT_TRUE(CreateProcessW(own.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startup, &child));
  EXPECT_TRUE(Adopted(child.dwProcessId, session, own)) << "suspended, it still runs";
  TerminateProcess(child.hProcess, 0);
  WaitForSingleObject(child.hProcess, INFINITE);
  EXPECT_FALSE(Adopted(child.dwProcessId, session, own)) << "ended";
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

struct Sid {
  explicit Sid(const wchar_t* text) { ConvertStringSidToSidW(text, &sid); }
  ~Sid() { LocalFree(sid); }
  Sid(const Sid&) = delete;
  Sid& operator=(const Sid&) = delete;
  PSID sid = nullptr;
};

bool AdministratorAmong(const std::vector<SID_AND_ATTRIBUTES>& groups) {
  std::vector<char> buffer(sizeof(TOKEN_GROUPS) + groups.size() * sizeof(SID_AND_ATTRIBUTES));
  auto* list = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
  list->GroupCount = static_cast<DWORD>(groups.size());
  for (std::size_t i = 0; i < groups.size(); ++i) list->Groups[i] = groups[i];
  return w32::AdministratorIn(*list);
}

// A filtered (UAC) token holds Administrators only to deny: that session
// counts through its linked token, never through this one.
TEST(GuardianChecks, AnAdministratorIsOneWhoseGroupsCountAdministrators) {
  Sid admins(L"S-1-5-32-544"), users(L"S-1-5-32-545"), everyone(L"S-1-1-0"), domain_admins(L"S-1-5-21-1-2-3-512");
  constexpr DWORD on = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;
  struct Case {
    const char* what;
    std::vector<SID_AND_ATTRIBUTES> groups;
    bool administrator;
  } cases[] = {
      {"no groups", {}, false},
      {"Users and Everyone", {{everyone.sid, on}, {users.sid, on}}, false},
      {"Administrators", {{admins.sid, on}}, true},
      {"Administrators after others", {{everyone.sid, on}, {users.sid, on}, {admins.sid, on}}, true},
      {"Administrators to deny only (filtered)", {{users.sid, on}, {admins.sid, SE_GROUP_USE_FOR_DENY_ONLY}}, false},
      {"a domain's admins are not the machine's", {{domain_admins.sid, on}}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(AdministratorAmong(c.groups), c.administrator) << c.what;
}

class FakeRights final : public w32::AccountRights {
 public:
  long remove(PSID account, std::wstring_view right) override { return Record("remove", account, right); }
  long add(PSID account, std::wstring_view right) override { return Record("add", account, right); }
  std::vector<std::string> calls;
  long status = 0;

 private:
  long Record(const char* what, PSID account, std::wstring_view right) {
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(account, &text);
    calls.push_back(std::string(what) + " " + (text ? std::string(text, text + lstrlenW(text)) : "?") + " " +
                    std::string(right.begin(), right.end()));
    LocalFree(text);
    return status;
  }
};

// The installer's verb: Users' time-zone right out, back at uninstall, and
// a refusal reported, never taken for done.
TEST(GuardianChecks, TheTimeZoneVerbTakesTheRightFromUsersAndGivesItBack) {
  struct Case {
    const wchar_t* action;
    long status;
    int code;
    std::vector<std::string> calls;
    const char* line;
  } cases[] = {
      {L"remove", 0, 0, {"remove S-1-5-32-545 SeTimeZonePrivilege"}, "took \"change the time zone\" from Users"},
      {L"restore", 0, 0, {"add S-1-5-32-545 SeTimeZonePrivilege"}, "gave \"change the time zone\" back to Users"},
      {L"remove", static_cast<long>(0xC0000022), 1, {"remove S-1-5-32-545 SeTimeZonePrivilege"},
       "took \"change the time zone\" from Users failed: status 0xc0000022"},
      {L"restore", static_cast<long>(0xC0000034), 1, {"add S-1-5-32-545 SeTimeZonePrivilege"},
       "gave \"change the time zone\" back to Users failed: status 0xc0000034"},
      {L"Remove", 0, 2, {}, "usage: qorvel-guardian timezone-right remove|restore"},
      {L"", 0, 2, {}, "usage: qorvel-guardian timezone-right remove|restore"},
  };
  for (const auto& c : cases) {
    FakeRights rights;
    rights.status = c.status;
    std::string line;
    EXPECT_EQ(w32::TimeZoneRightVerb(c.action, rights, line), c.code) << c.line;
    EXPECT_EQ(rights.calls, c.calls) << c.line;
    EXPECT_EQ(line, c.line);
  }
}

}  // namespace
}  // namespace qorvel
