#pragma once
// What the guard tells the child about the lock: the notices before an hour
// that is not allowed, and the locked screen's line saying when it ends.
#include <bitset>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock_process.h"

namespace qorvel::guard {

// Bit h: hour h is allowed.
using AllowedHours = std::bitset<24>;

// The hours named by the HOUR section's lines, matched as the hour check
// matches them: a value whose Val is exactly the hour.
[[nodiscard]] AllowedHours AllowedHoursOf(const std::vector<std::string>& hour_lines);

enum class Notice { none, five_minutes, one_minute };

// The notice due at `now`: within the last five minutes, then the last one,
// of an allowed hour followed by one that is not.
[[nodiscard]] Notice NoticeDue(const AllowedHours& allowed, const platform::LocalTime& now);
[[nodiscard]] std::string_view NoticeText(Notice notice);

// The locked screen's line: when the next allowed hour begins.
[[nodiscard]] std::string UnlockText(const AllowedHours& allowed, const platform::LocalTime& now);

}  // namespace qorvel::guard
