// The profile engine on file bytes: the rules Windows applies to the
// settings file, and the file it leaves behind.
#include <gtest/gtest.h>

#include "platform/portable/ini_text.h"
#include "support/fakes.h"

namespace qorvel::platform::ini {
namespace {

using namespace std::string_literals;

constexpr std::string_view kNames =
    "[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n";  // 35 bytes of lines

struct ReadCase {
  const char* what;
  std::string file;
  std::string section;
  std::size_t size;
  std::string buffer;
  std::size_t count;
};

TEST(IniRead, SectionsAsWindowsReturnsThem) {
  const ReadCase cases[] = {
      {"missing file or empty file", "", "HOUR", 100, "\0\0"s, 0},
      {"missing section", "[mm]\r\nnober=907\r\n", "HOUR", 100, "\0\0"s, 0},
      {"section without lines", "[HOUR]\r\n[mm]\r\nnober=907\r\n", "HOUR", 100, "\0\0"s, 0},
      {"lines in file order up to the next header", "[HOUR]\r\nhou2=2\r\nhou1=1\r\n[mm]\r\nnober=907\r\n", "HOUR",
       100, "hou2=2\0hou1=1\0\0"s, 14},
      {"names ignore case and spaces in the header", "[ HOUR ]\r\nhou1=1\r\n", "hour", 100, "hou1=1\0\0"s, 7},
      {"blank and comment lines skipped, others as they stand",
       "[s]\r\n\r\n  a = 1 \r\n;note\r\n   \r\nnoeq\r\n=v\r\n", "s", 100, "  a = 1 \0noeq\0=v\0\0"s, 17},
      {"LF line ends and no final line end", "[s]\nk=1\nj=2", "s", 100, "k=1\0j=2\0\0"s, 8},
      {"the first of two like-named sections", "[s]\r\nk=1\r\n[S]\r\nk=2\r\n", "s", 100, "k=1\0\0"s, 4},
      {"keys before any header belong to no section", "k=0\r\n[s]\r\nk=1\r\n", "s", 100, "k=1\0\0"s, 4},
      {"exactly fits", std::string(kNames), "s", 37, "name1=val1\0name2=\0name3\0name4=val4\0\0"s, 35},
      {"one byte short: still two NULs", std::string(kNames), "s", 36,
       "name1=val1\0name2=\0name3\0name4=val4\0\0"s, 34},
      {"cut inside a line", std::string(kNames), "s", 24, "name1=val1\0name2=\0name\0\0"s, 22},
      {"cut to nothing", std::string(kNames), "s", 2, "\0\0"s, 0},
      {"cut inside a double-byte character", "[s]\r\nk=\xd6\xd0\xce\xc4\xd6\xd0\r\n", "s", 7,
       "k=\xd6\xd0\xce\0\0"s, 5},
      {"a second byte that looks like ] is not the header's end", "[\x81\x5d]\r\nk=1\r\n", "\x81\x5d", 100,
       "k=1\0\0"s, 4},
      {"second bytes do not fold case", "[\x81\x41]\r\nk=1\r\n", "\x81\x61", 100, "\0\0"s, 0},
  };
  for (const auto& c : cases) {
    const auto read = get_section(c.file, c.section, c.size);
    EXPECT_EQ(read.buffer, c.buffer) << c.what;
    EXPECT_EQ(read.count, c.count) << c.what;
  }
}

struct WriteCase {
  const char* what;
  std::string file;
  std::string section;
  std::string key;
  std::optional<std::string> value;
  std::optional<std::string> result;  // nullopt: the file is left as it is
};

TEST(IniWrite, EditsOnlyWhatTheWriteNames) {
  const std::string two = "[HOUR]\r\nhou1=1\r\n[mm]\r\nnober=907\r\n";
  const WriteCase cases[] = {
      {"creates the file", "", "HOUR", "hou1", "1", "[HOUR]\r\nhou1=1\r\n"},
      {"a new section goes last, no blank line", two, "bb", "two", "0", two + "[bb]\r\ntwo=0\r\n"},
      {"a new key follows its section's last line", two, "hour", "hou2", "2",
       "[HOUR]\r\nhou1=1\r\nhou2=2\r\n[mm]\r\nnober=907\r\n"},
      {"a replaced value keeps its line and key spelling", two, "HOUR", "HOU1", "5",
       "[HOUR]\r\nhou1=5\r\n[mm]\r\nnober=907\r\n"},
      {"the value is kept whole, = and spaces included", two, "mm", "nober", " a=b ",
       "[HOUR]\r\nhou1=1\r\n[mm]\r\nnober= a=b \r\n"},
      {"an empty value is a value", two, "mm", "nober", "", "[HOUR]\r\nhou1=1\r\n[mm]\r\nnober=\r\n"},
      {"the same value changes nothing", "[HOUR]\r\nhou1=1", "HOUR", "hou1", "1", std::nullopt},
      {"a last line without a line end gets one", "[HOUR]\r\nhou1=1", "HOUR", "hou2", "2",
       "[HOUR]\r\nhou1=1\r\nhou2=2\r\n"},
      {"...also when the change is elsewhere", "[a]\r\nk=1\r\n[b]\r\nk=1", "a", "k", "2",
       "[a]\r\nk=2\r\n[b]\r\nk=1\r\n"},
      {"blank lines, comments and spacing elsewhere are kept", "[s]\r\n  a = 1\r\n;note\r\n\r\n[t]\n", "s", "b", "2",
       "[s]\r\n  a = 1\r\n;note\r\nb=2\r\n\r\n[t]\n"},
      {"the header keeps its spelling", "[ hour ]\r\nhou1=1\r\n", "HOUR", "hou1", "2", "[ hour ]\r\nhou1=2\r\n"},
      {"a line without = is a key without a value", "[s]\r\nk\r\n", "s", "K", "1", "[s]\r\nk=1\r\n"},
      {"delete removes the key's line", two, "hour", "HOU1", std::nullopt, "[HOUR]\r\n[mm]\r\nnober=907\r\n"},
      {"delete of a missing key changes nothing", two, "HOUR", "hou9", std::nullopt, std::nullopt},
      {"delete in a missing section changes nothing", two, "bb", "two", std::nullopt, std::nullopt},
      {"delete in a missing file creates nothing", "", "bb", "two", std::nullopt, std::nullopt},
      {"code page 936 text is stored as its bytes", two, "\xc9\xe8\xd6\xc3", "\xc3\xdc", "\xb2\xe2\xca\xd4",
       two + "[\xc9\xe8\xd6\xc3]\r\n\xc3\xdc=\xb2\xe2\xca\xd4\r\n"},
      {"a double-byte section name ending in ] is found", "[\x81\x5d]\r\nk=1\r\n", "\x81\x5d", "k", "2",
       "[\x81\x5d]\r\nk=2\r\n"},
  };
  for (const auto& c : cases) {
    std::optional<std::string_view> value;
    if (c.value) value = *c.value;
    EXPECT_EQ(write_string(c.file, c.section, c.key, value), c.result) << c.what;
  }
}

std::string Apply(std::string file, std::string_view section, std::string_view key,
                  std::optional<std::string_view> value) {
  if (auto updated = write_string(file, section, key, value)) file = std::move(*updated);
  return file;
}

TEST(IniWrite, FirstRunPassesGiveTheFirstRunFileByteForByte) {
  std::string file;
  for (int n = 1; n <= 23; ++n) {
    const std::string hour = std::to_string(n);
    file = Apply(file, "HOUR", "hou" + hour, hour);
    file = Apply(file, "mm", "nober", "907");
    file = Apply(file, "bb", "two", "0");
  }
  EXPECT_EQ(file, test::FirstRunFileText());
}

TEST(IniWrite, DeleteThenAddPutsTheLineLast) {
  std::string file = Apply(test::FirstRunFileText(), "HOUR", "hou5", std::nullopt);
  file = Apply(file, "hour", "hou5", "5");
  const auto read = get_section(file, "HOUR", 32767);
  const std::string lines = read.buffer;
  EXPECT_EQ(lines.substr(lines.size() - 17), "hou23=23\0hou5=5\0\0"s);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\0'), 24);
}

}  // namespace
}  // namespace qorvel::platform::ini
