#include "platform/win32/clock_win32.h"

#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

SYSTEMTIME ToSystemTime(const LocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  return st;
}

// Both format functions: first call sizes, second fills; the count includes
// the terminating null.
template <typename Format>
std::wstring Formatted(Format format) {
  const int n = format(nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  format(out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

}  // namespace

LocalTime Win32Clock::now() const {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

std::string Win32Clock::general_date(const LocalTime& t) const {
  const SYSTEMTIME st = ToSystemTime(t);
  std::wstring text = Formatted([&](wchar_t* buf, int n) {
    return GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, n, nullptr);
  });
  // Midnight is written as the date alone.
  if (t.hour != 0 || t.minute != 0 || t.second != 0) {
    text += L' ';
    text += Formatted([&](wchar_t* buf, int n) {
      return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, buf, n);
    });
  }
  return Narrow(text);
}

}  // namespace qorvel::platform::win32
