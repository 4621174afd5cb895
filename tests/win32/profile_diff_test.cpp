// The portable profile engine against the platform's own profile functions:
// the same writes through both must leave byte-identical files, and every
// section must read the same, byte for byte and count for count.
//
// Where Wine's profile functions differ from the behaviour the settings file
// relies on, that behaviour wins; KnownWineDifferences lists those cases
// (Wine 8.0):
//  1. Wine drops every blank line of the file on any write.
//  2. Wine rewrites hand-edited lines: "  a = 1" becomes "a=1", "[ HOUR ]"
//     becomes "[HOUR]", LF line ends become CR LF; it also reads "  a = 1 "
//     as "a=1". The engine keeps and reads lines as they stand.
//  3. Wine drops the leading spaces of a written value, and reads a value
//     without its trailing spaces; the engine stores and reads the value as
//     passed.
//  4. Wine writes a read-only file when the process may (as root); the
//     engine leaves a read-only file whole and reports failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"
#include "platform/portable/portable_profile_file.h"
#include "platform/win32/profile_file_win32.h"
#include "support/fakes.h"

namespace qorvel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct Op {
  std::string section;
  std::string key;
  std::optional<std::string> value;  // nullopt deletes
};

std::string Describe(const Op& op) {
  return "[" + op.section + "] " + op.key + (op.value ? "=" + *op.value : " deleted");
}

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The same file twice: one written by Windows, one by the engine.
class Twins {
 public:
  explicit Twins(const std::string& name) {
    const auto dir = fs::temp_directory_path() / "qorvel-diff";
    fs::create_directories(dir);
    windows_ = dir / (name + "-windows.ini");
    engine_ = dir / (name + "-engine.ini");
    fs::remove(windows_);
    fs::remove(engine_);
  }
  void Put(std::string_view bytes) const {
    std::ofstream(windows_, std::ios::binary) << bytes;
    std::ofstream(engine_, std::ios::binary) << bytes;
  }
  // Applies op through both; false (with a test failure) when they part.
  bool Apply(const Op& op) {
    std::optional<std::string_view> value;
    if (op.value) value = *op.value;
    const bool by_windows = windows_profile_.write_string(op.section, op.key, value, windows_.string());
    const bool by_engine = engine_profile_.write_string(op.section, op.key, value, engine_.string());
    EXPECT_EQ(by_windows, by_engine) << Describe(op);
    EXPECT_EQ(Bytes(windows_), Bytes(engine_)) << "after " << Describe(op);
    return by_windows == by_engine && Bytes(windows_) == Bytes(engine_);
  }
  bool ApplyAll(const std::vector<Op>& ops) {
    for (const auto& op : ops) {
      if (!Apply(op)) return false;
    }
    return true;
  }
  // Reads the section both ways: raw code page 936 buffers with their counts,
  // and the UTF-8 text the service hands up.
  void ExpectSameRead(const std::string& section, std::size_t size) {
    const std::string ansi = utf8_to_cp936(section);
    std::string raw(size + 1, '#');
    const DWORD count =
        GetPrivateProfileSectionA(ansi.c_str(), raw.data(), static_cast<DWORD>(size), windows_.string().c_str());
    const auto engine = ini::get_section(Bytes(engine_), ansi, size);
    const auto where = "[" + section + "] in " + std::to_string(size);
    EXPECT_EQ(count, engine.count) << where;
    EXPECT_EQ(raw.substr(0, engine.buffer.size()), engine.buffer) << where;
    EXPECT_EQ(raw[engine.buffer.size()], '#') << where << ": Windows wrote further";
    EXPECT_EQ(windows_profile_.get_section(section, size, windows_.string()),
              engine_profile_.get_section(section, size, engine_.string()))
        << where;
  }
  std::string windows_bytes() const { return Bytes(windows_); }
  std::string engine_bytes() const { return Bytes(engine_); }
  const fs::path& windows_path() const { return windows_; }
  const fs::path& engine_path() const { return engine_; }
  win32::Win32ProfileFile& windows_profile() { return windows_profile_; }
  PortableProfileFile& engine_profile() { return engine_profile_; }

