// The Linux services on real files: where the settings file lives and what a
// missing or odd folder does to the start-up, the autostart entry, process
// facts and the clock's text.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "guard/startup.h"
#include "platform/linux/services_linux.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace fs = std::filesystem;
namespace lin = platform::lin;

struct TempDir : QTemporaryDir { fs::path path = QTemporaryDir::path().toStdString(); };

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
fs::perms Mode(const fs::path& path) { return fs::status(path).permissions() & fs::perms::all; }

// The fakes, but with these real Linux services.
platform::Services With(test::FakeServices& fx, auto& profile, auto& files, platform::Registry& registry) {
  return {profile, fx.clock, fx.system, files, fx.system, fx.system, fx.system, registry, fx.system, fx.system};
}

TEST(LinuxPaths, TheSettingsFileHasOneHome) {
  const struct { const char* path; std::optional<std::string> mapped; } rows[] = {
      {"C:\\mdb.ini", "/var/lib/qorvel/mdb.ini"}, {"c:\\MDB.INI", "/var/lib/qorvel/mdb.ini"},
      {"/tmp/other.ini", "/tmp/other.ini"},       {"D:\\mdb.ini", std::nullopt},
      {"C:\\mdb.ini.bak", std::nullopt},          {"mdb.ini", std::nullopt},  // never the current folder
  };
  for (const auto& row : rows) EXPECT_EQ(lin::MapPath(row.path, lin::kSettingsPath), row.mapped) << row.path;
}

// The start-up's first run and the hour list, against each kind of folder the
// settings file may find. Whatever the folder, start-up goes on; where the
// file cannot be written every read finds no hours, so every tick locks.
TEST(LinuxSettingsFolder, FirstRunWritesWhereItCanAndNothingElse) {
  enum Kind { writable, settings_is_folder, parent_is_file };
  for (const Kind kind : {writable, settings_is_folder, parent_is_file}) {
    SCOPED_TRACE(kind);
    TempDir temp;
    const fs::path dir = temp.path / (kind == parent_is_file ? "file/qorvel" : "qorvel");
    if (kind == parent_is_file) std::ofstream(temp.path / "file") << "x";
    else fs::create_directory(dir);
    const fs::path settings = dir / "mdb.ini";
    if (kind == settings_is_folder) fs::create_directory(settings);

    test::FakeServices fx;
    lin::LinuxProfileFile profile(settings.string());
    lin::LinuxFileSystem files(settings.string());
    platform::Services services = With(fx, profile, files, fx.system);
    EXPECT_EQ(files.file_exists(store::kSettingsFile), false);
    guard::WriteFirstRunFile(services);
    EXPECT_EQ(store::ReadProfileSection(profile, "HOUR", store::kSettingsFile).size(), kind == writable ? 23u : 0u);
    EXPECT_EQ(files.file_exists(store::kSettingsFile), kind == writable);
    if (kind != writable) continue;
    EXPECT_EQ(Contents(settings), test::SettingsText());
    EXPECT_EQ(Mode(settings), fs::perms(0666)) << "another user's guard could not save";
    fs::permissions(settings, fs::perms(0600));
    store::WriteProfileValue(profile, store::kSettingsFile, "mm", "nober", "1");
    EXPECT_EQ(Mode(settings), fs::perms(0600)) << "a parent's choice of mode was undone";
  }
}

// A link or a FIFO at the settings file's place is no settings file: never
// read or written through, never waited on, left as it is.
TEST(LinuxSettingsFolder, ALinkOrFifoAtThePlaceIsLeftAlone) {
  for (const bool link : {true, false}) {
    SCOPED_TRACE(link ? "link" : "fifo");
    TempDir temp;
    const fs::path target = temp.path / "elsewhere.ini", settings = temp.path / "mdb.ini";
    std::ofstream(target) << "[mm]\r\nnober=1\r\n";
    if (link) fs::create_symlink(target, settings);
    else ASSERT_EQ(mkfifo(settings.c_str(), 0600), 0);
    lin::LinuxProfileFile profile(settings.string());
    EXPECT_EQ(profile.get_section("mm", store::kSectionBufferSize, store::kSettingsFile), std::string(2, '\0'));
    EXPECT_FALSE(profile.write_string("mm", "nober", "2", store::kSettingsFile));
    EXPECT_EQ(Contents(target), "[mm]\r\nnober=1\r\n");
    EXPECT_EQ(fs::symlink_status(settings).type(), link ? fs::file_type::symlink : fs::file_type::fifo);
  }
}

