#include "platform/portable/portable_profile_file.h"

namespace qorvel::platform {

std::string PortableProfileFile::get_section(std::string_view, std::size_t, std::string_view) {
  return std::string(1, '\0');
}

bool PortableProfileFile::write_string(std::string_view, std::string_view,
                                       std::optional<std::string_view>, std::string_view) {
  return false;
}

}  // namespace qorvel::platform
