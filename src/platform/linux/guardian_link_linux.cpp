// The guard's side of the guardian's socket: one request line out, one
// answer line back, on a connection kept for the next request.
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
  if (!installed_) {
    struct stat st {};
    installed_ = std::any_of(unit_files_.begin(), unit_files_.end(), [&](const std::string& path) {
      return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    });
  }
  return *installed_;
}

UnixGuardianChannel::~UnixGuardianChannel() { Close(); }

void UnixGuardianChannel::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::optional<std::string> UnixGuardianChannel::exchange(std::string_view request) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool kept = fd_ >= 0;
    if (!kept) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      if (socket_path_.size() >= sizeof address.sun_path) return std::nullopt;
      socket_path_.copy(address.sun_path, socket_path_.size());
      fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd_ < 0) return std::nullopt;
      // A full backlog fails at once rather than blocking the window.
      if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return std::nullopt;
      }
    }
    std::string answer;
    const Outcome outcome = Exchange(request, answer);
    if (outcome == Outcome::answered) return answer;
    Close();
    // A kept connection the guardian has closed (idle, or it started again)
    // is made once more; a new one that fails, or no answer in time, is not.
    if (!kept || outcome != Outcome::closed) return std::nullopt;
  }
  return std::nullopt;
}

UnixGuardianChannel::Outcome UnixGuardianChannel::Exchange(std::string_view request, std::string& answer) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kGuardianAnswerTimeoutMs);
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(fd_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) sent += static_cast<std::size_t>(n);
    else if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return Outcome::closed;
    else if (!(n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && Ready(fd_, POLLOUT, deadline)))))
      return Outcome::failed;
  }
  // The answer is awaited before it is read: one wake, one read.
  while (!answer.ends_with('\n')) {
    if (!Ready(fd_, POLLIN, deadline)) return Outcome::failed;
    char buffer[16384];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      answer.append(buffer, static_cast<std::size_t>(n));
      if (answer.size() > kMaxGuardianAnswer) return Outcome::failed;
    } else if (n == 0 || errno == ECONNRESET) {
      // Closed before a whole answer: a request half answered is not tried again.
      return answer.empty() ? Outcome::closed : Outcome::failed;
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return Outcome::failed;
    }
  }
  // One line: nothing may follow its end.
  return answer.find('\n') + 1 == answer.size() ? Outcome::answered : Outcome::failed;
}

}  // namespace qorvel::platform::lin
