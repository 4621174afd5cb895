#include "guardian/client.h"

#include <thread>

#include "guardian/guardian.h"

namespace qorvel::guardian {
namespace {

constexpr int kTries = 3;

}  // namespace

GuardianClient::GuardianClient(platform::GuardianChannel& channel, Wait wait)
    : channel_(channel), wait_(std::move(wait)) {}

void GuardianClient::DefaultWait(std::chrono::milliseconds how_long) { std::this_thread::sleep_for(how_long); }

std::optional<Answer> GuardianClient::Ask(const Request& request) {
  const std::string line = FormatRequest(request);
  for (int attempt = 0; attempt < kTries; ++attempt) {
    // Someone in this session guessed wrong a moment ago.
    if (attempt > 0) wait_(kQuitTryGap);
    const auto reply = channel_.exchange(line);
    const auto answer = reply ? ParseAnswer(*reply) : std::nullopt;
    if (!answer || answer->status != Status::busy) return answer;
  }
  return std::nullopt;
}

std::string GuardianClient::get_section(std::string_view section, std::size_t, std::string_view) {
  const bool hours = section == "HOUR";
  if (hours && hours_ && reported_ && hours_->version == *reported_) return hours_->lines;
  // The version seen before the read: lines changed since are asked again
  // after the next report.
  const auto version = reported_;
  // The guardian reads with the store's buffer, the only size the guard asks for.
  const auto answer = Ask({Verb::read, std::string(section), {}, {}, proof_});
  const std::string_view end("\0\0", 2);
  if (!answer || answer->status != Status::ok || !answer->data.ends_with(end)) return std::string(end);
  if (hours && version) hours_ = Kept{*version, answer->data};
  return answer->data;
}

bool GuardianClient::write_string(std::string_view section, std::string_view key,
                                  std::optional<std::string_view> value, std::string_view) {
  hours_.reset();  // whatever the answer, the next look asks
  const Request request = value ? Request{Verb::write, std::string(section), std::string(key), std::string(*value), proof_}
                                : Request{Verb::erase, std::string(section), std::string(key), {}, proof_};
  const auto answer = Ask(request);
  return answer && answer->status == Status::ok;
}

bool GuardianClient::check_password(std::string_view typed) {
  const auto answer = Ask({Verb::check, {}, {}, {}, std::string(typed)});
  return answer && answer->status == Status::ok;
}

bool GuardianClient::write_first_run() {
  const auto answer = Ask({Verb::first_run, {}, {}, {}, {}});
  return answer && answer->status == Status::ok;
}

bool GuardianClient::announce_quit(std::string_view password) {
  const auto answer = Ask({Verb::quit, {}, {}, {}, std::string(password)});
  return answer && answer->status == Status::ok;
}

void GuardianClient::report_state(std::string_view word) {
  // Once, never waited for again: the next report is at most a second away.
  // An answer without a version, or none, leaves nothing to trust.
  reported_.reset();
  if (!channel_.installed()) return;
  const auto reply = channel_.exchange(FormatRequest({Verb::state, {}, {}, std::string(word), {}}));
  const auto answer = reply ? ParseAnswer(*reply) : std::nullopt;
  if (answer && answer->status == Status::ok && !answer->data.empty()) reported_ = answer->data;
}

}  // namespace qorvel::guardian
