// Entry point of qorvel-guardian, the root service that brings the guard
// back in every user's X11 session; systemd starts it (qorvel-guardian.service).
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>

#include "platform/linux/guardian_linux.h"

namespace lin = qorvel::platform::lin;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (geteuid() != 0) {
    std::fprintf(stderr, "qorvel-guardian: runs as root, as the system service qorvel-guardian\n");
    return 1;
  }
  umask(022);
  // The guard installed beside it, whatever the prefix.
  const std::string guard = lin::SplitExecutablePath(lin::CurrentExecutable()).directory + "/qorvel";
  lin::GuardianDaemon daemon(QDBusConnection::systemBus(),
                             {std::string(lin::kSettingsPath), std::string(lin::kGuardianCopyDirectory),
                              std::string(lin::kGuardianSocket), guard});
  if (!daemon.Start()) return 1;
  return QCoreApplication::exec();
}
