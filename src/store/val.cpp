// BASIC's Val, as the settings file's numbers have always been read.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "store/module1.h"

namespace qorvel::store {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// "&H" and "&O" numbers are integers; like BASIC, a hexadecimal or octal
// literal that fills 16 or 32 bits reads as a negative number.
double RadixValue(const std::string& digits, int radix) {
  std::uint64_t v = 0;
  bool any = false;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (radix == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (radix == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (d >= radix) break;
    if (v > (UINT64_MAX >> 4)) break;  // no wider than the type can hold
    v = v * static_cast<unsigned>(radix) + static_cast<unsigned>(d);
    any = true;
  }
  if (!any) return 0;
  if (v <= 0x7FFF) return static_cast<double>(v);
  if (v <= 0xFFFF) return static_cast<double>(v) - 65536.0;
  if (v <= 0x7FFFFFFF) return static_cast<double>(v);
  if (v <= 0xFFFFFFFF) return static_cast<double>(v) - 4294967296.0;
  return static_cast<double>(v);
}

}  // namespace

double Val(std::string_view text) {
  // The settings file's own numbers are a few plain digits, read for every
  // hour line twice a second: exact in a double, no copies.
  if (!text.empty() && text.size() <= 15 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    std::uint64_t v = 0;
    for (const char c : text) v = v * 10 + static_cast<unsigned>(c - '0');
    return static_cast<double>(v);
  }
  // Blanks count for nothing anywhere in the number.
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (!IsBlank(c)) s.push_back(c);
  }

  if (s.size() >= 2 && s[0] == '&') {
    const char r = static_cast<char>(s[1] | 0x20);
    if (r == 'h') return RadixValue(s.substr(2), 16);
    if (r == 'o') return RadixValue(s.substr(2), 8);
    return 0;
  }

  std::string num;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') num.push_back('-');
    ++i;
  }
  bool digits = false;
  bool point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      num.push_back(c);
      digits = true;
    } else if (c == '.' && !point) {
      num.push_back(c);
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return 0;

  // An exponent counts only with at least one digit after the optional sign.
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t j = i + 1;
    std::string exp = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp.push_back(s[j++]);
    const std::size_t start = j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') exp.push_back(s[j++]);
    if (j > start) num += exp;
  }

  double value = 0;
  const auto* first = num.data();
  const auto* last = num.data() + num.size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) {
    return num[0] == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  (void)ptr;
  return ec == std::errc() ? value : 0;
}

}  // namespace qorvel::store
