#include <gtest/gtest.h>

#include <algorithm>

#include "guard/form1.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using test::FakeForm1View;
using test::FakeServices;
using test::FirstRunFileText;
using test::Log;

constexpr const char* kPrompt = "是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907";
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Guard {
  FakeServices fx;
  FakeForm1View view{fx.log};
  guard::Form1 form{fx.services, view};

  std::string file() const { return fx.profile.text(store::kSettingsFile).value_or("<missing>"); }
  void set_file(const std::string& text) { fx.profile.set_text(store::kSettingsFile, text); }
  bool prompted() const {
    return std::any_of(fx.dialogs.messages.begin(), fx.dialogs.messages.end(),
                       [](const auto& m) { return m.text == kPrompt; });
  }
};

TEST(Startup, FirstStartCreatesTheFileThenAsks) {
  Guard g;
  g.form.Form_Load();
  EXPECT_EQ(g.file(), FirstRunFileText());
  EXPECT_EQ(g.fx.profile.writes, 69);
  ASSERT_EQ(g.fx.dialogs.messages.size(), 1u);
  EXPECT_EQ(g.fx.dialogs.messages[0].text, kPrompt);
  EXPECT_EQ(g.fx.dialogs.messages[0].style, 1u);
  // Privilege first, then the file, then the question.
  ASSERT_GE(g.fx.log.size(), 3u);
  EXPECT_EQ(g.fx.log.front(), "privilege");
  EXPECT_EQ(g.fx.log[1], "write [HOUR] hou1=1");
  EXPECT_EQ(g.fx.log.back(), std::string("message ") + kPrompt);
}

TEST(Startup, CancelKeepsAskingAtEveryStart) {
  Guard g;
  for (int start = 1; start <= 3; ++start) {
    g.fx.dialogs.message_answers.push_back(2);
    g.form.Form_Load();
    EXPECT_EQ(g.fx.dialogs.messages.size(), static_cast<std::size_t>(start));
  }
  EXPECT_EQ(g.file(), FirstRunFileText());
  EXPECT_EQ(g.fx.profile.writes, 69);  // only the first start wrote
  EXPECT_TRUE(g.fx.registry.values.empty());
}

TEST(Startup, OkRegistersThenRemembersThenSaysSo) {
  Guard g;
  g.fx.dialogs.message_answers.push_back(platform::kIdOk);
  g.form.Form_Load();

  const Log tail(g.fx.log.end() - 4, g.fx.log.end());
  EXPECT_EQ(tail, (Log{std::string("message ") + kPrompt, "registry guard=D:\\tools\\guard",
                       "write [bb] two=1", "message 设置成功,重启后生效"}));
  EXPECT_EQ(g.fx.registry.values.at(std::string(kRunKey) + "\\guard"), "D:\\tools\\guard");
  EXPECT_EQ(g.fx.dialogs.messages.back().style, 64u);
  std::string registered = FirstRunFileText();
  registered.replace(registered.rfind("two=0"), 5, "two=1");
  EXPECT_EQ(g.file(), registered);

  // The next start neither writes nor asks.
  g.fx.log.clear();
  g.form.Form_Load();
  EXPECT_EQ(g.fx.log, Log{"privilege"});
}

TEST(Startup, SecondInstanceDoesNothing) {
  Guard g;
  g.fx.process.previous = true;
  g.fx.dialogs.message_answers.push_back(platform::kIdOk);
  g.form.Form_Load();
  EXPECT_TRUE(g.fx.log.empty()) << g.fx.log.front();
  EXPECT_FALSE(g.fx.profile.exists(store::kSettingsFile));
}

TEST(Startup, ExistingFileIsNeverRepaired) {
  Guard g;
  const std::string hand_edited = "[mm]\r\nnober=907\r\n[bb]\r\ntwo=1\r\n";
  g.set_file(hand_edited);
  g.form.Form_Load();
  EXPECT_EQ(g.file(), hand_edited);
  EXPECT_EQ(g.fx.profile.writes, 0);
  EXPECT_FALSE(g.prompted());
}

