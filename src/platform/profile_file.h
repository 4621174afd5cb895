#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::platform {

// The INI profile functions (GetPrivateProfileSectionA and
// WritePrivateProfileStringA on Windows). Text is UTF-8 here; the file holds
// code page 936.
class ProfileFile {
 public:
  virtual ~ProfileFile() = default;

  // Reads a section into a buffer of buffer_size ANSI characters and returns
  // the filled part, converted to UTF-8: every entry line of the section in
  // file order, each followed by a NUL, the whole followed by one more NUL.
  // A missing file or section gives the two NULs alone; a section that does not fit
  // is cut so that the result still ends with two NULs.
  [[nodiscard]] virtual std::string get_section(std::string_view section, std::size_t buffer_size,
                                                std::string_view file) = 0;

  // Writes key=value into the section, creating file and section as needed.
  // No value (nullopt, not "") deletes the key's line. False on failure.
  virtual bool write_string(std::string_view section, std::string_view key,
                            std::optional<std::string_view> value, std::string_view file) = 0;
};

}  // namespace qorvel::platform
