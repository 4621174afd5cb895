#include <gtest/gtest.h>

#include "guard/form1.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using test::FakeForm1View;
using test::FakeServices;
using test::Log;

constexpr std::string_view kFile = store::kSettingsFile;

const Log kCompactCalls = {"pos -2 3", "state normal", "top 0", "left 0", "width 615", "height 260"};

Log LockedCalls(const std::string& clock) { return {"L1 " + clock, "state maximized", "pos -1 3"}; }

struct Guard {
  FakeServices fx;
  FakeForm1View view{fx.log};
  guard::Form1 form{fx.services, view};

  // One tick; returns the calls it made.
  Log Tick() {
    fx.log.clear();
    form.Timer1_Timer();
    return fx.log;
  }
};

struct HourCase {
  const char* name;
  std::string file;  // empty: no settings file at all
  int hour;
  int minute;
  bool compact;
};

void PrintTo(const HourCase& c, std::ostream* os) { *os << c.name; }

std::string HourFile(std::initializer_list<const char*> lines) {
  std::string text = "[HOUR]\r\n";
  for (const char* l : lines) text += std::string(l) + "\r\n";
  return text + "[mm]\r\nnober=907\r\n";
}

class CheckHourLayout : public ::testing::TestWithParam<HourCase> {};

TEST_P(CheckHourLayout, PicksTheLayoutFromTheClockAndTheFile) {
  const auto& c = GetParam();
  Guard g;
  if (!c.file.empty()) g.fx.profile.set_text(kFile, c.file);
  g.fx.clock.set_hour(c.hour, c.minute);
  g.fx.clock.time.second = 5;

  const Log calls = g.Tick();

  if (c.compact) {
    EXPECT_EQ(calls, kCompactCalls);
  } else {
    EXPECT_EQ(calls, LockedCalls(g.fx.clock.general_date(g.fx.clock.time)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hours, CheckHourLayout,
    ::testing::Values(
        HourCase{"FirstRunAtHalfPastMidnightLocks", test::FirstRunFileText(), 0, 30, false},
        HourCase{"FirstRunAtOneIsCompact", test::FirstRunFileText(), 1, 0, true},
        HourCase{"FirstRunLastMinuteOfDayIsCompact", test::FirstRunFileText(), 23, 59, true},
        HourCase{"NoFileLocks", "", 12, 0, false},
        HourCase{"EmptyHourSectionLocks", "[HOUR]\r\n[mm]\r\nnober=907\r\n", 12, 0, false},
        HourCase{"LettersCountAsHourZero", HourFile({"houx=abc"}), 0, 10, true},
        HourCase{"LettersDoNotAllowOtherHours", HourFile({"houx=abc"}), 1, 10, false},
        HourCase{"LeadingZeroMatches", HourFile({"hou08=08"}), 8, 0, true},
        HourCase{"FractionMatchesNoHour", HourFile({"hou8=8.5"}), 8, 0, false},
        HourCase{"HexadecimalMatches", HourFile({"houh=&H0C"}), 12, 0, true},
        HourCase{"OnlyTheValueFieldCounts", HourFile({"hou5=5=9"}), 5, 0, true},
        HourCase{"TextAfterSecondEqualsIgnored", HourFile({"hou5=5=9"}), 9, 0, false},
        HourCase{"LineWithoutEqualsIsHourZero", HourFile({"hou7"}), 0, 0, true},
        HourCase{"LaterLineMatches", HourFile({"hou3=3", "hou4=4", "hou21=21"}), 21, 0, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CheckHour, AHandEditCountsAtTheNextTick) {
  Guard g;
  g.fx.profile.set_text(kFile, HourFile({"hou9=9"}));
  g.fx.clock.set_hour(10);
  EXPECT_EQ(g.Tick().back(), "pos -1 3");

  g.fx.profile.set_text(kFile, HourFile({"hou9=9", "hou10=10"}));
  EXPECT_EQ(g.Tick(), kCompactCalls);

  g.fx.profile.set_text(kFile, HourFile({"hou9=9"}));
  EXPECT_EQ(g.Tick().back(), "pos -1 3");
}

TEST(CheckHour, TheHourEndingLocksWithoutAMessage) {
  Guard g;
  g.fx.profile.set_text(kFile, test::FirstRunFileText());
  g.fx.clock.set_hour(23, 59);
  EXPECT_EQ(g.Tick(), kCompactCalls);
  g.fx.clock.set_hour(0, 0);
  g.fx.clock.time.second = 1;
  EXPECT_EQ(g.Tick().back(), "pos -1 3");
  EXPECT_TRUE(g.fx.dialogs.messages.empty());
}

TEST(CheckHour, EveryLockedTickReappliesTheWholeLayoutAndAdvancesTheClock) {
  Guard g;
  g.fx.clock.set_hour(0, 30);
  g.Tick();
  // The child restores and moves the window between ticks.
  g.view.fake_window().state = platform::WindowState::normal;
  g.view.fake_window().topmost = false;
  g.fx.clock.time.second = 31;
  g.Tick();
  EXPECT_EQ(g.view.fake_window().state, platform::WindowState::maximized);
  EXPECT_TRUE(g.view.fake_window().topmost);
  EXPECT_EQ(g.view.clock, "2026/12/6 0:30:31");
}

TEST(CheckHour, ADisabledTimerKeepsTheLastLayoutAndStopsTheClock) {
  Guard g;
  g.fx.profile.set_text(kFile, test::FirstRunFileText());
  g.fx.clock.set_hour(0, 30);
  g.Tick();
  const std::string clock = g.view.clock;

  g.view.timer().set_enabled(false);
  g.fx.clock.set_hour(1, 0);  // an allowed hour begins
  EXPECT_EQ(g.Tick(), Log{}) << "a tick queued before the timer stopped must do nothing";
  EXPECT_EQ(g.view.clock, clock);
  EXPECT_EQ(g.view.fake_window().state, platform::WindowState::maximized);

  g.view.timer().set_enabled(true);
  EXPECT_EQ(g.Tick(), kCompactCalls);
}

}  // namespace
}  // namespace qorvel
