// The settings store: the line readers, the profile engine on bytes with the
// rules Windows applies, and what the portable profile file leaves on disk.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/portable/ini_text.h"
#include "platform/portable/portable_profile_file.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(LineReaders, ValueFieldStopsAtTheNextEqualsAndValReadsNumbersAsBasicDoes) {
  const struct { const char* line; const char* field; } fields[] = {
      {"hou8=8", "8"}, {"nober=a=b", "a"}, {"nober=", ""}, {"=x", "x"}, {"noequals", ""}};
  for (const auto& c : fields) EXPECT_EQ(store::ValueField(c.line), c.field) << c.line;
  const struct { const char* text; double value; } cases[] = {
      {"08", 8}, {"8.5", 8.5}, {"", 0}, {"abc", 0}, {"12abc", 12}, {"  \t7", 7}, {"1 2", 12}, {"- 5", -5}, {"+5", 5},
      {"+-5", 0}, {"-.5", -0.5}, {"1.2.3", 1.2}, {"1e3", 1000}, {"1E-2", 0.01}, {"2d2", 200}, {"1e", 1}, {"1 e 2", 100},
      {"&H1F", 31}, {"&hff", 255}, {"&H7FFF", 32767}, {"&H8000", -32768}, {"&HFFFF", -1}, {"&H10000", 65536},
      {"&HFFFFFFFF", -1}, {"&O17", 15}, {"&O8", 0}, {"&H", 0}, {" &H 1F", 31}, {"12=13", 12},
      {"1e999", HUGE_VAL}, {"-1e999", -HUGE_VAL},
      {"&H10000000000000000", 1152921504606846976.0},  // digits past 64 bits are dropped, not wrapped to 0
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(store::Val(c.text), c.value) << '"' << c.text << '"';
}

TEST(IniRead, SectionsAsWindowsReturnsThem) {
  const std::string names = "[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n";  // 35 bytes of lines
  const std::string all = "name1=val1\0name2=\0name3\0name4=val4\0\0"s;
  const struct { const char* what; std::string file, section; std::size_t size; std::string buffer; std::size_t count; }
  cases[] = {
      {"section without lines", "[HOUR]\r\n[mm]\r\nnober=907\r\n", "HOUR", 100, "\0\0"s, 0},
      {"file order, to the next header", "[s]\r\nk2=2\r\nk1=1\r\n[t]\r\nn=9\r\n", "s", 100, "k2=2\0k1=1\0\0"s, 10},
      {"name case and header spaces ignored", "[ HOUR ]\r\nhou1=1\r\n", "hour", 100, "hou1=1\0\0"s, 7},
      {"blank and ; lines skipped, others as they stand", "[s]\r\n\r\n  a = 1 \r\n;note\r\n   \r\nnoeq\r\n=v\r\n",
       "s", 100, "  a = 1 \0noeq\0=v\0\0"s, 17},
      {"LF line ends, no final line end", "[s]\nk=1\nj=2", "s", 100, "k=1\0j=2\0\0"s, 8},
      {"first of two like-named sections", "[s]\r\nk=1\r\n[S]\r\nk=2\r\n", "s", 100, "k=1\0\0"s, 4},
      {"the name ends at the last ]", "[a]]\r\nk=1\r\n", "a]", 100, "k=1\0\0"s, 4},
      {"exactly fits", names, "s", 37, all, 35},
      {"one byte short: still two NULs", names, "s", 36, all, 34},
      {"cut inside a double-byte character", "[s]\r\nk=\xd6\xd0\xce\xc4\r\n", "s", 7, "k=\xd6\xd0\xce\0\0"s, 5},
      {"second byte like ] ends no header", "[\x81\x5d]\r\nk=1\r\n", "\x81\x5d", 100, "k=1\0\0"s, 4},
      {"second bytes do not fold case", "[\x81\x41]\r\nk=1\r\n", "\x81\x61", 100, "\0\0"s, 0},
      {"CR-only line ends", "[s]\rk=1\rj=2\r[t]\rn=9", "s", 100, "k=1\0j=2\0\0"s, 8},
      {"a UTF-8 byte-order mark before the first header", "\xef\xbb\xbf[s]\r\nk=1\r\n", "s", 100, "k=1\0\0"s, 4},
      {"UTF-16 text has no sections", "\xff\xfe[\0s\0]\0\r\0\n\0k\0=\0\x31\0"s, "s", 100, "\0\0"s, 0},
      // A NUL ends a name or a value, never a line, as Wine reads them.
      {"NULs in lines", "[s]\r\nk=1\0x\r\nk\0x=2\r\n\0k=3\r\nx\0;\r\n=\0\r\n"s, "s", 100, "k=1\0k=2\0=3\0x\0=\0\0"s, 15},
      {"NUL-only lines", "[s]\r\n\0\r\nk=1\r\n\0\0\r\nj=2\r\n \0 \r\n[t]\r\nn=9\r\n"s, "s", 100, "k=1\0j=2\0\0"s, 8},
      {"a NUL before a header makes a plain line", "[s]\r\nk=1\r\n\0[t]\r\nn=9\r\n"s, "s", 100, "k=1\0n=9\0\0"s, 8},
      {"a NUL last in the file", "[s]\r\nk=1\r\n\0"s, "s", 100, "k=1\0\0"s, 4},
      {"a NUL in the header ends its name", "[s\0x]\r\nk=1\0"s, "s", 100, "k=1\0\0"s, 4},
  };
  for (const auto& c : cases) {
    const auto read = platform::ini::get_section(c.file, c.section, c.size);
    EXPECT_EQ(std::pair(read.buffer, read.count), std::pair(c.buffer, c.count)) << c.what;
  }
}

