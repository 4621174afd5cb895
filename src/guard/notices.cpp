#include "guard/notices.h"

#include "store/module1.h"

namespace qorvel::guard {

AllowedHours AllowedHoursOf(const std::vector<std::string>& hour_lines) {
  AllowedHours allowed;
  for (const auto& line : hour_lines) {
    const double v = store::Val(store::ValueField(line));
    // A fraction or a number out of the day names no hour.
    for (int h = 0; h < 24; ++h)
      if (v == static_cast<double>(h)) allowed.set(static_cast<std::size_t>(h));
  }
  return allowed;
}

Notice NoticeDue(const AllowedHours& allowed, const platform::LocalTime& now) {
  const auto hour = static_cast<std::size_t>(now.hour);
  if (!allowed[hour] || allowed[(hour + 1) % 24]) return Notice::none;
  if (now.minute >= 59) return Notice::one_minute;
  if (now.minute >= 55) return Notice::five_minutes;
  return Notice::none;
}

std::string_view NoticeText(Notice notice) {
  switch (notice) {
    case Notice::five_minutes: return "还有5分钟锁屏";
    case Notice::one_minute: return "还有1分钟锁屏";
    case Notice::none: break;
  }
  return {};
}

std::string UnlockText(const AllowedHours& allowed, const platform::LocalTime& now) {
  // Asked only while locked: the hour itself is never the answer.
  for (int ahead = 1; ahead < 24; ++ahead) {
    const int hour = now.hour + ahead;
    if (!allowed[static_cast<std::size_t>(hour % 24)]) continue;
    return (hour >= 24 ? "明天" : "") + std::to_string(hour % 24) + "点后可用";
  }
  return "没有可用时段";
}

}  // namespace qorvel::guard
