#include <windows.h>

#include "platform/codepage.h"

namespace qorvel::platform {
namespace {

constexpr UINT kCp936 = 936;

std::wstring ToWide(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), n);
  return wide;
}

std::string FromWide(std::wstring_view wide, UINT code_page) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

}  // namespace

std::string utf8_to_cp936(std::string_view utf8) { return FromWide(ToWide(utf8, CP_UTF8), kCp936); }
std::string cp936_to_utf8(std::string_view cp936) { return FromWide(ToWide(cp936, kCp936), CP_UTF8); }

}  // namespace qorvel::platform
