#include "platform/win32/profile_file_win32.h"

#include "platform/win32/text.h"

namespace qorvel::platform::win32 {

std::string Win32ProfileFile::get_section(std::string_view section, std::size_t buffer_size,
                                          std::string_view file) {
  if (buffer_size < 2) return std::string(buffer_size, '\0');
  // Not NUL: a cut section ends with a NUL in the buffer's last byte, a full
  // one of the same length leaves that byte alone.
  std::string buffer(buffer_size, '#');
  const DWORD count = GetPrivateProfileSectionA(Utf8ToAnsi(section).c_str(), buffer.data(),
                                                static_cast<DWORD>(buffer_size), Utf8ToAnsi(file).c_str());
  // The lines and the final NUL; two NULs when empty or cut.
  const bool cut = count + 2 == buffer_size && buffer[count + 1] == '\0';
  buffer.resize(count == 0 || cut ? count + 2 : count + 1);
  return AnsiToUtf8(buffer);
}

bool Win32ProfileFile::write_string(std::string_view section, std::string_view key,
                                    std::optional<std::string_view> value, std::string_view file) {
  const std::string ansi_value = value ? Utf8ToAnsi(*value) : std::string();
  return WritePrivateProfileStringA(Utf8ToAnsi(section).c_str(), Utf8ToAnsi(key).c_str(),
                                    value ? ansi_value.c_str() : nullptr, Utf8ToAnsi(file).c_str()) != 0;
}

}  // namespace qorvel::platform::win32
