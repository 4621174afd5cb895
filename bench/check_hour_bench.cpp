// The hour check's section read and one whole tick on the first-run file
// (through a view that records what it is asked), each against reading the
// file's bytes, in one run.
#include <vector>

#include "guard/form1.h"
#include "ratio.h"
#include "store/module1.h"

namespace {

using namespace qorvel;

std::string g_path;

// The settings file lives where the benchmark put it, whatever path is asked.
class ScratchProfile final : public platform::ProfileFile {
 public:
  std::string get_section(std::string_view section, std::size_t size, std::string_view) override {
    return file_.get_section(section, size, g_path);
  }
  bool write_string(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                    std::string_view) override {
    return file_.write_string(section, key, value, g_path);
  }

 private:
  platform::PortableProfileFile file_;
};

// 00:30: no first-run hour matches, so every line is read and the locked
// layout is applied in full.
class MidnightClock final : public platform::Clock {
 public:
  platform::LocalTime now() const override { return {2026, 12, 6, 0, 30, 0}; }
  std::string general_date(const platform::LocalTime&) const override { return "2026/12/6 0:30:00"; }
};

struct Unused final : platform::ProcessInfo, platform::FileSystem, platform::Privilege, platform::Power,
                      platform::Shell, platform::Registry, platform::Dialogs, platform::GuardianLink {
  bool previous_instance() const override { return false; }
  std::string exe_directory() const override { return {}; }
  std::string exe_name() const override { return {}; }
  std::optional<bool> file_exists(std::string_view) const override { return true; }
  bool enable_shutdown_privilege() override { return true; }
  bool exit_windows(unsigned, unsigned) override { return true; }
  bool start_process(std::string_view, int) override { return true; }
  bool set_local_machine_string(std::string_view, std::string_view, std::string_view) override { return true; }
  int message_box(std::string_view, unsigned, std::chrono::seconds) override { return 1; }
  std::string input_box(std::string_view, std::string_view, bool, std::chrono::seconds) override { return {}; }
  bool owns_settings() const override { return false; }
  void set_proof(std::string) override {}
  bool check_password(std::string_view) override { return false; }
  bool write_first_run() override { return false; }
  bool announce_quit(std::string_view) override { return false; }
  void report_state(std::string_view) override {}
};

class RecordingView final : public guard::Form1View, platform::Window, platform::Timer {
 public:
  platform::Window& window() override { return *this; }
  platform::Timer& timer() override { return *this; }
  void set_clock_text(std::string_view text) override { calls.emplace_back(text); }
  void set_hours_text(std::string_view text) override { calls.emplace_back(text); }
  void set_unlock_text(std::string_view text) override { calls.emplace_back(text); }
  void show_notice(std::string_view text) override { calls.emplace_back(text); }
  std::string hours_text() const override { return {}; }
  void unload() override {}
  void set_window_pos(int after, unsigned flags) override { calls.push_back("pos " + std::to_string(after + flags)); }
  void set_window_state(platform::WindowState s) override { calls.push_back("state " + std::to_string(int(s))); }
  void set_top(int v) override { calls.push_back("top " + std::to_string(v)); }
  void set_left(int v) override { calls.push_back("left " + std::to_string(v)); }
  void set_width(int v) override { calls.push_back("width " + std::to_string(v)); }
  void set_height(int v) override { calls.push_back("height " + std::to_string(v)); }
  void set_enabled(bool on) override { enabled_ = on; }
  bool enabled() const override { return enabled_; }
  std::vector<std::string> calls;

 private:
  bool enabled_ = true;
};

void BM_RawRead(benchmark::State& state) { bench::RawRead(state, g_path); }

void BM_ReadProfileSection(benchmark::State& state) {
  platform::PortableProfileFile profile;
  for (auto _ : state) {
    auto lines = store::ReadProfileSection(profile, "HOUR", g_path);
    benchmark::DoNotOptimize(lines);
  }
}

void BM_CheckHourTick(benchmark::State& state) {
  ScratchProfile profile;
  MidnightClock clock;
  Unused unused;
  platform::Services services{profile, clock, unused, unused, unused, unused, unused, unused, unused, unused};
  RecordingView view;
  guard::Form1 form(services, view);
  for (auto _ : state) {
    view.calls.clear();
    form.Timer1_Timer();
    benchmark::DoNotOptimize(view.calls);
  }
}

BENCHMARK(BM_RawRead);
BENCHMARK(BM_ReadProfileSection);
BENCHMARK(BM_CheckHourTick);

}  // namespace

int main(int argc, char** argv) {
  g_path = bench::FirstRunFile();
  const int result = bench::RunAndPrintRatios(
      argc, argv, {{"BM_ReadProfileSection", "BM_RawRead", 1.3}, {"BM_CheckHourTick", "BM_RawRead", 1.5}});
  bench::RemoveScratch(g_path);
  return result;
}
