// A stand-in for logind on a private bus: it owns org.freedesktop.login1,
// answers what the guard asks, and appends every call it gets, with its
// arguments, to a log file before it replies. It powers nothing off.
//   fake_logind <bus address> <log file> <CanPowerOff answer | "deny">
// "deny" refuses every call as logind refuses a user without the right.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <cstdio>

class FakeManager : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

 public:
  FakeManager(QString log, QString answer) : log_(std::move(log)), answer_(std::move(answer)) {}

 public slots:
  QString CanPowerOff() {
    Record("CanPowerOff");
    return Denied() ? QString() : answer_;
  }
  void PowerOff(bool interactive) {
    Record(QStringLiteral("PowerOff %1").arg(interactive ? "true" : "false"));
    Denied();
  }
  void LockSession(const QString& session) {
    Record(QStringLiteral("LockSession \"%1\"").arg(session));
    Denied();
  }

 private:
  void Record(const QString& line) {
    QFile file(log_);
    if (file.open(QIODevice::Append)) file.write((line + "\n").toUtf8());
  }
  bool Denied() {
    if (answer_ != QStringLiteral("deny")) return false;
    sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied"));
    return true;
  }

  QString log_;
  QString answer_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: fake_logind <bus address> <log file> <answer|deny>\n");
    return 2;
  }
  QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), "bus");
  FakeManager manager(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
  if (!bus.registerObject("/org/freedesktop/login1", &manager, QDBusConnection::ExportAllSlots) ||
      !bus.registerService("org.freedesktop.login1")) {
    std::fprintf(stderr, "fake_logind: %s\n", qPrintable(bus.lastError().message()));
    return 1;
  }
  return app.exec();
}

#include "fake_logind.moc"
