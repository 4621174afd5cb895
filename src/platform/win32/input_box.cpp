#include "platform/win32/input_box.h"

namespace qorvel::platform::win32 {

// Until the real box lands every question is cancelled.
std::string ShowInputBox(std::string_view, std::string_view, bool) { return {}; }

}  // namespace qorvel::platform::win32
