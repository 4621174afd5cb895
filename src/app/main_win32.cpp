// Entry point: the Win32 services, the main window and the message loop.
#include <windows.h>
#include <commctrl.h>

#include "guardian/client.h"
#include "platform/portable/desktop_worker.h"
#include "platform/services.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/cover_windows.h"
#include "platform/win32/dialogs_win32.h"
#include "platform/win32/form1_window.h"
#include "platform/win32/form2_window.h"
#include "platform/win32/guardian_link_win32.h"
#include "platform/win32/lock_hold.h"
#include "platform/win32/profile_file_win32.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/virtual_desktops_win32.h"
#include "settings/password_gate.h"

namespace w32 = qorvel::platform::win32;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The manifest asks for common controls 6; this loads them.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // Where the guardian is installed the file is its alone; without it (a
  // developer's run, a copy never installed) the guard keeps it itself.
  w32::Win32GuardianChannel channel;
  qorvel::guardian::GuardianClient guardian(channel);
  w32::Win32ProfileFile own_profile;
  qorvel::platform::ProfileFile& profile =
      channel.installed() ? static_cast<qorvel::platform::ProfileFile&>(guardian) : own_profile;
  w32::Win32Clock clock;
  w32::Win32ProcessInfo process;
  w32::Win32FileSystem files;
  w32::Win32Privilege privilege;
  w32::Win32Power power;
  w32::Win32Shell shell;
  w32::Win32Registry registry;
  w32::Win32Dialogs dialogs(process);
  qorvel::platform::Services services{profile, clock,  process,  files,  privilege,
                                      power,   shell,  registry, dialogs, guardian};

  w32::Form1Window form1(services);
  if (form1.hwnd() == nullptr) return 1;
  w32::Win32Form2Host form2(services, form1.form(), form1.hwnd());
  qorvel::settings::PasswordGate gate(services, form1.form(), form2);
  form1.form().set_settings_door(&gate);
  // The other monitors and virtual desktops; gone before the main window.
  qorvel::platform::DesktopWorker desktops(&w32::MakeDesktopManager);
  w32::CoverWindows cover_windows(form1.hwnd());
  qorvel::guard::Covers covers(cover_windows, &desktops);
  form1.form().set_covers(&covers);
  dialogs.set_owner(form1.hwnd());
  // The first-run file before the window shows; the prompt comes after,
  // above the window and with the hour check running.
  form1.form().Form_Load();
  form1.show();

  return w32::RunGuardMessageLoop();
}
