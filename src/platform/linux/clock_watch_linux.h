#pragma once
// The guardian's watch on the machine's clock and time zone: the hours it
// enforces follow the local time, so every change of either is logged, with
// what it was and what it became.
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qorvel::platform::lin {

// The zone as the log names it: "Asia/Shanghai CST +08:00".
[[nodiscard]] std::string ZoneText(const std::string& zone_file);

class ClockWatch {
 public:
  using Note = std::function<void(std::string_view)>;
  // zone_file: the machine's zone, /etc/localtime.
  ClockWatch(Note note, std::string zone_file);
  ~ClockWatch();
  ClockWatch(const ClockWatch&) = delete;
  ClockWatch& operator=(const ClockWatch&) = delete;

 private:
  void Arm();
  void ClockSet();
  void ZoneEvent();

  Note note_;
  std::string zone_file_;
  int timer_ = -1;    // a timerfd cancelled whenever the clock is set
  int inotify_ = -1;  // the zone file's folder
  std::unique_ptr<QSocketNotifier> timer_notifier_, zone_notifier_;
  long long real_ms_ = 0, boot_ms_ = 0;  // the clock and the time since boot when armed
  std::string zone_;
};

}  // namespace qorvel::platform::lin
