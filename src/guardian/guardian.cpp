#include "guardian/guardian.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"
#include "settings/form2.h"
#include "store/module1.h"

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

// Section names match as the profile functions match them, whatever the case.
bool SameName(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string SectionIn(std::string_view file_bytes, std::string_view section) {
  BytesProfile profile(file_bytes);
  return profile.get_section(section, store::kSectionBufferSize, store::kSettingsFile);
}

}  // namespace

Guardian::Guardian(Ports& ports) : ports_(ports) {
  Keep(ports_.load_copy());
  // A file left by an earlier version gets its rights too.
  ports_.protect_settings();
}

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
      Watch watch;
      watch.phase = s.coverable ? Phase::waiting : Phase::closing;
      watch.due = now + kLogonGrace;
      watch.last_cover = now;
      it = watches_.emplace(s.id, std::move(watch)).first;
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

std::string Guardian::Answer(std::string_view session_id, Pid pid, std::string_view line, Time now) {
  const auto request = ParseRequest(line);
  if (request && request->verb == Verb::state) {
    const auto it = watches_.find(session_id);
    const bool known = std::find(std::begin(kStateWords), std::end(kStateWords), request->value) != std::end(kStateWords);
    if (it == watches_.end() || !known) return FormatAnswer({});
    Report(it->second, pid, request->value, now);
    // The file as it stands now (a stamp's look when unchanged): the guard's
    // hours are then at most one report old.
    // Due work is done at this wake when it falls due around now: reports
    // come every second at most, and past the slack the timer has fired.
    if (now >= next_file_check_ - kFileCheck / 2 && now < next_file_check_ + kTickSlack) {
      next_file_check_ = now;
      Tick(now);
    } else {
      CheckFile();
    }
    return FormatAnswer({Status::ok, hours_version_});
  }
  return FormatAnswer(request ? Handle(session_id, *request, now) : guardian::Answer{Status::no, {}});
}

void Guardian::Report(Watch& watch, Pid pid, std::string_view word, Time now) {
  // Only the watched guard speaks for the screen; any other process of the
  // session is at most a guard to adopt, once it proves to be one.
  if (watch.phase != Phase::guarded || pid != watch.pid) {
    watch.volunteer = pid;
    watch.volunteer_at = now;
    return;
  }
  watch.last_report = now;
  watch.reported = true;
  if (word != "compact") watch.last_cover = now;
}

guardian::Answer Guardian::Handle(std::string_view session_id, const Request& request, Time now) {
  // The file as it stands, or the copy when it is missing or unreadable: a
  // deleted file must not make the first-run password valid.
  CheckFile();
  const auto verdict = [&](Proof proof) {
    return guardian::Answer{proof == Proof::right ? Status::ok : proof == Proof::wait ? Status::busy : Status::no, {}};
  };
  switch (request.verb) {
    case Verb::read: {
      // The hours and the start-up flag are no secret; the password is.
      const bool open = SameName(request.section, "HOUR") || SameName(request.section, "bb");
      if (!open && !SameName(request.section, "mm")) return {};
      if (!open) {
        const Proof proof = Prove(session_id, request.proof, now);
        if (proof != Proof::right) return verdict(proof);
      }
      if (!copy_) return {};
      return {Status::ok, SectionIn(*copy_, request.section)};
    }
    case Verb::write:
    case Verb::erase: return Write(session_id, request, now);
    case Verb::check: return verdict(Prove(session_id, request.proof, now));
    case Verb::first_run: return {WriteFirstRun() ? Status::ok : Status::no, {}};
    case Verb::state:
    case Verb::quit: break;
  }
  const auto it = watches_.find(session_id);
  if (it == watches_.end()) return {};
  const Proof proof = Prove(session_id, request.proof, now);
  if (proof == Proof::wrong) ports_.note("a wrong password to end the guard of session " + it->second.session.id);
  if (proof != Proof::right) return verdict(proof);
  ports_.note("the parent ended the guard of session " + it->second.session.id);
  it->second.phase = Phase::quit;
  return {Status::ok, {}};
}

Guardian::Proof Guardian::Prove(std::string_view session_id, std::string_view password, Time now) {
  // Checked only once a second after a miss: guessing takes a second a try,
  // while a parent's right password is never made to wait.
  const auto last = last_wrong_.find(session_id);
  if (last != last_wrong_.end() && now - last->second < kQuitTryGap) return Proof::wait;
  // With neither file nor copy there is no password: nothing opens.
  if (copy_ && StoredPasswordIn(*copy_) == password) return Proof::right;
  last_wrong_.insert_or_assign(std::string(session_id), now);
  return Proof::wrong;
}

guardian::Answer Guardian::Write(std::string_view session_id, const Request& request, Time now) {
  // The start-up flag is the guard's own; the hours and the password are the parent's.
  const bool open = SameName(request.section, "bb");
  if (!open && !SameName(request.section, "HOUR") && !SameName(request.section, "mm")) return {};
  if (!copy_) return {};  // a lone flag would make a file without a password
  if (!open) {
    const Proof proof = Prove(session_id, request.proof, now);
    if (proof == Proof::wait) return {Status::busy, {}};
    if (proof == Proof::wrong) {
      ports_.note("a wrong password to change [" + request.section + "] from session " + std::string(session_id));
      return {};
    }
  }
  const bool erase = request.verb == Verb::erase;
  const auto value = erase ? std::nullopt : std::optional<std::string_view>(request.value);
  const std::string what = "[" + request.section + "] " + request.key + " from session " + std::string(session_id);
  if (!ports_.write_setting(request.section, request.key, value)) {
    ports_.note("could not write " + what);
    return {Status::failed, {}};
  }
  ports_.note((erase ? "removed " : "wrote ") + what);
  CheckFile();
  return {Status::ok, {}};
}

