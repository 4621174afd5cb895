#include "settings/password_gate.h"

namespace qorvel::settings {

void PasswordGate::open() {}

}  // namespace qorvel::settings