// The prompt's OK on each kind of autostart folder, with or without a
// pkexec that grants or refuses: an entry and the flag, or the warning and
// the flag left at "0". pkexec is asked only when the direct write fails.
TEST(LinuxAutostart, RegistersOnlyWhereTheEntryCanBeWritten) {
  enum Kind { existing, missing_under_writable, missing_parent, folder_is_file };
  enum Elevation { none, grants, refuses };
  const struct { Kind kind; Elevation elevation; bool registered; } rows[] = {
      {existing, none, true},         {missing_under_writable, none, true}, {missing_parent, none, false},
      {folder_is_file, none, false},  {missing_parent, grants, true},       {missing_parent, refuses, false},
      {existing, refuses, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.kind << " " << row.elevation);
    TempDir temp;
    const fs::path dir = temp.path / (row.kind == missing_parent ? "xdg/autostart" : "autostart");
    if (row.kind == existing) fs::create_directory(dir);
    if (row.kind == folder_is_file) std::ofstream(dir) << "x";
    // A stand-in pkexec: records its arguments, then runs them or says no.
    const fs::path pkexec = temp.path / "pkexec", asked = temp.path / "asked", settings = temp.path / "mdb.ini";
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
    guard::OfferStartupRegistration(services);
    const fs::path entry = dir / "qorvel.desktop";
    EXPECT_EQ(fx.log.back(), row.registered ? "message 64 60 设置成功,重启后生效"
                                            : "message 48 60 " + std::string(guard::kRegisterFailed));
    EXPECT_EQ(Contents(settings), test::SettingsText(test::kFirstRunHours, "907", row.registered ? '1' : '0'));
    EXPECT_EQ(Contents(entry), row.registered ? lin::AutostartEntry("/opt/qorvel/qorvel") : "");
    if (row.registered) { EXPECT_EQ(Mode(entry), fs::perms(0644)); }
    const bool asks = row.elevation != none && (row.kind == missing_parent || row.kind == folder_is_file);
    EXPECT_EQ(Contents(asked), asks ? "/usr/bin/install -D -m 0644 /dev/stdin " + entry.string() + "\n" : "");
  }
}

TEST(LinuxAutostart, ExecHoldsTheFullPathAsOneArgument) {
  // "%" starts a field code; a backslash doubles for the quoting, then again for the string.
  const struct { const char* path; const char* exec; } rows[] = {
      {"/usr/bin/qorvel", "/usr/bin/qorvel"},    {"/opt/my apps/qorvel", "\"/opt/my apps/qorvel\""},
      {"/opt/100%/qorvel", "/opt/100%%/qorvel"}, {"/opt/a$b/qorvel", "\"/opt/a\\\\$b/qorvel\""},
      {"/opt/家长/qorvel", "/opt/家长/qorvel"},  {"/opt/a\\b/qorvel", "\"/opt/a\\\\\\\\b/qorvel\""},
  };
  for (const auto& row : rows)
    EXPECT_NE(lin::AutostartEntry(row.path).find("\nExec=" + std::string(row.exec) + "\n"), std::string::npos) << row.path;
  // Only the Run key, and only a full path, make an entry.
  TempDir temp;
  EXPECT_FALSE(lin::AutostartRegistry("/usr/bin/qorvel", temp.path).set_local_machine_string("Software\\Run", "q", ""));
  EXPECT_FALSE(lin::AutostartRegistry("qorvel", temp.path).set_local_machine_string(guard::kRunKey, "q", ""));
  EXPECT_TRUE(fs::is_empty(temp.path));
}

// One guard per user and executable: a later one sees the first as long as
// it lives, through the runtime folder or, without one, an abstract socket.
TEST(LinuxProcess, SeesAnotherInstanceOfTheSameExecutableOnly) {
  TempDir temp;
  const std::string runtime = temp.path.string();
  // Unique per run: abstract socket names are shared by the whole machine.
  const std::string dir = "/opt/qorvel-test-" + std::to_string(getpid()), exe = dir + "/qorvel";
  const struct { std::string first_dir, second_exe, second_dir; bool previous; } rows[] = {
      {runtime, exe, runtime, true},       {runtime, dir + "/qorvex", runtime, false}, {"", exe, "", true},
      {runtime + "/gone", exe, runtime + "/gone", true}, {"run", exe, "run", true},  // relative: not usable
  };
  fs::create_directory("run");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.second_exe + " in " + row.second_dir);
    auto first = std::make_unique<lin::LinuxProcessInfo>(exe, row.first_dir);
    EXPECT_FALSE(first->previous_instance());
    EXPECT_EQ(lin::LinuxProcessInfo(row.second_exe, row.second_dir).previous_instance(), row.previous);
    first.reset();
    EXPECT_FALSE(lin::LinuxProcessInfo(row.second_exe, row.second_dir).previous_instance()) << "the lock outlived it";
  }
  EXPECT_TRUE(fs::is_empty("run")) << "a relative folder was used";
  fs::remove_all("run");
  const struct { const char* path; const char* directory; const char* name; } paths[] = {
      {"/usr/bin/qorvel", "/usr/bin", "qorvel"}, {"/qorvel", "/", "qorvel"},
      {"/opt/q v/qorvel.bin", "/opt/q v", "qorvel"}, {"/home/u/.qorvel", "/home/u", ".qorvel"},
  };
  for (const auto& p : paths) {
    const lin::LinuxProcessInfo info(p.path, runtime);
    EXPECT_EQ(info.exe_directory() + " " + info.exe_name(), std::string(p.directory) + " " + p.name) << p.path;
  }
}

