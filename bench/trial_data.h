// The generated trial of the benchmarks, also the model of the CSV data fuzz target:
// locations, replications, two sets, clones and every effect, all fourteen slots in use.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"

namespace trialdata {

// The control record of the trial for `nlines` lines and `nv` variables with cross
// products.
inline korbal::Control every_effect(int nlines, int nv) {
  korbal::Control c;
  c.NLINES = nlines;
  c.NV = nv;
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

constexpr const char* kFormat = "(6I3,3F8.2)";

// The control file of every_effect(5, 3) reading the data file below.
inline std::string control_file() {
  return std::string("  5  3  1 -1  1  1  2  2  1  1  0  2  2  1  1\n"
                     "BENCHMARK: ONE MILLION LINES, ALL FOURTEEN SLOTS\n"
                     "Y1                  Y2                  Y3\n") +
         kFormat + "\n";
}

// The folder that the benchmarks share, created when missing: a data file written by
// one benchmark is reused by the others.
inline std::filesystem::path shared_dir() {
  const auto dir = std::filesystem::temp_directory_path() / "korbal-bench-datapass";
  std::filesystem::create_directories(dir);
  return dir;
}

// Writes `lines` random data lines of every_effect(nlines, 3) in kFormat to `path`, unless
// the file is there already (the generator's seed is fixed, so it is the same file).
// With `selfs` the male is drawn like the female, so about one line in nlines is a self.
inline void write_data(const std::filesystem::path& path, int lines, int nlines = 5,
                       bool selfs = false) {
  if (std::filesystem::exists(path)) return;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> loc(1, 2), rep(1, 2), set(1, 2), line(1, nlines), clone(1, 2);
  std::uniform_real_distribution<double> y(0.0, 999.0);
  std::string out;
  out.reserve(static_cast<std::size_t>(lines) * 44);
  char buf[64];
  for (int k = 0; k < lines; ++k) {
    int f = line(rng), m;
    do m = line(rng); while (m == f && !selfs);
    std::snprintf(buf, sizeof buf, "%3d%3d%3d%3d%3d%3d%8.2f%8.2f%8.2f\n", loc(rng), rep(rng),
                  set(rng), f, m, clone(rng), y(rng), y(rng), y(rng));
    out += buf;
  }
  std::ofstream(path, std::ios::binary) << out;
}

// korbal's whole run on big.ctl and big.dat in `dir` (report big.out); its exit status.
inline int run_korbal(const std::filesystem::path& dir) {
  std::istringstream in;
  std::ostringstream out;
  rec::Io io({"big.ctl", "big.out", "big.dat"}, in, out, dir);
  korbal::SystemClock clock;
  return korbal::run(io, clock);
}

}  // namespace trialdata
