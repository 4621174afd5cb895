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
  // Exactly the bytes the Windows reader writes into the caller's buffer:
  // the lines and the final NUL; two NULs for an empty or missing section;
  // the whole buffer when the section does not fit.
  std::string buffer;
  std::size_t count = 0;  // the section reader's return value
};

// Section names match without regard to ASCII letter case; "[ HOUR ]" matches
// "HOUR". Lines end at LF, CR LF or a lone CR; a UTF-8 byte-order mark at the
// start is skipped. Lines come back as they stand, without their line ends; blank lines
// and ";" comment lines are skipped; a line without "=" comes back as it is.
// A NUL ends a name or a value but not its line: "k\0x=1\0y" reads as "k=1",
// a line of NULs reads as nothing, and "\0[s]" is no header.
// A section whose lines do not fit in buffer_size - 2 bytes is cut byte-wise
// to end with two NULs, and count is buffer_size - 2.
[[nodiscard]] SectionRead get_section(std::string_view file_bytes, std::string_view section,
                                      std::size_t buffer_size);

// The file's bytes after writing key=value (or deleting the key when value is
// nullopt), or nullopt when the write changes nothing. Keys match without
// regard to ASCII letter case and keep their spelling; a replaced value stays
// on its line; a new key follows the section's last non-blank line; a new
// section goes at the end of the file. Lines written end with CR LF; a last
// line without any line end gets one. Every other byte of the file is kept.
[[nodiscard]] std::optional<std::string> write_string(std::string_view file_bytes,
                                                      std::string_view section,
                                                      std::string_view key,
                                                      std::optional<std::string_view> value);

}  // namespace qorvel::platform::ini
