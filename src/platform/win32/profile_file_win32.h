#pragma once
#include "platform/profile_file.h"

namespace qorvel::platform::win32 {

// GetPrivateProfileSectionA and WritePrivateProfileStringA, with UTF-8 turned
// into the ANSI code page (through UTF-16) and back.
class Win32ProfileFile final : public ProfileFile {
 public:
  [[nodiscard]] std::string get_section(std::string_view section, std::size_t buffer_size,
                                        std::string_view file) override;
  bool write_string(std::string_view section, std::string_view key,
                    std::optional<std::string_view> value, std::string_view file) override;
};

}  // namespace qorvel::platform::win32
