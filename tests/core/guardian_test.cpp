// The guardian's decisions on fake sessions, guards and files, told as stories.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

#include "guardian/client.h"
#include "guardian/guardian.h"
#include "platform/codepage.h"
#include "platform/portable/ini_text.h"

namespace qorvel::guardian {
namespace {

using Log = std::vector<std::string>;
using State = SettingsFile::State;

struct FakePorts final : Ports {
  bool adopt_guard(const Session& s, Pid pid) override {
    Note("adopt " + s.id + " " + std::to_string(pid));
    return !decoy && guards.emplace(s.id, pid).second;
  }
  std::optional<Pid> start_guard(const Session& s) override {
    Note("start " + s.id);
    if (start_fails) return std::nullopt;
    guards[s.id] = ++last_pid;
    return last_pid;
  }
  void end_guard(const Session& s, Pid pid) override { Note("end " + s.id + " " + std::to_string(pid)); }
  void log_off(const Session& s) override { Note("logoff " + s.id); }
  std::optional<int> local_hour() override { return hour; }
  void note(std::string_view line) override { notes += std::string(line) + "\n"; }
  SettingsFile read_settings() override { return file; }
  bool write_setting(std::string_view section, std::string_view key, std::optional<std::string_view> value) override {
    Note("write [" + std::string(section) + "] " + std::string(key) + (value ? "=" + std::string(*value) : " erased"));
    if (write_fails) return false;
    if (auto bytes = platform::ini::write_string(file.bytes, section, key, value)) file = {State::present, *bytes};
    return true;
  }
  bool protect_settings() override { ++protects; return file.state == State::present; }
  bool move_aside() override { Note("aside"); file = {}; return true; }
  bool restore_settings(std::string_view bytes) override {
    Note("restore " + std::string(bytes));
    if (file.state != State::missing) return false;
    file = {State::present, std::string(bytes)};
    return true;
  }
  std::optional<std::string> load_copy() override { return copy; }
  void save_copy(std::string_view bytes) override { Note("copy " + std::string(bytes)); copy = bytes; }
  bool Note(std::string s) {
    std::erase(s, '\r');
    std::replace(s.begin(), s.end(), '\n', '/'); log.push_back(std::move(s)); return true; }
  Log log;
  std::map<std::string, Pid> guards;  // running, by session
  Pid last_pid = 99;
  std::optional<int> hour;
  bool start_fails = false, write_fails = false, decoy = false;
  int protects = 0;
  std::string notes;
  SettingsFile file;
  std::optional<std::string> copy;
};

// Runs a story, one step a line: "T word args" with T in ms. Words: active,
// admin, background, closing, wayland, gone (the session list), kill SESSION,
// quit SESSION PASSWORD, send SESSION REQUEST (the rest of the step, "-" for
// no session), report SESSION PID WORD, tick, next, shutdown, file BYTES,
// delete, unreadable, hostile, startfails, writefails, decoy (adoptions
// fail), hour H (the machine's), reporting WORD|quiet. Until "reporting
// quiet", every running guard reports "compact" (or the WORD given) before
// each tick. Logged bytes show line ends as "/", so "/" in a file's BYTES
// ends a line.
Log Tell(const std::string& story, std::optional<std::string> copy = std::nullopt, FakePorts&& ports = {}) {
  ports.copy = std::move(copy);
  Guardian guardian(ports);
  std::map<std::string, Session> sessions;
  std::string reporting = "compact";
  std::istringstream lines(story);
  for (std::string line; std::getline(lines, line, ';');) {
    std::istringstream in(line);
    long ms = 0;
    std::string word, id, password;
    in >> ms >> word;
    const Time now = Time{} + Duration(ms);
    if ((word == "active" || word == "admin" || word == "background" || word == "closing" || word == "wayland" ||
         word == "gone") && in >> id) {
      const auto state = word == "background" ? SessionState::background
                         : word == "closing" ? SessionState::closing : SessionState::active;
      sessions[id] = {id, "kid", state, word != "wayland", word == "admin"};
      if (word == "gone") sessions.erase(id);
      std::vector<Session> list;
      for (const auto& [key, s] : sessions) list.push_back(s);
      guardian.SessionsChanged(list, now);
    }
    if (word == "kill" && in >> id) ports.guards.erase(id), guardian.GuardEnded(id, now);
    if (word == "quit" && in >> id >> password) ports.Note("answer " + guardian.Answer(id, 0, "quit " + password + "\n", now));
    if (word == "send" && in >> id && in.get()) {
      std::string request;
      std::getline(in, request);
      ports.Note("answer " + guardian.Answer(id == "-" ? "" : id, 0, request + "\n", now));
    }
    Pid pid = 0;
    if (word == "report" && in >> id >> pid >> password) (void)guardian.Answer(id, pid, "state " + password + "\n", now);
    if (word == "reporting") in >> reporting;
    if (word == "hour") ports.hour.emplace(), in >> *ports.hour;
    if (word == "decoy") ports.decoy = true;
    if (word == "tick" && reporting != "quiet")
      for (const auto& [session, guard] : ports.guards) (void)guardian.Answer(session, guard, "state " + reporting + "\n", now);
    if (word == "tick") guardian.Tick(now);
    if (word == "next") ports.Note("next " + std::to_string((guardian.NextTick() - Time{}) / Duration(1)));
    if (word == "shutdown") guardian.ShuttingDown();
    if (word == "file") in >> ports.file.bytes, ports.file.state = State::present;
    std::replace(ports.file.bytes.begin(), ports.file.bytes.end(), '/', '\n');  // "/" ends a line
    if (word == "delete") ports.file = {};
    if (word == "unreadable") ports.file = {State::unreadable, ""};
    if (word == "hostile") ports.file = {State::hostile, ""};
    if (word == "startfails") ports.start_fails = true;
    if (word == "writefails") ports.write_fails = true;
  }
  return ports.log;
}

TEST(Guardian, OneGuardPerSessionBroughtBackWhateverEndedIt) {
  const struct { const char* story; Log calls; } rows[] = {
      // The logon's own start-up entry is adopted after the grace, never doubled.
      {"0 active 1; 0 active 2; 9500 report 2 77 locked; 10000 tick; 20000 tick", {"start 1", "adopt 2 77"}},
      // Ended by anything: back at once.
      {"0 active 1; 10000 tick; 30000 kill 1; 40000 kill 1", {"start 1", "start 1", "start 1"}},
      {"0 active 1; 10000 tick; 30000 background 1; 30000 kill 1", {"start 1", "start 1"}},
      // Ended in a loop: a growing pause, never more than 1 s.
      // (A kill while it waits finds no guard.)
      {"0 active 1; 10000 tick; 10001 kill 1; 10002 kill 1; 10002 next; 10100 kill 1; 10251 tick; 10252 tick; "
       "10253 kill 1; 10500 kill 1; 10752 tick; 10753 tick; 10754 kill 1; 11500 kill 1; 11753 tick; 11754 tick; "
       "11755 kill 1; 12754 tick; 12755 tick",
       {"start 1", "start 1", "next 10252", "start 1", "start 1", "start 1", "start 1"}},
      {"0 active 1; 9500 tick; 9500 next", {"next 10000"}},
      // A guard that cannot start is tried again later, not in a spin.
      {"0 active 1; 0 startfails; 10000 tick; 10000 next; 10250 tick", {"start 1", "next 10250", "start 1"}},
      // No guard for a session logging off, a machine shutting down, a Wayland
      // session, a session that is gone, or one first seen in the background.
      {"0 active 1; 10000 tick; 20000 closing 1; 20000 kill 1; 40000 tick", {"start 1"}},
      {"0 active 1; 10000 tick; 20000 shutdown; 20000 kill 1; 40000 tick", {"start 1"}},
      {"0 active 1; 5000 shutdown; 40000 tick", {}},
      {"0 active 1; 10000 tick; 20000 shutdown; 20000 active 2; 40000 tick", {"start 1"}},
      {"0 wayland 1; 40000 tick", {}},
      {"0 active 1; 5000 gone 1; 40000 tick", {}},
      {"0 background 1; 40000 tick", {}},
      // A new logon is a new session with its own grace.
      {"0 active 1; 10000 tick; 20000 gone 1; 20000 active 2; 29999 tick; 30000 tick", {"start 1", "start 2"}},
  };
  for (const auto& r : rows) EXPECT_EQ(Tell(r.story), r.calls) << r.story;
}

TEST(Guardian, AGuardThatStopsReportingIsEndedAndOnlyAReportingOneIsAdopted) {
  const struct { const char* story; Log calls; } rows[] = {
      // Frozen: silent for 3 s after its last report; its end brings the next guard.
      {"0 active 1; 10000 tick; 10500 report 1 100 locked; 13499 tick; 13500 tick; 13600 kill 1",
       {"start 1", "end 1 100", "start 1"}},
      // A new guard has 10 s for its first report.
      {"0 active 1; 10000 tick; 19999 tick; 20000 tick", {"start 1", "end 1 100"}},
      // Not again before another spell, while its end has not come.
      {"0 active 1; 10000 tick; 20000 tick; 21000 tick; 23000 tick", {"start 1", "end 1 100", "end 1 100"}},
      // A word that is no state is no report.
      {"0 active 1; 10000 tick; 10500 report 1 100 locked; 12000 report 1 100 bogus; 13500 tick", {"start 1", "end 1 100"}},
      // Another process of the session does not speak for the guard.
      {"0 active 1; 10000 tick; 10500 report 1 100 locked; 12000 report 1 555 locked; 13500 tick",
       {"start 1", "end 1 100"}},
      // The logon's guard is adopted only if it reported lately, and only if it is one.
      {"0 active 1; 6999 report 1 77 locked; 10000 tick", {"start 1"}},
      {"0 active 1; 7001 report 1 77 locked; 10000 tick; 12000 report 1 77 locked; 14999 tick; 15000 tick",
       {"adopt 1 77", "end 1 77"}},
      {"0 active 1; 0 decoy; 9000 report 1 77 locked; 10000 tick", {"adopt 1 77", "start 1"}},
      // A report from a session the guardian does not know changes nothing.
      {"0 active 1; 9000 report 2 77 locked; 10000 tick", {"start 1"}},
  };
  for (const auto& r : rows) EXPECT_EQ(Tell("0 reporting quiet;" + std::string(r.story)), r.calls) << r.story;
}

TEST(Guardian, AReportIsAnsweredWithTheHoursAsTheyStandAndDoesTheDueWork) {
  const auto version = [](std::string lines) { return "answer ok " + SectionVersion(lines + '\0') + "/"; };
  const struct { const char* story; Log calls; } rows[] = {
      // The version names the hours a read would give, changed since the last tick too.
      {"0 active 1; 0 file [HOUR]/hou5=5/; 10000 tick; 10001 send 1 state locked",
       {"copy [HOUR]/hou5=5/", "start 1", version(std::string("hou5=5\0", 7))}},
      {"0 active 1; 0 file [HOUR]/hou5=5/; 10000 tick; 10100 file [HOUR]/hou6=6/; 10200 send 1 state locked",
       {"copy [HOUR]/hou5=5/", "start 1", "copy [HOUR]/hou6=6/", version(std::string("hou6=6\0", 7))}},
      {"0 active 1; 0 file [mm]/nober=1/; 10000 tick; 10001 send 1 state locked",
       {"copy [mm]/nober=1/", "start 1", version(std::string(1, '\0'))}},
      // Nothing to name without a file or a copy; nothing for an unknown session.
      {"0 active 1; 10000 tick; 10001 send 1 state locked", {"start 1", "answer ok/"}},
      {"0 active 1; 0 file [HOUR]/; 10000 tick; 10001 send 2 state locked", {"copy [HOUR]/", "start 1", "answer no/"}},
      // Due work is done at a report's wake: the silent guard is ended without a tick.
      {"0 reporting quiet; 0 active 1; 10000 tick; 19000 tick; 20100 report 1 555 locked",
       {"start 1", "end 1 100"}},
      {"0 reporting quiet; 0 active 1; 10000 tick; 19000 tick; 20500 report 1 555 locked", {"start 1"}},
      // The timer waits for a report's wake a little past the due time.
      {"0 active 1; 10000 tick; 10000 next", {"start 1", "next 11500"}},
  };
  for (const auto& r : rows) EXPECT_EQ(Tell(r.story), r.calls) << r.story;
}

TEST(Guardian, LogsOffASessionInFrontLeftUncoveredInALockedHour) {
  const std::string file = "[HOUR]/hou8=8/[mm]/nober=pw/";
  const struct { const char* story; Log calls; } rows[] = {
      // 30 s without a report of a covered screen, from the session's start or the hour's.
      {"0 hour 3; 0 active 1; 0 tick; 10000 tick; 29999 tick; 30000 tick", {"start 1", "logoff 1"}},
      {"0 hour 3; 0 reporting locked; 0 active 1; 0 tick; 10000 tick; 60000 tick", {"start 1"}},
      {"0 hour 3; 0 reporting asking; 0 active 1; 0 tick; 10000 tick; 60000 tick", {"start 1"}},
      {"0 hour 3; 0 reporting settings; 0 active 1; 0 tick; 10000 tick; 60000 tick", {"start 1"}},
      {"0 hour 8; 0 active 1; 0 tick; 10000 tick; 60000 tick", {"start 1"}},
      {"0 hour 8; 0 active 1; 0 tick; 10000 tick; 50000 hour 3; 50000 tick; 79999 tick; 80000 tick",
       {"start 1", "logoff 1"}},
      // Asked again after another spell while the session stays.
      {"0 hour 3; 0 active 1; 0 tick; 10000 tick; 30000 tick; 59999 tick; 60000 tick", {"start 1", "logoff 1", "logoff 1"}},
      // A process other than the guard cannot cover for it.
      {"0 hour 3; 0 active 1; 0 tick; 10000 tick; 29000 report 1 555 locked; 30000 tick", {"start 1", "logoff 1"}},
      // No guard can cover a Wayland session.
      {"0 hour 3; 0 wayland 1; 0 tick; 30000 tick", {"logoff 1"}},
      // Never an administrator, a session in the background, one the parent let go, or with no clock.
      {"0 hour 3; 0 admin 1; 0 tick; 10000 tick; 60000 tick", {"start 1"}},
      {"0 hour 3; 0 active 1; 0 tick; 10000 tick; 20000 background 1; 60000 tick", {"start 1"}},
      {"0 hour 3; 0 active 1; 0 tick; 10000 tick; 20000 quit 1 pw; 20000 kill 1; 60000 tick", {"start 1", "answer ok/"}},
      {"0 hour 3; 0 shutdown; 0 active 1; 0 tick; 60000 tick", {}},
      {"0 active 1; 0 tick; 10000 tick; 60000 tick", {"start 1"}},
  };
  for (const auto& r : rows) {
    Log expected = {"copy " + file};
    expected.insert(expected.end(), r.calls.begin(), r.calls.end());
    EXPECT_EQ(Tell("0 file " + file + "; 0 tick;" + r.story), expected) << r.story;
  }
  // Without a settings file nobody knows the hour is locked.
  EXPECT_EQ(Tell("0 hour 3; 0 active 1; 0 tick; 10000 tick; 60000 tick"), Log{"start 1"});
}

TEST(Guardian, OnlyTheParentsPasswordEndsTheGuardForTheSession) {
  const std::string file = "[mm]/nober=abc/";
  const struct { std::string story; Log calls; } rows[] = {
      {"0 active 1; 10000 tick; 11000 quit 1 abc; 11000 kill 1; 40000 tick", {"start 1", "answer ok/"}},
      {"0 active 1; 10000 tick; 11000 quit 1 ABC; 11000 kill 1", {"start 1", "answer no/", "start 1"}},
      // One try a second: a busy answer does not count as a try.
      {"0 active 1; 11000 quit 1 x; 11999 quit 1 abc; 12000 quit 1 abc", {"answer no/", "answer busy/", "answer ok/"}},
      {"0 active 1; 11000 quit 2 abc", {"answer no/"}},
      // A deleted file is first put back and its password still holds.
      {"0 active 1; 11000 delete; 11000 quit 1 907; 12000 quit 1 abc", {"restore " + file, "answer no/", "answer ok/"}},
      {"0 active 1; 11000 unreadable; 11000 quit 1 abc", {"answer ok/"}},
  };
  for (const auto& r : rows) {
    Log expected = {"copy " + file};
    expected.insert(expected.end(), r.calls.begin(), r.calls.end());
    EXPECT_EQ(Tell("0 file " + file + "; 0 tick;" + r.story), expected) << r.story;
  }
  // No file and no copy: no password at all, not even the first run's.
  EXPECT_EQ(Tell("0 active 1; 1000 quit 1 907; 3000 send 1 check 907"), (Log{"answer no/", "answer no/"}));
}

TEST(Guardian, OnlyTheExactPasswordOpensAndGuessesWaitASecondPerSession) {
  const std::string file = platform::utf8_to_cp936("[mm]\nnober=Abc密码\n");
  const struct { std::string story; Log answers; } rows[] = {
      {"1000 send 1 check Abc密码", {"ok/"}},
      {"1000 send 1 check Abc密码x", {"no/"}},
      {"1000 send 1 check Abc密", {"no/"}},
      {"1000 send 1 check abc密码", {"no/"}},
      {"1000 send 1 check ", {"no/"}},
      {"1000 send 1 check 907", {"no/"}},
      // A right one is never made to wait behind right ones.
      {"1000 send 1 check Abc密码; 1000 send 1 check Abc密码; 1000 send 1 read mm Abc密码",
       {"ok/", "ok/", "ok nober=Abc密码%00%00/"}},
      // After a miss the session waits a second, whatever the request, the right password too.
      {"0 active 1; 1000 send 1 check x; 1500 send 1 write HOUR hou5 5 Abc密码; 1999 send 1 quit Abc密码; 2000 send 1 check Abc密码",
       {"no/", "busy/", "busy/", "ok/"}},
      // Another session, or a sender in none, does not wait for this one's miss.
      {"1000 send 1 check x; 1001 send 2 check Abc密码; 1002 send - check y; 1003 send - check Abc密码",
       {"no/", "ok/", "no/", "busy/"}},
  };
  for (const auto& r : rows) {
    FakePorts ports;
    ports.file = {State::present, file};
    const Log log = Tell(r.story, {}, std::move(ports));
    Log answers;
    for (const auto& line : log)
      if (line.starts_with("answer ")) answers.push_back(line.substr(7));
    EXPECT_EQ(answers, r.answers) << r.story;
  }
}

TEST(Guardian, WritesTheParentsChangesOnlyWithTheProofAndSaysWhenOneFails) {
  const std::string file = "[HOUR]/hou8=8/[mm]/nober=pw/[bb]/two=0/";
  const struct { std::string story; Log calls; } rows[] = {
      // The start-up flag needs no proof; the hours and the password do.
      {"1000 send 1 write bb two 1 ", {"write [bb] two=1", "copy [HOUR]/hou8=8/[mm]/nober=pw/[bb]/two=1/", "answer ok/"}},
      {"1000 send 1 write hour hou9 9 pw",
       {"write [hour] hou9=9", "copy [HOUR]/hou8=8/hou9=9/[mm]/nober=pw/[bb]/two=0/", "answer ok/"}},
      {"1000 send 1 erase HOUR hou8 pw", {"write [HOUR] hou8 erased", "copy [HOUR]/[mm]/nober=pw/[bb]/two=0/", "answer ok/"}},
      {"1000 send 1 write mm nober new pw; 1000 send 1 write HOUR hou1 1 pw",
       {"write [mm] nober=new", "copy [HOUR]/hou8=8/[mm]/nober=new/[bb]/two=0/", "answer ok/", "answer no/"}},
      {"1000 send 1 write HOUR hou9 9 PW; 1000 send 1 erase mm nober ", {"answer no/", "answer busy/"}},
      // Reads: the hours and the flag for anyone, the password only with the proof.
      {"1000 send 1 read HOUR ; 1000 send - read bb x", {"answer ok hou8=8%00%00/", "answer ok two=0%00%00/"}},
      {"1000 send 1 read mm ; 2000 send 1 read mm pw", {"answer no/", "answer ok nober=pw%00%00/"}},
      // Sections the guard never uses are nobody's, and a malformed line is refused.
      {"1000 send 1 write xyz a b pw; 1000 send 1 read xyz pw; 1000 send 1 write mm nober a%0Ab pw",
       {"answer no/", "answer no/", "answer no/"}},
      {"1000 writefails; 1000 send 1 write bb two 1 ", {"write [bb] two=1", "answer fail/"}},
      {"1000 writefails; 1000 send 1 write HOUR hou9 9 pw", {"write [HOUR] hou9=9", "answer fail/"}},
  };
  for (const auto& r : rows) {
    Log expected = {"copy " + file};
    expected.insert(expected.end(), r.calls.begin(), r.calls.end());
    EXPECT_EQ(Tell("0 file " + file + "; 0 tick;" + r.story), expected) << r.story;
  }
  // With neither file nor copy there is nothing to write into.
  EXPECT_EQ(Tell("1000 send 1 write bb two 1 ; 1000 send 1 read HOUR "), (Log{"answer no/", "answer no/"}));
}

TEST(Guardian, LogsEachChangeWithItsSessionAndNeverThePassword) {
  FakePorts ports;
  ports.file = {State::present, "[mm]\nnober=old\n"};
  Guardian guardian(ports);
  EXPECT_EQ(guardian.Answer("7", 0, "write mm nober s3cret old\n", Time{}), "ok\n");
  EXPECT_EQ(guardian.Answer("7", 0, "check s3cret\n", Time{}), "ok\n");
  EXPECT_EQ(guardian.Answer("7", 0, "write mm nober x guess\n", Time{}), "no\n");
  EXPECT_NE(ports.notes.find("[mm] nober from session 7"), std::string::npos) << ports.notes;
  for (const char* secret : {"s3cret", "old", "guess"}) EXPECT_EQ(ports.notes.find(secret), std::string::npos) << ports.notes;
}

TEST(Guardian, WritesTheFirstRunFileOnlyWhenThereIsNothingToPutBack) {
  std::string first_run = "[HOUR]\r\n";
  for (int h = 1; h <= 23; ++h) first_run += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  first_run += "[mm]\r\nnober=907\r\n[bb]\r\ntwo=0\r\n";
  const struct { State state; std::optional<std::string> copy; std::string answer, bytes; int protects; } rows[] = {
      {State::missing, {}, "ok\n", first_run, 2},
      {State::hostile, {}, "ok\n", first_run, 2},  // moved aside first
      {State::missing, "A", "no\n", "A", 2},        // the copy is put back instead
      {State::present, {}, "no\n", "B", 1},
      {State::unreadable, {}, "no\n", "", 1},
  };
  for (const auto& r : rows) {
    FakePorts ports;
    ports.copy = r.copy;
    ports.file = {r.state, r.state == State::present ? "B" : ""};
    Guardian guardian(ports);
    EXPECT_EQ(guardian.Answer("1", 0, "firstrun\n", Time{}), r.answer) << r.bytes;
    EXPECT_EQ(ports.file.bytes, r.bytes);
    // At start, and after whatever it created.
    EXPECT_EQ(ports.protects, r.protects) << r.bytes;
  }
}

TEST(Guardian, PutsBackADeletedSettingsFileAndNeverReplacesOne) {
  const struct { const char* story; std::optional<std::string> copy; Log calls; } rows[] = {
      {"0 file A; 0 tick; 1000 delete; 1999 tick; 2000 tick; 3000 tick", {}, {"copy A", "restore A"}},
      {"0 file A; 0 tick; 1000 file B; 1000 tick; 2000 tick; 3000 delete; 3000 tick", {}, {"copy A", "copy B", "restore B"}},
      {"0 delete; 0 tick; 5000 tick", {}, {}},  // never seen one: the first run writes its own
      {"0 unreadable; 0 tick; 5000 tick", "A", {}},
      {"0 delete; 0 tick", "A", {"restore A"}},  // the copy outlives a restart
      // A folder, link or device in the file's place is moved aside, never followed.
      {"0 hostile; 0 tick", "A", {"aside", "restore A"}},
      {"0 hostile; 0 tick", {}, {"aside"}},
      // A guard started over a deleted file would write the first-run file.
      {"0 file A; 0 active 1; 0 tick; 10000 tick; 10500 delete; 10500 kill 1", {},
       {"copy A", "start 1", "restore A", "start 1"}},
  };
  for (const auto& r : rows) EXPECT_EQ(Tell(r.story, r.copy), r.calls) << r.story;
}

TEST(Protocol, EveryRequestRoundTripsAndMalformedLinesAreRefused) {
  const struct { Request request; std::string line; } rows[] = {
      {{Verb::read, "HOUR", {}, {}, {}}, "read HOUR \n"},
      {{Verb::write, "mm", "nober", "新 密=码%", "907"}, "write mm nober 新%20密=码%25 907\n"},
      {{Verb::erase, "HOUR", "hou5", {}, "a\tb"}, "erase HOUR hou5 a%09b\n"},
      {{Verb::check, {}, {}, {}, ""}, "check \n"},
      {{Verb::first_run, {}, {}, {}, {}}, "firstrun\n"},
      {{Verb::quit, {}, {}, {}, "907"}, "quit 907\n"},
      {{Verb::state, {}, {}, "locked", {}}, "state locked\n"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(FormatRequest(r.request), r.line);
    EXPECT_EQ(ParseRequest(r.line), r.request) << r.line;
  }
  const std::string longest = "check " + std::string(kMaxRequestLine - 7, 'a') + "\n";
  EXPECT_TRUE(ParseRequest(longest));
  const std::string malformed[] = {
      "", "quit 907", "QUIT 907\n", "hello\n", "check a b\n", "quit\n", "state\n", "state a b\n", "firstrun x\n", "write mm nober x\n",
      "read  x\n", "read %20 x\n", "write HOUR  5 p\n", "erase HOUR %20%20 p\n",      // an empty or blank section or key
      "write mm nober a%0Ab p\n", "write mm nober a%0Db p\n", "write mm nober a%00b p\n",  // a line break or NUL in a field
      "write mm nober a\nb p\n", "check a\tb\n", "check %4\n", "check %zz\n", "check %4a\n",
      "check " + std::string(kMaxRequestLine - 6, 'a') + "\n",                             // over-long
  };
  for (const auto& line : malformed) EXPECT_EQ(ParseRequest(line), std::nullopt) << line;

  const struct { Status status; std::string data, line; } answers[] = {
      {Status::ok, "", "ok\n"},
      {Status::ok, std::string("hou1=1\0mm 2\0\0", 13), "ok hou1=1%00mm%202%00%00\n"},
      {Status::no, "", "no\n"},
      {Status::busy, "", "busy\n"},
      {Status::failed, "", "fail\n"},
  };
  for (const auto& a : answers) {
    const Answer answer{a.status, a.data};
    EXPECT_EQ(FormatAnswer(answer), a.line);
    EXPECT_EQ(ParseAnswer(a.line), answer) << a.line;
  }
  for (const char* bad : {"ok", "yes\n", "no x\n", "ok a b\n", "ok %g0\n", ""}) EXPECT_EQ(ParseAnswer(bad), std::nullopt) << bad;

  // A report's answer names the hours: FNV-1a, 64 bits, in hex; one byte
  // more or another order is another name.
  const struct { std::string lines, version; } versions[] = {
      {"", "CBF29CE484222325"},
      {"a", "AF63DC4C8601EC8C"},
      {std::string("hou5=5\0\0", 8), SectionVersion(std::string("hou5=5\0\0", 8))},
  };
  for (const auto& v : versions) {
    EXPECT_EQ(SectionVersion(v.lines), v.version);
    EXPECT_EQ(ParseAnswer(FormatAnswer({Status::ok, v.version})), (Answer{Status::ok, v.version}));
  }
  EXPECT_NE(SectionVersion(std::string("hou5=5\0\0", 8)), SectionVersion(std::string("hou5=5\0\0\0", 9)));
  EXPECT_NE(SectionVersion("ab"), SectionVersion("ba"));
}

// A channel that gives its answers in turn and keeps the requests.
struct ScriptedChannel final : platform::GuardianChannel {
  bool installed() const override { return true; }
  std::optional<std::string> exchange(std::string_view request) override {
    sent.emplace_back(request);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  std::vector<std::optional<std::string>> answers;
  Log sent;
};

TEST(GuardianClient, CarriesTheProofTriesBusyAgainAndTakesOnlyAClearYes) {
  using Replies = std::vector<std::optional<std::string>>;
  const std::string none("\0\0", 2);
  const struct { std::function<std::string(GuardianClient&)> call; Replies replies; std::string result; int sent; } rows[] = {
      {[](GuardianClient& c) { return std::to_string(c.check_password("pw")); }, {"ok\n"}, "1", 1},
      {[](GuardianClient& c) { return std::to_string(c.check_password("pw")); }, {"busy\n", "ok\n"}, "1", 2},
      {[](GuardianClient& c) { return std::to_string(c.check_password("pw")); }, {"busy\n", "busy\n", "busy\n", "ok\n"}, "0", 3},
      {[](GuardianClient& c) { return std::to_string(c.check_password("pw")); }, {"okay\n"}, "0", 1},
      {[](GuardianClient& c) { return std::to_string(c.announce_quit("pw")); }, {std::nullopt}, "0", 1},
      {[](GuardianClient& c) { return std::to_string(c.write_string("HOUR", "hou5", "5", "")); }, {"fail\n"}, "0", 1},
      {[](GuardianClient& c) { return std::to_string(c.write_string("HOUR", "hou5", std::nullopt, "")); }, {"ok\n"}, "1", 1},
      {[](GuardianClient& c) { return std::to_string(c.write_first_run()); }, {"no\n"}, "0", 1},
      // A read refused, unanswered or cut short reads as no lines: the hour check then locks.
      {[](GuardianClient& c) { return c.get_section("HOUR", 32767, ""); }, {"ok hou5=5%00%00\n"}, std::string("hou5=5\0\0", 8), 1},
      {[](GuardianClient& c) { return c.get_section("HOUR", 32767, ""); }, {"no\n"}, none, 1},
      {[](GuardianClient& c) { return c.get_section("HOUR", 32767, ""); }, {"ok hou5=5\n"}, none, 1},
      {[](GuardianClient& c) { return c.get_section("HOUR", 32767, ""); }, {std::nullopt}, none, 1},
  };
  for (const auto& r : rows) {
    ScriptedChannel channel;
    channel.answers = r.replies;
    int waits = 0;
    GuardianClient client(channel, [&](std::chrono::milliseconds ms) { waits += ms == kQuitTryGap; });
    EXPECT_EQ(r.call(client), r.result) << r.replies.front().value_or("none");
    EXPECT_EQ(static_cast<int>(channel.sent.size()), r.sent);
    EXPECT_EQ(waits, r.sent - 1);
  }
  ScriptedChannel channel;
  channel.answers = {"ok\n", "ok\n"};
  GuardianClient client(channel, [](std::chrono::milliseconds) {});
  client.set_proof("p w");
  (void)client.get_section("mm", 32767, "");
  client.write_string("hour", "hou7", "7", "");
  EXPECT_EQ(channel.sent, (Log{"read mm p%20w\n", "write hour hou7 7 p%20w\n"}));
}

// Steps: "report ANSWER" (a state report given that answer, "-" for none),
// "hours ANSWER" (the tick's read of [HOUR]: what it returns, "asked" when
// the guardian was asked, "-" for no answer), "write".
TEST(GuardianClient, AsksForTheHoursOnlyWhenAReportNamesOthersThanThoseKept) {
  const std::string v1 = "ok V1\n", v2 = "ok V2\n", five = "ok hou5=5%00%00\n", six = "ok hou6=6%00%00\n";
  const struct { std::vector<std::pair<std::string, std::string>> steps; Log seen; } rows[] = {
      // Kept while the reports name the same hours; asked again when they name others.
      {{{"report", v1}, {"hours", five}, {"hours", ""}, {"report", v1}, {"hours", ""}, {"report", v2}, {"hours", six}},
       {"asked hou5=5", "hou5=5", "hou5=5", "asked hou6=6"}},
      // Hours read after a report that named others: kept under the version seen before the read.
      {{{"report", v1}, {"hours", six}, {"report", v2}, {"hours", six}, {"report", v2}, {"hours", ""}},
       {"asked hou6=6", "asked hou6=6", "hou6=6"}},
      // Nothing is trusted after a report without a version, with none, or refused.
      {{{"report", v1}, {"hours", five}, {"report", "ok\n"}, {"hours", five}}, {"asked hou5=5", "asked hou5=5"}},
      {{{"report", v1}, {"hours", five}, {"report", "-"}, {"hours", five}}, {"asked hou5=5", "asked hou5=5"}},
      {{{"report", v1}, {"hours", five}, {"report", "no\n"}, {"hours", five}}, {"asked hou5=5", "asked hou5=5"}},
      // Nor after a write, nor hours that were never read whole; no version, no keeping.
      {{{"report", v1}, {"hours", five}, {"write", "ok\n"}, {"hours", six}}, {"asked hou5=5", "asked hou6=6"}},
      {{{"report", v1}, {"hours", "-"}, {"report", v1}, {"hours", five}}, {"asked ", "asked hou5=5"}},
      {{{"hours", five}, {"report", v1}, {"hours", five}}, {"asked hou5=5", "asked hou5=5"}},
  };
  for (const auto& r : rows) {
    ScriptedChannel channel;
    GuardianClient client(channel, [](std::chrono::milliseconds) {});
    Log seen;
    for (const auto& [step, answer] : r.steps) {
      channel.answers = {answer == "-" ? std::nullopt : std::optional<std::string>(answer)};
      const auto before = channel.sent.size();
      if (step == "report") client.report_state("locked");
      if (step == "write") client.write_string("HOUR", "hou6", "6", "");
      if (step != "hours") continue;
      std::string lines = client.get_section("HOUR", 32767, "");
      lines = lines.substr(0, lines.find('\0'));
      seen.push_back(channel.sent.size() > before ? "asked " + lines : lines);
    }
    EXPECT_EQ(seen, r.seen) << r.steps.size();
  }
}

}  // namespace
}  // namespace qorvel::guardian
