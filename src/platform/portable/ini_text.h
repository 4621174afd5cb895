#pragma once
// The INI profile rules on a file's bytes (code page 936), without any I/O:
// the same observable behaviour as the Windows profile functions on the
// settings file.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::platform::ini {

struct SectionRead {
  std::string buffer;  // exactly what the caller's buffer would hold, up to and including the final NUL pair
  std::size_t count = 0;  // the section reader's return value
};

// Section names match without regard to ASCII letter case; "[ HOUR ]" matches
// "HOUR". Blank lines are skipped; a line without "=" comes back as it is.
// A section that does not fit in buffer_size is cut to end with two NULs and
// count is buffer_size - 2.
[[nodiscard]] SectionRead get_section(std::string_view file_bytes, std::string_view section,
                                      std::size_t buffer_size);

// The file's bytes after writing key=value (or deleting the key when value is
// nullopt), or nullopt when the write changes nothing.
[[nodiscard]] std::optional<std::string> write_string(std::string_view file_bytes,
                                                      std::string_view section,
                                                      std::string_view key,
                                                      std::optional<std::string_view> value);

}  // namespace qorvel::platform::ini