TEST(Startup, RegistryFailureLeavesTheFlagAndSaysSo) {
  Guard g;
  g.fx.registry.fail = true;
  g.fx.dialogs.message_answers.push_back(platform::kIdOk);
  g.form.Form_Load();
  EXPECT_EQ(g.file(), FirstRunFileText());
  ASSERT_EQ(g.fx.dialogs.messages.size(), 2u);
  EXPECT_EQ(g.fx.dialogs.messages[1].text, "设置失败,请以管理员身份运行后重试");
  EXPECT_EQ(g.fx.dialogs.messages[1].style, 48u);

  // So the question comes back.
  g.fx.registry.fail = false;
  g.form.Form_Load();
  EXPECT_EQ(g.fx.dialogs.messages.size(), 3u);
  EXPECT_EQ(g.fx.dialogs.messages[2].text, kPrompt);
}

// Where the executable lives decides the registered command line.
struct RunCase {
  const char* name;
  std::string directory;
  std::string exe;
  std::string data;
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class RunValue : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunValue, IsDirectorySeparatorAndName) {
  const auto& c = GetParam();
  Guard g;
  g.fx.process.directory = c.directory;
  g.fx.process.name = c.exe;
  g.fx.dialogs.message_answers.push_back(platform::kIdOk);
  g.form.Form_Load();
  ASSERT_EQ(g.fx.registry.values.size(), 1u);
  EXPECT_EQ(g.fx.registry.values.begin()->first, std::string(kRunKey) + "\\" + c.exe);
  EXPECT_EQ(g.fx.registry.values.begin()->second, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RunValue,
    ::testing::Values(
        RunCase{"Plain", "D:\\tools", "guard", "D:\\tools\\guard"},
        RunCase{"DriveRootDoublesTheSeparator", "C:\\", "guard", "C:\\\\guard"},
        RunCase{"SpaceInDirectoryIsQuoted", "C:\\Program Files\\Qorvel", "qorvel",
                "\"C:\\Program Files\\Qorvel\\qorvel\""},
        RunCase{"SpaceInNameIsQuoted", "D:\\tools", "my guard", "\"D:\\tools\\my guard\""},
        RunCase{"ChineseIsNotQuoted", "D:\\工具", "守护", "D:\\工具\\守护"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// How the [bb] flag reads decides whether to ask.
struct FlagCase {
  const char* name;
  std::string bb;  // the rest of the file after the other sections
  bool asks;
};
void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.name; }

class RegistrationFlag : public ::testing::TestWithParam<FlagCase> {};

TEST_P(RegistrationFlag, DecidesThePrompt) {
  const auto& c = GetParam();
  Guard g;
  g.set_file("[HOUR]\r\nhou8=8\r\n[mm]\r\nnober=4321\r\n" + c.bb);
  g.form.Form_Load();
  // When it asks, it still shows the initial password, not the current one.
  EXPECT_EQ(g.prompted(), c.asks);
  EXPECT_EQ(g.fx.dialogs.messages.size(), c.asks ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegistrationFlag,
    ::testing::Values(
        FlagCase{"One", "[bb]\r\ntwo=1\r\n", false},
        FlagCase{"Zero", "[bb]\r\ntwo=0\r\n", true},
        FlagCase{"NumericallyOne", "[bb]\r\ntwo=01.0\r\n", false},
        FlagCase{"ValueFieldEndsAtSecondEquals", "[bb]\r\ntwo=1=0\r\n", false},
        FlagCase{"OnlyTheFirstLineCounts", "[bb]\r\ntwo=0\r\nthree=1\r\n", true},
        FlagCase{"Two", "[bb]\r\ntwo=2\r\n", true},
        FlagCase{"NonNumeric", "[bb]\r\ntwo=yes\r\n", true},
        FlagCase{"NoEquals", "[bb]\r\ntwo\r\n", true},
        FlagCase{"EmptySection", "[bb]\r\n", true},
        FlagCase{"NoSection", "", true}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// A failure while creating the file stops the writing but not the start-up.
TEST(Startup, FirstRunFailureStopsWritingAndStillAsks) {
  const struct {
    bool existence_unknown, writes_fail;
    int writes;
  } cases[] = {{true, false, 0}, {false, true, 1}};
  for (const auto& c : cases) {
    Guard g;
    g.fx.files.fail = c.existence_unknown;
    g.fx.profile.fail_writes = c.writes_fail;
    g.form.Form_Load();
    EXPECT_EQ(g.fx.profile.writes, c.writes);
    EXPECT_TRUE(g.prompted());
  }
}

}  // namespace
}  // namespace qorvel
