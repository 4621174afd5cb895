// ReadProfileSection on the first-run file, against reading its bytes.
#include "ratio.h"
#include "store/module1.h"

namespace {

std::string g_path;

void BM_RawRead(benchmark::State& state) { qorvel::bench::RawRead(state, g_path); }

void BM_ReadProfileSection(benchmark::State& state) {
  qorvel::platform::PortableProfileFile profile;
  for (auto _ : state) {
    auto lines = qorvel::store::ReadProfileSection(profile, "HOUR", g_path);
    benchmark::DoNotOptimize(lines);
  }
}

BENCHMARK(BM_RawRead);
BENCHMARK(BM_ReadProfileSection);

}  // namespace

int main(int argc, char** argv) {
  g_path = qorvel::bench::FirstRunFile();
  const int result = qorvel::bench::RunAndPrintRatio(argc, argv, "BM_ReadProfileSection", "BM_RawRead", 2);
  qorvel::bench::RemoveScratch(g_path);
  return result;
}