 private:
  fs::path windows_, engine_;
  win32::Win32ProfileFile windows_profile_;
  PortableProfileFile engine_profile_;
};

std::vector<Op> FirstRun() {
  std::vector<Op> ops;
  for (int n = 1; n <= 23; ++n) {
    ops.push_back({"HOUR", "hou" + std::to_string(n), std::to_string(n)});
    ops.push_back({"mm", "nober", "907"});
    ops.push_back({"bb", "two", "0"});
  }
  return ops;
}

const std::vector<std::string> kSections = {"HOUR", "hour", "mm", "bb", "设置", "乚", "丄", "乤", "none"};

TEST(ProfileDiff, ThePlatformRunsInCodePage936) { EXPECT_EQ(GetACP(), 936u); }

TEST(ProfileDiff, FirstRunWritesGiveTheSameFile) {
  Twins t("first-run");
  ASSERT_TRUE(t.ApplyAll(FirstRun()));
  EXPECT_EQ(t.engine_bytes(), test::FirstRunFileText());
  for (const auto& s : kSections) t.ExpectSameRead(s, 32767);
}

TEST(ProfileDiff, HourMmAndBbEditsAgree) {
  Twins t("edits");
  ASSERT_TRUE(t.ApplyAll(FirstRun()));
  ASSERT_TRUE(t.ApplyAll({
      {"HOUR", "hou5", std::nullopt},   {"hour", "hou5", "5"},           {"HOUR", "HOU7", "7"},
      {"hour", "hou7", "07"},           {"hour", "hou23", std::nullopt}, {"hour", "hou0", "0"},
      {"HOUR", "hou99", std::nullopt},  {"none", "hou1", std::nullopt},  {"mm", "nober", "abc"},
      {"MM", "NOBER", "a=b=c"},         {"mm", "nober", ""},             {"mm", "nober", "密码=一二三"},
      {"bb", "two", "1"},               {"bb", "two", "1"},              {"bb", "TWO", "0"},
  }));
  for (const auto& s : kSections) t.ExpectSameRead(s, 32767);

  // Deleting every hour leaves the header alone.
  for (int n = 0; n <= 23; ++n) ASSERT_TRUE(t.Apply({"HOUR", "hou" + std::to_string(n), std::nullopt}));
  EXPECT_EQ(t.engine_bytes().substr(0, 10), "[HOUR]\r\n[m");
  t.ExpectSameRead("HOUR", 32767);
}

TEST(ProfileDiff, ChineseNamesAndValuesAgree) {
  Twins t("chinese");
  ASSERT_TRUE(t.ApplyAll({
      {"设置", "密码", "测试"},  // 设置 and 密码 are plain GB2312
      {"设置", "密码", "测试=值"},
      {"乚", "k", "]"},  // 乚 is 81 5D: its second byte is "]"
      {"丄", "k", "A"},  // 丄 is 81 41 and 乤 is 81 61: only case apart
      {"乤", "k", "a"},
      {"乚", "k", "改"},
      {"设置", "密码", std::nullopt},
  }));
  for (const auto& s : kSections) t.ExpectSameRead(s, 32767);
}

TEST(ProfileDiff, ASectionTooLongForTheBufferIsCutTheSameWay) {
  Twins t("long");
  const std::string value = "中" + std::string(990, '7');
  std::vector<Op> ops = FirstRun();
  for (int n = 0; n < 40; ++n) ops.push_back({"hour", "long" + std::to_string(n), value});
  ASSERT_TRUE(t.ApplyAll(ops));
  t.ExpectSameRead("HOUR", 32767);
  // Every cut of a short section, through double-byte characters too.
  ASSERT_TRUE(t.Apply({"mm", "nober", "密码=一二三"}));
  for (std::size_t size = 2; size <= 24; ++size) t.ExpectSameRead("mm", size);
}

