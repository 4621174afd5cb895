#include "platform/codepage.h"

namespace qorvel::platform {

std::string utf8_to_cp936(std::string_view utf8) { return std::string(utf8); }
std::string cp936_to_utf8(std::string_view cp936) { return std::string(cp936); }

}  // namespace qorvel::platform
