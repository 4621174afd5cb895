// The local clock and the process facts.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDate>
#include <QTime>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/linux/services_linux.h"

namespace qorvel::platform::lin {

LocalTime LinuxClock::now() const {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return {};
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

QString LongTime24Format(const QLocale& locale) {
  // Windows writes a Chinese long time as H:mm:ss; the common locale data
  // pads the hour and adds the zone. Match what the parent sees on Windows.
  if (locale.language() == QLocale::Chinese) return QStringLiteral("H:mm:ss");
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted) {
      if (c == u't' || c == u'a' || c == u'A' || c == u'p' || c == u'P') continue;  // zone, AM/PM
      if (c == u'h') {
        out += u'H';
        continue;
      }
    }
    out += c;
  }
  // Whatever separated the dropped parts from the time goes too.
  return out.simplified();
}

std::string LinuxClock::general_date(const LocalTime& t) const {
  const int key = (t.year * 100 + t.month) * 100 + t.day;
  if (key != date_key_) {
    date_text_ = locale_.toString(QDate(t.year, t.month, t.day), QLocale::ShortFormat);
    date_key_ = key;
  }
  QString text = date_text_;
  // Midnight is written as the date alone.
  if (t.hour != 0 || t.minute != 0 || t.second != 0) {
    text += u' ';
    text += locale_.toString(QTime(t.hour, t.minute, t.second), time_format_);
  }
  return text.toStdString();
}

ExecutablePath SplitExecutablePath(std::string_view path) {
  const auto slash = path.find_last_of('/');
  std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::string directory;
  if (slash != std::string_view::npos) directory = slash == 0 ? "/" : std::string(path.substr(0, slash));
  const auto dot = file.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return {directory, std::string(file)};
}

std::string CurrentExecutable() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);  // a long path was cut
  }
}

std::string InstanceLockName(std::string_view executable) {
  // A path may be longer than a file name or hold characters a name should
  // not; a hash has neither problem.
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : executable) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "qorvel-";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xF];
  return name;
}

namespace {

// 1: another holder exists; 0: taken; -1: could not tell.
int LockFile(const std::string& path, int& fd) {
  fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
  const int error = errno;
  close(fd);
  fd = -1;
  return error == EWOULDBLOCK ? 1 : -1;
}

int BindAbstractSocket(const std::string& name, int& fd) {
  fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  name.copy(address.sun_path + 1, length);  // sun_path[0] stays NUL: abstract
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) return 0;
  const int error = errno;
  close(fd);
  fd = -1;
  return error == EADDRINUSE ? 1 : -1;
}

bool UsableDirectory(const std::string& dir) {
  return !dir.empty() && dir.front() == '/' && access(dir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

LinuxProcessInfo::LinuxProcessInfo(std::string executable, std::string runtime_dir)
    : parts_(SplitExecutablePath(executable)) {
  const std::string name = InstanceLockName(executable);
  int taken = -1;
  if (UsableDirectory(runtime_dir)) taken = LockFile(runtime_dir + "/" + name + ".lock", fd_);
  if (taken < 0) taken = BindAbstractSocket(name + "-" + std::to_string(getuid()), fd_);
  // Could not tell: run the start-up, as Windows does when its mutex fails.
  previous_ = taken == 1;
}

LinuxProcessInfo::LinuxProcessInfo() : LinuxProcessInfo(CurrentExecutable(), [] {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  return std::string(dir != nullptr ? dir : "");
}()) {}

LinuxProcessInfo::~LinuxProcessInfo() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace qorvel::platform::lin
