#include "guard/form1.h"

namespace qorvel::guard {

void Form1::Form_Load() {}

}  // namespace qorvel::guard
