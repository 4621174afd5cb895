// The portable profile engine against the platform's profile functions: the
// same writes through both must leave byte-identical files, and every section
// must read the same, bytes and count, whole and cut short.
//
// Where Wine 8.0 differs from the behaviour the settings file relies on, the
// engine keeps that behaviour and the case is left out here:
//  1. Wine drops every blank line of the file on any write.
//  2. Wine rewrites hand-edited lines ("  a = 1" becomes "a=1", "[ HOUR ]"
//     becomes "[HOUR]", LF becomes CR LF) and reads "  a = 1 " as "a=1".
//  3. Wine drops the leading spaces of a written value and reads a value
//     without its trailing spaces.
//  4. Wine writes a read-only file when the process may (as root); the engine
//     leaves it whole and reports failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"
#include "platform/portable/portable_profile_file.h"
#include "platform/win32/profile_file_win32.h"

namespace qorvel::platform {
namespace {

namespace fs = std::filesystem;

struct Op {
  std::string section, key;
  std::optional<std::string> value;  // none deletes
};

struct Case { const char* file; std::vector<Op> ops; };  // file nullptr: none yet

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<Op> FirstRunThen(const std::vector<Op>& more) {
  std::vector<Op> ops;
  for (int n = 1; n <= 23; ++n) {
    ops.push_back({"HOUR", "hou" + std::to_string(n), std::to_string(n)});
    ops.push_back({"mm", "nober", "907"});
    ops.push_back({"bb", "two", "0"});
  }
  ops.insert(ops.end(), more.begin(), more.end());
  return ops;
}

TEST(ProfileDiff, SameWritesGiveSameFilesAndSameReads) {
  ASSERT_EQ(GetACP(), 936u) << "the Chinese cases need code page 936";
  std::vector<Op> every_hour_deleted, long_lines;
  for (int n = 0; n <= 23; ++n) every_hour_deleted.push_back({"HOUR", "hou" + std::to_string(n), std::nullopt});
  for (int n = 0; n < 40; ++n) long_lines.push_back({"hour", "long" + std::to_string(n), "中" + std::string(990, '7')});
  long_lines.push_back({"mm", "nober", "密码=一二三"});  // cut through double-byte characters
  const Case cases[] = {
      {nullptr, FirstRunThen({{"HOUR", "hou5", std::nullopt}, {"hour", "hou5", "5"}, {"HOUR", "HOU7", "7"},
                              {"hour", "hou7", "07"}, {"hour", "hou23", std::nullopt}, {"hour", "hou0", "0"},
                              {"HOUR", "hou99", std::nullopt}, {"none", "hou1", std::nullopt}, {"mm", "nober", "abc"},
                              {"MM", "NOBER", "a=b=c"}, {"mm", "nober", ""}, {"bb", "two", "1"}, {"bb", "two", "1"},
                              {"bb", "TWO", "0"}})},
      {nullptr, FirstRunThen(every_hour_deleted)},
      {nullptr, FirstRunThen(long_lines)},
      {nullptr,
       {{"设置", "密码", "测试"}, {"设置", "密码", "测试=值"},
        {"乚", "k", "]"},  // 乚 is 81 5D: its second byte is "]"
        {"丄", "k", "A"},  // 丄 is 81 41 and 乤 is 81 61: only case apart
        {"乤", "k", "a"}, {"乚", "k", "改"}, {"设置", "密码", std::nullopt}}},
      // Hand-edited files the two agree on; a write that changes nothing comes first.
      {"[ HOUR ]\r\nhou1=1\r\n", {{"HOUR", "hou1", "1"}}},
      {"[HOUR]\r\nhou1=1", {{"HOUR", "hou1", "1"}, {"HOUR", "hou2", "2"}}},
      {"k=0\r\n[HOUR]\r\nhou1=1\r\n;note\r\nnoeq\r\n=v\r\n", {{"HOUR", "hou2", "2"}, {"HOUR", "NOEQ", "1"}}},
      {"[HOUR]\r\nhou1=1\r\nHOU1=2\r\n[hour]\r\nhou2=2\r\n", {{"hour", "hou3", "3"}, {"HOUR", "hou1", "5"}}},
  };
  std::vector<std::size_t> sizes{32767};
  for (std::size_t size = 2; size <= 24; ++size) sizes.push_back(size);
  const fs::path dir = fs::temp_directory_path() / "qorvel-diff";
  fs::create_directories(dir);
  win32::Win32ProfileFile windows;
  PortableProfileFile engine;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << n);
    const fs::path by_windows = dir / (std::to_string(n) + "-windows.ini");
    const fs::path by_engine = dir / (std::to_string(n++) + "-engine.ini");
    for (const auto& path : {by_windows, by_engine}) {
      fs::remove(path);
      if (c.file != nullptr) std::ofstream(path, std::ios::binary) << c.file;
    }
    for (const auto& op : c.ops) {
      SCOPED_TRACE("[" + op.section + "] " + op.key + (op.value ? "=" + *op.value : " deleted"));
      const auto value = op.value ? std::optional<std::string_view>(*op.value) : std::nullopt;
      ASSERT_EQ(windows.write_string(op.section, op.key, value, by_windows.string()),
                engine.write_string(op.section, op.key, value, by_engine.string()));
      ASSERT_EQ(Bytes(by_windows), Bytes(by_engine));
    }
    for (const std::string section : {"HOUR", "hour", "mm", "bb", "设置", "乚", "丄", "乤", "none"}) {
      const std::string ansi = utf8_to_cp936(section);
      for (const std::size_t size : sizes) {
        SCOPED_TRACE(section + " in " + std::to_string(size));
        std::string raw(size + 1, '#');
        const DWORD count =
            GetPrivateProfileSectionA(ansi.c_str(), raw.data(), static_cast<DWORD>(size), by_windows.string().c_str());
        const auto expected = ini::get_section(Bytes(by_engine), ansi, size);
        EXPECT_EQ(count, expected.count);
        EXPECT_EQ(raw.substr(0, expected.buffer.size()), expected.buffer);
        EXPECT_EQ(raw[expected.buffer.size()], '#') << "Windows wrote further";
        EXPECT_EQ(windows.get_section(section, size, by_windows.string()),
                  engine.get_section(section, size, by_engine.string()));
      }
    }
  }
}

}  // namespace
}  // namespace qorvel::platform
