#include "platform/win32/guardian_link_win32.h"

#include <windows.h>

#include <string>

#include "guardian/guardian.h"
#include "platform/win32/guardian_service_win32.h"

namespace qorvel::platform::win32 {

bool Win32GuardianLink::announce_quit(std::string_view password) {
  const std::string request = guardian::QuitRequest(password);
  // The guardian answers one try a second; a try refused as too soon is
  // tried again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) Sleep(1000);
    char reply[16];
    DWORD got = 0;
    if (!CallNamedPipeW(kGuardianPipe, const_cast<char*>(request.data()), static_cast<DWORD>(request.size()), reply,
                        sizeof reply, &got, 2000))
      return false;  // no guardian: nothing will bring the guard back anyway
    const auto answer = guardian::ParseAnswer(std::string_view(reply, got));
    if (answer != guardian::QuitAnswer::busy) return answer == guardian::QuitAnswer::accepted;
  }
  return false;
}

}  // namespace qorvel::platform::win32
