#pragma once
#include "platform/clock_process.h"

namespace qorvel::platform::win32 {

// The local clock, and the user locale's short date and long time.
class Win32Clock final : public Clock {
 public:
  [[nodiscard]] LocalTime now() const override;
  [[nodiscard]] std::string general_date(const LocalTime& t) const override;
};

}  // namespace qorvel::platform::win32
