// Shows the settings window over a sample settings file until it is closed;
// scripts/screenshot-settings.sh photographs it.
#include <windows.h>

#include "platform/win32/form2_window.h"
#include "store/module1.h"
#include "support/fakes.h"

int main() {
  using namespace qorvel;
  test::FakeServices fx;
  fx.profile.set_text(store::kSettingsFile,
                      "[HOUR]\r\nhou7=7\r\nhou8=8\r\nhou12=12\r\nhou13=13\r\nhou18=18\r\nhou19=19\r\nhou20=20\r\n"
                      "hou21=21\r\n[mm]\r\nnober=907\r\n[bb]\r\ntwo=1\r\n");
  test::FakeForm1View main(fx.log);
  guard::Form1 form1(fx.services, main);
  platform::win32::Win32Form2Host host(fx.services, form1);
  host.show_modal();
  return 0;
}