TEST(IniWrite, EditsOnlyWhatTheWriteNames) {
  const std::string two = "[HOUR]\r\nhou1=1\r\n[mm]\r\nnober=907\r\n";
  const std::string hour = "[HOUR]\r\nhou1=1\r\n";
  // A result of nullopt: the file is left as it is.
  const struct { const char* what; std::string file, section, key; std::optional<std::string_view> value;
                 std::optional<std::string> result; } cases[] = {
      {"new key after its section's last line", two, "hour", "hou2", "2", hour + "hou2=2\r\n[mm]\r\nnober=907\r\n"},
      {"replace keeps line and key spelling", two, "HOUR", "HOU1", "5", "[HOUR]\r\nhou1=5\r\n[mm]\r\nnober=907\r\n"},
      {"the first of two like keys", "[s]\r\n k =1\r\nK=2\r\n", "s", "k", "3", "[s]\r\nk=3\r\nK=2\r\n"},
      {"value kept whole", two, "mm", "nober", " a=b ", hour + "[mm]\r\nnober= a=b \r\n"},
      {"the same value changes nothing", "[HOUR]\r\nhou1=1", "HOUR", "hou1", "1", std::nullopt},
      {"a last line gets its line end", "[HOUR]\r\nhou1=1", "HOUR", "hou2", "2", hour + "hou2=2\r\n"},
      {"...also for a change elsewhere", "[a]\r\nk=1\r\n[b]\r\nk=1", "a", "k", "2", "[a]\r\nk=2\r\n[b]\r\nk=1\r\n"},
      {"CR-only lines stay as they are", "[a]\rk=1\r[b]\rk=1\r", "a", "k", "2", "[a]\rk=2\r\n[b]\rk=1\r"},
      {"the BOM stays first", "\xef\xbb\xbf[a]\r\nk=1\r\n", "a", "j", "2", "\xef\xbb\xbf[a]\r\nk=1\r\nj=2\r\n"},
      {"a last line's lone CR is its line end", "[a]\r\nk=1\r", "b", "k", "2", "[a]\r\nk=1\r[b]\r\nk=2\r\n"},
      {"blank lines, comments and spacing kept", "[s]\r\n  a = 1\r\n;note\r\n\r\n[t]\n", "s", "b", "2",
       "[s]\r\n  a = 1\r\n;note\r\nb=2\r\n\r\n[t]\n"},
      {"the header keeps its spelling", "[ hour ]\r\nhou1=1\r\n", "HOUR", "hou1", "2", "[ hour ]\r\nhou1=2\r\n"},
      {"a line without = is a key", "[s]\r\nk\r\n", "s", "K", "1", "[s]\r\nk=1\r\n"},
      {"delete removes the key's line", two, "hour", "HOU1", std::nullopt, "[HOUR]\r\n[mm]\r\nnober=907\r\n"},
      {"delete of a missing key: no change", two, "HOUR", "hou9", std::nullopt, std::nullopt},
      {"delete in a missing section: no change", two, "bb", "two", std::nullopt, std::nullopt},
      {"code page 936 stored as its bytes", two, "\xc9\xe8\xd6\xc3", "\xc3\xdc", "\xb2\xe2",
       two + "[\xc9\xe8\xd6\xc3]\r\n\xc3\xdc=\xb2\xe2\r\n"},
      {"double-byte section name ending in ]", "[\x81\x5d]\r\nk=1\r\n", "\x81\x5d", "k", "2", "[\x81\x5d]\r\nk=2\r\n"},
      {"NULs kept", "[s]\r\nk\0x=1\r\n\0\r\n"s, "s", "j", "2", "[s]\r\nk\0x=1\r\n\0\r\nj=2\r\n"s},
      {"a NUL ends a key as it is read", "[s]\r\nk\0x=1\r\n"s, "s", "K", "2", "[s]\r\nk=2\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::ini::write_string(c.file, c.section, c.key, c.value), c.result) << c.what;
}

struct PortableFile : ::testing::Test {
  PortableFile() { fs::remove_all(dir); fs::create_directories(dir); }
  ~PortableFile() override {  // Windows deletes no read-only file
    std::error_code ignored;
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(dir, ignored);
  }
  static std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  auto Entries() const { return std::distance(fs::directory_iterator(dir), {}); }

  const fs::path dir = fs::temp_directory_path() /
                       ("qorvel-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  const std::string file = (dir / "mdb.ini").string();
  platform::PortableProfileFile profile;
};

TEST_F(PortableFile, StoresCodePage936AndReplacesTheFileWhole) {
  EXPECT_EQ(profile.get_section("mm", 32767, file), std::string(2, '\0'));
  EXPECT_TRUE(profile.write_string("mm", "nober", "密码😀", file));  // outside code page 936: one ? per UTF-16 unit
  const std::string gbk = "[mm]\r\nnober=\xc3\xdc\xc2\xeb??\r\n";
  EXPECT_EQ(Bytes(file), gbk);
  EXPECT_EQ(profile.get_section("mm", 11, file), std::string("nober=密?\0\0", 12)) << "a cut character reads as ?";
  fs::create_hard_link(file, dir / "old");  // keeps the old bytes in view
  EXPECT_TRUE(profile.write_string("mm", "x", "1", file));
  EXPECT_EQ(Bytes(dir / "old"), gbk) << "written in place, not replaced";
  EXPECT_EQ(Bytes(file), gbk + "x=1\r\n");
  EXPECT_EQ(profile.get_section("MM", 32767, file), std::string("nober=密码??\0x=1\0\0", 20)) << "the new bytes are read";
  EXPECT_EQ(profile.get_section("bb", 32767, file), std::string(2, '\0')) << "another section of the same bytes";
  EXPECT_EQ(Entries(), 2) << "no temporary file left";
}

TEST_F(PortableFile, AWriteThatChangesNothingOrCannotBeDoneLeavesTheFileAlone) {
  std::ofstream(file, std::ios::binary) << "[bb]\r\ntwo=0";
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
  const auto stamp = fs::last_write_time(file);
  EXPECT_TRUE(profile.write_string("BB", "TWO", "0", file));
  EXPECT_TRUE(profile.write_string("bb", "one", std::nullopt, file));
  EXPECT_EQ(fs::last_write_time(file), stamp);
  // Read-only even for root, as the read-only attribute is on Windows.
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_FALSE(profile.write_string("bb", "two", "1", file));
  EXPECT_FALSE(profile.write_string("bb", "two", "1", (dir / "missing" / "mdb.ini").string()));
  EXPECT_EQ(Bytes(file), "[bb]\r\ntwo=0");
  EXPECT_EQ(Entries(), 1) << "no new file, no temporary file";
  // Code page 936 lines spliced into UTF-16 text would ruin it.
  for (const auto& utf16 : {"\xff\xfe[\0b\0b\0]\0"s, "\xfe\xff\0[\0b\0b\0]"s}) {
    const std::string other = (dir / "utf16.ini").string();
    std::ofstream(other, std::ios::binary) << utf16;
    EXPECT_FALSE(profile.write_string("bb", "two", "1", other));
    EXPECT_EQ(Bytes(other), utf16);
  }
}

#ifndef _WIN32
// The same section is asked twice a second, and the file is read again
// only when it may have changed: rewritten in place with bytes of the same
// size and its time put back, or replaced by another file.
TEST_F(PortableFile, AFileIsReadAgainWhateverChangedIt) {
  const auto write = [](const fs::path& to, const char* hours) {
    std::ofstream(to, std::ios::binary) << "[HOUR]\r\n" << hours;
  };
  const auto backdate = [](const fs::path& p) {
    const timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
  };
  write(file, "hou7=7");
  backdate(file);
  // A stamp is trusted only once its change time is over a second old.
  struct stat st{};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  while (time(nullptr) - 1 <= st.st_ctim.tv_sec) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(profile.get_section("HOUR", 32767, file), std::string("hou7=7\0\0", 8));
  write(file, "hou8=8");
  backdate(file);
  EXPECT_EQ(profile.get_section("HOUR", 32767, file), std::string("hou8=8\0\0", 8)) << "rewritten in place";
  write(dir / "new", "hou9=9");
  backdate(dir / "new");
  fs::rename(dir / "new", file);
  EXPECT_EQ(profile.get_section("HOUR", 32767, file), std::string("hou9=9\0\0", 8)) << "replaced";
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_EQ(profile.get_section("HOUR", 32767, file), std::string(2, '\0')) << "a folder in its place";
}
#endif

}  // namespace
}  // namespace qorvel
