#pragma once
#include <string>
#include <string_view>

namespace qorvel::platform {

// Conversions between UTF-8 and code page 936 (GBK), the settings file's
// encoding on every platform. Bytes that do not convert become '?'.
[[nodiscard]] std::string utf8_to_cp936(std::string_view utf8);
[[nodiscard]] std::string cp936_to_utf8(std::string_view cp936);

}  // namespace qorvel::platform
