// The notices before a lock and the locked screen's line saying when it ends:
// the decisions on their own, then as the ticks of the main window meet them.
#include <gtest/gtest.h>

#include "guard/notices.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using guard::AllowedHours;
using guard::Notice;

AllowedHours Hours(std::initializer_list<int> hours) {
  AllowedHours a;
  for (int h : hours) a.set(static_cast<std::size_t>(h));
  return a;
}

platform::LocalTime At(int hour, int minute, int second = 0) { return {2026, 12, 6, hour, minute, second}; }

TEST(Notices, DueInTheLastMinutesBeforeAnHourThatIsNotAllowed) {
  const AllowedHours kEvening = Hours({17, 18, 23});
  const struct { const char* what; AllowedHours allowed; platform::LocalTime now; Notice due; } cases[] = {
      {"a minute too early", kEvening, At(18, 54, 59), Notice::none},
      {"five minutes before", kEvening, At(18, 55), Notice::five_minutes},
      {"still the five-minute one", kEvening, At(18, 58, 59), Notice::five_minutes},
      {"one minute before", kEvening, At(18, 59), Notice::one_minute},
      {"the next hour is allowed too", kEvening, At(17, 57), Notice::none},
      {"already locked: nothing to announce", kEvening, At(19, 56), Notice::none},
      {"allowed 23, locked 0: across midnight", kEvening, At(23, 59, 30), Notice::one_minute},
      {"allowed 23 and 0: no lock at midnight", Hours({23, 0}), At(23, 59), Notice::none},
      {"every hour allowed", AllowedHours{}.set(), At(23, 59), Notice::none},
      {"no hour allowed", AllowedHours{}, At(12, 59), Notice::none},
  };
  for (const auto& c : cases) EXPECT_EQ(guard::NoticeDue(c.allowed, c.now), c.due) << c.what;
}

TEST(Notices, TheLockSaysWhenTheNextAllowedHourBegins) {
  const struct { const char* what; AllowedHours allowed; int hour; const char* text; } cases[] = {
      {"later today", Hours({7, 18}), 12, "18点后可用"},
      {"the next hour", Hours({13}), 12, "13点后可用"},
      {"at midnight, the morning is today", Hours({7}), 0, "7点后可用"},
      {"after the last one of the day", Hours({7, 18}), 19, "明天7点后可用"},
      {"the hour before, tomorrow, is as far as it goes", Hours({11}), 12, "明天11点后可用"},
      {"midnight is tomorrow's", Hours({0}), 23, "明天0点后可用"},
      {"no hour allowed", AllowedHours{}, 12, "没有可用时段"},
  };
  for (const auto& c : cases) EXPECT_EQ(guard::UnlockText(c.allowed, At(c.hour, 30)), c.text) << c.what;
}

TEST(Notices, HoursAreReadAsTheHourCheckReadsThem) {
  const std::vector<std::string> lines{"hou7=07", "hou8=8.5", "hou24=24", "houx=abc", "hou-1=-1", "hou9=9=10", "hou23=&H17"};
  EXPECT_EQ(guard::AllowedHoursOf(lines), Hours({0, 7, 9, 23}));
}

struct Guard : test::FakeGuard {
  // The notices of one tick at the given time.
  std::vector<std::string> Tick(int hour, int minute, int day = 6) {
    fx.clock.time = {2026, 12, day, hour, minute, 0};
    view.notices.clear();
    form.Timer1_Timer();
    return view.notices;
  }
};

using Shown = std::vector<std::string>;
const Shown kNone{}, kFive{"还有5分钟锁屏"}, kOne{"还有1分钟锁屏"};

TEST(Notices, EachShowsOncePerComingLockWhateverTheClockDoes) {
  const struct { const char* what; int hour, minute, day = 6; Shown shown; std::string file = ""; } steps[] = {
      {"an allowed hour", 10, 30, 6, kNone},
      {"five minutes before the lock", 10, 55, 6, kFive},
      {"ticks after it", 10, 56, 6, kNone},
      {"the clock set back", 10, 50, 6, kNone},
      {"and forward again", 10, 57, 6, kNone},
      {"the last minute", 10, 59, 6, kOne},
      {"set back into the five minutes", 10, 58, 6, kNone},
      {"the parent adds hour 11", 10, 59, 6, kNone, "[HOUR]\r\nhou10=10\r\nhou11=11\r\n"},
      {"a jump to the last minute before 12", 11, 59, 6, kOne},
      {"locked", 12, 0, 6, kNone},
      {"the parent takes 11 away again", 11, 59, 6, kNone, "[HOUR]\r\nhou10=10\r\n"},
      {"the same hour a day later", 10, 55, 7, kFive},
  };
  Guard g;
  g.SetFile("[HOUR]\r\nhou10=10\r\n");
  for (const auto& s : steps) {
    if (!s.file.empty()) g.SetFile(s.file);
    EXPECT_EQ(g.Tick(s.hour, s.minute, s.day), s.shown) << s.what;
  }
  g.view.set_enabled(false);
  EXPECT_EQ(g.Tick(10, 59, 8), kNone) << "none while the settings window holds the timer";
}

TEST(Notices, TheLockedScreenIsToldEachTick) {
  Guard g;
  g.SetFile("[HOUR]\r\nhou18=18\r\n");
  g.Tick(12, 0);
  EXPECT_EQ(g.view.unlock, "18点后可用");
  g.SetFile("[HOUR]\r\n");
  g.Tick(12, 0);
  EXPECT_EQ(g.view.unlock, "没有可用时段");
}

}  // namespace
}  // namespace qorvel
