// Trials over several locations with the genetic effects by location (GXL, SXL, MXL,
// RXL): the pooled analysis against the analyses of each location, against a dense
// least-squares fit of the design matrix built here, and the expected mean squares and
// meridox's components of a balanced trial against their closed forms, with and without
// self lines; and REML of a balanced method 2 trial against the analysis of variance.
#include <gtest/gtest.h>

#include <array>
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

// korbal --csv csv in `dir` on the dimension record `dims` (set 1 only, with its line end)
// and the plots; with `by_location` the plots carry their location, with `selfs` the self
// lines are analysed. Returns the analysis of variance.
Anova korbal_anova(const fs::path& dir, const std::string& dims, const std::vector<Plot>& plots,
                   bool by_location, bool selfs = false) {
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
  testsupport::write_file(dir / "t.ctl", dims + "TRIAL OVER LOCATIONS\nY\n" +
                                             (by_location ? "(6I3,F14.6)\n" : "(5I3,F14.6)\n"));
  fs::remove_all(dir / "csv");
  EXPECT_EQ(run_in(dir, kKorbal + (selfs ? " --selfs" : "") + " --csv csv t.ctl t.out t.dat"), 0)
      << read_file(dir / "console.txt");
  Anova a;
  auto number = [](const std::string& v) { return v == "NA" ? std::nan("") : std::stod(v); };
  for (const auto& r : table(dir / "csv/anova.csv"))
    a[r.at("source")] = {std::stoi(r.at("df")), number(r.at("ss")), number(r.at("ms"))};
  return a;
}

// A balanced trial: every cross of `p` lines (or those with female < male when
// `half`), and with `selfs` every self line, in every replication of every location,
// with pseudo-random responses.
std::vector<Plot> balanced(int p, bool half, bool selfs, int nloc, int nrep, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<Plot> plots;
  for (int l = 1; l <= nloc; ++l)
    for (int r = 1; r <= nrep; ++r)
      for (int f = 1; f <= p; ++f)
        for (int m = 1; m <= p; ++m)
          if ((f != m || selfs) && (!half || f <= m))
            plots.push_back({l, r, f, m, 50.0 + static_cast<double>(gen() % 20000) / 1000.0});
  return plots;
}

