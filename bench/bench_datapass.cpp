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
#include <sstream>
#include <string>

#include "bench/trial_data.h"
#include "korbal/csvdata.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/format.h"
#include "records/io.h"

namespace {

constexpr int kLines = 1000000;
using trialdata::kFormat;

// The model of the data file and the arrays of its sums.
struct Pass {
  korbal::Control c = trialdata::every_effect(5, 3);
  const korbal::Model m = korbal::allocate_columns(c);
  std::unique_ptr<korbal::Arrays> a = std::make_unique<korbal::Arrays>();
  Pass() {
    c.NLOC = m.NLOC;
    c.NREP = m.NREP;
  }
  // Empty sums for the next pass.
  void clear() {
    std::fill(a->XPX.begin(), a->XPX.end(), 0.0);
    std::fill(a->XPY.begin(), a->XPY.end(), 0.0);
    std::fill(a->YPY.begin(), a->YPY.end(), 0.0);
    a->NOBS = 0;
  }
};

// Scratch directory with the data file and a control file describing it.
struct Files {
  std::filesystem::path dir;
  std::filesystem::path data, csv, csv_numbered;
  Files() {
    dir = trialdata::shared_dir();
    data = dir / "big.dat";
    trialdata::write_data(data, kLines);
    // The same lines as CSV: parents by letter (or by number), responses as written.
    csv = dir / "big.csv";
    csv_numbered = dir / "big_numbered.csv";
    for (const bool letters : {true, false}) {
      const std::filesystem::path& path = letters ? csv : csv_numbered;
      if (std::filesystem::exists(path)) continue;
      std::ifstream in(data, std::ios::binary);
      std::string out = "Loc,Rep,Set,Female,Male,Clone,Y1,Y2,Y3\n", line;
      out.reserve(static_cast<std::size_t>(kLines) * 40);
      auto num = [&](std::size_t at, std::size_t w) {
        std::size_t b = line.find_first_not_of(' ', at);
        out.append(line, b, at + w - b);
      };
      while (std::getline(in, line)) {
        for (int k = 0; k < 6; ++k) {
          if (letters && (k == 3 || k == 4))
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
      std::ofstream(path, std::ios::binary) << out;
    }
    std::ofstream(dir / "big.ctl", std::ios::binary) << trialdata::control_file();
  }
};

const Files& files() {
  static const Files f;
  return f;
}

void BM_KorbalDataPass(benchmark::State& state) {
  const Files& f = files();
  Pass p;
  const rec::Format fmt = rec::Format::compile(kFormat);
  std::istringstream in;
  std::ostringstream out;
  for (auto _ : state) {
    rec::Io io({}, in, out, f.dir);
    io.open(1, f.data.string(), rec::OpenMode::Input);
    p.clear();
    const korbal::PassResult r = korbal::accumulate(io, p.c, p.m, *p.a, fmt, 1);
    if (r.bad_lines != 0 || p.a->NOBS != kLines) state.SkipWithError("unexpected data pass");
    benchmark::DoNotOptimize(p.a->XPX.data());
  }
  state.counters["columns"] = p.m.SDFL;
  state.counters["slots"] = p.m.KRXF;
  state.SetItemsProcessed(state.iterations() * kLines);  // lines per second
}
BENCHMARK(BM_KorbalDataPass)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same data pass from the CSV file, read in blocks, with the parents named by letter
// (first argument 1) or numbered (0): as the program reads it (second argument 1: in
// one pass with the accumulation where the levels are numbers, else in two), or always
// in two (0: the first checks the records and numbers any named levels).
void BM_KorbalCsvDataPass(benchmark::State& state) {
  const bool letters = state.range(0) != 0, as_program = state.range(1) != 0;
  const Files& f = files();
  Pass p;
  std::istringstream in;
  std::ostringstream out;
  for (auto _ : state) {
    rec::Io io({}, in, out, f.dir);
    io.open(1, (letters ? f.csv : f.csv_numbered).string(), rec::OpenMode::Input);
    io.open(korbal::kReportUnit, "csv_pass.out", rec::OpenMode::Output);
    p.clear();
    korbal::CsvData csv(p.c, p.m, "CSV Loc Rep Set Female Male Clone Y1 Y2 Y3");
    if (as_program)
      csv.open_unit(io, 1);
    else
      csv.load_unit(io, 1);
    const korbal::PassResult r = csv.accumulate(io, p.c, p.m, *p.a);
    if (r.bad_lines != 0 || p.a->NOBS != kLines || csv.read_once() != (as_program && !letters))
      state.SkipWithError("unexpected data pass");
    benchmark::DoNotOptimize(p.a->XPX.data());
  }
  state.SetItemsProcessed(state.iterations() * kLines);  // lines per second
}
BENCHMARK(BM_KorbalCsvDataPass)
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Self lines analysed (--selfs) against crosses alone, on one model of 4 lines a set with
// ISELF 0 (441 columns with the self families): the time per line should not change.
void selfs_pass(benchmark::State& state, bool selfs) {
  const Files& f = files();
  const std::filesystem::path data = f.dir / (selfs ? "big4_selfs.dat" : "big4.dat");
  trialdata::write_data(data, kLines, 4, selfs);
  korbal::Control c = trialdata::every_effect(4, 3);
  c.ISELF = 0;
  c.selfs = selfs;
  const korbal::Model m = korbal::allocate_columns(c);
  c.NLOC = m.NLOC;
  c.NREP = m.NREP;
  auto a = std::make_unique<korbal::Arrays>();
  const rec::Format fmt = rec::Format::compile(kFormat);
  std::istringstream in;
  std::ostringstream out;
  std::int64_t self_lines = 0;
  for (auto _ : state) {
    rec::Io io({}, in, out, f.dir);
    io.open(1, data.string(), rec::OpenMode::Input);
    std::fill(a->XPX.begin(), a->XPX.end(), 0.0);
    std::fill(a->XPY.begin(), a->XPY.end(), 0.0);
    std::fill(a->YPY.begin(), a->YPY.end(), 0.0);
    a->NOBS = 0;
    const korbal::PassResult r = korbal::accumulate(io, c, m, *a, fmt, 1);
    if (r.bad_lines != 0 || a->NOBS != kLines) state.SkipWithError("unexpected data pass");
    self_lines = r.self_lines;
    benchmark::DoNotOptimize(a->XPX.data());
  }
  state.counters["columns"] = m.SDFL;
  state.counters["self_lines"] = static_cast<double>(self_lines);
  state.SetItemsProcessed(state.iterations() * kLines);  // lines per second
}
void BM_KorbalDataPassCrossesOnly(benchmark::State& state) { selfs_pass(state, false); }
void BM_KorbalDataPassWithSelfs(benchmark::State& state) { selfs_pass(state, true); }
BENCHMARK(BM_KorbalDataPassCrossesOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KorbalDataPassWithSelfs)->Unit(benchmark::kMillisecond)->UseRealTime();

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
  for (auto _ : state)
    if (trialdata::run_korbal(f.dir) != 0) state.SkipWithError("korbal run failed");
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_KorbalWholeRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
