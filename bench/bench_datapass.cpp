// Data pass of korbal on a 1,000,000-line layout-3 file ("(6I3,3F8.2)", three
// variables with cross products, 549 model columns, all fourteen slots in use),
// side by side with a formatted READ of the same file by a compiled Fortran reader,
// the same data as a CSV file with named columns (read whole, the parents named by
// letters), and the whole korbal run on the same file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "korbal/csvdata.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/format.h"
#include "records/io.h"

namespace {

constexpr int kLines = 1000000;
constexpr const char* kFormat = "(6I3,3F8.2)";

korbal::Control control() {
  korbal::Control c;
  c.NLINES = 5;
  c.NV = 3;
  c.CROSS = 1;
  c.ISELF = -1;
  c.IMATR = 1;
  c.IRECP = 1;
  c.NREP = 2;
  c.NLOC = 2;
  c.IFXL = 1;
  c.IDATA = 1;
  c.NSETS = 2;
  c.NCLON = 2;
  c.ICXL = 1;
  c.IRXF = 1;
  c.LAYOUT = korbal::Layout::LocRep;
  return c;
}

// Scratch directory with the data file and a control file describing it.
struct Files {
  std::filesystem::path dir;
  std::filesystem::path data, csv;
  Files() {
    dir = std::filesystem::temp_directory_path() / "korbal-bench-datapass";
    std::filesystem::create_directories(dir);
    data = dir / "big.dat";
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
    // The same lines as CSV: parents by letter, responses as written.
    csv = dir / "big.csv";
    if (!std::filesystem::exists(csv)) {
      std::ifstream in(data, std::ios::binary);
      std::string out = "Loc,Rep,Set,Female,Male,Clone,Y1,Y2,Y3\n", line;
      out.reserve(static_cast<std::size_t>(kLines) * 40);
      auto num = [&](std::size_t at, std::size_t w) {
        std::size_t b = line.find_first_not_of(' ', at);
        out.append(line, b, at + w - b);
      };
      while (std::getline(in, line)) {
        for (int k = 0; k < 6; ++k) {
          if (k == 3 || k == 4)
            out += static_cast<char>('A' + std::stoi(line.substr(3 * k, 3)) - 1);
          else
            num(3 * k, 3);
          out += ',';
        }
        for (int v = 0; v < 3; ++v) {
          num(18 + 8 * v, 8);
          out += v < 2 ? ',' : '\n';
        }
      }
      std::ofstream(csv, std::ios::binary) << out;
    }
    std::ofstream ctl(dir / "big.ctl", std::ios::binary);
    ctl << "  5  3  1 -1  1  1  2  2  1  1  0  2  2  1  1\n"
        << "BENCHMARK: ONE MILLION LINES, ALL FOURTEEN SLOTS\n"
        << "Y1                  Y2                  Y3\n"
        << kFormat << "\n";
  }
};

const Files& files() {
  static const Files f;
  return f;
}

void BM_KorbalDataPass(benchmark::State& state) {
  const Files& f = files();
  korbal::Control c = control();
  const korbal::Model m = korbal::MODEL(c);
  c.NLOC = m.NLOC;
  c.NREP = m.NREP;
  auto a = std::make_unique<korbal::Arrays>();
  const rec::Format fmt = rec::Format::compile(kFormat);
  std::istringstream in;
  std::ostringstream out;
  for (auto _ : state) {
    rec::Io io({}, in, out, f.dir);
    io.open(1, f.data.string(), rec::OpenMode::Input);
    std::fill(a->XPX.begin(), a->XPX.end(), 0.0);
    std::fill(a->XPY.begin(), a->XPY.end(), 0.0);
    std::fill(a->YPY.begin(), a->YPY.end(), 0.0);
    a->NOBS = 0;
    const korbal::PassResult r = korbal::ACCUMULATE(io, c, m, *a, fmt, 1);
    if (r.bad_lines != 0 || a->NOBS != kLines) state.SkipWithError("unexpected data pass");
    benchmark::DoNotOptimize(a->XPX.data());
  }
  state.counters["columns"] = m.SDFL;
  state.counters["slots"] = m.KRXF;
  state.SetItemsProcessed(state.iterations() * kLines);  // lines per second
}
BENCHMARK(BM_KorbalDataPass)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same data pass from the CSV file: reading it whole, the first look that numbers
// the named parents, and the accumulation.
void BM_KorbalCsvDataPass(benchmark::State& state) {
  const Files& f = files();
  korbal::Control c = control();
  const korbal::Model m = korbal::MODEL(c);
  c.NLOC = m.NLOC;
  c.NREP = m.NREP;
  auto a = std::make_unique<korbal::Arrays>();
  std::istringstream in;
  std::ostringstream out;
  for (auto _ : state) {
    rec::Io io({}, in, out, f.dir);
    io.open(1, f.csv.string(), rec::OpenMode::Input);
    std::fill(a->XPX.begin(), a->XPX.end(), 0.0);
    std::fill(a->XPY.begin(), a->XPY.end(), 0.0);
    std::fill(a->YPY.begin(), a->YPY.end(), 0.0);
    a->NOBS = 0;
    korbal::CsvData csv(c, m, "CSV Loc Rep Set Female Male Clone Y1 Y2 Y3");
    csv.load_unit(io, 1);
    const korbal::PassResult r = csv.accumulate(io, c, m, *a);
    if (r.bad_lines != 0 || a->NOBS != kLines) state.SkipWithError("unexpected data pass");
    benchmark::DoNotOptimize(a->XPX.data());
  }
  state.SetItemsProcessed(state.iterations() * kLines);  // lines per second
}
BENCHMARK(BM_KorbalCsvDataPass)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef FORTRAN_READER
void BM_FortranFormattedRead(benchmark::State& state) {
  const Files& f = files();
  const std::string cmd = std::string(FORTRAN_READER) + " '" + f.data.string() + "' '" +
                          kFormat + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("Fortran reader failed");
  }
  state.SetItemsProcessed(state.iterations() * kLines);  // lines per second
}
BENCHMARK(BM_FortranFormattedRead)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// The whole run: control file, model, data pass, reduction and the report.
void BM_KorbalWholeRun(benchmark::State& state) {
  const Files& f = files();
  std::filesystem::current_path(f.dir);
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

}  // namespace

BENCHMARK_MAIN();
