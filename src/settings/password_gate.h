#pragma once
#include <chrono>

#include "guard/form1.h"
#include "platform/services.h"

namespace qorvel::settings {

// Shows the settings window modally and returns when it has closed.
class Form2Host {
 public:
  virtual ~Form2Host() = default;
  virtual void show_modal() = 0;
};

// How long the password prompt waits. The hour check is off while it is
// open, so an unanswered prompt must not keep the guard off.
inline constexpr std::chrono::seconds kPasswordPromptLimit{60};

// The main window's settings button: stops the hour check, asks for the
// password, and opens the settings window on a match.
class PasswordGate final : public guard::SettingsDoor {
 public:
  PasswordGate(platform::Services& services, guard::Form1& form1, Form2Host& form2)
      : services_(services), form1_(form1), form2_(form2) {}
  void open() override;

 private:
  platform::Services& services_;
  guard::Form1& form1_;
  Form2Host& form2_;
};

}  // namespace qorvel::settings
