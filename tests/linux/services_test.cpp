// The Linux services on real files: where the settings file lives and what a
// missing or odd folder does to the start-up, the autostart entry, process
// facts and the clock's text.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "guard/startup.h"
#include "platform/linux/services_linux.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace fs = std::filesystem;
namespace lin = platform::lin;

// A fresh folder per test, removed afterwards.
struct TempDir : QTemporaryDir {
  fs::path path = QTemporaryDir::path().toStdString();
};

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The first-run file with the start-with-Windows flag set to `flag`.
std::string FirstRunFile(char flag) {
  std::string text = test::FirstRunFileText();
  text[text.size() - 3] = flag;
  return text;
}

// The fakes, but with these real Linux services.
platform::Services With(test::FakeServices& fx, platform::ProfileFile& profile, platform::FileSystem& files,
                        platform::Registry& registry) {
  return {profile, fx.clock, fx.process, files, fx.privilege, fx.power, fx.shell, registry, fx.system, fx.system};
}

TEST(LinuxPaths, TheSettingsFileHasOneHome) {
  const struct { const char* path; std::optional<std::string> mapped; } rows[] = {
      {"C:\\mdb.ini", "/var/lib/qorvel/mdb.ini"},
      {"c:\\MDB.INI", "/var/lib/qorvel/mdb.ini"},  // Windows paths ignore case
      {"/tmp/other.ini", "/tmp/other.ini"},
      {"D:\\mdb.ini", std::nullopt},
      {"C:\\mdb.ini.bak", std::nullopt},
      {"mdb.ini", std::nullopt},  // never the current folder
      {"", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(lin::MapPath(row.path, lin::kSettingsPath), row.mapped) << row.path;
  }
  lin::LinuxProfileFile profile("/nonexistent-qorvel/mdb.ini");
  EXPECT_FALSE(profile.write_string("mm", "nober", "1", "D:\\mdb.ini"));
  EXPECT_EQ(profile.get_section("mm", 32767, "D:\\mdb.ini"), std::string(2, '\0'));
}

// The start-up's first run and the hour list, against each kind of folder the
// settings file may find. Whatever the folder, nothing throws and start-up
// goes on; where the file cannot be written every read finds no hours.
TEST(LinuxSettingsFolder, FirstRunWritesWhereItCanAndNothingElse) {
  enum Kind { writable, missing, settings_is_folder, parent_is_file, read_only };
  const struct { const char* name; Kind kind; bool written; } rows[] = {
      {"writable folder", writable, true},
      {"missing folder", missing, false},
      {"a folder named mdb.ini", settings_is_folder, false},
      {"folder path through a file", parent_is_file, false},
      {"read-only folder", read_only, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.kind == read_only && geteuid() == 0) continue;  // root writes anyway
    TempDir temp;
    fs::path dir = temp.path / "qorvel";
    if (row.kind == parent_is_file) {
      std::ofstream(temp.path / "file") << "x";
      dir = temp.path / "file" / "qorvel";
    }
    if (row.kind != missing && row.kind != parent_is_file) fs::create_directory(dir);
    const fs::path settings = dir / "mdb.ini";
    if (row.kind == settings_is_folder) fs::create_directory(settings);
    if (row.kind == read_only) fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);

    test::FakeServices fx;
    lin::LinuxProfileFile profile(settings.string());
    lin::LinuxFileSystem files(settings.string());
    platform::Services services = With(fx, profile, files, fx.registry);
    EXPECT_EQ(files.file_exists(store::kSettingsFile), false);
    guard::WriteFirstRunFile(services);
    const auto hours = store::ReadProfileSection(profile, "HOUR", store::kSettingsFile);
    if (row.written) {
      EXPECT_EQ(Contents(settings), FirstRunFile('0'));
      EXPECT_EQ(fs::status(settings).permissions() & fs::perms::all, fs::perms::all & ~fs::perms::owner_exec &
                                                                          ~fs::perms::group_exec & ~fs::perms::others_exec)
          << "another user's guard could not save";
      EXPECT_EQ(files.file_exists(store::kSettingsFile), true);
      EXPECT_EQ(hours.size(), 23u);
      fs::permissions(settings, fs::perms::owner_read | fs::perms::owner_write);
      store::WriteProfileValue(profile, store::kSettingsFile, "mm", "nober", "密码");
      EXPECT_EQ(fs::status(settings).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
          << "a parent's own choice of mode was undone";
      EXPECT_NE(Contents(settings).find("nober=\xC3\xDC\xC2\xEB\r\n"), std::string::npos) << "not code page 936";
    } else {
      EXPECT_TRUE(hours.empty()) << "no file, no allowed hour: every tick locks";
      EXPECT_FALSE(fs::is_regular_file(settings));
      EXPECT_FALSE(store::WriteProfileValue(profile, store::kSettingsFile, "", "k", "v"));
    }
    if (fs::is_directory(dir) && row.kind != read_only) {
      for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path(), settings) << "a temporary file was left behind";
      }
    }
  }
}

