// The guardian's decisions on fake sessions, guards and files, told as stories.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "guardian/guardian.h"

namespace qorvel::guardian {
namespace {

using Log = std::vector<std::string>;
using State = SettingsFile::State;

struct FakePorts final : Ports {
  bool adopt_guard(const Session& s) override { return running.contains(s.id) && Note("adopt " + s.id); }
  bool start_guard(const Session& s) override { return Note("start " + s.id) && !start_fails && running.insert(s.id).second; }
  void note(std::string_view) override {}
  SettingsFile read_settings() override { return file; }
  bool restore_settings(std::string_view bytes) override {
    Note("restore " + std::string(bytes));
    if (file.state != State::missing) return false;
    file = {State::present, std::string(bytes)};
    return true;
  }
  std::optional<std::string> load_copy() override { return copy; }
  void save_copy(std::string_view bytes) override { Note("copy " + std::string(bytes)); copy = bytes; }
  bool Note(std::string s) { std::replace(s.begin(), s.end(), '\n', '/'); log.push_back(std::move(s)); return true; }
  Log log;
  std::set<std::string> running;
  bool start_fails = false;
  SettingsFile file;
  std::optional<std::string> copy;
};

// Runs a story, one step a line: "T word args" with T in ms. Words: active,
// background, closing, wayland, gone (the session list), running (a guard the
// logon started), kill, quit PASSWORD, tick, next, shutdown, file BYTES,
// delete, unreadable, startfails. Logged bytes show line ends as "/".
Log Tell(const std::string& story, std::optional<std::string> copy = std::nullopt) {
  FakePorts ports;
  ports.copy = std::move(copy);
  Guardian guardian(ports);
  std::map<std::string, Session> sessions;
  std::istringstream lines(story);
  for (std::string line; std::getline(lines, line, ';');) {
    std::istringstream in(line);
    long ms = 0;
    std::string word, id, password;
    in >> ms >> word;
    const Time now = Time{} + Duration(ms);
    if ((word == "active" || word == "background" || word == "closing" || word == "wayland" || word == "gone") && in >> id) {
      const auto state = word == "background" ? SessionState::background
                         : word == "closing" ? SessionState::closing : SessionState::active;
      sessions[id] = {id, "kid", state, word != "wayland"};
      if (word == "gone") sessions.erase(id);
      std::vector<Session> list;
      for (const auto& [key, s] : sessions) list.push_back(s);
      guardian.SessionsChanged(list, now);
    }
    if (word == "running" && in >> id) ports.running.insert(id);
    if (word == "kill" && in >> id) ports.running.erase(id), guardian.GuardEnded(id, now);
    if (word == "quit" && in >> id >> password)
      ports.Note("answer " + std::string(AnswerLine(guardian.QuitAsked(id, password, now))));
    if (word == "tick") guardian.Tick(now);
    if (word == "next") ports.Note("next " + std::to_string((guardian.NextTick() - Time{}) / Duration(1)));
    if (word == "shutdown") guardian.ShuttingDown();
    if (word == "file") in >> ports.file.bytes, ports.file.state = State::present;
    std::replace(ports.file.bytes.begin(), ports.file.bytes.end(), '/', '\n');  // "/" ends a line
    if (word == "delete") ports.file = {};
    if (word == "unreadable") ports.file = {State::unreadable, ""};
    if (word == "startfails") ports.start_fails = true;
  }
  return ports.log;
}

TEST(Guardian, OneGuardPerSessionBroughtBackWhateverEndedIt) {
  const struct { const char* story; Log calls; } rows[] = {
      // The logon's own start-up entry is adopted after the grace, never doubled.
      {"0 active 1; 0 active 2; 0 running 2; 10000 tick; 20000 tick", {"start 1", "adopt 2"}},
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
  // No file ever seen: the gate's first-run password.
  EXPECT_EQ(Tell("0 active 1; 1000 quit 1 907"), Log{"answer ok/"});
}

TEST(Guardian, PutsBackADeletedSettingsFileAndNeverReplacesOne) {
  const struct { const char* story; std::optional<std::string> copy; Log calls; } rows[] = {
      {"0 file A; 0 tick; 1000 delete; 1999 tick; 2000 tick; 3000 tick", {}, {"copy A", "restore A"}},
      {"0 file A; 0 tick; 1000 file B; 1000 tick; 2000 tick; 3000 delete; 3000 tick", {}, {"copy A", "copy B", "restore B"}},
      {"0 delete; 0 tick; 5000 tick", {}, {}},  // never seen one: the first run writes its own
      {"0 unreadable; 0 tick; 5000 tick", "A", {}},
      {"0 delete; 0 tick", "A", {"restore A"}},  // the copy outlives a restart
      // A guard started over a deleted file would write the first-run file.
      {"0 file A; 0 active 1; 0 tick; 10000 tick; 10500 delete; 10500 kill 1", {},
       {"copy A", "start 1", "restore A", "start 1"}},
  };
  for (const auto& r : rows) EXPECT_EQ(Tell(r.story, r.copy), r.calls) << r.story;
}

TEST(Guardian, QuitLinesRoundTripAndAnythingElseIsRefused) {
  for (const std::string password : {"907", "", "新 密=码"}) EXPECT_EQ(ParseQuitRequest(QuitRequest(password)), password);
  for (const char* bad : {"quit 907", "QUIT 907\n", "quit a\nb\n", ""}) EXPECT_EQ(ParseQuitRequest(bad), std::nullopt);
  for (const auto a : {QuitAnswer::accepted, QuitAnswer::refused, QuitAnswer::busy}) EXPECT_EQ(ParseAnswer(AnswerLine(a)), a);
  EXPECT_EQ(ParseAnswer("ok"), std::nullopt);
}

}  // namespace
}  // namespace qorvel::guardian
