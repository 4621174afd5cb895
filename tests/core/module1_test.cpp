// The settings file routines: what they hand the profile layer, and what a
// settings file looks like through them.
#include <gtest/gtest.h>

#include <stdexcept>

#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel::store {
namespace {

// Records each call and answers with a fixed section buffer.
class RecordingProfile final : public platform::ProfileFile {
 public:
  std::string get_section(std::string_view section, std::size_t buffer_size, std::string_view file) override {
    calls.push_back("read " + std::string(section) + " " + std::to_string(buffer_size) + " " + std::string(file));
    return buffer;
  }
  bool write_string(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                    std::string_view file) override {
    if (throws) throw std::runtime_error("disk gone");
    calls.push_back("write " + std::string(section) + "|" + std::string(key) + "|" +
                    (value ? "'" + std::string(*value) + "'" : "null") + "|" + std::string(file));
    return result;
  }
  std::string buffer{"\0\0", 2};
  bool result = true;
  bool throws = false;
  std::vector<std::string> calls;
};

TEST(Module1, RoutinesPassTheirArgumentsInTheirOwnOrders) {
  RecordingProfile p;
  EXPECT_TRUE(ReadProfileSection(p, "HOUR", kSettingsFile).empty());
  EXPECT_TRUE(WriteProfileValue(p, kSettingsFile, "mm", "nober", ""));
  EXPECT_TRUE(WriteProfileValue(p, kSettingsFile, "mm", "nober", " 9=07 "));
  EXPECT_EQ(DeleteProfileValue(p, "HOUR", "hou5", kSettingsFile), 0);
  EXPECT_EQ(p.calls, (std::vector<std::string>{"read HOUR 32767 C:\\mdb.ini", "write mm|nober|''|C:\\mdb.ini",
                                                "write mm|nober|' 9=07 '|C:\\mdb.ini",
                                                "write HOUR|hou5|null|C:\\mdb.ini"}));
}

TEST(Module1, WriteResultIsAboutTheAttemptOnly) {
  RecordingProfile p;
  EXPECT_FALSE(WriteProfileValue(p, kSettingsFile, "mm", "   ", "1"));
  EXPECT_FALSE(WriteProfileValue(p, kSettingsFile, "", "nober", "1"));
  EXPECT_FALSE(WriteProfileValue(p, kSettingsFile, "  ", "nober", "1"));
  EXPECT_TRUE(p.calls.empty()) << "a blank key or section writes nothing";

  p.result = false;
  EXPECT_TRUE(WriteProfileValue(p, kSettingsFile, "mm", "nober", "1")) << "the writer's result is not examined";
  p.throws = true;
  EXPECT_FALSE(WriteProfileValue(p, kSettingsFile, "mm", "nober", "1"));
  EXPECT_EQ(DeleteProfileValue(p, "mm", "nober", kSettingsFile), 0);
}

TEST(Module1, ReadSplitsTheBufferAtNulsAndStopsAtTheEmptyLine) {
  RecordingProfile p;
  const struct {
    std::string buffer;
    std::vector<std::string> lines;
  } cases[] = {
      {{"\0\0", 2}, {}},
      {{"a=1\0b\0\0", 7}, {"a=1", "b"}},
      {{"a=1\0\0c=3\0\0", 10}, {"a=1"}},
      {{"a=1\0b=", 6}, {"a=1", "b="}},  // cut with no NUL pair: the rest is one line
  };
  for (const auto& c : cases) {
    p.buffer = c.buffer;
    EXPECT_EQ(ReadProfileSection(p, "s", "f"), c.lines);
  }
}

TEST(Module1, ValueFieldIsBetweenTheFirstAndTheNextEquals) {
  EXPECT_EQ(ValueField("hou8=8"), "8");
  EXPECT_EQ(ValueField("nober=a=b=c"), "a");
  EXPECT_EQ(ValueField("nober="), "");
  EXPECT_EQ(ValueField("=x"), "x");
  EXPECT_EQ(ValueField("noequals"), "");
}

class Module1File : public ::testing::Test {
 protected:
  test::Log log;
  test::MemoryProfileFile profile{log};
  std::vector<std::string> Hours() { return ReadProfileSection(profile, "HOUR", kSettingsFile); }
};

TEST_F(Module1File, HourAndHOURAreOneSectionAndOrderIsInsertionOrder) {
  profile.set_text(kSettingsFile, test::FirstRunFileText());
  DeleteProfileValue(profile, "HOUR", "hou5", kSettingsFile);
  WriteProfileValue(profile, kSettingsFile, "hour", "hou5", "5");
  WriteProfileValue(profile, kSettingsFile, "hour", "hou0", "0");
  const auto hours = Hours();
  ASSERT_EQ(hours.size(), 24u);
  EXPECT_EQ(hours[3], "hou4=4");
  EXPECT_EQ(hours[4], "hou6=6");
  EXPECT_EQ(hours[22], "hou5=5");
  EXPECT_EQ(hours[23], "hou0=0");
  EXPECT_EQ(profile.text(kSettingsFile)->find("[hour]"), std::string::npos);
}

TEST_F(Module1File, APasswordIsStoredWholeAndReadUpToItsFirstEquals) {
  profile.set_text(kSettingsFile, test::FirstRunFileText());
  WriteProfileValue(profile, kSettingsFile, "mm", "nober", "密码=一二三");
  const auto mm = ReadProfileSection(profile, "mm", kSettingsFile);
  ASSERT_EQ(mm.size(), 1u);
  EXPECT_EQ(mm[0], "nober=密码=一二三");
  EXPECT_EQ(ValueField(mm[0]), "密码");
}

TEST_F(Module1File, ASectionLongerThanTheBufferIsReadAsFarAsItFits) {
  std::string text = "[HOUR]\r\n";
  const std::string value(990, '7');
  for (int i = 0; i < 40; ++i) text += "hou" + std::to_string(i) + "=" + value + "\r\n";  // about 40000 bytes
  profile.set_text(kSettingsFile, text);
  const auto hours = Hours();
  ASSERT_EQ(hours.size(), 33u);  // 32 whole lines of 996 or 997 bytes, then a cut one
  EXPECT_EQ(hours[31], "hou31=" + value);
  EXPECT_LT(hours[32].size(), hours[31].size());
  std::size_t total = 0;
  for (const auto& h : hours) total += h.size() + 1;
  EXPECT_EQ(total, kSectionBufferSize - 2 + 1);  // the cut line ends at the first of the two NULs
}

}  // namespace
}  // namespace qorvel::store
