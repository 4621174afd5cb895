// The real executable without a display it can use: a clear message and exit
// code 1 before it touches any file, never Qt's abort.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>

namespace qorvel {
namespace {

// A display number nobody serves on this machine.
QString AbsentDisplay() {
  for (int n = 4242;; ++n) {
    if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) return ":" + QString::number(n);
  }
}

TEST(LinuxEntry, WithoutAnXDisplayItSaysSoAndExitsWithOne) {
  const struct {
    const char* name;
    QString display;               // empty: unset
    const char* platform;          // nullptr: unset
    const char* wayland;           // nullptr: unset
  } rows[] = {
      {"no DISPLAY", "", nullptr, nullptr},
      {"a DISPLAY nobody serves", AbsentDisplay(), nullptr, nullptr},
      {"xcb chosen, no DISPLAY", "", "xcb", nullptr},
      {"empty platform counts as unset", "", "", nullptr},
      {"Wayland alone is not enough", "", nullptr, "wayland-0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"}) env.remove(name);
    if (!row.display.isEmpty()) env.insert("DISPLAY", row.display);
    if (row.platform != nullptr) env.insert("QT_QPA_PLATFORM", row.platform);
    if (row.wayland != nullptr) env.insert("WAYLAND_DISPLAY", row.wayland);
    QProcess qorvel;
    qorvel.setProcessEnvironment(env);
    qorvel.start(QORVEL_EXE, {});
    ASSERT_TRUE(qorvel.waitForFinished(60000)) << "it kept running";
    EXPECT_EQ(qorvel.exitStatus(), QProcess::NormalExit) << "it crashed";
    EXPECT_EQ(qorvel.exitCode(), 1);
    const QString error = QString::fromUtf8(qorvel.readAllStandardError());
    EXPECT_TRUE(error.startsWith("qorvel: cannot open the X display (DISPLAY=" +
                                 (row.display.isEmpty() ? QString("not set") : row.display) + ")"))
        << error.toStdString();
    EXPECT_TRUE(error.contains("无法连接 X 显示")) << error.toStdString();
  }
}

}  // namespace
}  // namespace qorvel
