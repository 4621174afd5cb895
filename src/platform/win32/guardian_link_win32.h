#pragma once
// The guard's side of the guardian's pipe.
#include <optional>
#include <string>

#include "platform/system.h"

namespace qorvel::platform::win32 {

class Win32GuardianChannel final : public GuardianChannel {
 public:
  // The service "QorvelGuardian" is registered; asked once, as only an
  // administrator can change it.
  [[nodiscard]] bool installed() const override;
  std::optional<std::string> exchange(std::string_view request) override;

 private:
  mutable std::optional<bool> installed_;
};

}  // namespace qorvel::platform::win32
