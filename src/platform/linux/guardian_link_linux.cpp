// The guard's side of the guardian's socket: one request line out, one
// answer line back, on a connection of its own.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/linux/services_linux.h"

namespace qorvel::platform::lin {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until fd is ready for events or the deadline has passed.
bool Ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

bool UnixGuardianChannel::installed() const {
  struct stat st {};
  return std::any_of(unit_files_.begin(), unit_files_.end(),
                     [&](const std::string& path) { return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode); });
}

std::optional<std::string> UnixGuardianChannel::exchange(std::string_view request) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) return std::nullopt;
  socket_path_.copy(address.sun_path, socket_path_.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::nullopt;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kGuardianAnswerTimeoutMs);
  // A full backlog fails at once rather than blocking the window.
  bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  std::size_t sent = 0;
  while (ok && sent < request.size()) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) sent += static_cast<std::size_t>(n);
    else ok = n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && Ready(fd, POLLOUT, deadline)));
  }
  std::string answer;
  while (ok && !answer.ends_with('\n')) {
    char buffer[16384];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      answer.append(buffer, static_cast<std::size_t>(n));
      ok = answer.size() <= kMaxGuardianAnswer;
    } else {
      ok = n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && Ready(fd, POLLIN, deadline)));
    }
  }
  close(fd);
  // One line: nothing may follow its end.
  if (!ok || answer.find('\n') + 1 != answer.size()) return std::nullopt;
  return answer;
}

}  // namespace qorvel::platform::lin
