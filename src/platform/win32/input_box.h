#pragma once
#include <string>
#include <string_view>

namespace qorvel::platform::win32 {

// A modal box with a prompt, one text field and OK / Cancel. Returns the
// typed text, or "" on Cancel, Esc or close. masked hides what is typed.
std::string ShowInputBox(std::string_view prompt, std::string_view title, bool masked);

}  // namespace qorvel::platform::win32
