#include "platform/codepage.h"
#include "platform/win32/text.h"

namespace qorvel::platform {

// The file's code page, whatever the system's ANSI code page is.
constexpr UINT kCp936 = 936;

std::string utf8_to_cp936(std::string_view utf8) { return win32::Narrow(win32::Widen(utf8), kCp936); }
std::string cp936_to_utf8(std::string_view cp936) { return win32::Narrow(win32::Widen(cp936, kCp936)); }

}  // namespace qorvel::platform
