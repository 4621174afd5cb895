#pragma once
// The settings file's text, as Windows writes it, for every kind of test.
#include <string>
#include <string_view>
#include <vector>

namespace qorvel::test {

inline const std::vector<int> kFirstRunHours = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                                13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};

// These hours, password and start-up flag; the defaults give the first-run file.
inline std::string SettingsText(const std::vector<int>& hours = kFirstRunHours, std::string_view password = "907",
                                char flag = '0') {
  std::string text = "[HOUR]\r\n";
  for (const int h : hours) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  return text + "[mm]\r\nnober=" + std::string(password) + "\r\n[bb]\r\ntwo=" + flag + "\r\n";
}

}  // namespace qorvel::test
