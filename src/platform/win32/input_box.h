#pragma once
#include <string>
#include <string_view>

namespace qorvel::platform::win32 {

// A modal prompt with one text field, OK and Cancel, owned by the active
// window. Returns the typed text (UTF-8), or "" on Cancel, Esc or close.
// masked shows bullets instead of the typed characters.
std::string ShowInputBox(std::string_view prompt, std::string_view title, bool masked);

}  // namespace qorvel::platform::win32
