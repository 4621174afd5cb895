// The portable profile file on real files: what reaches the disk, and what
// a failed or pointless write leaves there.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/portable/portable_profile_file.h"
#include "support/fakes.h"

namespace qorvel::platform {
namespace {

namespace fs = std::filesystem;

class PortableFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qorvel-profile-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }
  fs::path path() const { return dir_ / "mdb.ini"; }
  std::string file() const { return path().string(); }
  std::string Bytes(const fs::path& p) const {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void Put(std::string_view bytes) const { std::ofstream(path(), std::ios::binary) << bytes; }
  std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }

  PortableProfileFile profile;
  fs::path dir_;
};

TEST_F(PortableFile, CreatesTheFileInCodePage936AndReadsItBackAsUtf8) {
  EXPECT_EQ(profile.get_section("mm", 32767, file()), std::string(2, '\0'));
  EXPECT_TRUE(profile.write_string("mm", "nober", "密码", file()));
  EXPECT_EQ(Bytes(path()), "[mm]\r\nnober=\xc3\xdc\xc2\xeb\r\n");
  EXPECT_EQ(profile.get_section("MM", 32767, file()), std::string("nober=密码\0\0", 14));
  // A double-byte character cut by a short buffer reads as "?".
  EXPECT_EQ(profile.get_section("mm", 11, file()), std::string("nober=\xe5\xaf\x86?\0\0", 12));
}

TEST_F(PortableFile, ReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  Put(test::FirstRunFileText());
  fs::create_hard_link(path(), dir_ / "old");  // keeps the old file's bytes in view
  EXPECT_TRUE(profile.write_string("HOUR", "hou0", "0", file()));
  EXPECT_EQ(Bytes(dir_ / "old"), test::FirstRunFileText()) << "written in place, not replaced";
  EXPECT_EQ(Bytes(path()).substr(0, 17), "[HOUR]\r\nhou1=1\r\nh");
  EXPECT_NE(Bytes(path()).find("hou23=23\r\nhou0=0\r\n[mm]"), std::string::npos);
  EXPECT_EQ(Entries(), 2u);
}

TEST_F(PortableFile, AWriteThatChangesNothingLeavesTheFileUntouched) {
  Put("[bb]\r\ntwo=0");
  fs::last_write_time(path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
  const auto stamp = fs::last_write_time(path());  // as the file system keeps it
  EXPECT_TRUE(profile.write_string("BB", "TWO", "0", file()));
  EXPECT_TRUE(profile.write_string("bb", "one", std::nullopt, file()));
  EXPECT_TRUE(profile.write_string("xx", "one", std::nullopt, (dir_ / "none.ini").string()));
  EXPECT_EQ(fs::last_write_time(path()), stamp);
  EXPECT_EQ(Bytes(path()), "[bb]\r\ntwo=0");
  EXPECT_EQ(Entries(), 1u) << "a delete creates no file";
}

TEST_F(PortableFile, AFileThatCannotBeWrittenIsLeftWhole) {
  Put(test::FirstRunFileText());
  fs::permissions(path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_FALSE(profile.write_string("HOUR", "hou0", "0", file()));
  EXPECT_FALSE(profile.write_string("HOUR", "hou1", std::nullopt, file()));
  EXPECT_EQ(Bytes(path()), test::FirstRunFileText());
  EXPECT_EQ(Entries(), 1u);

  const auto nowhere = (dir_ / "missing" / "mdb.ini").string();
  EXPECT_FALSE(profile.write_string("HOUR", "hou0", "0", nowhere));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace qorvel::platform
