// Shows the settings window over a sample settings file until it is closed,
// for scripts/screenshot.sh to photograph.
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
  fx.profile.set_text(store::kSettingsFile, test::SettingsText({7, 8, 12, 13, 18, 19, 20, 21}, "907", '1'));
  test::FakeForm1View main(fx.log);
  guard::Form1 form1(fx.services, main);
  platform::win32::Win32Form2Host(fx.services, form1).show_modal();
}
