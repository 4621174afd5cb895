// The main window's logic: the hour check, the password-free commands and
// the start-up (first run, then the start-with-Windows prompt).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/fakes.h"

namespace qorvel {
namespace {

using test::Log;
using test::SettingsText;

const Log kCompact = {"pos -2 3", "state normal", "top 0", "left 0", "width 615", "height 260"};
const std::string kPrompt = "message 1 60 是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907";
const std::string kRun = "registry Software\\Microsoft\\Windows\\CurrentVersion\\Run\\guard=";
const std::string kDone = "message 64 60 设置成功,重启后生效";
const Log kAsked = {"privilege", kPrompt};

std::string HourFile(std::string_view lines) { return "[HOUR]\r\n" + std::string(lines) + "[mm]\r\nnober=907\r\n"; }

struct Guard : test::FakeGuard {
  // One tick at the given time: "compact", "locked", "" for no calls, or other.
  std::string Tick(int hour, int minute = 0) {
    fx.clock.set_hour(hour, minute);
    const Log calls = Calls([&] { form.Timer1_Timer(); });
    if (calls == kCompact) return "compact";
    if (calls == Log{"L1 " + fx.clock.general_date(fx.clock.time), "state maximized", "pos -1 3"}) return "locked";
    return calls.empty() ? "" : "other, starting " + calls.front();
  }
  Log Locked() const { return {"L1 " + fx.clock.general_date(fx.clock.time), "state maximized", "pos -1 3"}; }
  // A start at 0:30, which these files lock: the calls before the window
  // shows and those after, less the first tick's, which must come first.
  Log Load(int answer = platform::kIdCancel) {
    fx.system.answer = answer;
    Log calls = Calls([&] { form.Form_Load(); });
    const Log shown = Calls([&] { form.Form_Shown(); });
    const auto first_tick = std::min(shown.size(), Locked().size());
    EXPECT_EQ(Log(shown.begin(), shown.begin() + first_tick), Locked()) << "the lock before anything else";
    calls.insert(calls.end(), shown.begin() + first_tick, shown.end());
    return calls;
  }
};

TEST(CheckHour, PicksTheLayoutFromTheClockAndTheFile) {
  const struct { const char* what; std::string file; int hour, minute; const char* layout; } cases[] = {
      {"empty HOUR: no value stands in for hour 0", HourFile(""), 0, 0, "locked"},
      {"letters count as hour 0", HourFile("houx=abc\r\n"), 0, 10, "compact"},
      {"leading zero", HourFile("hou08=08\r\n"), 8, 0, "compact"},
      {"a fraction matches no hour", HourFile("hou8=8.5\r\n"), 8, 0, "locked"},
      {"the value after the first = counts", HourFile("hou9=9=10\r\n"), 9, 0, "compact"},
  };
  for (const auto& c : cases) {
    Guard g;
    g.SetFile(c.file);
    EXPECT_EQ(g.Tick(c.hour, c.minute), c.layout) << c.what;
  }
}

TEST(CheckHour, AHandEditCountsAtTheNextTickAndADisabledTimerChangesNothing) {
  Guard g;
  g.SetFile(HourFile("hou9=9\r\n"));
  EXPECT_EQ(g.Tick(10), "locked");
  g.SetFile(HourFile("hou9=9\r\nhou10=10\r\n"));
  EXPECT_EQ(g.Tick(10), "compact");
  g.view.set_enabled(false);
  EXPECT_EQ(g.Tick(0), "") << "a tick queued before the timer stopped must keep the layout and the clock";
}

TEST(Commands, LockPowerOffAndTheHoursLineReachThePlatform) {
  Guard g;
  g.SetFile("[hour]\r\nhou7=7\r\nhou5=5=x\r\n");
  EXPECT_EQ(g.Calls([&] { g.form.Command1_Click(); g.form.Command3_Click(); g.form.Command2_Click(); }),
            (Log{"start RunDll32.exe user32.dll,LockWorkStation /1", "exit_windows 12 0"}))
      << "and the settings button without a door does nothing";
  g.form.Command4_Click();
  g.form.Command4_Click();  // twice: rebuilt, not appended to
  EXPECT_EQ(g.view.hours, "5点  7点  ") << "latest listed first";
}

TEST(Startup, FirstStartCreatesTheFileIfItCanThenAsksUntilAnsweredOk) {
  Guard g;
  g.fx.system.existence_unknown = true;
  EXPECT_EQ(g.Load(), kAsked) << "unsure whether there is a file: nothing written";
  g.fx.system.existence_unknown = false;
  g.fx.profile.fail_writes = true;
  EXPECT_EQ(g.Load(), (Log{"privilege", "write [HOUR] hou1=1", kPrompt})) << "a failed write ends the writing";
  g.fx.profile.fail_writes = false;
  const Log calls = g.Load();
  EXPECT_EQ(g.File(), SettingsText());
  ASSERT_EQ(calls.size(), 71u);  // privilege, 23 passes of three writes, prompt
  EXPECT_EQ(calls.back(), kPrompt);
  EXPECT_EQ(g.Load(), kAsked) << "Cancel: asked again at the next start";
  EXPECT_EQ(g.Load(platform::kIdOk), (Log{"privilege", kPrompt, kRun + "D:\\tools\\guard", "write [bb] two=1", kDone}));
  EXPECT_EQ(g.File(), SettingsText(test::kFirstRunHours, "907", '1'));
  EXPECT_EQ(g.Load(), Log{"privilege"}) << "the next start neither writes nor asks";
  g.fx.system.previous = true;
  g.SetFile(SettingsText());
  EXPECT_EQ(g.Load(platform::kIdOk), Log{}) << "a second instance neither asks nor writes";
  // Where the guardian owns the file it alone decides whether one is due.
  Guard owned;
  owned.fx.system.guardian_password = "907";
  EXPECT_EQ(owned.Load(), (Log{"privilege", "guardian first run", kPrompt}));
  EXPECT_EQ(owned.File(), "<none>");
}

// The prompt stands over a window whose hour check already runs: the lock at
// once, and a new hour while it is up. Unanswered, the real boxes give up
// with Cancel, which registers nothing and asks again at the next start.
TEST(Startup, TheHourCheckRunsFromTheStartAndBeneathThePrompt) {
  Guard g;
  g.SetFile(SettingsText({10}));
  g.fx.clock.set_hour(10);
  EXPECT_EQ(g.Calls([&] { g.form.Form_Load(); }), Log{"privilege"}) << "nothing asked before the window shows";
  g.fx.system.while_asking = [&] {
    g.fx.clock.set_hour(11);
    g.form.Timer1_Timer();
  };
  Log expected = kCompact;
  expected.push_back(kPrompt);
  expected.push_back("L1 2026/12/6 11:0:0");
  expected.insert(expected.end(), {"state maximized", "pos -1 3"});
  EXPECT_EQ(g.Calls([&] { g.form.Form_Shown(); }), expected);
  EXPECT_EQ(g.File(), SettingsText({10})) << "a prompt given up writes nothing";
  g.fx.system.while_asking = nullptr;
  EXPECT_EQ(g.Load(), kAsked) << "and is asked again at the next start";
}

TEST(Startup, OkRegistersTheQuotedOrRootedPathOrSaysItFailedAndAsksAgain) {
  const struct { const char *directory, *run_value; bool registry_fails; const char* message; } cases[] = {
      {"C:\\", "C:\\\\guard", false, kDone.c_str()},
      {"C:\\Program Files", "\"C:\\Program Files\\guard\"", false, kDone.c_str()},
      {"D:\\tools", "D:\\tools\\guard", true, "message 48 60 设置失败,请以管理员身份运行后重试"},
  };
  for (const auto& c : cases) {
    Guard g;
    g.fx.system.directory = c.directory;
    g.fx.system.registry_fails = c.registry_fails;
    const Log calls = g.Load(platform::kIdOk);
    EXPECT_NE(std::find(calls.begin(), calls.end(), kRun + c.run_value), calls.end()) << c.directory;
    EXPECT_EQ(calls.back(), c.message);
    EXPECT_EQ(g.Load(), c.registry_fails ? kAsked : Log{"privilege"}) << "the flag records only a registration";
  }
}

TEST(Startup, AnExistingFileIsNeverRepairedAndItsFlagDecidesThePrompt) {
  const struct { const char* bb; bool asks; } cases[] = {
      {"[bb]\r\ntwo=1\r\n", false},   {"[bb]\r\ntwo=01.0\r\n", false}, {"[bb]\r\ntwo=0\r\nthree=1\r\n", true},
      {"[bb]\r\ntwo=yes\r\n", true},  {"[bb]\r\ntwo\r\n", true},       {"", true},
  };
  for (const auto& c : cases) {
    Guard g;
    const std::string file = "[mm]\r\nnober=4321\r\n" + std::string(c.bb);  // no HOUR; the prompt still says 907
    g.SetFile(file);
    EXPECT_EQ(g.Load(), c.asks ? kAsked : Log{"privilege"}) << c.bb;
    EXPECT_EQ(g.File(), file);
  }
}

}  // namespace
}  // namespace qorvel