// The pooled GCA (SCA, MATR, RECP) sum of squares plus that of its effect by location
// is the sum over the locations of their own GCA (...) sums of squares, with
// (E - 1) x DF(GCA) degrees of freedom by location; the family by location effect is
// left with nothing. With self lines (their columns at the head of SCA) as without.
TEST(EffectsByLocation, BalancedPooledAnalysisAddsUpToThePerLocationAnalyses) {
  const int p = 4, nloc = 3, nrep = 2;
  const struct {
    const char* name;
    int iself;
    bool selfs;
  } cases[] = {{"crosses only", -1, false}, {"self lines in SCA", 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Plot> plots = balanced(p, false, c.selfs, nloc, nrep, 20);
    TempDir tmp;
    // IMATR 1, IRECP 1, NREP 2, NLOC 3, IFXL 1; IGXL, ISXL, IMXL, IRXL 1.
    const Anova pooled = korbal_anova(
        tmp.path(),
        testsupport::dims({p, 1, 0, c.iself, 1, 1, nrep, nloc, 1, 1, 0, 1, 0, 0, 0, 1, 1, 1, 1}),
        plots, true, c.selfs);
    std::vector<Anova> each;
    for (int l = 1; l <= nloc; ++l) {
      std::vector<Plot> here;
      for (const Plot& x : plots)
        if (x.loc == l) here.push_back(x);
      each.push_back(korbal_anova(tmp.path(),
                                  testsupport::dims({p, 1, 0, c.iself, 1, 1, nrep, 0, 0, 1, 0, 1}),
                                  here, false, c.selfs));
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
    EXPECT_EQ(pooled.at("SCA").df, c.selfs ? p * (p + 1) / 2 - p : p * (p - 1) / 2 - p);
    EXPECT_EQ(pooled.count("FXL") ? pooled.at("FXL").df : 0, 0);
  }
}

// The switches of a model over locations (set 1, no family by location effect).
struct Switches {
  int iself;  // -1 no self columns, 0 at the head of SCA, 1 a SELF block
  bool matr, recp, gxl, sxl, mxl, rxl;
};

// The sequential analysis of a trial over locations against the fit of its design
// matrix, written out here column by column: the sum of squares of an effect is what its
// columns add to the fit of the effects before it. A cross f x m in location l: GCA f
// and m +1, its pair in SCA, MATR f +1 and m -1, RECP +1 (f < m) or -1, and the same in
// the block of l of GXL, SXL, MXL, RXL; a self line of i: GCA i +2, the self column of i
// (SELF, or the head of SCA), GXL +2 in (l, i), its self column in the block of l of SXL
// when the self columns head SCA, nothing in MATR, RECP, MXL and RXL. Returns the lines
// by effect code.
Anova dense_sequential(const std::vector<Plot>& plots, int p, int nloc, int nrep, const Switches& w) {
  const int pairs = p * (p - 1) / 2, head = w.iself == 0 ? p : 0;
  auto pair_of = [p](int a, int b) {
    const int lo = std::min(a, b), hi = std::max(a, b);
    int k = 0;
    for (int i = 1; i < lo; ++i) k += p - i;
    return k + hi - lo - 1;
  };
  // The effects in model order and their columns (none when switched off).
  const std::vector<std::pair<const char*, int>> blocks = {
      {"MEAN", 1}, {"LOC", nloc}, {"REPS", nloc * nrep}, {"SETS", 1}, {"GCA", p},
      {"SELF", w.iself >= 1 ? p : 0}, {"SCA", head + pairs}, {"MATR", w.matr ? p : 0},
      {"RECP", w.recp ? pairs : 0}, {"GXL", w.gxl ? nloc * p : 0},
      {"SXL", w.sxl ? nloc * (head + pairs) : 0}, {"MXL", w.mxl ? nloc * p : 0},
      {"RXL", w.rxl ? nloc * pairs : 0}};
  enum { kMean, kLoc, kReps, kSets, kGca, kSelf, kSca, kMatr, kRecp, kGxl, kSxl, kMxl, kRxl };
  const std::size_t n = plots.size();
  std::vector<std::vector<std::vector<double>>> effects;
  for (const auto& b : blocks) effects.emplace_back(b.second, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    const Plot& x = plots[i];
    const int l = x.loc - 1, f = x.fem - 1, m = x.male - 1;
    auto at = [&](int e, int col, double v) {
      if (!effects[e].empty()) effects[e][col][i] += v;
    };
    at(kMean, 0, 1);
    at(kLoc, l, 1);
    at(kReps, l * nrep + x.rep - 1, 1);
    at(kSets, 0, 1);
    at(kGca, f, 1);
    at(kGca, m, 1);
    at(kGxl, l * p + f, 1);
    at(kGxl, l * p + m, 1);
    if (f == m) {
      at(w.iself >= 1 ? kSelf : kSca, f, 1);
      if (head > 0) at(kSxl, l * (head + pairs) + f, 1);
      continue;
    }
    const int pr = pair_of(x.fem, x.male);
    const double sgn = f < m ? 1.0 : -1.0;
    at(kSca, head + pr, 1);
    at(kSxl, l * (head + pairs) + head + pr, 1);
    at(kMatr, f, 1);
    at(kMatr, m, -1);
    at(kMxl, l * p + f, 1);
    at(kMxl, l * p + m, -1);
    at(kRecp, pr, sgn);
    at(kRxl, l * pairs + pr, sgn);
  }
  // korbal holds a response in single precision.
  std::vector<double> y(n);
  for (std::size_t i = 0; i < n; ++i) y[i] = static_cast<float>(plots[i].y);
  // Gram-Schmidt (twice) over the columns in model order; a column nothing is left of
  // after the columns before it adds no degree of freedom.
  std::vector<std::vector<double>> basis;
  Anova lines;
  auto dot = [n](const std::vector<double>& a, const std::vector<double>& b) {
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
  };
  for (std::size_t e = 0; e < blocks.size(); ++e) {
    if (effects[e].empty()) continue;
    Line& line = lines[blocks[e].first];
    for (std::vector<double>& v : effects[e]) {
      const double norm0 = dot(v, v);
      for (int pass = 0; pass < 2; ++pass)
        for (const auto& q : basis) {
          const double c = dot(q, v);
          for (std::size_t i = 0; i < n; ++i) v[i] -= c * q[i];
        }
      const double left = dot(v, v);
      if (norm0 == 0.0 || left <= 1e-9 * norm0) continue;
      for (double& x : v) x /= std::sqrt(left);
      const double c = dot(v, y);
      line.ss += c * c;
      ++line.df;
      basis.push_back(v);
    }
  }
  return lines;
}

// A published trial (its parents numbered in the order they first appear, the
// responses as the data file gives them, six decimals), crosses only or with its self
// lines.
std::vector<Plot> published(const std::string& file, bool selfs, int& parents) {
  std::map<std::string, int> parent;
  std::vector<Plot> plots;
  for (const auto& r : table(source_path("tests/data/" + file + ".csv"))) {
    if (!selfs && r.at("Par1") == r.at("Par2")) continue;
    for (const char* k : {"Par1", "Par2"})
      if (!parent.count(r.at(k))) parent[r.at(k)] = static_cast<int>(parent.size()) + 1;
    plots.push_back({std::stoi(r.at("Env")), std::stoi(r.at("Block")), parent[r.at("Par1")],
                     parent[r.at("Par2")], std::round(std::stod(r.at("Yield")) * 1e6) / 1e6});
  }
  parents = static_cast<int>(parent.size());
  return plots;
}

// The published trials over locations (half diallels; zhang05 and diallelMET hold self
// lines), and a full diallel with selfs, unbalanced (plots lost, plots doubled), for the
// maternal and reciprocal effects by location.
TEST(EffectsByLocation, SequentialAnalysisAgreesWithADenseFitOfTheDesignMatrix) {
  const Switches gs{0, false, false, true, true, false, false};  // GXL and SXL
  const Switches all{0, true, true, true, true, true, true};
  Switches all_self_block = all;
  all_self_block.iself = 1;
  Switches crosses = gs;
  crosses.iself = -1;
  const struct {
    const char* name;
    const char* file;  // nullptr: the simulated full diallel
    int nloc, nrep;
    bool selfs;
    Switches w;
    std::vector<std::pair<std::string, int>> df;  // degrees of freedom to expect
  } cases[] = {
      {"zhang05, crosses only", "zhang05", 2, 2, false, crosses,
       {{"GCA", 4}, {"SCA", 5}, {"GXL", 4}, {"SXL", 5}}},
      {"diallelMET, crosses only", "diallelMET", 10, 5, false, crosses, {{"GXL", 45}, {"SXL", 81}}},
      {"zhang05 with selfs", "zhang05", 2, 2, true, gs, {{"SCA", 10}, {"GXL", 4}, {"SXL", 10}}},
      {"zhang05 with selfs, every switch", "zhang05", 2, 2, true, all,
       {{"SCA", 10}, {"MATR", 0}, {"RECP", 0}, {"GXL", 4}, {"SXL", 10}, {"MXL", 0}, {"RXL", 0}}},
      {"zhang05 with selfs in SELF", "zhang05", 2, 2, true, all_self_block,
       {{"SELF", 5}, {"SCA", 5}, {"GXL", 4}, {"SXL", 10}}},
      {"diallelMET with selfs", "diallelMET", 10, 5, true, gs, {{"SCA", 15}, {"GXL", 45}, {"SXL", 135}}},
      {"full diallel with selfs", nullptr, 3, 2, true, all,
       {{"SCA", 10}, {"MATR", 4}, {"RECP", 6}, {"GXL", 8}, {"SXL", 20}, {"MXL", 8}, {"RXL", 12}}},
      {"full diallel with selfs in SELF", nullptr, 3, 2, true, all_self_block,
       {{"SELF", 5}, {"SCA", 5}, {"MATR", 4}, {"RECP", 6}, {"GXL", 8}, {"SXL", 20}, {"MXL", 8},
        {"RXL", 12}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int p = 5;
    std::vector<Plot> plots;
    if (c.file) {
      plots = published(c.file, c.selfs, p);
    } else {
      int k = 0;
      for (const Plot& x : balanced(p, false, true, c.nloc, c.nrep, 11)) {
        if (++k % 7 == 3) continue;
        plots.push_back(x);
        if (k % 5 == 1) plots.push_back(x);
      }
    }
    const Switches& w = c.w;
    TempDir tmp;
    const Anova a = korbal_anova(
        tmp.path(),
        testsupport::dims({p, 1, 0, w.iself, w.matr, w.recp, c.nrep, c.nloc, 0, 1, 0, 1, 0, 0, 0,
                           w.gxl, w.sxl, w.mxl, w.rxl}),
        plots, true, c.selfs);
    const Anova dense = dense_sequential(plots, p, c.nloc, c.nrep, w);
    for (const auto& [code, line] : dense) {
      SCOPED_TRACE(code);
      ASSERT_TRUE(a.count(code));
      EXPECT_EQ(a.at(code).df, line.df);
      EXPECT_NEAR(a.at(code).ss, line.ss, 1e-8 * (1.0 + line.ss));
    }
    for (const auto& [code, df] : c.df) EXPECT_EQ(dense.count(code) ? dense.at(code).df : -1, df) << code;
  }
}

// A balanced trial of p lines (each cross once, and with self lines Griffing's
// method 2), r replications in E locations: the expected mean squares on a plot basis,
// and meridox's components and phenotypic variance from them. The GCA coefficient k is
// p - 2 for crosses only and p + 2 with the self lines.
TEST(EffectsByLocation, BalancedExpectedMeanSquaresAndComponents) {
  const int p = 5, nloc = 3, r = 2;
  const struct {
    const char* name;
    int iself;
    bool selfs;
    double k;
  } cases[] = {{"crosses only", -1, false, p - 2.0}, {"method 2", 0, true, p + 2.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double E = nloc, k = c.k;
    TempDir tmp;
    const Anova a = korbal_anova(
        tmp.path(), testsupport::dims({p, 1, 0, c.iself, 0, 0, r, nloc, 0, 1, 0, 1, 0, 0, 0, 1, 1}),
        balanced(p, true, c.selfs, nloc, r, 7), true, c.selfs);
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
}

// Griffing's method 2 over E locations, balanced, with GCA, SCA and both by location
// random: the covariances of the family means are one strata per effect, so REML
// (gcasca --reml) equals the estimates from the expected mean squares (meridox) when
// these are all positive.
TEST(EffectsByLocation, BalancedMethodTwoRemlIsTheAnalysisOfVariance) {
  const int p = 5, nloc = 3, nrep = 3;
  std::mt19937 gen(5);
  std::normal_distribution<double> z(0.0, 1.0);
  std::vector<double> g(p + 1), gl((p + 1) * (nloc + 1));
  std::map<std::array<int, 3>, double> s;  // (location 0 for SCA itself, low, high)
  for (double& v : g) v = 1.5 * z(gen);
  for (double& v : gl) v = 0.6 * z(gen);
  for (int l = 0; l <= nloc; ++l)
    for (int i = 1; i <= p; ++i)
      for (int j = i; j <= p; ++j) s[{l, i, j}] = (l == 0 ? 1.0 : 0.6) * z(gen);
  std::vector<Plot> plots = balanced(p, true, true, nloc, nrep, 3);
  for (Plot& x : plots)
    x.y = 50.0 + g[x.fem] + g[x.male] + gl[x.loc * (p + 1) + x.fem] + gl[x.loc * (p + 1) + x.male] +
          s[{0, x.fem, x.male}] + s[{x.loc, x.fem, x.male}] + z(gen);
  TempDir tmp;
  korbal_anova(tmp.path(), testsupport::dims({p, 1, 0, 0, 0, 0, nrep, nloc, 0, 1, 0, 1, 0, 0, 0, 1, 1}),
               plots, true, true);
  ASSERT_EQ(run_in(tmp.path(), kMeridox + " --csv csv MERIDOX_IN.DAT t.vc"), 0)
      << read_file(tmp / "console.txt");
  ASSERT_EQ(run_in(tmp.path(), testsupport::program("gcasca") +
                                   " --reml --selfs --csv reml t.ctl t.dat t.gca"),
            0)
      << read_file(tmp / "console.txt");
  std::map<std::string, double> anova, reml;
  for (auto [file, to] : {std::pair{"csv/components.csv", &anova}, {"reml/components.csv", &reml}})
    for (const auto& row : table(tmp / file)) (*to)[row.at("component")] = std::stod(row.at("estimate"));
  for (const char* c : {"GCA", "SCA", "GXL", "SXL", "ERR"}) {
    ASSERT_TRUE(anova.count(c) && reml.count(c)) << c;
    ASSERT_GT(anova.at(c), 0.0) << c;  // inside the parameter space
    EXPECT_NEAR(reml.at(c), anova.at(c), 1e-5 * anova.at(c)) << c;
  }
  // The report's table of the iterations is headed by the components in model order.
  std::string head;
  for (const std::string& line : testsupport::lines_of(read_file(tmp / "t.gca")))
    if (line.find("LOG-LIKELIHOOD") != std::string::npos) head = line;
  EXPECT_EQ(head, "0        ITER      LOG-LIKELIHOOD           GCA           SCA           GXL"
                  "           SXL           ERR")
      << read_file(tmp / "t.gca");
}

}  // namespace
