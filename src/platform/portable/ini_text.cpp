#include "platform/portable/ini_text.h"

namespace qorvel::platform::ini {

SectionRead get_section(std::string_view, std::string_view, std::size_t) {
  return {std::string(1, '\0'), 0};
}

std::optional<std::string> write_string(std::string_view, std::string_view, std::string_view,
                                        std::optional<std::string_view>) {
  return std::nullopt;
}

}  // namespace qorvel::platform::ini
