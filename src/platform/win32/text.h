#pragma once
// Text at the Win32 edge: UTF-8 inside, UTF-16 for the W functions, the ANSI
// code page for the A functions.
#include <windows.h>

#include <string>
#include <string_view>

namespace qorvel::platform::win32 {

inline std::wstring Widen(std::string_view text, UINT code_page = CP_UTF8) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), size, out.data(), n);
  return out;
}

inline std::string Narrow(std::wstring_view wide, UINT code_page = CP_UTF8) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

inline std::string Utf8ToAnsi(std::string_view utf8) { return Narrow(Widen(utf8), CP_ACP); }
inline std::string AnsiToUtf8(std::string_view ansi) { return Narrow(Widen(ansi, CP_ACP)); }

// A window's or control's whole text.
inline std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace qorvel::platform::win32
