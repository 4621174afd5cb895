// The settings file and the existence test, on the Linux path.
#include <sys/stat.h>

#include <cerrno>

#include "platform/linux/services_linux.h"

namespace qorvel::platform::lin {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// What a missing section reads as: two NULs, cut to the buffer.
std::string EmptySection(std::size_t buffer_size) {
  return std::string(buffer_size < 2 ? buffer_size : 2, '\0');
}

}  // namespace

std::optional<std::string> MapPath(std::string_view path, std::string_view settings_path) {
  // Windows matches "c:\MDB.INI" to the same file; so does this.
  if (EqualsIgnoringCase(path, "C:\\mdb.ini")) return std::string(settings_path);
  if (path.starts_with('/')) return std::string(path);
  return std::nullopt;
}

std::string LinuxProfileFile::get_section(std::string_view section, std::size_t buffer_size,
                                          std::string_view file) {
  const auto path = MapPath(file, settings_path_);
  if (!path) return EmptySection(buffer_size);
  return engine_.get_section(section, buffer_size, *path);
}

bool LinuxProfileFile::write_string(std::string_view section, std::string_view key,
                                    std::optional<std::string_view> value, std::string_view file) {
  const auto path = MapPath(file, settings_path_);
  if (!path) return false;
  struct stat st{};
  const bool existed = lstat(path->c_str(), &st) == 0;
  if (!engine_.write_string(section, key, value, *path)) return false;
  // The guard runs in every user's session, and the parent may change the
  // hours from any of them: the file it creates is everyone's to replace.
  // (Anyone can read the password in it anyway.) Later writes keep the mode.
  if (!existed) chmod(path->c_str(), 0666);
  return true;
}

std::optional<bool> LinuxFileSystem::file_exists(std::string_view path) const {
  const auto mapped = MapPath(path, settings_path_);
  if (!mapped) return false;
  struct stat st{};
  if (stat(mapped->c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    return std::nullopt;
  }
  return !S_ISDIR(st.st_mode);
}

}  // namespace qorvel::platform::lin
