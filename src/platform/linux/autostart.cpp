// The machine-wide XDG autostart entry in place of the Run key's value.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <cerrno>

#include "platform/linux/services_linux.h"

namespace qorvel::platform::lin {
namespace {

constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Beside the target, then renamed over it: a reader never sees half an entry.
bool ReplaceFile(const std::string& path, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  const std::string temp = path + "." + std::to_string(getpid()) + "." + std::to_string(++counter) + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // Every session reads it, whatever umask the writer has.
  bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace

std::string DesktopExecArgument(std::string_view path) {
  // The Exec key's reserved characters call for quoting; inside quotes
  // " ` $ \ take a backslash. Then the whole value is a desktop-entry
  // string, where a backslash doubles again, and "%" is a field code.
  static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string arg;
  const bool quote = path.find_first_of(kReserved) != std::string_view::npos;
  for (const char c : path) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
    arg += c;
  }
  if (quote) arg = "\"" + arg + "\"";
  std::string value;
  for (const char c : arg) {
    if (c == '\\') value += "\\\\";
    else if (c == '\n') value += "\\n";
    else if (c == '\t') value += "\\t";
    else if (c == '%') value += "%%";
    else value += c;
  }
  return value;
}

std::string AutostartEntry(std::string_view path) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Qorvel\n"
         "Comment=家长时间守护\n"
         "Exec=" + DesktopExecArgument(path) + "\n"
         "Icon=qorvel\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartRegistry::set_local_machine_string(std::string_view subkey, std::string_view /*name*/,
                                                 std::string_view /*data*/) {
  if (subkey != kRunKey || executable_.empty() || executable_.front() != '/') return false;
  const std::string path = directory_ + "/qorvel.desktop";
  const std::string text = AutostartEntry(executable_);
  // RegCreateKeyA creates the key; a system without the folder gets it, if
  // we may write in its parent.
  const bool folder = mkdir(directory_.c_str(), 0755) == 0 || errno == EEXIST;
  if (folder && ReplaceFile(path, text)) return true;
  return WriteElevated(path, text);
}

std::string AutostartRegistry::FindElevation() {
  if (geteuid() == 0) return {};
  return QStandardPaths::findExecutable(QStringLiteral("pkexec")).toStdString();
}

bool AutostartRegistry::WriteElevated(const std::string& path, const std::string& text) const {
  if (elevate_.empty()) return false;
  // install(1) from standard input: creates the folder, sets the mode, and
  // needs no shell, so nothing in the path is ever interpreted.
  QProcess process;
  process.start(QString::fromStdString(elevate_),
                {QStringLiteral("/usr/bin/install"), QStringLiteral("-D"), QStringLiteral("-m"),
                 QStringLiteral("0644"), QStringLiteral("/dev/stdin"), QString::fromStdString(path)});
  if (!process.waitForStarted()) return false;
  process.write(text.data(), static_cast<qint64>(text.size()));
  process.closeWriteChannel();
  if (!process.waitForFinished(kElevationTimeoutMs)) {
    process.kill();
    process.waitForFinished();
    return false;
  }
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace qorvel::platform::lin
