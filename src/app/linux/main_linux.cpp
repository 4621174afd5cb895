// Entry point: the Linux services, the Qt windows and the event loop.
#include <xcb/xcb.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "guard/covers.h"
#include "guardian/client.h"
#include "platform/linux/services_linux.h"
#include "platform/qt/cover_widgets.h"
#include "platform/qt/dialogs_qt.h"
#include "platform/qt/form1_widget.h"
#include "platform/qt/form2_widget.h"
#include "platform/qt/x11_hold.h"
#include "platform/services.h"
#include "settings/password_gate.h"

namespace lin = qorvel::platform::lin;
namespace qt = qorvel::platform::qt;

namespace {

// The lock needs always-on-top and exact positions, which X11 (or XWayland)
// gives and a Wayland client does not: X11 unless the user chose otherwise.
void ChooseX11() {
  const char* chosen = std::getenv("QT_QPA_PLATFORM");
  if (chosen == nullptr || *chosen == '\0') setenv("QT_QPA_PLATFORM", "xcb", 1);
  // The clock's repaint is a few thousand pixels a second. Through shared
  // memory each one waited on a round trip to the X server (three thread
  // wake-ups); sent on the socket it costs the guard about a quarter less.
  setenv("QT_XCB_NO_MITSHM", "1", 1);
}

// Qt would abort with a core dump when it cannot reach the display; say why
// and leave with 1 instead.
bool DisplayReachable() {
  const std::string platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != "xcb" && !platform.starts_with("xcb:")) return true;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool ok = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  ChooseX11();
  if (!DisplayReachable()) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "qorvel: cannot open the X display (DISPLAY=%s); Qorvel runs in an X11 or XWayland session.\n"
                 "qorvel: 无法连接 X 显示,请在 X11 或 XWayland 桌面会话中运行。\n",
                 display != nullptr ? display : "not set");
    return 1;
  }
  QApplication app(argc, argv);

  // Where the guardian is installed the file is its alone; the developer's
  // run without one reads and writes it here.
  lin::UnixGuardianChannel channel;
  qorvel::guardian::GuardianClient guardian(channel);
  lin::LinuxProfileFile local;
  qorvel::platform::ProfileFile& profile = channel.installed() ? static_cast<qorvel::platform::ProfileFile&>(guardian) : local;
  lin::LinuxClock clock;
  lin::LinuxProcessInfo process;
  lin::LinuxFileSystem files;
  lin::LogindPrivilege privilege;
  lin::LogindPower power;
  lin::LogindShell shell;
  // Like HKLM, the machine-wide entry needs an administrator: pkexec asks.
  lin::AutostartRegistry registry(lin::CurrentExecutable(), std::string(lin::kAutostartDirectory),
                                  lin::AutostartRegistry::FindElevation());
  qt::QtDialogs dialogs(process);
  qorvel::platform::Services services{profile, clock,  process,  files,  privilege,
                                      power,   shell,  registry, dialogs, guardian};

  qt::Form1Widget form1(services);
  qt::QtForm2Host form2(services, form1.form(), &form1);
  qorvel::settings::PasswordGate gate(services, form1.form(), form2);
  form1.form().set_settings_door(&gate);
  // The other monitors; gone before the main window. No virtual desktops to
  // follow: the lock's windows are on every X11 workspace.
  // Grabs and re-maps while locked; made before the covers, which it holds too.
  qt::X11Hold hold(form1);
  qt::CoverWidgets cover_widgets(form1);
  qorvel::guard::Covers covers(cover_widgets, nullptr);
  form1.form().set_covers(&covers);
  dialogs.set_owner(&form1);
  // The first-run file before the window shows; the prompt comes after,
  // above the window and with the hour check running.
  form1.form().Form_Load();
  form1.show_design();
  return QApplication::exec();
}
