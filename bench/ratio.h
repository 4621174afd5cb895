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
#include <vector>

#include "platform/portable/portable_profile_file.h"

namespace qorvel::bench {

// Keeps the fastest repetition of each benchmark, in CPU time (the process's
// own, system calls included): other work on the machine only ever adds
// time, so the minima give a ratio that holds on a busy machine. Shows the
// aggregates only.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Aggregate) {
        shown.push_back(run);
        continue;
      }
      const auto& name = run.run_name.function_name;
      const double t = run.GetAdjustedCPUTime();
      if (fastest.count(name) == 0 || t < fastest[name]) fastest[name] = t;
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }
  std::map<std::string, double> fastest;
};

// Runs every benchmark in 10 interleaved repetitions (the command line may
// say otherwise) and prints measured / baseline for each pair, with its goal.
struct Ratio {
  std::string measured, baseline;
  double goal;
};
inline int RunAndPrintRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
  std::vector<char*> args{argv[0]};
  std::string repetitions = "--benchmark_repetitions=10", interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(repetitions.data());
  args.push_back(interleave.data());
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const auto& r : ratios) {
    if (reporter.fastest.count(r.measured) == 0 || reporter.fastest.count(r.baseline) == 0) continue;
    std::printf("ratio %s / %s = %.2f (fastest of each; goal: at most %.1f)\n", r.measured.c_str(),
                r.baseline.c_str(), reporter.fastest[r.measured] / reporter.fastest[r.baseline], r.goal);
  }
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
