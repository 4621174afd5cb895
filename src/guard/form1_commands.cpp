// The main window's password-free commands.
#include <string>

#include "guard/form1.h"
#include "store/module1.h"

namespace qorvel::guard {

inline constexpr std::string_view kLockCommandLine = "RunDll32.exe user32.dll,LockWorkStation";

void Form1::Command1_Click() {
  services_.shell.start_process(kLockCommandLine, platform::kSwShowNormal);
}

void Form1::Command3_Click() {
  // No confirmation: anyone at the machine may switch it off.
  services_.power.exit_windows(platform::kEwxForcePowerOff, 0);
}

void Form1::Command4_Click() { ShowAllowedHours(); }

void Form1::ShowAllowedHours() {
  view_.set_hours_text("");
  std::string text;
  for (const auto& line : store::ReadProfileSection(services_.profile, "HOUR", store::kSettingsFile)) {
    text = std::string(store::ValueField(line)) + "点  " + text;
  }
  view_.set_hours_text(text);
}

}  // namespace qorvel::guard
