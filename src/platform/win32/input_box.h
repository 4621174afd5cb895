#pragma once
#include <chrono>
#include <string>
#include <string_view>

namespace qorvel::platform::win32 {

// A modal prompt with one text field, OK and Cancel, owned by the active
// window. Returns the typed text (UTF-8), or "" on Cancel, Esc or close.
// masked shows bullets instead of the typed characters. A non-zero
// time_limit cancels the box when it runs out. It is owned by the active
// window, so above a topmost owner it is topmost too.
std::string ShowInputBox(std::string_view prompt, std::string_view title, bool masked,
                         std::chrono::seconds time_limit = std::chrono::seconds::zero());

}  // namespace qorvel::platform::win32
