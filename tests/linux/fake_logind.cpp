// A stand-in for logind on a private bus: it owns org.freedesktop.login1,
// answers what the guard asks, and appends every call it gets, with its
// arguments, to a log file before it replies. It powers nothing off.
// Its sessions are the test's, led by the stand-in itself (so their
// environment is its own): SetSession adds or changes one of root's,
// SetSessionOf one of the named account's, RemoveSession ends one, ShutDown
// announces a shutdown; each sends logind's own signal. TerminateSession is
// logged like the guard's calls, and ends nothing.
//   fake_logind <bus address> <log file> <CanPowerOff answer | "deny">
// "deny" refuses every call as logind refuses a user without the right.
#include <pwd.h>

#include <QtDBus>
#include <cstdio>

constexpr auto kRoot = "/org/freedesktop/login1";

QDBusObjectPath Path(const QString& id) { return QDBusObjectPath(QString(kRoot) + "/session/" + id); }

// ListSessions' entries: id, uid, user, seat, object; the path is empty
// while Qt works out the type's signature.
struct Entry { QString id; uint uid; QString user; QDBusObjectPath path; };
Q_DECLARE_METATYPE(Entry)
QDBusArgument& operator<<(QDBusArgument& out, const Entry& e) {
  out.beginStructure();
  out << e.id << e.uid << e.user << QString("seat0") << e.path;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, Entry&) { return in; }

// Each session's object answers GetAll from its properties.
class Sessions : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
    const auto it = map.find(m.path().section('/', -1));
    if (it == map.end() || m.member() != "GetAll") return false;
    bus.send(m.createReply(QVariant(*it)));
    return true;
  }
  QMap<QString, QVariantMap> map;
};

class FakeManager : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

 public:
  FakeManager(QString log, QString answer) : log_(std::move(log)), answer_(std::move(answer)) {}
  Sessions sessions;

 public slots:
  QString CanPowerOff() { return Allowed("CanPowerOff") ? answer_ : QString(); }
  void PowerOff(bool interactive) { Allowed(QStringLiteral("PowerOff %1").arg(interactive ? "true" : "false")); }
  void LockSession(const QString& session) { Allowed(QStringLiteral("LockSession \"%1\"").arg(session)); }
  // Logged only: the test's session stays until it removes it.
  void TerminateSession(const QString& session) {
    Allowed(QStringLiteral("TerminateSession \"%1\"").arg(session));
  }

  QList<Entry> ListSessions() {
    QList<Entry> list;
    for (const QString& id : sessions.map.keys())
      list.append({id, users.value(id).first, users.value(id).second, Path(id)});
    return list;
  }
  void SetSession(const QString& id, const QString& type, const QString& state) {
    SetSessionOf(id, type, state, QStringLiteral("root"));
  }
  void SetSessionOf(const QString& id, const QString& type, const QString& state, const QString& user) {
    const passwd* account = getpwnam(user.toLocal8Bit().constData());
    if (account == nullptr) return sendErrorReply(QDBusError::InvalidArgs, "no such user " + user);
    users[id] = {account->pw_uid, user};
    const bool known = sessions.map.contains(id);
    // An X11 session's display is the stand-in's own, as its leader's.
    sessions.map[id] = {{"Type", type}, {"Class", "user"}, {"State", state},
                        {"Leader", static_cast<uint>(QCoreApplication::applicationPid())},
                        {"Display", type == "x11" ? qEnvironmentVariable("DISPLAY") : QString()}};
    if (known) Send(Path(id).path(), "org.freedesktop.DBus.Properties", "PropertiesChanged",
                    {"org.freedesktop.login1.Session", QVariantMap{}, QStringList{}});
    else Send(kRoot, "org.freedesktop.login1.Manager", "SessionNew", {id, QVariant::fromValue(Path(id))});
  }
  void RemoveSession(const QString& id) {
    sessions.map.remove(id);
    Send(kRoot, "org.freedesktop.login1.Manager", "SessionRemoved", {id, QVariant::fromValue(Path(id))});
  }
  void ShutDown() { Send(kRoot, "org.freedesktop.login1.Manager", "PrepareForShutdown", {true}); }

 private:
  void Send(const QString& path, const QString& interface, const QString& name, const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection().send(signal);
  }
  // Logs the call, then refuses it when told to deny every call.
  bool Allowed(const QString& call) {
    if (QFile file(log_); file.open(QIODevice::Append)) file.write((call + "\n").toUtf8());
    if (answer_ != QStringLiteral("deny")) return true;
    sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied"));
    return false;
  }

  QString log_, answer_;
  QMap<QString, QPair<uint, QString>> users;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) return std::fprintf(stderr, "usage: fake_logind <bus address> <log file> <answer|deny>\n"), 2;
  qDBusRegisterMetaType<Entry>();
  qDBusRegisterMetaType<QList<Entry>>();
  QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), "bus");
  FakeManager manager(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
  if (!bus.registerObject(kRoot, &manager, QDBusConnection::ExportAllSlots) ||
      !bus.registerVirtualObject(QString(kRoot) + "/session", &manager.sessions, QDBusConnection::SubPath) ||
      !bus.registerService("org.freedesktop.login1"))
    return std::fprintf(stderr, "fake_logind: %s\n", qPrintable(bus.lastError().message())), 1;
  return app.exec();
}

#include "fake_logind.moc"
