#include "settings/form2.h"

#include <algorithm>

#include "store/module1.h"

namespace qorvel::settings {
namespace {

constexpr std::string_view kInitialPassword = "907";

}  // namespace

Form2::Form2(platform::Services& services, Form2View& view, guard::Form1& form1)
    : services_(services), view_(view), form1_(form1) {}

void Form2::Form_Load() {
  view_.clear_list();
  for (const auto& line : store::ReadProfileSection(services_.profile, "HOUR", store::kSettingsFile)) {
    view_.add_list_item(store::ValueField(line));
  }
  // A read the guardian refused or never answered shows nothing: the
  // initial password is the file's default, never a failure's.
  if (!services_.guardian.owns_settings()) return view_.set_password_text(StoredPassword(services_.profile));
  const auto lines = store::ReadProfileSection(services_.profile, "mm", store::kSettingsFile);
  const auto eq = lines.empty() ? std::string::npos : lines.front().find('=');
  view_.set_password_text(eq == std::string::npos ? "" : lines.front().substr(eq + 1));
}

void Form2::Command1_Click() {
  const std::string hour = view_.combo_text();
  if (hour.empty()) return;
  const auto listed = view_.list_items();
  if (std::find(listed.begin(), listed.end(), hour) != listed.end()) return;
  // Lower-case section on purpose: the profile layer matches it to HOUR.
  const bool ok = store::WriteProfileValue(services_.profile, store::kSettingsFile, "hour", "hou" + hour, hour);
  Form_Load();
  Saved(ok);
}

void Form2::Command2_Click() {
  const auto selected = view_.selected_index();
  if (!selected) return;
  const auto listed = view_.list_items();
  if (*selected >= listed.size()) return;
  // Every HOUR key is "hou" and its own value, so the shown value names it.
  const bool ok = store::DeleteProfileValue(services_.profile, "HOUR", "hou" + listed[*selected], store::kSettingsFile);
  Form_Load();
  Saved(ok);
}

void Form2::Command3_Click() {
  // Saved exactly as typed; an empty password is a choice, not a mistake.
  const std::string password = view_.password_text();
  if (!store::WriteProfileValue(services_.profile, store::kSettingsFile, "mm", "nober", password)) {
    // The old password still holds, and still proves the parent.
    Form_Load();
    return Saved(false);
  }
  form1_.set_parent_password(password);
  Saved(true);
}

void Form2::Saved(bool ok) { view_.set_status_text(ok ? "" : kSaveFailed); }

void Form2::Command4_Click() {
  // Told first: a guard that ends any other way is brought back.
  services_.guardian.announce_quit(form1_.parent_password());
  view_.close();
  form1_.Unload();
}

void Form2::Form_QueryUnload() {
  form1_.Timer1().set_enabled(true);
  form1_.ShowAllowedHours();
}

std::string StoredPassword(platform::ProfileFile& profile) {
  const auto lines = store::ReadProfileSection(profile, "mm", store::kSettingsFile);
  if (lines.empty()) return std::string(kInitialPassword);
  const auto eq = lines.front().find('=');
  if (eq == std::string::npos) return std::string(kInitialPassword);
  return lines.front().substr(eq + 1);
}

}  // namespace qorvel::settings
