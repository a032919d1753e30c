// Trials over several locations with the genetic effects by location (GXL, SXL, MXL,
// RXL): the pooled analysis against the analyses of each location, against a dense
// least-squares fit of the design matrix built here, and the expected mean squares and
// meridox's components of a balanced trial against their closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "records/csv.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::run_in;
using testsupport::source_path;
using testsupport::TempDir;

const std::string kKorbal = testsupport::program("korbal");
const std::string kMeridox = testsupport::program("meridox");

// One plot: location, replication within it, female, male, response.
struct Plot {
  int loc, rep, fem, male;
  double y;
};

// A CSV table as rows of named fields.
std::vector<std::map<std::string, std::string>> table(const fs::path& file) {
  const auto recs = rec::csv::parse(read_file(file));
  std::vector<std::map<std::string, std::string>> rows;
  for (std::size_t r = 1; r < recs.size(); ++r) {
    auto& row = rows.emplace_back();
    for (std::size_t c = 0; c < recs[0].size() && c < recs[r].size(); ++c) row[recs[0][c]] = recs[r][c];
  }
  return rows;
}

struct Line {
  int df = 0;
  double ss = 0.0, ms = 0.0;
};
using Anova = std::map<std::string, Line>;

// korbal --csv csv in `dir` on the dimension record `dims` (set 1 only) and the plots; with
// `by_location` the plots carry their location. Returns the analysis of variance.
Anova korbal_anova(const fs::path& dir, const std::string& dims, const std::vector<Plot>& plots,
                   bool by_location) {
  std::string data;
  char buf[64];
  for (const Plot& p : plots) {
    if (by_location)
      std::snprintf(buf, sizeof buf, "%3d%3d  1%3d%3d  0%14.6f\n", p.loc, p.rep, p.fem, p.male, p.y);
    else
      std::snprintf(buf, sizeof buf, "%3d  1%3d%3d  0%14.6f\n", p.rep, p.fem, p.male, p.y);
    data += buf;
  }
  testsupport::write_file(dir / "t.dat", data);
  testsupport::write_file(dir / "t.ctl", dims + "\nTRIAL OVER LOCATIONS\nY\n" +
                                             (by_location ? "(6I3,F14.6)\n" : "(5I3,F14.6)\n"));
  fs::remove_all(dir / "csv");
  EXPECT_EQ(run_in(dir, kKorbal + " --csv csv t.ctl t.out t.dat"), 0) << read_file(dir / "console.txt");
  Anova a;
  auto number = [](const std::string& v) { return v == "NA" ? std::nan("") : std::stod(v); };
  for (const auto& r : table(dir / "csv/anova.csv"))
    a[r.at("source")] = {std::stoi(r.at("df")), number(r.at("ss")), number(r.at("ms"))};
  return a;
}

// A balanced trial: every cross of `p` lines (or those with female < male when
// `half`) in every replication of every location, with pseudo-random responses.
std::vector<Plot> balanced(int p, bool half, int nloc, int nrep, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<Plot> plots;
  for (int l = 1; l <= nloc; ++l)
    for (int r = 1; r <= nrep; ++r)
      for (int f = 1; f <= p; ++f)
        for (int m = 1; m <= p; ++m)
          if (f != m && (!half || f < m))
            plots.push_back({l, r, f, m, 50.0 + static_cast<double>(gen() % 20000) / 1000.0});
  return plots;
}

// The pooled GCA (SCA, MATR, RECP) sum of squares plus that of its effect by location
// is the sum over the locations of their own GCA (...) sums of squares, with
// (E - 1) x DF(GCA) degrees of freedom by location; the family by location effect is
// left with nothing.
TEST(EffectsByLocation, BalancedPooledAnalysisAddsUpToThePerLocationAnalyses) {
  const int p = 4, nloc = 3, nrep = 2;
  const std::vector<Plot> plots = balanced(p, false, nloc, nrep, 20);
  TempDir tmp;
  // ISELF -1, IMATR 1, IRECP 1, NREP 2, NLOC 3, IFXL 1; IGXL, ISXL, IMXL, IRXL 1.
  const Anova pooled = korbal_anova(
      tmp.path(), "  4  1  0 -1  1  1  2  3  1  1  0  1  0  0  0  1  1  1  1", plots, true);
  std::vector<Anova> each;
  for (int l = 1; l <= nloc; ++l) {
    std::vector<Plot> here;
    for (const Plot& x : plots)
      if (x.loc == l) here.push_back(x);
    each.push_back(korbal_anova(tmp.path(), "  4  1  0 -1  1  1  2  0  0  1  0  1", here, false));
  }
  const std::pair<const char*, const char*> splits[] = {
      {"GCA", "GXL"}, {"SCA", "SXL"}, {"MATR", "MXL"}, {"RECP", "RXL"}};
  for (const auto& [effect, by_loc] : splits) {
    SCOPED_TRACE(effect);
    ASSERT_TRUE(pooled.count(effect) && pooled.count(by_loc));
    double sum = 0.0;
    for (const Anova& a : each) {
      ASSERT_TRUE(a.count(effect));
      EXPECT_EQ(a.at(effect).df, pooled.at(effect).df);
      sum += a.at(effect).ss;
    }
    EXPECT_GT(pooled.at(effect).df, 0);
    EXPECT_EQ(pooled.at(by_loc).df, (nloc - 1) * pooled.at(effect).df);
    EXPECT_NEAR(pooled.at(effect).ss + pooled.at(by_loc).ss, sum, 1e-9 * sum);
  }
  EXPECT_EQ(pooled.count("FXL") ? pooled.at("FXL").df : 0, 0);
}