bool Guardian::WriteFirstRun() {
  // Only where there is nothing to put back: CheckFile has just restored the copy.
  if (copy_ || ports_.read_settings().state != SettingsFile::State::missing) return false;
  for (const auto& w : store::FirstRunWrites()) {
    if (!ports_.write_setting(w.section, w.key, w.value)) {
      ports_.note("could not write the first-run settings file");
      return false;
    }
  }
  ports_.protect_settings();
  ports_.note("wrote the first-run settings file");
  CheckFile();
  return true;
}

void Guardian::Tick(Time now) {
  if (now >= next_file_check_) {
    CheckFile();
    next_file_check_ = now + kFileCheck;
  }
  if (HourAllowed()) locked_since_.reset();
  else if (!locked_since_) locked_since_ = now;
  for (auto& [id, watch] : watches_) {
    CheckLiveness(watch, now);
    if (watch.phase == Phase::waiting && watch.due <= now) LookAt(watch, now);
    CheckCover(watch, now);
  }
}

void Guardian::CheckLiveness(Watch& watch, Time now) {
  if (watch.phase != Phase::guarded) return;
  const Time since = watch.reported ? watch.last_report : watch.started;
  if (now - since < (watch.reported ? kReportLimit : kFirstReportLimit)) return;
  ports_.note("the guard of session " + watch.session.id + " stopped reporting; ending it");
  ports_.end_guard(watch.session, watch.pid);
  // Its end brings the next guard; until then, not again before another spell.
  watch.last_report = now;
  watch.reported = true;
}

void Guardian::CheckCover(Watch& watch, Time now) {
  if (!locked_since_ || shutting_down_ || watch.session.state != SessionState::active || watch.phase == Phase::quit)
    return;
  if (now - std::max(*locked_since_, watch.last_cover) < kUncoveredLimit) return;
  const std::string who = "session " + watch.session.id + " of " + watch.session.user;
  // Tried again after another spell if the session is still there.
  watch.last_cover = now;
  if (watch.session.administrator) {
    ports_.note(who + " is not covered in a locked hour; an administrator's session is not logged off");
    return;
  }
  ports_.note(who + " is not covered in a locked hour; logging it off");
  ports_.log_off(watch.session);
}

bool Guardian::HourAllowed() {
  // Without a clock or a file nobody can say the hour is locked.
  const auto hour = ports_.local_hour();
  if (!hour || !copy_) return true;
  BytesProfile profile(*copy_);
  const auto lines = store::ReadProfileSection(profile, "HOUR", store::kSettingsFile);
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return store::Val(store::ValueField(line)) == *hour; });
}

Time Guardian::NextTick() const {
  Time next = next_file_check_ + kTickSlack;
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
  watch.reported = false;
  const auto volunteer = std::exchange(watch.volunteer, std::nullopt);
  // The logon's own guard is adopted only while it reports.
  if (volunteer && now - watch.volunteer_at < kReportLimit && ports_.adopt_guard(watch.session, *volunteer)) {
    watch.phase = Phase::guarded;
    watch.pid = *volunteer;
    watch.reported = true;
    watch.last_report = watch.volunteer_at;
  } else if (const auto pid = ports_.start_guard(watch.session)) {
    ports_.note("started a guard in session " + watch.session.id);
    watch.phase = Phase::guarded;
    watch.pid = *pid;
  } else {
    ports_.note("could not start a guard in session " + watch.session.id);
    watch.due = now + Backoff(++watch.quick_ends);
    watch.due = std::max(watch.due, now + kFirstBackoff);
  }
}

void Guardian::CheckFile() {
  SettingsFile file = ports_.read_settings();
  if (file.state == SettingsFile::State::hostile) {
    // Never followed nor written through: out of the way, then as if missing.
    if (!ports_.move_aside()) return;
    ports_.note("moved what stood at the settings file's place aside");
    file = {};
  }
  if (file.state == SettingsFile::State::present) {
    if (file.bytes != copy_) {
      ports_.save_copy(file.bytes);
      Keep(std::move(file.bytes));
    }
  } else if (file.state == SettingsFile::State::missing && copy_) {
    if (!ports_.restore_settings(*copy_)) return;
    ports_.protect_settings();
    ports_.note("put the deleted settings file back");
  }
}

void Guardian::Keep(std::optional<std::string> copy) {
  copy_ = std::move(copy);
  hours_version_ = copy_ ? SectionVersion(SectionIn(*copy_, "HOUR")) : std::string();
}

std::string StoredPasswordIn(std::string_view file_bytes) {
  BytesProfile profile(file_bytes);
  return settings::StoredPassword(profile);
}

}  // namespace qorvel::guardian
