// The guard's side of the guardian's socket: the end button's quit request.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "guardian/guardian.h"
#include "platform/linux/services_linux.h"

namespace qorvel::platform::lin {
namespace {

using guardian::QuitAnswer;

// One request, one answer; nullopt when no guardian answers in time.
std::optional<QuitAnswer> Ask(const std::string& path, const std::string& request) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  path.copy(address.sun_path, path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::nullopt;
  std::string answer;
  // A full backlog fails at once rather than blocking the window.
  bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardianAnswerTimeoutMs);
  while (ok && !answer.ends_with('\n') && answer.size() < 16) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    const int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[16];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    ok = n > 0;
    if (ok) answer.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return ok ? guardian::ParseAnswer(answer) : std::nullopt;
}

}  // namespace

bool UnixGuardianLink::announce_quit(std::string_view password) {
  const std::string request = guardian::QuitRequest(password);
  for (int attempt = 0; attempt < kGuardianTries; ++attempt) {
    // The guardian takes one try a second; someone else's came first.
    if (attempt > 0) std::this_thread::sleep_for(guardian::kQuitTryGap);
    const auto answer = Ask(socket_path_, request);
    if (answer != QuitAnswer::busy) return answer == QuitAnswer::accepted;
  }
  return false;
}

}  // namespace qorvel::platform::lin