// The sequential analysis of a published trial over locations (crosses only) against
// the fit of its design matrix, written out here column by column: the sum of squares
// of an effect is what its columns add to the fit of the effects before it.
std::vector<Line> dense_sequential(const std::vector<Plot>& plots, int p, int nloc, int nrep,
                                   bool gxl, bool sxl) {
  const int pairs = p * (p - 1) / 2;
  auto pair_of = [p](int a, int b) {
    const int lo = std::min(a, b), hi = std::max(a, b);
    int k = 0;
    for (int i = 1; i < lo; ++i) k += p - i;
    return k + hi - lo - 1;
  };
  // The effects' columns: MEAN, LOC, REPS (within locations), SETS, GCA, SCA, GXL, SXL.
  const std::vector<int> sizes = {1, nloc, nloc * nrep, 1, p, pairs, gxl ? nloc * p : 0,
                                  sxl ? nloc * pairs : 0};
  const std::size_t n = plots.size();
  std::vector<std::vector<std::vector<double>>> effects;
  for (int size : sizes) effects.emplace_back(size, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    const Plot& x = plots[i];
    const int l = x.loc - 1, pr = pair_of(x.fem, x.male);
    effects[0][0][i] = 1;
    effects[1][l][i] = 1;
    effects[2][l * nrep + x.rep - 1][i] = 1;
    effects[3][0][i] = 1;
    effects[4][x.fem - 1][i] += 1;
    effects[4][x.male - 1][i] += 1;
    effects[5][pr][i] = 1;
    if (gxl) {
      effects[6][l * p + x.fem - 1][i] += 1;
      effects[6][l * p + x.male - 1][i] += 1;
    }
    if (sxl) effects[7][l * pairs + pr][i] = 1;
  }
  // korbal holds a response in single precision.
  std::vector<double> y(n);
  for (std::size_t i = 0; i < n; ++i) y[i] = static_cast<float>(plots[i].y);
  // Gram-Schmidt (twice) over the columns in model order; a column nothing is left of
  // after the columns before it adds no degree of freedom.
  std::vector<std::vector<double>> basis;
  std::vector<Line> lines;
  auto dot = [n](const std::vector<double>& a, const std::vector<double>& b) {
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
  };
  for (auto& cols : effects) {
    Line line;
    for (std::vector<double>& v : cols) {
      const double norm0 = dot(v, v);
      for (int pass = 0; pass < 2; ++pass)
        for (const auto& q : basis) {
          const double c = dot(q, v);
          for (std::size_t i = 0; i < n; ++i) v[i] -= c * q[i];
        }
      const double left = dot(v, v);
      if (norm0 == 0.0 || left <= 1e-9 * norm0) continue;
      for (double& e : v) e /= std::sqrt(left);
      const double c = dot(v, y);
      line.ss += c * c;
      ++line.df;
      basis.push_back(v);
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(EffectsByLocation, PublishedTrialsAgreeWithADenseFitOfTheDesignMatrix) {
  const struct {
    const char* file;
    int p, nloc, nrep;
    std::string dims;
  } cases[] = {
      // IGXL 1, ISXL 1; no family by location.
      {"zhang05", 5, 2, 2, "  5  1  0 -1  0  0  2  2  0  1  0  1  0  0  0  1  1"},
      {"diallelMET", 6, 10, 5, "  6  1  0 -1  0  0  5 10  0  1  0  1  0  0  0  1  1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto rows = table(source_path("tests/data/" + std::string(c.file) + ".csv"));
    // Parents numbered in the order they first appear; the responses as the data file
    // gives them (six decimals).
    std::map<std::string, int> parent;
    std::vector<Plot> plots;
    for (const auto& r : rows) {
      if (r.at("Par1") == r.at("Par2")) continue;  // crosses only
      for (const char* k : {"Par1", "Par2"})
        if (!parent.count(r.at(k))) parent[r.at(k)] = static_cast<int>(parent.size()) + 1;
      plots.push_back({std::stoi(r.at("Env")), std::stoi(r.at("Block")), parent[r.at("Par1")],
                       parent[r.at("Par2")], std::round(std::stod(r.at("Yield")) * 1e6) / 1e6});
    }
    ASSERT_EQ(static_cast<int>(parent.size()), c.p);
    TempDir tmp;
    const Anova a = korbal_anova(tmp.path(), c.dims, plots, true);
    const std::vector<Line> dense = dense_sequential(plots, c.p, c.nloc, c.nrep, true, true);
    const char* codes[] = {"MEAN", "LOC", "REPS", "SETS", "GCA", "SCA", "GXL", "SXL"};
    for (int e = 0; e < 8; ++e) {
      SCOPED_TRACE(codes[e]);
      ASSERT_TRUE(a.count(codes[e]));
      EXPECT_EQ(a.at(codes[e]).df, dense[e].df);
      EXPECT_NEAR(a.at(codes[e]).ss, dense[e].ss, 1e-8 * (1.0 + dense[e].ss));
    }
    EXPECT_GT(a.at("GXL").df, 0);
    EXPECT_GT(a.at("SXL").df, 0);
  }
}

// A balanced trial of p lines (each cross once, no selfs), r replications in E
// locations: the expected mean squares on a plot basis, and meridox's components and
// phenotypic variance from them.
TEST(EffectsByLocation, BalancedExpectedMeanSquaresAndComponents) {
  const int p = 5, nloc = 3, r = 2;
  const double E = nloc, k = p - 2;  // the GCA coefficient of a trial without selfs
  TempDir tmp;
  const Anova a = korbal_anova(tmp.path(), "  5  1  0 -1  0  0  2  3  0  1  0  1  0  0  0  1  1",
                               balanced(p, true, nloc, r, 7), true);
  std::map<std::string, std::map<std::string, double>> ems;
  for (const auto& row : table(tmp / "csv/ems.csv"))
    ems[row.at("effect")][row.at("component")] = std::stod(row.at("coefficient"));
  const std::map<std::string, std::map<std::string, double>> want = {
      {"GCA", {{"ERR", 1}, {"SXL", r}, {"GXL", r * k}, {"SCA", r * E}, {"GCA", r * E * k}}},
      {"SCA", {{"ERR", 1}, {"SXL", r}, {"SCA", r * E}}},
      {"GXL", {{"ERR", 1}, {"SXL", r}, {"GXL", r * k}}},
      {"SXL", {{"ERR", 1}, {"SXL", r}}},
  };
  for (const auto& [effect, coefs] : want) {
    ASSERT_TRUE(ems.count(effect)) << effect;
    for (const auto& [component, value] : coefs) EXPECT_TRUE(ems.at(effect).count(component)) << component;
    for (const auto& [component, value] : ems.at(effect)) {
      const double expected = coefs.count(component) ? coefs.at(component) : 0.0;
      EXPECT_NEAR(value, expected, 1e-9) << effect << " " << component;
    }
  }

  ASSERT_EQ(run_in(tmp.path(), kMeridox + " --inbreeding 0 --csv csv MERIDOX_IN.DAT t.vc"), 0)
      << read_file(tmp / "console.txt");
  std::map<std::string, double> vc;
  for (const auto& row : table(tmp / "csv/components.csv"))
    vc[row.at("component")] = std::stod(row.at("estimate"));
  auto ms = [&a](const char* e) { return a.at(e).ms; };
  const std::map<std::string, double> closed = {
      {"SXL", (ms("SXL") - ms("Error")) / r},
      {"GXL", (ms("GXL") - ms("SXL")) / (r * k)},
      {"SCA", (ms("SCA") - ms("SXL")) / (r * E)},
      {"GCA", (ms("GCA") - ms("GXL") - ms("SCA") + ms("SXL")) / (r * E * k)},
      {"ERR", ms("Error")}};
  for (const auto& [component, value] : closed) {
    ASSERT_TRUE(vc.count(component)) << component;
    EXPECT_NEAR(vc.at(component), value, 1e-5 * (std::fabs(value) + ms("Error"))) << component;
  }
  // sigma2_P: a line carries two GCA and two GXL effects, one SCA and one SXL.
  double sigma2_p = std::nan("");
  for (const auto& row : table(tmp / "csv/genetics.csv"))
    if (row.at("parameter") == "sigma2_P") sigma2_p = std::stod(row.at("estimate"));
  EXPECT_NEAR(sigma2_p, 2 * vc["GCA"] + 2 * vc["GXL"] + vc["SCA"] + vc["SXL"] + vc["ERR"],
              1e-9 * std::fabs(sigma2_p));
}

}  // namespace
