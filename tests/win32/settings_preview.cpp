// Shows the settings window over a sample settings file until it is closed,
// for scripts/screenshot-settings.sh to photograph.
#include <windows.h>

#include <commctrl.h>

#include "platform/win32/form2_window.h"
#include "platform/win32/text.h"
#include "store/module1.h"
#include "support/fakes.h"

int main() {
  using namespace qorvel;
  // Look as the program does: its manifest asks for Common Controls 6.
  const std::wstring manifest = platform::win32::Widen(QORVEL_MANIFEST);
  ACTCTXW ctx{};
  ctx.cbSize = sizeof ctx;
  ctx.lpSource = manifest.c_str();
  ULONG_PTR cookie = 0;
  ActivateActCtx(CreateActCtxW(&ctx), &cookie);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  test::FakeServices fx;
  fx.profile.set_text(store::kSettingsFile, "[HOUR]\r\nhou7=7\r\nhou8=8\r\nhou12=12\r\nhou13=13\r\nhou18=18\r\n"
                                            "hou19=19\r\nhou20=20\r\nhou21=21\r\n[mm]\r\nnober=907\r\n[bb]\r\ntwo=1\r\n");
  test::FakeForm1View main(fx.log);
  guard::Form1 form1(fx.services, main);
  platform::win32::Win32Form2Host(fx.services, form1).show_modal();
}
