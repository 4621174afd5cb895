#pragma once
// The settings file routines shared by every window.
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile_file.h"

namespace qorvel::store {

// The one settings file; its path is fixed.
inline constexpr std::string_view kSettingsFile = "C:\\mdb.ini";

// The section reader's buffer, in ANSI characters.
inline constexpr std::size_t kSectionBufferSize = 32767;

// Every raw entry line ("key=value") of a section, in file order. Empty when
// the file or the section is missing.
[[nodiscard]] std::vector<std::string> ReadProfileSection(platform::ProfileFile& profile,
                                                          std::string_view section,
                                                          std::string_view file);

// Writes the value exactly as passed. False, with nothing written, when the
// key or the section is blank (spaces only); false when the profile layer
// refuses or fails, or the call throws.
bool WriteProfileValue(platform::ProfileFile& profile, std::string_view file,
                       std::string_view section, std::string_view key, std::string_view value);

// Removes the key's line. False when the profile layer refuses or fails.
bool DeleteProfileValue(platform::ProfileFile& profile, std::string_view section,
                       std::string_view key, std::string_view file);

// The text between a line's first "=" and its next "=" (or the line's end);
// empty for a line without "=". A view into the line.
[[nodiscard]] std::string_view ValueField(std::string_view line);

// One write of the first-run file. The file's layout (its sections in this
// order) comes from exactly this sequence, so whoever writes the file makes
// these writes and no others.
struct FirstRunWrite {
  std::string section, key, value;
};
[[nodiscard]] std::vector<FirstRunWrite> FirstRunWrites();

// BASIC's Val: the number at the start of the text, 0 when there is none.
[[nodiscard]] double Val(std::string_view text);

}  // namespace qorvel::store