// The prompt's OK on each kind of autostart folder, with or without a
// pkexec that grants or refuses: an entry and the flag, or the warning and
// the flag left at "0". pkexec is asked only when the direct write fails.
TEST(LinuxAutostart, RegistersOnlyWhereTheEntryCanBeWritten) {
  enum Kind { existing, missing_under_writable, missing_parent, folder_is_file };
  enum Elevation { none, grants, refuses };
  const struct { const char* name; Kind kind; Elevation elevation; bool registered; } rows[] = {
      {"existing folder", existing, none, true},
      {"folder created like a registry key", missing_under_writable, none, true},
      {"no parent folder", missing_parent, none, false},
      {"a file where the folder should be", folder_is_file, none, false},
      {"no parent folder, pkexec grants", missing_parent, grants, true},
      {"no parent folder, pkexec refuses", missing_parent, refuses, false},
      {"a file where the folder should be, pkexec refuses", folder_is_file, refuses, false},
      {"existing folder, pkexec not needed", existing, refuses, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir temp;
    fs::path dir = temp.path / "autostart";
    if (row.kind == existing) fs::create_directory(dir);
    if (row.kind == missing_parent) dir = temp.path / "xdg" / "autostart";
    if (row.kind == folder_is_file) std::ofstream(dir) << "x";
    const fs::path settings = temp.path / "mdb.ini";
    // A stand-in pkexec: records its arguments, then runs them or says no.
    const fs::path pkexec = temp.path / "pkexec";
    const fs::path asked = temp.path / "asked";
    std::ofstream(pkexec) << "#!/bin/sh\necho \"$*\" >> '" << asked.string() << "'\n"
                          << (row.elevation == grants ? "exec \"$@\"\n" : "exit 126\n");
    fs::permissions(pkexec, fs::perms::owner_all);

    test::FakeServices fx;
    fx.system.answer = platform::kIdOk;
    lin::LinuxProfileFile profile(settings.string());
    lin::LinuxFileSystem files(settings.string());
    lin::AutostartRegistry registry("/opt/qorvel/qorvel", dir.string(), row.elevation == none ? "" : pkexec.string());
    platform::Services services = With(fx, profile, files, registry);
    guard::WriteFirstRunFile(services);
    fx.log.clear();
    guard::OfferStartupRegistration(services);
    const std::string prompt = "message 1 " + std::string(guard::kRegisterPrompt);
    const fs::path entry = dir / "qorvel.desktop";
    if (row.registered) {
      EXPECT_EQ(fx.log, (test::Log{prompt, "message 64 设置成功,重启后生效"}));
      EXPECT_EQ(Contents(entry), lin::AutostartEntry("/opt/qorvel/qorvel"));
      EXPECT_EQ(fs::status(entry).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
      EXPECT_EQ(Contents(settings), FirstRunFile('1'));
    } else {
      EXPECT_EQ(fx.log, (test::Log{prompt, "message 48 " + std::string(guard::kRegisterFailed)}));
      EXPECT_EQ(Contents(settings), FirstRunFile('0'));
      EXPECT_FALSE(fs::is_regular_file(entry));
    }
    const bool direct_failed = row.kind == missing_parent || row.kind == folder_is_file;
    EXPECT_EQ(Contents(asked), row.elevation != none && direct_failed
                                   ? "/usr/bin/install -D -m 0644 /dev/stdin " + entry.string() + "\n"
                                   : "");
  }
}

TEST(LinuxAutostart, ExecHoldsTheFullPathAsOneArgument) {
  const struct { const char* path; const char* exec; } rows[] = {
      {"/usr/bin/qorvel", "/usr/bin/qorvel"},
      {"/opt/my apps/qorvel", "\"/opt/my apps/qorvel\""},
      {"/opt/100%/qorvel", "/opt/100%%/qorvel"},  // % starts a field code
      {"/opt/a$b/qorvel", "\"/opt/a\\\\$b/qorvel\""},
      {"/opt/a\\b/qorvel", "\"/opt/a\\\\\\\\b/qorvel\""},  // four: quoting, then string escape
      {"/opt/it's/qorvel", "\"/opt/it's/qorvel\""},
      {"/opt/家长/qorvel", "/opt/家长/qorvel"},
  };
  for (const auto& row : rows) EXPECT_EQ(lin::DesktopExecArgument(row.path), row.exec) << row.path;
  // Only the Run key, and only a full path, make an entry.
  TempDir temp;
  EXPECT_FALSE(lin::AutostartRegistry("/usr/bin/qorvel", temp.path).set_local_machine_string("Software\\Run", "q", ""));
  EXPECT_FALSE(lin::AutostartRegistry("qorvel", temp.path).set_local_machine_string(guard::kRunKey, "q", ""));
  EXPECT_TRUE(fs::is_empty(temp.path));
  const std::string entry = lin::AutostartEntry("/usr/bin/qorvel");
  EXPECT_TRUE(entry.starts_with("[Desktop Entry]\n")) << entry;
  EXPECT_NE(entry.find("\nExec=/usr/bin/qorvel\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
}

TEST(LinuxProcess, SplitsTheExecutablePath) {
  const struct { const char* path; const char* directory; const char* name; } rows[] = {
      {"/usr/bin/qorvel", "/usr/bin", "qorvel"},
      {"/qorvel", "/", "qorvel"},
      {"/opt/q v/qorvel.bin", "/opt/q v", "qorvel"},
      {"/home/u/.qorvel", "/home/u", ".qorvel"},
      {"", "", ""},
  };
  for (const auto& row : rows) {
    const auto parts = lin::SplitExecutablePath(row.path);
    EXPECT_EQ(parts.directory, row.directory) << row.path;
    EXPECT_EQ(parts.name, row.name) << row.path;
  }
}

// One guard per user and executable: a later one sees the first as long as
// it lives, through the runtime folder or, without one, an abstract socket.
TEST(LinuxProcess, SeesAnotherInstanceOfTheSameExecutableOnly) {
  TempDir temp;
  const std::string runtime = temp.path.string();
  // Unique per run: abstract socket names are shared by the whole machine.
  const std::string exe = "/opt/qorvel-test-" + std::to_string(getpid()) + "/qorvel";
  const struct { const char* name; std::string first_dir, second_exe, second_dir; bool previous; } rows[] = {
      {"same executable", runtime, exe, runtime, true},
      {"another copy elsewhere", runtime, exe + "2", runtime, false},
      {"no runtime folder", "", exe, "", true},
      {"runtime folder missing", runtime + "/gone", exe, runtime + "/gone", true},
      {"relative runtime folder", "run", exe, "run", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto first = std::make_unique<lin::LinuxProcessInfo>(exe, row.first_dir);
    EXPECT_FALSE(first->previous_instance());
    EXPECT_EQ(first->exe_directory(), "/opt/qorvel-test-" + std::to_string(getpid()));
    EXPECT_EQ(first->exe_name(), "qorvel");
    EXPECT_EQ(lin::LinuxProcessInfo(row.second_exe, row.second_dir).previous_instance(), row.previous);
    first.reset();
    EXPECT_FALSE(lin::LinuxProcessInfo(row.second_exe, row.second_dir).previous_instance())
        << "the lock outlived its guard";
  }
  EXPECT_FALSE(fs::exists("run")) << "a relative folder was used";
}

// The clock's text as Windows writes it for the same locale: short date,
// then the long time in 24 hours without a zone; the date alone at midnight.
TEST(LinuxClock, WritesTheGeneralDate) {
  const struct { const char* locale; platform::LocalTime time; const char* text; } rows[] = {
      {"zh_CN", {2026, 12, 6, 19, 48, 2}, "2026/12/6 19:48:02"},
      {"zh_CN", {2026, 12, 6, 0, 0, 0}, "2026/12/6"},
      {"zh_CN", {2026, 12, 6, 0, 0, 1}, "2026/12/6 0:00:01"},
      {"zh_CN", {2027, 1, 2, 9, 5, 3}, "2027/1/2 9:05:03"},
      {"zh_CN", {2028, 2, 29, 23, 59, 59}, "2028/2/29 23:59:59"},
      {"en_US", {2026, 12, 6, 19, 48, 2}, "12/6/26 19:48:02"},
      {"de_DE", {2026, 12, 6, 7, 8, 9}, "06.12.26 07:08:09"},
  };
  for (const auto& row : rows) {
    const lin::LinuxClock clock{QLocale(row.locale)};
    EXPECT_EQ(clock.general_date(row.time), row.text) << row.locale;
  }
}

}  // namespace
}  // namespace qorvel
