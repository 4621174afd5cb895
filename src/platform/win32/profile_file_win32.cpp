#include "platform/win32/profile_file_win32.h"

namespace qorvel::platform::win32 {

std::string Win32ProfileFile::get_section(std::string_view, std::size_t, std::string_view) {
  return std::string(1, '\0');
}

bool Win32ProfileFile::write_string(std::string_view, std::string_view,
                                    std::optional<std::string_view>, std::string_view) {
  return false;
}

}  // namespace qorvel::platform::win32
