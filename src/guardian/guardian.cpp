#include "guardian/guardian.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"
#include "settings/form2.h"

namespace qorvel::guardian {
namespace {

// The settings file's bytes seen through the profile interface, read-only,
// so the password comes out of the gate's own function.
class BytesProfile final : public platform::ProfileFile {
 public:
  explicit BytesProfile(std::string_view bytes) : bytes_(bytes) {}
  std::string get_section(std::string_view section, std::size_t size, std::string_view) override {
    return platform::cp936_to_utf8(platform::ini::get_section(bytes_, platform::utf8_to_cp936(section), size).buffer);
  }
  bool write_string(std::string_view, std::string_view, std::optional<std::string_view>, std::string_view) override {
    return false;
  }

 private:
  std::string_view bytes_;
};

Duration Backoff(int quick_ends) {
  if (quick_ends <= 1) return Duration::zero();
  return std::min(kMaxBackoff, kFirstBackoff * (1 << std::min(quick_ends - 2, 8)));
}

constexpr std::string_view kQuitWord = "quit ";

}  // namespace

Guardian::Guardian(Ports& ports) : ports_(ports), copy_(ports.load_copy()) {}

void Guardian::SessionsChanged(const std::vector<Session>& sessions, Time now) {
  std::erase_if(watches_, [&](const auto& entry) {
    return std::none_of(sessions.begin(), sessions.end(), [&](const Session& s) { return s.id == entry.first; });
  });
  for (const auto& s : sessions) {
    auto it = watches_.find(s.id);
    if (it == watches_.end()) {
      // Only a session seen in front is guarded; its logon may start the
      // guard itself within the grace.
      if (s.state != SessionState::active) continue;
      if (!s.coverable) ports_.note("session " + s.id + " of " + s.user + " cannot be covered (Wayland); no guard");
      it = watches_.emplace(s.id, Watch{s, s.coverable ? Phase::waiting : Phase::closing, now + kLogonGrace}).first;
    }
    it->second.session = s;
    if (s.state == SessionState::closing) it->second.phase = Phase::closing;
  }
}

void Guardian::ShuttingDown() {
  shutting_down_ = true;
  for (auto& [id, watch] : watches_) watch.phase = Phase::closing;
}

void Guardian::GuardEnded(std::string_view session_id, Time now) {
  const auto it = watches_.find(session_id);
  if (it == watches_.end() || it->second.phase != Phase::guarded) return;
  Watch& watch = it->second;
  // Whatever its exit code: any program can end a process with 0.
  if (now - watch.started >= kSteadyRun) watch.quick_ends = 0;
  ++watch.quick_ends;
  ports_.note("the guard of session " + watch.session.id + " ended");
  watch.phase = Phase::waiting;
  watch.due = now + Backoff(watch.quick_ends);
  if (watch.due <= now) LookAt(watch, now);
}

QuitAnswer Guardian::QuitAsked(std::string_view session_id, std::string_view password, Time now) {
  if (last_try_ && now - *last_try_ < kQuitTryGap) return QuitAnswer::busy;
  last_try_ = now;
  const auto it = watches_.find(session_id);
  if (it == watches_.end()) return QuitAnswer::refused;
  // The file as it stands, or the copy when it is missing or unreadable: a
  // deleted file must not make the first-run password valid.
  CheckFile();
  if (StoredPasswordIn(copy_.value_or("")) != password) {
    ports_.note("a wrong password to end the guard of session " + it->second.session.id);
    return QuitAnswer::refused;
  }
  ports_.note("the parent ended the guard of session " + it->second.session.id);
  it->second.phase = Phase::quit;
  return QuitAnswer::accepted;
}

void Guardian::Tick(Time now) {
  if (now >= next_file_check_) {
    CheckFile();
    next_file_check_ = now + kFileCheck;
  }
  for (auto& [id, watch] : watches_) {
    if (watch.phase == Phase::waiting && watch.due <= now) LookAt(watch, now);
  }
}

Time Guardian::NextTick() const {
  Time next = next_file_check_;
  for (const auto& [id, watch] : watches_) {
    if (watch.phase == Phase::waiting) next = std::min(next, watch.due);
  }
  return next;
}

void Guardian::LookAt(Watch& watch, Time now) {
  if (shutting_down_) return;
  // A guard started over a deleted file would write the first-run file.
  CheckFile();
  watch.started = now;
  if (ports_.adopt_guard(watch.session)) {
    watch.phase = Phase::guarded;
  } else if (ports_.start_guard(watch.session)) {
    ports_.note("started a guard in session " + watch.session.id);
    watch.phase = Phase::guarded;
  } else {
    ports_.note("could not start a guard in session " + watch.session.id);
    watch.due = now + Backoff(++watch.quick_ends);
    watch.due = std::max(watch.due, now + kFirstBackoff);
  }
}

void Guardian::CheckFile() {
  const SettingsFile file = ports_.read_settings();
  if (file.state == SettingsFile::State::present) {
    if (file.bytes != copy_) {
      ports_.save_copy(file.bytes);
      copy_ = file.bytes;
    }
  } else if (file.state == SettingsFile::State::missing && copy_) {
    if (ports_.restore_settings(*copy_)) ports_.note("put the deleted settings file back");
  }
}

std::string QuitRequest(std::string_view password) {
  return std::string(kQuitWord) + std::string(password) + "\n";
}

std::optional<std::string> ParseQuitRequest(std::string_view line) {
  if (!line.starts_with(kQuitWord) || !line.ends_with('\n')) return std::nullopt;
  line = line.substr(kQuitWord.size(), line.size() - kQuitWord.size() - 1);
  if (line.find('\n') != std::string_view::npos) return std::nullopt;
  return std::string(line);
}

std::string_view AnswerLine(QuitAnswer answer) {
  switch (answer) {
    case QuitAnswer::accepted: return "ok\n";
    case QuitAnswer::busy: return "busy\n";
    case QuitAnswer::refused: break;
  }
  return "no\n";
}

std::optional<QuitAnswer> ParseAnswer(std::string_view line) {
  for (const auto a : {QuitAnswer::accepted, QuitAnswer::refused, QuitAnswer::busy}) {
    if (line == AnswerLine(a)) return a;
  }
  return std::nullopt;
}

std::string StoredPasswordIn(std::string_view file_bytes) {
  BytesProfile profile(file_bytes);
  return settings::StoredPassword(profile);
}

}  // namespace qorvel::guardian
