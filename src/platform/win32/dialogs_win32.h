#pragma once
// Message and input boxes on Win32.
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/clock_process.h"
#include "platform/dialogs.h"

namespace qorvel::platform::win32 {

class Win32Dialogs final : public Dialogs {
 public:
  // Boxes are titled with the executable's name, as the application's
  // default title.
  explicit Win32Dialogs(const ProcessInfo& process);

  // The window a message box belongs to when none of ours is active, as at
  // start-up when another program has the foreground.
  void set_owner(HWND owner) { owner_ = owner; }

  int message_box(std::string_view text, unsigned style, std::chrono::seconds time_limit) override;
  std::string input_box(std::string_view prompt, std::string_view title, bool masked,
                        std::chrono::seconds time_limit) override;

 private:
  std::wstring title_;
  HWND owner_ = nullptr;
};

}  // namespace qorvel::platform::win32
