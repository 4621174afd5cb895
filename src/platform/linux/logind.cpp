// Power and the session lock through logind on the system bus.
#include <QDBusMessage>
#include <cstdlib>

#include "platform/linux/services_linux.h"

namespace qorvel::platform::lin {
namespace {

constexpr auto kService = "org.freedesktop.login1";
constexpr auto kPath = "/org/freedesktop/login1";
constexpr auto kManager = "org.freedesktop.login1.Manager";
constexpr std::string_view kLockCommandLine = "RunDll32.exe user32.dll,LockWorkStation";
constexpr unsigned kEwxPowerOff = 8;

// The reply, or nullopt when there is no bus, no logind, or logind says no.
std::optional<QDBusMessage> Call(QDBusConnection& bus, const QString& method, const QVariantList& arguments) {
  if (!bus.isConnected()) return std::nullopt;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
  call.setArguments(arguments);
  QDBusMessage reply = bus.call(call, QDBus::Block, kLogindTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) return std::nullopt;
  return reply;
}

}  // namespace

bool LogindPrivilege::enable_shutdown_privilege() {
  const auto reply = Call(bus_, QStringLiteral("CanPowerOff"), {});
  if (!reply || reply->arguments().size() != 1) return false;
  return reply->arguments().front().toString() == QStringLiteral("yes");
}

bool LogindPower::exit_windows(unsigned flags, unsigned /*reason*/) {
  // Forced or not, logind's PowerOff is the one way down; without the power
  // bit this is a log-off or restart, which nothing here asks for.
  if ((flags & kEwxPowerOff) == 0) return false;
  // Not interactive: it acts at once or not at all, like ExitWindowsEx.
  return Call(bus_, QStringLiteral("PowerOff"), {QVariant(false)}).has_value();
}

std::string LogindShell::SessionFromEnvironment() {
  const char* id = std::getenv("XDG_SESSION_ID");
  return id != nullptr ? id : "";
}

bool LogindShell::start_process(std::string_view command_line, int /*show_style*/) {
  if (command_line != kLockCommandLine) return false;
  return Call(bus_, QStringLiteral("LockSession"), {QString::fromStdString(session_id_)}).has_value();
}

}  // namespace qorvel::platform::lin
