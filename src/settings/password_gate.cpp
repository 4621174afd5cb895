#include "settings/password_gate.h"

#include <optional>
#include <string>

#include "settings/form2.h"

namespace qorvel::settings {

void PasswordGate::open() {
  // No hour check may move or lock the window while the prompt is up. The
  // window stays topmost meanwhile (the prompt shows above it): dropping that
  // would let other programs in front of the lock for as long as the prompt
  // stays open.
  form1_.Timer1().set_enabled(false);
  auto& guardian = services_.guardian;
  // Where the guardian owns the file the guard cannot read the password: it
  // asks, and a refused or unanswered check opens nothing.
  const std::optional<std::string> stored =
      guardian.owns_settings() ? std::nullopt : std::optional(StoredPassword(services_.profile));
  form1_.set_activity(guard::Form1::Activity::asking);
  const std::string typed =
      services_.dialogs.input_box("请输入密码", "app", /*masked=*/true, kPasswordPromptLimit);
  form1_.set_activity(guard::Form1::Activity::none);

  if (stored ? typed == *stored : guardian.check_password(typed)) {
    form1_.set_parent_password(typed);
    form1_.Timer1().set_enabled(false);
    form1_.window().set_window_pos(platform::kHwndNotopmost, platform::kSwpNoSizeNoMove);
    // The settings window may open on any monitor; the next tick after it
    // closes raises the covers again.
    if (auto* covers = form1_.covers()) covers->Lower();
    form1_.set_activity(guard::Form1::Activity::settings);
    form2_.show_modal();  // its close turns the timer back on
    form1_.set_activity(guard::Form1::Activity::none);
    return;
  }
  // A wrong guess must not switch the guard off; the next tick puts back
  // whatever layout the hour asks for.
  form1_.Timer1().set_enabled(true);
  form1_.window().set_window_pos(platform::kHwndTopmost, platform::kSwpNoSizeNoMove);
}

}  // namespace qorvel::settings
