#include "settings/form2.h"

namespace qorvel::settings {

Form2::Form2(platform::Services& services, Form2View& view, guard::Form1& form1)
    : services_(services), view_(view), form1_(form1) {}

void Form2::Form_Load() {}
void Form2::Command1_Click() {}
void Form2::Command2_Click() {}
void Form2::Command3_Click() {}
void Form2::Command4_Click() {}
void Form2::Form_QueryUnload() {}

std::string StoredPassword(platform::ProfileFile&) { return "907"; }

}  // namespace qorvel::settings
