#include "platform/win32/dialogs_win32.h"

#include "platform/win32/input_box.h"
#include "platform/win32/text.h"

namespace qorvel::platform::win32 {

Win32Dialogs::Win32Dialogs(const ProcessInfo& process) : title_(Widen(process.exe_name())) {}

int Win32Dialogs::message_box(std::string_view text, unsigned style) {
  // Owned by whatever window of ours is active, so it stays in front of it;
  // at start-up there is none yet.
  return MessageBoxW(GetActiveWindow(), Widen(text).c_str(), title_.c_str(), style);
}

std::string Win32Dialogs::input_box(std::string_view prompt, std::string_view title, bool masked,
                                    std::chrono::seconds time_limit) {
  return ShowInputBox(prompt, title, masked, time_limit);
}

}  // namespace qorvel::platform::win32