TEST(ProfileDiff, HandEditedFilesTheyAgreeOn) {
  const struct {
    std::string file;
    Op op;
  } cases[] = {
      {"[ HOUR ]\r\nhou1=1\r\n", {"HOUR", "hou1", "1"}},  // no change: untouched
      {"[HOUR]\r\nhou1=1", {"HOUR", "hou2", "2"}},        // no final line end
      {"[HOUR]\r\nhou1=1", {"HOUR", "hou1", "1"}},
      {"k=0\r\n[HOUR]\r\nhou1=1\r\n;note\r\nnoeq\r\n=v\r\n", {"HOUR", "hou2", "2"}},
      {"[HOUR]\r\nhou1=1\r\n[hour]\r\nhou2=2\r\n", {"hour", "hou3", "3"}},
      {"[HOUR]\r\nhou1=1\r\nHOU1=2\r\n", {"HOUR", "hou1", "5"}},
      {"[HOUR]\r\nnoeq\r\n", {"HOUR", "NOEQ", "1"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    Twins t("hand-" + std::to_string(n++));
    t.Put(c.file);
    EXPECT_TRUE(t.Apply(c.op)) << c.file;
    t.ExpectSameRead("HOUR", 32767);
  }
}

std::string Visible(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

// The engine must keep to the listed behaviour; what Wine does instead is
// only reported.
TEST(ProfileDiff, KnownWineDifferences) {
  const struct {
    const char* what;
    std::string file;
    Op op;
    std::string engine;  // the file the engine leaves
  } cases[] = {
      {"blank lines are kept", "[HOUR]\r\nhou1=1\r\n\r\n[mm]\r\nnober=907\r\n", {"HOUR", "hou2", "2"},
       "[HOUR]\r\nhou1=1\r\nhou2=2\r\n\r\n[mm]\r\nnober=907\r\n"},
      {"hand-edited lines are kept", "[ HOUR ]\n  hou1 = 1\n[mm]\nnober=907\n", {"mm", "nober", "1"},
       "[ HOUR ]\n  hou1 = 1\n[mm]\nnober=1\r\n"},
      {"a value is written as passed", "", {"mm", "nober", "  a b  "}, "[mm]\r\nnober=  a b  \r\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    Twins t("known-" + std::to_string(n++));
    t.Put(c.file);
    std::optional<std::string_view> value;
    if (c.op.value) value = *c.op.value;
    t.windows_profile().write_string(c.op.section, c.op.key, value, t.windows_path().string());
    EXPECT_TRUE(t.engine_profile().write_string(c.op.section, c.op.key, value, t.engine_path().string()));
    EXPECT_EQ(t.engine_bytes(), c.engine) << c.what;
    if (t.windows_bytes() != c.engine) {
      std::cout << "Wine differs, " << c.what << ": " << Visible(t.windows_bytes()) << "\n";
    }
  }

  Twins spaced("known-read");
  spaced.Put("[s]\r\n  a = 1 \r\n");
  EXPECT_EQ(spaced.engine_profile().get_section("s", 100, spaced.engine_path().string()), "  a = 1 \0\0"s);
  std::cout << "Wine reads \"  a = 1 \" as \""
            << spaced.windows_profile().get_section("s", 100, spaced.windows_path().string()).c_str() << "\"\n";

  Twins read_only("known-read-only");
  read_only.Put(test::FirstRunFileText());
  SetFileAttributesW(read_only.windows_path().c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(read_only.engine_path().c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(read_only.engine_profile().write_string("HOUR", "hou0", "0", read_only.engine_path().string()));
  EXPECT_EQ(read_only.engine_bytes(), test::FirstRunFileText());
  const bool wine_wrote =
      read_only.windows_profile().write_string("HOUR", "hou0", "0", read_only.windows_path().string());
  std::cout << "Wine's write to a read-only file returns " << wine_wrote << " and "
            << (read_only.windows_bytes() == test::FirstRunFileText() ? "leaves" : "changes") << " the file\n";
  SetFileAttributesW(read_only.windows_path().c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(read_only.engine_path().c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace qorvel::platform
