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
    // A write that did not land is a failure the settings window must show.
    return profile.write_string(section, key, value, file);
  } catch (const std::exception&) {
    return false;
  }
}

bool DeleteProfileValue(platform::ProfileFile& profile, std::string_view section,
                        std::string_view key, std::string_view file) {
  try {
    return profile.write_string(section, key, std::nullopt, file);
  } catch (const std::exception&) {
    return false;  // a failed delete leaves the file as it was
  }
}

std::vector<FirstRunWrite> FirstRunWrites() {
  // The [mm] and [bb] writes repeat on every pass; only the first one
  // changes anything, but the layout comes from this order.
  std::vector<FirstRunWrite> writes;
  for (int n = 1; n <= 23; ++n) {
    const std::string hour = std::to_string(n);
    writes.push_back({"HOUR", "hou" + hour, hour});
    writes.push_back({"mm", "nober", "907"});
    writes.push_back({"bb", "two", "0"});
  }
  return writes;
}

std::string_view ValueField(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return {};
  const auto rest = line.substr(eq + 1);
  return rest.substr(0, rest.find('='));
}

}  // namespace qorvel::store
