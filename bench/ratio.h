#pragma once
// Runs the benchmarks, then prints how many times slower one is than the
// other: the figure that matters for work done twice a second forever.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "platform/portable/portable_profile_file.h"

namespace qorvel::bench {

class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) times[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
  std::map<std::string, double> times;
};

inline int RunAndPrintRatio(int argc, char** argv, const std::string& measured, const std::string& baseline,
                            double goal) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.times.count(measured) == 0 || reporter.times.count(baseline) == 0) return 0;
  const double ratio = reporter.times[measured] / reporter.times[baseline];
  std::printf("ratio %s / %s = %.2f (goal: at most %.0f)\n", measured.c_str(), baseline.c_str(), ratio, goal);
  return 0;
}

// The first-run settings file, written as start-up writes it, in a scratch
// directory of its own.
inline std::string FirstRunFile() {
  const auto dir = std::filesystem::temp_directory_path() / ("qorvel-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto path = (dir / "mdb.ini").string();
  std::filesystem::remove(path);
  platform::PortableProfileFile profile;
  for (int n = 1; n <= 23; ++n) {
    profile.write_string("HOUR", "hou" + std::to_string(n), std::to_string(n), path);
    profile.write_string("mm", "nober", "907", path);
    profile.write_string("bb", "two", "0", path);
  }
  return path;
}

inline void RemoveScratch(const std::string& path) {
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

// The bare cost of getting the file's bytes: one open, read and close.
inline void RawRead(benchmark::State& state, const std::string& path) {
  char buffer[4096];
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t total = 0;
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) total += n;
    close(fd);
    benchmark::DoNotOptimize(total);
    benchmark::DoNotOptimize(buffer);
  }
}

}  // namespace qorvel::bench
