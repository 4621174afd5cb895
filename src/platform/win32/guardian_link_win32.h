#pragma once
// The guard's side of the guardian's pipe.
#include "platform/system.h"

namespace qorvel::platform::win32 {

class Win32GuardianLink final : public GuardianLink {
 public:
  bool announce_quit(std::string_view password) override;
};

}  // namespace qorvel::platform::win32
