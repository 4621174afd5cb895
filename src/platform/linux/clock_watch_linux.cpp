#include "platform/linux/clock_watch_linux.h"

#include <sys/inotify.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace qorvel::platform::lin {
namespace {

long long Millis(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
}

std::string Stamp(long long real_ms) {
  const time_t seconds = static_cast<time_t>(real_ms / 1000);
  tm local{};
  char text[64] = "?";
  if (localtime_r(&seconds, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

}  // namespace

std::string ZoneText(const std::string& zone_file) {
  // The zone's name from the link timedated makes, if it is one.
  std::error_code error;
  std::string name = std::filesystem::read_symlink(zone_file, error).string();
  if (const auto at = name.find("zoneinfo/"); at != std::string::npos) name = name.substr(at + 9);
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return name;
  const long offset = local.tm_gmtoff;
  char text[32];
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 3600,
                std::labs(offset) % 3600 / 60);
  return (name.empty() ? "" : name + " ") + (local.tm_zone != nullptr ? local.tm_zone : "?") + " " + text;
}

ClockWatch::ClockWatch(Note note, std::string zone_file) : note_(std::move(note)), zone_file_(std::move(zone_file)) {
  tzset();
  zone_ = ZoneText(zone_file_);
  timer_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timer_ >= 0) {
    Arm();
    timer_notifier_ = std::make_unique<QSocketNotifier>(timer_, QSocketNotifier::Read);
    QObject::connect(timer_notifier_.get(), &QSocketNotifier::activated, [this] { ClockSet(); });
  } else {
    note_("cannot watch the clock: " + std::string(std::strerror(errno)));
  }
  // The folder, not the file: timedated replaces the link by a rename.
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  const std::string folder = std::filesystem::path(zone_file_).parent_path().string();
  if (inotify_ >= 0 && inotify_add_watch(inotify_, folder.c_str(),
                                         IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_ATTRIB) >= 0) {
    zone_notifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
    QObject::connect(zone_notifier_.get(), &QSocketNotifier::activated, [this] { ZoneEvent(); });
  } else {
    note_("cannot watch the time zone in " + folder + ": " + std::strerror(errno));
  }
}

ClockWatch::~ClockWatch() {
  timer_notifier_.reset();
  zone_notifier_.reset();
  if (timer_ >= 0) close(timer_);
  if (inotify_ >= 0) close(inotify_);
}

void ClockWatch::Arm() {
  // Far in the future: it never fires, it is only cancelled by a set clock.
  real_ms_ = Millis(CLOCK_REALTIME);
  boot_ms_ = Millis(CLOCK_BOOTTIME);
  itimerspec when{};
  when.it_value.tv_sec = static_cast<time_t>(real_ms_ / 1000) + 10L * 365 * 24 * 3600;
  if (timerfd_settime(timer_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr) != 0)
    note_("cannot watch the clock: " + std::string(std::strerror(errno)));
}

void ClockWatch::ClockSet() {
  std::uint64_t expirations = 0;
  if (read(timer_, &expirations, sizeof expirations) >= 0 || errno != ECANCELED) return;
  // What the clock would say had nobody set it, and what it says now.
  const long long was = real_ms_ + (Millis(CLOCK_BOOTTIME) - boot_ms_);
  const long long now = Millis(CLOCK_REALTIME);
  note_("the clock was set from " + Stamp(was) + " to " + Stamp(now) + " (" + (now >= was ? "+" : "") +
        std::to_string((now - was) / 1000) + " s)");
  Arm();
}

void ClockWatch::ZoneEvent() {
  alignas(inotify_event) char buffer[4096];
  bool ours = false;
  const std::string name = std::filesystem::path(zone_file_).filename().string();
  for (;;) {
    const ssize_t n = read(inotify_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && name == event->name) ours = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (!ours) return;
  // glibc reads the zone file once; unset TZ looks the same to tzset, so
  // another zone in between makes it read the file again. A TZ of the
  // service's own stays.
  if (std::getenv("TZ") == nullptr) {
    setenv("TZ", "UTC0", 1);
    tzset();
    unsetenv("TZ");
  }
  tzset();
  const std::string zone = ZoneText(zone_file_);
  if (zone == zone_) return;
  note_("the time zone changed from " + zone_ + " to " + zone);
  zone_ = zone;
}

}  // namespace qorvel::platform::lin
