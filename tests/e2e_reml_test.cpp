// gcasca --reml as a real executable: on balanced trials whose components are all
// positive, REML and meridox's method of moments are the same estimator, so the two
// tables of components must agree; and the REML tables feed gcasca's predictions as
// meridox's do.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "records/csv.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::run_in;
using testsupport::TempDir;

// components.csv of one trait: component -> estimate.
std::map<std::string, double> components(const fs::path& file) {
  std::map<std::string, double> out;
  const auto rows = rec::csv::parse(read_file(file));
  for (std::size_t r = 1; r < rows.size(); ++r)
    if (rows[r].size() > 4) out[rows[r][3]] = std::stod(rows[r][4]);
  return out;
}

// A balanced trial of p lines in r replications (every cross, or those with female <
// male when `half`), with random GCA, SCA, maternal and reciprocal effects of the given
// standard deviations and an error of 1.
std::string balanced_trial(int p, int r, bool half, double sg, double ss, double sm, double sr,
                           unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> z(0.0, 1.0);
  std::vector<double> g(p), m(p), s(p * p), rc(p * p);
  for (int i = 0; i < p; ++i) g[i] = sg * z(gen), m[i] = sm * z(gen);
  for (int i = 0; i < p * p; ++i) s[i] = ss * z(gen), rc[i] = sr * z(gen);
  std::string data;
  char buf[64];
  for (int rep = 1; rep <= r; ++rep)
    for (int f = 1; f <= p; ++f)
      for (int ml = 1; ml <= p; ++ml) {
        if (f == ml || (half && f > ml)) continue;
        const int lo = std::min(f, ml) - 1, hi = std::max(f, ml) - 1;
        const double sign = f < ml ? 1.0 : -1.0;
        const double y = 20.0 + 0.3 * rep + g[f - 1] + g[ml - 1] + s[lo * p + hi] +
                         m[f - 1] - m[ml - 1] + sign * rc[lo * p + hi] + z(gen);
        std::snprintf(buf, sizeof buf, "%3d  1%3d%3d  0%12.6f\n", rep, f, ml, y);
        data += buf;
      }
  return data;
}

TEST(Reml, BalancedTrialsGiveMeridoxsComponents) {
  const std::string korbal = testsupport::program("korbal"), meridox = testsupport::program("meridox"),
                    gcasca = testsupport::program("gcasca");
  struct Case {
    const char* name;
    int p, r;
    bool half;
    int matr, recp;
    double sg, ss, sm, sr;
    unsigned seed;
  } cases[] = {
      {"half diallel", 8, 3, true, 0, 0, 1.5, 1.2, 0, 0, 4},
      {"full diallel, maternal and reciprocal", 7, 2, false, 1, 1, 1.5, 1.2, 0.8, 0.7, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    testsupport::write_file(tmp / "t.dat", balanced_trial(c.p, c.r, c.half, c.sg, c.ss, c.sm, c.sr, c.seed));
    testsupport::write_file(tmp / "t.ctl", testsupport::dims({c.p, 1, 0, -1, c.matr, c.recp, c.r, 0, 0, 1, 0,
                                                              1, 0, 0, 0}) +
                                               "BALANCED TRIAL\nY\n(5I3,F12.6)\n");
    ASSERT_EQ(run_in(tmp.path(), korbal + " t.ctl t.out t.dat"), 0) << read_file(tmp / "console.txt");
    ASSERT_EQ(run_in(tmp.path(), meridox + " --csv mom MERIDOX_IN.DAT t.vc"), 0) << read_file(tmp / "console.txt");
    ASSERT_EQ(run_in(tmp.path(), gcasca + " --reml --csv reml t.ctl t.dat t.gca"), 0)
        << read_file(tmp / "console.txt");
    const auto mom = components(tmp / "mom/components.csv");
    const auto reml = components(tmp / "reml/components.csv");
    for (const char* code : {"GCA", "SCA", "MATR", "RECP", "ERR"}) {
      if (!reml.count(code)) {
        EXPECT_TRUE(std::string(code) == "MATR" || std::string(code) == "RECP") << code;
        continue;
      }
      ASSERT_TRUE(mom.count(code)) << code;
      ASSERT_GT(mom.at(code), 0.0) << code << ": the case needs positive components";
      EXPECT_NEAR(reml.at(code), mom.at(code), 1e-6 * mom.at(code)) << code;
    }
    // The iterations start from meridox's components.
    const auto history = rec::csv::parse(read_file(tmp / "reml/reml.csv"));
    int starts = 0;
    for (std::size_t r = 1; r < history.size(); ++r) {
      if (history[r].size() != 5 || history[r][1] != "0") continue;
      ++starts;
      EXPECT_NEAR(std::stod(history[r][4]), mom.at(history[r][3]), 1e-6 * mom.at(history[r][3]))
          << history[r][3];
    }
    EXPECT_EQ(starts, static_cast<int>(reml.size()));
    // The REML table feeds the predictions exactly as meridox's does.
    ASSERT_EQ(run_in(tmp.path(), gcasca + " --csv blup t.ctl t.dat reml/components.csv b.gca"), 0)
        << read_file(tmp / "console.txt");
    EXPECT_EQ(read_file(tmp / "blup/effects.csv"), read_file(tmp / "reml/effects.csv"));
  }
}

}  // namespace

namespace {

// In a half diallel over locations with GCA and SCA by location, the family by location
// columns are those of SXL: FXL has no degrees of freedom left, and its variance cannot
// be told from SXL's. It is not estimated, and the others are those of the model
// without it.
TEST(Reml, AnEffectWithoutDegreesOfFreedomIsNotEstimated) {
  const std::string gcasca = testsupport::program("gcasca");
  TempDir tmp;
  const fs::path src = testsupport::source_path("examples/met");
  fs::copy_file(src / "diallelMET.csv", tmp / "diallelMET.csv");
  std::string control = read_file(src / "met.ctl");
  const std::string without = control;
  ASSERT_EQ(control.substr(24, 3), "  0");
  control.replace(24, 3, "  1");  // IFXL
  testsupport::write_file(tmp / "fxl.ctl", control);
  testsupport::write_file(tmp / "met.ctl", without);
  ASSERT_EQ(run_in(tmp.path(), gcasca + " --reml --csv fxl fxl.ctl diallelMET.csv fxl.gca"), 0)
      << read_file(tmp / "console.txt");
  ASSERT_EQ(run_in(tmp.path(), gcasca + " --reml --csv met met.ctl diallelMET.csv met.gca"), 0)
      << read_file(tmp / "console.txt");
  EXPECT_NE(read_file(tmp / "fxl.gca").find(
                "\n         FXL         no degrees of freedom after the effects before it: not estimated\r\n"),
            std::string::npos);
  const auto with_fxl = components(tmp / "fxl/components.csv");
  for (const auto& [code, value] : components(tmp / "met/components.csv"))
    EXPECT_NEAR(with_fxl.at(code), value, 1e-9 * std::fabs(value) + 1e-12) << code;
  EXPECT_EQ(with_fxl.at("FXL"), 0.0);
}

}  // namespace
