#include <gtest/gtest.h>

#include "guard/form1.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using test::FakeForm1View;
using test::FakeServices;
using test::Log;

struct Guard {
  FakeServices fx;
  FakeForm1View view{fx.log};
  guard::Form1 form{fx.services, view};
};

struct HoursCase {
  const char* name;
  std::string file;
  std::string expected;
};

void PrintTo(const HoursCase& c, std::ostream* os) { *os << c.name; }

class AllowedHoursLine : public ::testing::TestWithParam<HoursCase> {};

TEST_P(AllowedHoursLine, ListsTheValueFieldsLatestFirst) {
  const auto& c = GetParam();
  Guard g;
  g.fx.profile.set_text(store::kSettingsFile, c.file);
  g.form.Command4_Click();
  EXPECT_EQ(g.view.hours, c.expected);
  // Pressed again: the line is rebuilt, not appended to.
  g.form.Command4_Click();
  EXPECT_EQ(g.view.hours, c.expected);
}

std::string FirstRunLine() {
  std::string line;
  for (int h = 23; h >= 1; --h) line += std::to_string(h) + "点  ";
  return line;
}

INSTANTIATE_TEST_SUITE_P(
    Files, AllowedHoursLine,
    ::testing::Values(
        HoursCase{"FirstRun", test::FirstRunFileText(), FirstRunLine()},
        HoursCase{"EmptySection", "[HOUR]\r\n[mm]\r\nnober=907\r\n", ""},
        HoursCase{"InsertionOrderNotNumeric", "[HOUR]\r\nhou7=7\r\nhou5=5\r\nhou6=6\r\n", "6点  5点  7点  "},
        HoursCase{"ValueFieldOnly", "[hour]\r\nhou5=5=x\r\nhou0=abc\r\n", "abc点  5点  "}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(AllowedHoursLine, IsClearedFirstEvenWhenTheFileIsGone) {
  Guard g;
  g.view.hours = "stale";
  g.form.ShowAllowedHours();
  EXPECT_EQ(g.view.hours, "");
}

TEST(Commands, LockAndPowerOffReachThePlatformWithItsExactArguments) {
  Guard g;
  g.form.Command1_Click();
  g.form.Command3_Click();
  EXPECT_EQ(g.fx.log, (Log{"start RunDll32.exe user32.dll,LockWorkStation /1", "exit_windows 12 0"}));
  // Neither command touches the window or the timer.
  EXPECT_TRUE(g.view.fake_timer().enabled());
  EXPECT_EQ(g.view.fake_window().top, -1);
}

struct CountingDoor final : guard::SettingsDoor {
  int opened = 0;
  void open() override { ++opened; }
};

TEST(Commands, TheSettingsButtonKnocksOnTheDoorWhenThereIsOne) {
  Guard g;
  g.form.Command2_Click();  // no door yet: nothing happens
  CountingDoor door;
  g.form.set_settings_door(&door);
  g.form.Command2_Click();
  EXPECT_EQ(door.opened, 1);
}

}  // namespace
}  // namespace qorvel
