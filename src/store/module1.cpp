#include "store/module1.h"

#include <algorithm>
#include <exception>

namespace qorvel::store {
namespace {

std::string_view TrimSpaces(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

}  // namespace

std::vector<std::string> ReadProfileSection(platform::ProfileFile& profile,
                                            std::string_view section, std::string_view file) {
  const std::string buffer = profile.get_section(section, kSectionBufferSize, file);
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(std::count(buffer.begin(), buffer.end(), '\0')));
  // Lines are short: a plain scan beats a library call per line.
  for (std::size_t pos = 0, end = pos; pos < buffer.size(); pos = end + 1) {
    end = pos;
    while (end < buffer.size() && buffer[end] != '\0') ++end;
    if (end == pos) break;  // the terminating NUL
    lines.emplace_back(buffer, pos, end - pos);
  }
  return lines;
}

bool WriteProfileValue(platform::ProfileFile& profile, std::string_view file,
                       std::string_view section, std::string_view key, std::string_view value) {
  if (TrimSpaces(key).empty() || TrimSpaces(section).empty()) return false;
  try {
    // The writer's own result is not examined: an attempted write counts.
    profile.write_string(section, key, value, file);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

int DeleteProfileValue(platform::ProfileFile& profile, std::string_view section,
                       std::string_view key, std::string_view file) {
  try {
    profile.write_string(section, key, std::nullopt, file);
  } catch (const std::exception&) {
    // Nobody reads the result; a failed delete leaves the file as it was.
  }
  return 0;
}

std::string_view ValueField(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return {};
  const auto rest = line.substr(eq + 1);
  return rest.substr(0, rest.find('='));
}

}  // namespace qorvel::store
