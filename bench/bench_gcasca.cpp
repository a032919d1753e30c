// gcasca on the 1,000,000-line file of bench_datapass (layout 3, three variables,
// 549 model columns, every random effect present), side by side with korbal's whole
// run on the same file: gcasca reads the data once for all traits and then solves one
// dense mixed-model system per trait.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "gcasca/gcasca.h"
#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"

namespace {

constexpr int kLines = 1000000;

// The data file of bench_datapass (same generator and place, so either benchmark
// reuses the file the other wrote), its control file and a table of components.
struct Files {
  std::filesystem::path dir;
  Files() {
    dir = std::filesystem::temp_directory_path() / "korbal-bench-datapass";
    std::filesystem::create_directories(dir);
    const std::filesystem::path data = dir / "big.dat";
    if (!std::filesystem::exists(data)) {
      std::mt19937 rng(7);
      std::uniform_int_distribution<int> loc(1, 2), rep(1, 2), set(1, 2), line(1, 5), clone(1, 2);
      std::uniform_real_distribution<double> y(0.0, 999.0);
      std::string out;
      out.reserve(static_cast<std::size_t>(kLines) * 44);
      char buf[64];
      for (int k = 0; k < kLines; ++k) {
        int f = line(rng), m;
        do m = line(rng); while (m == f);
        std::snprintf(buf, sizeof buf, "%3d%3d%3d%3d%3d%3d%8.2f%8.2f%8.2f\n", loc(rng), rep(rng),
                      set(rng), f, m, clone(rng), y(rng), y(rng), y(rng));
        out += buf;
      }
      std::ofstream(data, std::ios::binary) << out;
    }
    std::ofstream(dir / "big.ctl", std::ios::binary)
        << "  5  3  1 -1  1  1  2  2  1  1  0  2  2  1  1\n"
        << "BENCHMARK: ONE MILLION LINES, ALL FOURTEEN SLOTS\n"
        << "Y1                  Y2                  Y3\n"
        << "(6I3,3F8.2)\n";
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
  for (auto _ : state) {
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({"big.ctl", "big.out", "big.dat"}, in, out, f.dir);
    korbal::SystemClock clock;
    if (korbal::run(io, clock) != 0) state.SkipWithError("korbal run failed");
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_KorbalWholeRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_GcascaWholeRun(benchmark::State& state) {
  const Files& f = files();
  for (auto _ : state) {
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({"big.ctl", "big.dat", "components.csv", "big.gca"}, in, out, f.dir);
    if (gcasca::run(io, std::filesystem::path("csv")) != 0) state.SkipWithError("gcasca run failed");
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_GcascaWholeRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
