// gcasca on the 1,000,000-line file of bench_datapass (layout 3, three variables,
// 549 model columns, every random effect present), side by side with korbal's whole
// run on the same file: gcasca reads the data once for all traits and then solves one
// dense mixed-model system per trait.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/trial_data.h"
#include "gcasca/gcasca.h"
#include "records/io.h"

namespace {

constexpr int kLines = 1000000;

// The data file of bench_datapass (same generator and place, so either benchmark
// reuses the file the other wrote), its control file and a table of components.
struct Files {
  std::filesystem::path dir;
  Files() {
    dir = trialdata::shared_dir();
    trialdata::write_data(dir / "big.dat", kLines);
    std::ofstream(dir / "big.ctl", std::ios::binary) << trialdata::control_file();
    std::ofstream comps(dir / "components.csv", std::ios::binary);
    comps << "problem,trait_1,trait_2,component,estimate,sd,ms,denominator,df1,df2,f,p\n";
    for (const char* t : {"Y1", "Y2", "Y3"}) {
      double v = 5.0;
      for (const char* c : {"GCA", "SCA", "MATR", "RECP", "FXL", "CLON", "CXL", "RXF", "ERR"}) {
        comps << "1," << t << ',' << t << ',' << c << ',' << (v += 7.0) << ",NA,NA,NA,NA,NA,NA,NA\n";
      }
    }
  }
};

const Files& files() {
  static const Files f;
  return f;
}

void BM_KorbalWholeRun(benchmark::State& state) {
  const Files& f = files();
  for (auto _ : state)
    if (trialdata::run_korbal(f.dir) != 0) state.SkipWithError("korbal run failed");
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_KorbalWholeRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_GcascaWholeRun(benchmark::State& state) {
  const Files& f = files();
  for (auto _ : state) {
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({"big.ctl", "big.dat", "components.csv", "big.gca"}, in, out, f.dir);
    korbal::SystemClock clock;
    gcasca::RunOptions options;
    options.csv_dir = std::filesystem::path("csv");
    if (gcasca::run(io, clock, options) != 0) state.SkipWithError("gcasca run failed");
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_GcascaWholeRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