// The clock's text as Windows writes it for the same locale: short date,
// then the long time in 24 hours without a zone; the date alone at midnight.
TEST(LinuxClock, WritesTheGeneralDate) {
  const struct { const char* locale; platform::LocalTime time; const char* text; } rows[] = {
      {"zh_CN", {2026, 12, 6, 19, 48, 2}, "2026/12/6 19:48:02"}, {"zh_CN", {2026, 12, 6, 0, 0, 0}, "2026/12/6"},
      {"zh_CN", {2027, 1, 2, 0, 0, 1}, "2027/1/2 0:00:01"},      {"en_US", {2026, 12, 6, 19, 48, 2}, "12/6/26 19:48:02"},
      {"de_DE", {2026, 12, 6, 7, 8, 9}, "06.12.26 07:08:09"},
  };
  // One clock a locale, as the program keeps one: the date changes between its rows.
  std::map<std::string, lin::LinuxClock> clocks;
  for (const auto& row : rows) {
    const auto& clock = clocks.try_emplace(row.locale, QLocale(row.locale)).first->second;
    EXPECT_EQ(clock.general_date(row.time), row.text) << row.locale;
  }
}

// A guardian's socket that follows a script, one list of steps for each
// connection in turn: "answer" reads a line and answers it, "answer2" answers
// with two lines, "cut" reads a line and closes, "then-close" closes after
// the steps before. Counts the connections it took.
struct ScriptedGuardian {
  explicit ScriptedGuardian(std::vector<std::vector<std::string>> script) : path(dir.path / "socket") {
    listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener, 4), 0);
    server = std::thread([this, script = std::move(script)] {
      for (const auto& steps : script) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 10'000) != 1) return;  // the client never came: the row fails on its count
        const int fd = accept(listener, nullptr, nullptr);
        ++connections;
        for (const auto& step : steps) {
          if (step == "then-close") break;
          std::string line;
          char c = 0;
          while (line.empty() || line.back() != '\n') {
            if (recv(fd, &c, 1, 0) != 1) break;
            line += c;
          }
          if (step == "cut") break;
          const std::string answer = step == "answer2" ? "ok\nok\n" : "ok " + std::to_string(connections) + "\n";
          (void)send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        close(fd);
      }
    });
  }
  ~ScriptedGuardian() {
    if (server.joinable()) server.join();
    close(listener);
  }
  TempDir dir;
  fs::path path;
  int listener = -1;
  int connections = 0;
  std::thread server;
};

TEST(LinuxGuardianChannel, KeepsOneConnectionAndMakesItAgainOnceWhenTheGuardianClosedIt) {
  using Script = std::vector<std::vector<std::string>>;
  const struct { Script script; std::vector<std::string> answers; int connections; } rows[] = {
      // Every request on the one connection.
      {{{"answer", "answer", "answer"}}, {"ok 1\n", "ok 1\n", "ok 1\n"}, 1},
      // Closed while kept (idle, or a new guardian): made again, the request not lost.
      {{{"answer", "then-close"}, {"answer"}}, {"ok 1\n", "ok 2\n"}, 2},
      {{{"answer", "cut"}, {"answer"}}, {"ok 1\n", "ok 2\n"}, 2},
      // Once only; and a new connection closed unanswered is not tried again.
      {{{"answer", "cut"}, {"cut"}, {"answer"}}, {"ok 1\n", "", "ok 3\n"}, 3},
      {{{"cut"}, {"answer"}}, {"", "ok 2\n"}, 2},
      // More than one line is no answer, and that connection is not used again.
      {{{"answer2"}, {"answer"}}, {"", "ok 2\n"}, 2},
  };
  for (const auto& r : rows) {
    std::vector<std::string> answers;
    int connections = 0;
    {
      ScriptedGuardian guardian(r.script);
      {
        lin::UnixGuardianChannel channel(guardian.path.string(), {});
        for (std::size_t i = 0; i < r.answers.size(); ++i) answers.push_back(channel.exchange("state locked\n").value_or(""));
      }
      guardian.server.join();
      connections = guardian.connections;
    }
    EXPECT_EQ(answers, r.answers) << r.connections;
    EXPECT_EQ(connections, r.connections);
  }
}

}  // namespace
}  // namespace qorvel
