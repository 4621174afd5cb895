// The logind services against a stand-in logind on a private bus: the exact
// method and arguments each service sends, and what it makes of the answer.
// Nothing here can reach the machine's real logind.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "platform/linux/services_linux.h"

namespace qorvel {
namespace {

namespace lin = platform::lin;

constexpr auto kLockCommand = "RunDll32.exe user32.dll,LockWorkStation";

template <typename Ready>
bool WaitFor(Ready ready, int ms = 30000) {
  QDeadlineTimer deadline(ms);
  while (!ready()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
  return true;
}

// A private dbus-daemon for the whole suite; a stand-in logind per case.
class Logind : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    daemon_ = new QProcess;
    daemon_->start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address"});
    ASSERT_TRUE(daemon_->waitForStarted(30000)) << "dbus-daemon: " << daemon_->errorString().toStdString();
    ASSERT_TRUE(WaitFor([] { return daemon_->canReadLine() || daemon_->waitForReadyRead(100); }));
    address_ = new QString(QString::fromUtf8(daemon_->readLine()).trimmed());
    // What the program's own connection reads; set before anything opens it.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_->toUtf8());
  }
  static void TearDownTestSuite() {
    daemon_->kill();
    daemon_->waitForFinished();
    delete daemon_;
    delete address_;
  }

  void SetUp() override {
    ASSERT_TRUE(log_dir_.isValid());
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(*address_, "test"));
    ASSERT_TRUE(bus_->isConnected());
  }
  void TearDown() override {
    StopLogind();
    bus_.reset();
    QDBusConnection::disconnectFromBus("test");
  }

  // answer: CanPowerOff's reply, or "deny" to refuse every call.
  void StartLogind(const QString& answer) {
    StopLogind();
    QFile::remove(LogPath());
    fake_.start(QORVEL_FAKE_LOGIND, {*address_, LogPath(), answer});
    ASSERT_TRUE(fake_.waitForStarted(30000));
    ASSERT_TRUE(WaitFor([&] { return Registered(); })) << "the stand-in logind did not come up";
  }
  void StopLogind() {
    if (fake_.state() == QProcess::NotRunning) return;
    fake_.kill();
    fake_.waitForFinished();
    WaitFor([&] { return !Registered(); });
  }
  bool Registered() { return bus_->interface()->isServiceRegistered("org.freedesktop.login1"); }
  QString LogPath() const { return log_dir_.filePath("calls"); }
  // The calls the stand-in got, one per line.
  std::string Calls() const {
    QFile file(LogPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "";
  }

  inline static QProcess* daemon_ = nullptr;
  inline static QString* address_ = nullptr;
  QTemporaryDir log_dir_;
  QProcess fake_;
  std::unique_ptr<QDBusConnection> bus_;
};

enum class Ask { can_power_off, power_off, log_off, lock, lock_no_session, other_command };

bool Send(Ask ask, QDBusConnection bus) {
  switch (ask) {
    case Ask::can_power_off: return lin::LogindPrivilege(bus).enable_shutdown_privilege();
    case Ask::power_off: return lin::LogindPower(bus).exit_windows(platform::kEwxForcePowerOff, 0);
    case Ask::log_off: return lin::LogindPower(bus).exit_windows(4, 0);  // EWX_LOGOFF | EWX_FORCE
    case Ask::lock: return lin::LogindShell(bus, "c7").start_process(kLockCommand, platform::kSwShowNormal);
    case Ask::lock_no_session: return lin::LogindShell(bus, "").start_process(kLockCommand, 1);
    case Ask::other_command: return lin::LogindShell(bus, "c7").start_process("cmd.exe /c del C:\\mdb.ini", 1);
  }
  return false;
}

TEST_F(Logind, SendsExactlyTheseCallsAndBelievesOnlyASuccess) {
  // The stand-in's answer (nullptr: no logind on the bus), the request, its result and the calls logind got.
  const struct { const char* logind; Ask ask; bool result; const char* calls; } rows[] = {
      {"yes", Ask::can_power_off, true, "CanPowerOff\n"},    {"challenge", Ask::can_power_off, false, "CanPowerOff\n"},
      {"no", Ask::can_power_off, false, "CanPowerOff\n"},    {"yes", Ask::power_off, true, "PowerOff false\n"},
      {"yes", Ask::log_off, false, ""},                      {"yes", Ask::lock, true, "LockSession \"c7\"\n"},
      {"yes", Ask::lock_no_session, true, "LockSession \"\"\n"}, {"yes", Ask::other_command, false, ""},
      {"deny", Ask::can_power_off, false, "CanPowerOff\n"}, {"deny", Ask::power_off, false, "PowerOff false\n"},
      {"deny", Ask::lock, false, "LockSession \"c7\"\n"}, {nullptr, Ask::can_power_off, false, ""},
      {nullptr, Ask::power_off, false, ""},                  {nullptr, Ask::lock, false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.logind ? row.logind : "no logind") + " / ask " +
                 std::to_string(static_cast<int>(row.ask)));
    if (row.logind != nullptr) {
      StartLogind(row.logind);
    } else {
      StopLogind();
      QFile::remove(LogPath());
    }
    EXPECT_EQ(Send(row.ask, *bus_), row.result);
    EXPECT_EQ(Calls(), row.calls);
  }
}

// The program's own services use the system bus, which the environment can
// point elsewhere: that is how the real executable is tested too.
TEST_F(Logind, DefaultsUseTheSystemBusFromTheEnvironment) {
  StartLogind("yes");
  EXPECT_TRUE(lin::LogindPower().exit_windows(platform::kEwxForcePowerOff, 0));
  EXPECT_EQ(Calls(), "PowerOff false\n");
}

}  // namespace
}  // namespace qorvel
