// Runs the microbenchmarks briefly unless told otherwise: 0.1 s each instead
// of Google Benchmark's 0.5 s, since they are mostly run to compare before
// and after a change. Pass --benchmark_min_time=SECONDS for steadier numbers.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  bool minTimeGiven = false;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--benchmark_min_time", 20) == 0) minTimeGiven = true;
  char shortRun[] = "--benchmark_min_time=0.1";
  if (!minTimeGiven) args.insert(args.begin() + 1, shortRun);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
