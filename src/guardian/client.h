#pragma once
// The guard's side of the guardian: its settings file and its verdicts, over
// whatever channel the platform has.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "guardian/protocol.h"
#include "platform/profile_file.h"
#include "platform/system.h"

namespace qorvel::guardian {

class GuardianClient final : public platform::ProfileFile, public platform::GuardianLink {
 public:
  using Wait = std::function<void(std::chrono::milliseconds)>;
  explicit GuardianClient(platform::GuardianChannel& channel, Wait wait = DefaultWait);

  // The settings file as the guardian reads and writes it. A read that is
  // refused or not answered gives what a missing file gives: no lines.
  // [HOUR] is asked again only when the last report's answer named other
  // lines than those kept, or after a write.
  std::string get_section(std::string_view section, std::size_t buffer_size, std::string_view file) override;
  bool write_string(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                    std::string_view file) override;

  [[nodiscard]] bool owns_settings() const override { return channel_.installed(); }
  void set_proof(std::string password) override { proof_ = std::move(password); }
  bool check_password(std::string_view typed) override;
  bool write_first_run() override;
  bool announce_quit(std::string_view password) override;
  void report_state(std::string_view word) override;

 private:
  static void DefaultWait(std::chrono::milliseconds how_long);
  // Asks again after the guardian's pause when it answers busy.
  std::optional<Answer> Ask(const Request& request);

  platform::GuardianChannel& channel_;
  Wait wait_;
  std::string proof_;
  std::optional<std::string> reported_;  // the version the last report was answered with
  struct Kept {
    std::string version, lines;
  };
  std::optional<Kept> hours_;
};

}  // namespace qorvel::guardian
