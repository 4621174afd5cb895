// The main window's start-up: first run and the start-with-Windows prompt.
#include <exception>
#include <string>

#include "guard/form1.h"
#include "guard/startup.h"
#include "store/module1.h"

namespace qorvel::guard {

std::string RunCommand(std::string_view directory, std::string_view name) {
  std::string command = std::string(directory) + "\\" + std::string(name);
  if (command.find(' ') != std::string::npos) command = "\"" + command + "\"";
  return command;
}

void WriteFirstRunFile(platform::Services& services) {
  // Where the guardian owns the file, it alone decides whether one is due.
  if (services.guardian.owns_settings()) {
    services.guardian.write_first_run();
    return;
  }
  try {
    const auto exists = services.files.file_exists(store::kSettingsFile);
    if (!exists || *exists) return;  // unknown counts as a failure: leave the file alone
    for (const auto& w : store::FirstRunWrites()) {
      if (!services.profile.write_string(w.section, w.key, w.value, store::kSettingsFile)) return;
    }
  } catch (const std::exception&) {
    // Start-up goes on with whatever was written.
  }
}

bool StartupRegistered(platform::ProfileFile& profile) {
  const auto lines = store::ReadProfileSection(profile, "bb", store::kSettingsFile);
  // A missing section or a line without a number asks again rather than
  // trusting a hand-edited file.
  return !lines.empty() && store::Val(store::ValueField(lines.front())) == 1;
}

void OfferStartupRegistration(platform::Services& services) {
  if (StartupRegistered(services.profile)) return;
  if (services.dialogs.message_box(kRegisterPrompt, platform::kMbOkCancel, kStartupBoxLimit) != platform::kIdOk)
    return;

  const std::string name = services.process.exe_name();
  const std::string command = RunCommand(services.process.exe_directory(), name);
  if (!services.registry.set_local_machine_string(kRunKey, name, command)) {
    // Keep asking: the flag only records a registration that happened.
    services.dialogs.message_box(kRegisterFailed, platform::kMbIconWarning, kStartupBoxLimit);
    return;
  }
  store::WriteProfileValue(services.profile, store::kSettingsFile, "bb", "two", "1");
  services.dialogs.message_box(kRegisterDone, platform::kMbIconInformation, kStartupBoxLimit);
}

void Form1::Form_Load() {
  // A second instance guards too, but leaves start-up to the first.
  startup_prompt_due_ = !services_.process.previous_instance();
  if (!startup_prompt_due_) return;
  services_.privilege.enable_shutdown_privilege();
  WriteFirstRunFile(services_);
}

void Form1::Form_Shown() {
  // The lock comes first: a prompt nobody answers must not keep the screen
  // open until the first tick, and it shows above whatever layout this gives.
  Timer1_Timer();
  if (startup_prompt_due_) OfferStartupRegistration(services_);
}

}  // namespace qorvel::guard
