// Predictions against independent computations: closed forms of balanced designs, and
// the mixed model written out with its explicit design matrices (V = sum of
// sigma2 Z Z' + sigma2(ERR) I, BLUP = sigma2 Z' P y, PEV = sigma2 - sigma2^2 z' P z) on
// small unbalanced designs with missing crosses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "gcasca/gcasca.h"
#include "gcasca_run.h"
#include "korbal/analysis.h"
#include "korbal/design.h"

namespace {

using testsupport::inverse;
using testsupport::Matrix;

// The y values as the data pass holds them: written with four decimals, read as float.
double as_read(double y, std::string& text) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%10.4f", y);
  text = buf;
  return static_cast<double>(std::stof(text));
}

using testsupport::dims;

// ---------------------------------------------------------------------------------

TEST(MixedModel, BalancedOneWayGivesTheClosedForms) {
  struct Case { int groups, n; double s2, s2e; } cases[] = {
      {3, 4, 2.0, 1.0}, {5, 2, 0.3, 1.7}, {2, 10, 1e-3, 5.0}, {6, 1, 4.0, 0.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.groups << " groups of " << c.n);
    const int cols = 1 + c.groups, N = c.groups * c.n;
    std::vector<double> XPX(cols * (cols + 1) / 2, 0.0), XPY(cols, 0.0), mean(c.groups, 0.0);
    double total = 0.0;
    for (int i = 0; i < c.groups; ++i)
      for (int j = 0; j < c.n; ++j) {
        const double y = 3.0 * std::sin(7.0 * i + 3.0 * j) + i;
        mean[i] += y / c.n;
        total += y;
        XPY[0] += y;
        XPY[1 + i] += y;
      }
    XPX[0] = N;
    for (int i = 1; i <= c.groups; ++i) {
      XPX[i * (i + 1) / 2] = c.n;              // (1, i+1)
      XPX[i + (i + 1) * i / 2] = c.n;          // (i+1, i+1)
    }
    const double lambda = c.s2e / c.s2;
    std::vector<double> ratio(cols, lambda);
    ratio[0] = 0.0;
    std::vector<char> keep(cols, 1);
    gcasca::Solution s;
    ASSERT_TRUE(gcasca::solve_mixed_model(XPX.data(), XPY.data(), cols, ratio, keep, s));
    const double grand = total / N;
    EXPECT_NEAR(s.value[0], grand, 1e-12 * std::abs(grand));
    EXPECT_TRUE(std::isnan(s.cinv[0]));
    const double shrink = c.n * c.s2 / (c.n * c.s2 + c.s2e);
    const double cinv = (1.0 + c.n / (c.groups * lambda)) / (c.n + lambda);
    for (int i = 0; i < c.groups; ++i) {
      const double blup = shrink * (mean[i] - grand);
      EXPECT_NEAR(s.value[1 + i], blup, 1e-10 * (std::abs(blup) + 1.0));
      EXPECT_NEAR(s.cinv[1 + i], cinv, 1e-12 * cinv);
    }
  }
}

TEST(MixedModel, ZeroVarianceAndDroppedColumnsArePredictedAsZero) {
  // Mean, a copy of the mean (dropped by the pivot test), two groups of variance 0.
  const std::vector<double> XPX = {4, 4, 4, 2, 2, 2, 2, 2, 0, 2};
  const std::vector<double> XPY = {10, 10, 3, 7};
  const double inf = std::numeric_limits<double>::infinity();
  gcasca::Solution s;
  ASSERT_TRUE(gcasca::solve_mixed_model(XPX.data(), XPY.data(), 4,
                                        std::vector<double>{0, 0, inf, inf},
                                        std::vector<char>{1, 0, 1, 1}, s));
  EXPECT_DOUBLE_EQ(s.value[0], 2.5);
  EXPECT_EQ(s.value[1], 0.0);
  EXPECT_EQ(s.value[2], 0.0);
  EXPECT_EQ(s.cinv[3], 0.0);
}

TEST(MixedModel, ExtremeComponentsGiveNoFalseReliability) {
  // Mean (fixed) and two GCA columns, two observations of each level.
  std::vector<gcasca::ColumnId> cols(3);
  cols[0].effect = "MEAN";
  cols[0].fixed = true;
  cols[1].effect = cols[2].effect = "GCA";
  const std::vector<double> XPX = {4, 2, 2, 2, 0, 2}, XPY = {10, 3, 7};
  const std::vector<char> keep = {1};
  enum Outcome { kZero, kPredicted, kSingular };
  struct Case { const char* gca; const char* err; Outcome outcome; } cases[] = {
      {"1e-320", "1", kZero},         // the ratio overflows: variance 0
      {"0", "1", kZero},
      {"1e6", "1e-6", kPredicted},    // almost no shrinkage
      {"1e300", "1e-10", kSingular},  // the ratio underflows: said, not a crash
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gca);
    const gcasca::TraitResult r = gcasca::predict_trait(
        "Y", cols, XPX.data(), XPY.data(), keep,
        {{"GCA", std::strtod(c.gca, nullptr)}, {"ERR", std::strtod(c.err, nullptr)}});
    ASSERT_EQ(r.predicted, c.outcome != kSingular) << r.reason;
    if (c.outcome == kSingular) continue;
    EXPECT_EQ(r.effects.at(0).positive, c.outcome == kPredicted);
    for (int i : {1, 2}) {
      EXPECT_TRUE(std::isfinite(r.blup[i]) && std::isfinite(r.se[i]));
      if (c.outcome == kZero) {
        EXPECT_EQ(r.blup[i], 0.0);
        EXPECT_EQ(r.se[i], 0.0);
        EXPECT_TRUE(std::isnan(r.reliability[i]));
      }
    }
    if (c.outcome == kPredicted) {
      EXPECT_NEAR(r.blup[2] - r.blup[1], 2.0, 1e-6);  // the group means 1.5, 3.5
    }
  }
}

// ---------------------------------------------------------------------------------
// Whole runs: korbal's data pass, the columns of the model, the solve and effects.csv.

// A diallel run: one trait "Y", every plot a line of "(6I3,F10.4)".
struct Plot {
  int loc, rep, set, fem, male, clone;
};

struct Layout {
  int p, sets, nloc, nrep, nclon, iself, imatr, irecp, ifxl, icxl, irxf;
};

// Self lines analysed (--selfs) and the switches of the genetic effects by location.
struct Extra {
  bool selfs = false;
  int gxl = 0, sxl = 0, mxl = 0, rxl = 0;
};

std::string control_for(const Layout& d, const Extra& x = {}) {
  std::string record = dims({d.p, 1, 0, d.iself, d.imatr, d.irecp, std::max(1, d.nrep),
                             std::max(1, d.nloc), d.ifxl, 1, 0, d.sets, d.nclon, d.icxl, d.irxf});
  if (x.gxl || x.sxl || x.mxl || x.rxl)
    record.insert(record.size() - 1, dims({x.gxl, x.sxl, x.mxl, x.rxl}).substr(0, 12));
  return record + "TEST DESIGN\nY\n(6I3,F10.4)\n";
}

std::string data_line(const Plot& x, const std::string& ytext) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%3d%3d%3d%3d%3d%3d", x.loc, x.rep, x.set, x.fem, x.male,
                x.clone);
  return buf + ytext + "\n";
}

std::string key(const char* effect, int loc, int rep, int set, int l1, int l2, int clone) {
  std::string k = std::string("Y,") + effect;
  for (int v : {loc, rep, set, l1, l2, clone}) k += "," + (v > 0 ? std::to_string(v) : "NA");
  return k;
}

TEST(Predictions, BalancedDiallelGcaIsTheShrunkLeastSquaresGca) {
  // p lines, crosses i < j, r replications (fixed): BLUP(g_i) =
  // (p-2) s2g / ((p-2) s2g + s2s + s2e / r) x (p X_i. - 2 X..) / (p (p-2)), X on cross means.
  struct Case { int p, r; double s2g, s2s, s2e; } cases[] = {
      {5, 2, 0.5, 0.2, 1.0}, {6, 3, 2.0, 0.05, 0.3}, {4, 1, 0.1, 0.4, 2.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "p " << c.p << " r " << c.r);
    std::string data;
    std::vector<double> line_total(c.p + 1, 0.0);
    double grand = 0.0;
    for (int i = 1; i <= c.p; ++i)
      for (int j = i + 1; j <= c.p; ++j) {
        double mean = 0.0;
        for (int rep = 1; rep <= c.r; ++rep) {
          std::string text;
          mean += as_read(10.0 + 0.7 * i - 0.3 * j + std::sin(i * j + 2.0 * rep), text) / c.r;
          data += data_line({1, rep, 1, i, j, 0}, text);
        }
        line_total[i] += mean;
        line_total[j] += mean;
        grand += mean;
      }
    const std::string comps =
        std::string(gcasca_test::kComponentsHeader) +
        gcasca_test::component_rows("Y", {{"GCA", std::to_string(c.s2g)},
                                          {"SCA", std::to_string(c.s2s)},
                                          {"ERR", std::to_string(c.s2e)}});
    const Layout d{c.p, 1, 0, c.r, 0, -1, 0, 0, 0, 0, 0};
    const gcasca_test::Outcome o = gcasca_test::run_gcasca(control_for(d), data, comps);
    ASSERT_EQ(o.status, 0) << o.console;
    const auto got = gcasca_test::effects_by_key(o.effects);
    const double shrink =
        (c.p - 2) * std::stod(std::to_string(c.s2g)) /
        ((c.p - 2) * std::stod(std::to_string(c.s2g)) + std::stod(std::to_string(c.s2s)) +
         std::stod(std::to_string(c.s2e)) / c.r);
    for (int i = 1; i <= c.p; ++i) {
      const double ls = (c.p * line_total[i] - 2.0 * grand) / (c.p * (c.p - 2.0));
      const auto it = got.find(key("GCA", 0, 0, 1, i, 0, 0));
      ASSERT_NE(it, got.end()) << o.effects;
      EXPECT_NEAR(it->second[0], shrink * ls, 1e-9 * (std::abs(shrink * ls) + 1.0)) << i;
    }
  }
}

struct DesignCase {
  const char* name;
  Layout d;
  std::vector<std::pair<std::string, std::string>> comps;
  std::set<std::array<int, 3>> missing;  // crosses (set, female, male) never made
  int drop, dup;                         // every drop-th plot lost, every dup-th doubled
  Extra x{};
};

// The genetic effects of one plot (female f, male m, location l of set s) as the model
// codes them, each by its code and identifiers: a self line of i has GCA i twice (2),
// its self column (SELF i, or SCA (i, i)), in location l GXL i twice and, with the self
// columns heading SCA, SXL (l, i, i); no MATR, RECP, MXL or RXL. Families (FXL, CLON,
// CXL, RXF) are ordered crosses and selfs alike.
struct Coded {
  const char* code;
  double value;
  int loc, rep, l1, l2, clone;
};
std::vector<Coded> genetic_effects(const Layout& d, const Extra& x, int l, int r, int f, int m,
                                   int clone) {
  const bool has_loc = d.nloc >= 2, has_rep = d.nrep >= 2, self = f == m;
  const int lo = std::min(f, m), hi = std::max(f, m);
  const double sgn = f < m ? 1.0 : -1.0;
  std::vector<Coded> e = {{"GCA", 1.0, 0, 0, f, 0, 0}, {"GCA", 1.0, 0, 0, m, 0, 0}};
  if (self && d.iself >= 1)
    e.push_back({"SELF", 1.0, 0, 0, f, 0, 0});
  else
    e.push_back({"SCA", 1.0, 0, 0, lo, hi, 0});
  if (!self && d.imatr)
    e.push_back({"MATR", 1.0, 0, 0, f, 0, 0}), e.push_back({"MATR", -1.0, 0, 0, m, 0, 0});
  if (!self && d.irecp > 0) e.push_back({"RECP", sgn, 0, 0, lo, hi, 0});
  if (has_loc) {
    if (x.gxl) e.push_back({"GXL", 1.0, l, 0, f, 0, 0}), e.push_back({"GXL", 1.0, l, 0, m, 0, 0});
    if (x.sxl && (!self || d.iself == 0)) e.push_back({"SXL", 1.0, l, 0, lo, hi, 0});
    if (!self && x.mxl && d.imatr)
      e.push_back({"MXL", 1.0, l, 0, f, 0, 0}), e.push_back({"MXL", -1.0, l, 0, m, 0, 0});
    if (!self && x.rxl && d.irecp > 0) e.push_back({"RXL", sgn, l, 0, lo, hi, 0});
    if (d.ifxl > 0) e.push_back({"FXL", 1.0, l, 0, f, m, 0});
  }
  if (d.nclon) e.push_back({"CLON", 1.0, 0, 0, f, m, clone});
  if (d.icxl && has_loc && d.nclon >= 2) e.push_back({"CXL", 1.0, l, 0, f, m, clone});
  if (d.irxf && has_loc && has_rep) e.push_back({"RXF", 1.0, l, r, f, m, 0});
  return e;
}

// Expected predictions of the trait from the explicit mixed model.
void check_against_explicit_model(const DesignCase& dc) {
  SCOPED_TRACE(dc.name);
  const Layout& d = dc.d;
  const bool has_loc = d.nloc >= 2, has_rep = d.nrep >= 2;
  std::map<std::string, double> var;
  for (const auto& [code, v] : dc.comps) var[code] = std::stod(v);
  auto variance = [&var](const std::string& code) {
    const auto it = var.find(code);
    return it == var.end() || !(it->second > 0.0) ? 0.0 : it->second;
  };

  // The plots, their fixed and random design rows.
  std::vector<Plot> plots;
  std::vector<double> y;
  std::string data;
  int counter = 0;
  std::uint32_t seed = 12345;
  auto uniform = [&seed] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0; };
  for (int l = 1; l <= std::max(1, d.nloc); ++l)
    for (int r = 1; r <= std::max(1, d.nrep); ++r)
      for (int s = 1; s <= d.sets; ++s)
        for (int f = 1; f <= d.p; ++f)
          for (int m = 1; m <= d.p; ++m)
            for (int cl = 1; cl <= std::max(1, d.nclon); ++cl) {
              if ((f == m && !dc.x.selfs) || dc.missing.count({s, f, m})) continue;
              ++counter;
              if (counter % dc.drop == 0) continue;
              for (int copy = 0; copy < (counter % dc.dup == 0 ? 2 : 1); ++copy) {
                const Plot x{l, r, s, f, m, d.nclon ? cl : 0};
                std::string text;
                y.push_back(as_read(10.0 + 3.0 * uniform() + 0.5 * f - 0.2 * m, text));
                plots.push_back(x);
                data += data_line(x, text);
              }
            }
  const std::size_t N = plots.size();

  std::map<std::string, std::size_t> fixed_index;
  std::map<std::string, std::vector<double>> z;       // random column by its key
  std::map<std::string, std::string> effect_of;       // key -> effect code
  Matrix X(N);
  for (std::size_t o = 0; o < N; ++o) {
    const Plot& x = plots[o];
    auto fixed = [&](const std::string& k) {
      const std::size_t j = fixed_index.emplace(k, fixed_index.size()).first->second;
      if (X[o].size() <= j) X[o].resize(j + 1, 0.0);
      X[o][j] += 1.0;
    };
    fixed("MEAN");
    if (has_loc) fixed("LOC" + std::to_string(x.loc));
    if (has_rep) fixed("REPS" + std::to_string(x.loc) + "," + std::to_string(x.rep));
    fixed("SETS" + std::to_string(x.set));
    auto add = [&](const char* code, double v, int loc, int rep, int l1, int l2, int clone) {
      const std::string k = key(code, loc, rep, x.set, l1, l2, clone);
      auto& col = z[k];
      col.resize(N, 0.0);
      col[o] += v;
      effect_of[k] = code;
    };
    for (const Coded& e : genetic_effects(d, dc.x, x.loc, x.rep, x.fem, x.male, x.clone))
      add(e.code, e.value, e.loc, e.rep, e.l1, e.l2, e.clone);
  }
  for (auto& row : X) row.resize(fixed_index.size(), 0.0);

  // Fixed columns reduced to a basis of their span (P depends on the span only).
  Matrix basis;  // columns, orthonormal
  for (std::size_t j = 0; j < fixed_index.size(); ++j) {
    std::vector<double> v(N);
    for (std::size_t o = 0; o < N; ++o) v[o] = X[o][j];
    const double norm0 = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0));
    for (const auto& b : basis) {
      const double dot = std::inner_product(v.begin(), v.end(), b.begin(), 0.0);
      for (std::size_t o = 0; o < N; ++o) v[o] -= dot * b[o];
    }
    const double norm = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0));
    if (norm > 1e-8 * norm0) {
      for (double& e : v) e /= norm;
      basis.push_back(v);
    }
  }

  const double s2e = var.at("ERR");
  Matrix V(N, std::vector<double>(N, 0.0));
  for (std::size_t o = 0; o < N; ++o) V[o][o] = s2e;
  for (const auto& [k, col] : z) {
    const double s2 = variance(effect_of[k]);
    for (std::size_t a = 0; a < N; ++a)
      for (std::size_t b = 0; b < N; ++b) V[a][b] += s2 * col[a] * col[b];
  }
  const Matrix Vi = inverse(V);
  const std::size_t q = basis.size();
  Matrix ViX(N, std::vector<double>(q, 0.0)), A(q, std::vector<double>(q, 0.0));
  for (std::size_t a = 0; a < N; ++a)
    for (std::size_t j = 0; j < q; ++j)
      for (std::size_t b = 0; b < N; ++b) ViX[a][j] += Vi[a][b] * basis[j][b];
  for (std::size_t i = 0; i < q; ++i)
    for (std::size_t j = 0; j < q; ++j)
      for (std::size_t a = 0; a < N; ++a) A[i][j] += basis[i][a] * ViX[a][j];
  const Matrix Ai = inverse(A);
  Matrix P = Vi;
  for (std::size_t a = 0; a < N; ++a)
    for (std::size_t b = 0; b < N; ++b)
      for (std::size_t i = 0; i < q; ++i)
        for (std::size_t j = 0; j < q; ++j) P[a][b] -= ViX[a][i] * Ai[i][j] * ViX[b][j];
  auto Pv = [&](const std::vector<double>& v) {
    std::vector<double> out(N, 0.0);
    for (std::size_t a = 0; a < N; ++a)
      for (std::size_t b = 0; b < N; ++b) out[a] += P[a][b] * v[b];
    return out;
  };
  const std::vector<double> Py = Pv(y);

  const std::string comps =
      std::string(gcasca_test::kComponentsHeader) + gcasca_test::component_rows("Y", dc.comps) +
      gcasca_test::component_rows("Y", {{"GCA", "99"}, {"ERR", "99"}}, "2");
  const gcasca_test::Outcome o =
      gcasca_test::run_gcasca(control_for(d, dc.x), data, comps, {10, 0, 0, 0}, false, dc.x.selfs);
  ASSERT_EQ(o.status, 0) << o.console << o.report;
  const auto got = gcasca_test::effects_by_key(o.effects);
  for (const auto& [k, col] : z) EXPECT_TRUE(got.count(k)) << k << " missing in effects.csv";
  for (const auto& [k, v] : got) {
    const std::string code = k.substr(2, k.find(',', 2) - 2);
    const double s2 = variance(code);
    double blup = 0.0, pev = s2;
    if (s2 > 0.0 && z.count(k)) {
      const std::vector<double>& col = z.at(k);
      const std::vector<double> Pz = Pv(col);
      blup = s2 * std::inner_product(col.begin(), col.end(), Py.begin(), 0.0);
      pev = s2 - s2 * s2 * std::inner_product(col.begin(), col.end(), Pz.begin(), 0.0);
    }
    const double scale = std::sqrt(s2) + 1e-300;
    EXPECT_NEAR(v[0], blup, 1e-9 * (std::abs(blup) + scale)) << k;
    EXPECT_NEAR(v[1], std::sqrt(pev), 1e-9 * scale) << k;
    if (s2 > 0.0) {
      EXPECT_NEAR(v[2], 1.0 - pev / s2, 1e-9) << k;
    } else {
      EXPECT_TRUE(std::isnan(v[2])) << k;
    }
  }
  // Differences of two lines of a set: the prediction-error covariance of levels a, b of
  // one effect is s2 [a = b] - s2^2 z_a' P z_b (a level without data has z = 0).
  auto pev = [&](const std::string& a, const std::string& b, double s2) {
    if (!(s2 > 0.0) || !z.count(a) || !z.count(b)) return a == b ? s2 : 0.0;
    const std::vector<double> Pzb = Pv(z.at(b));
    return (a == b ? s2 : 0.0) -
           s2 * s2 * std::inner_product(z.at(a).begin(), z.at(a).end(), Pzb.begin(), 0.0);
  };
  const auto diffs = gcasca_test::rows_by_key(o.differences, 5);
  std::size_t pairs = 0;
  for (const char* code : {"GCA", "SELF", "MATR"}) {
    const double s2 = variance(code);
    for (int set = 1; set <= d.sets; ++set)
      for (int i = 1; i <= d.p; ++i)
        for (int j = i + 1; j <= d.p; ++j) {
          const std::string a = key(code, 0, 0, set, i, 0, 0), b = key(code, 0, 0, set, j, 0, 0);
          if (!got.count(a)) continue;  // the effect is not in the model
          ++pairs;
          const auto it = diffs.find("Y," + std::string(code) + "," + std::to_string(set) + "," +
                                     std::to_string(i) + "," + std::to_string(j));
          ASSERT_NE(it, diffs.end()) << code << " " << i << " " << j << "\n" << o.differences;
          const double var = pev(a, a, s2) + pev(b, b, s2) - 2.0 * pev(a, b, s2);
          const double scale = std::sqrt(s2) + 1e-300;
          EXPECT_NEAR(it->second[0], got.at(a)[0] - got.at(b)[0], 1e-9 * scale) << a << b;
          EXPECT_NEAR(it->second[1], std::sqrt(std::max(var, 0.0)), 1e-9 * scale) << a << b;
        }
  }
  EXPECT_EQ(diffs.size(), pairs);
}

TEST(Predictions, AgreeWithTheExplicitMixedModelOnUnbalancedDesigns) {
  const DesignCase cases[] = {
      {"one set, maternal and reciprocal effects, replications",
       {4, 1, 0, 2, 0, -1, 1, 1, 0, 0, 0},
       {{"MEAN", "5"}, {"REPS", "0.1"}, {"GCA", "0.6"}, {"SCA", "0.25"}, {"MATR", "0.3"},
        {"RECP", "0.1"}, {"ERR", "1.0"}},
       {{1, 1, 2}, {1, 2, 1}, {1, 3, 4}}, 7, 5},
      {"two sets in two locations, selfs inside SCA, maternal component absent",
       {4, 2, 2, 0, 0, 0, 1, 0, 1, 0, 0},
       {{"LOC", "-0.2"}, {"GCA", "0.4"}, {"SCA", "0.2"}, {"FXL", "0.15"}, {"ERR", "0.8"}},
       {{1, 1, 3}, {2, 2, 4}, {2, 4, 2}}, 6, 4},
      {"clones by location, replications by family, negative reciprocal component",
       {3, 1, 2, 2, 2, 1, 0, 1, 1, 1, 1},
       {{"GCA", "0.5"}, {"SELF", "0.2"}, {"SCA", "0.3"}, {"RECP", "-0.05"}, {"FXL", "0.1"},
        {"CLON", "0.1"}, {"CXL", "0.05"}, {"RXF", "0.07"}, {"ERR", "0.5"}},
       {{1, 2, 3}}, 5, 9},
      {"self lines inside SCA and SXL, every genetic effect by location, two sets",
       {4, 2, 2, 2, 0, 0, 1, 1, 1, 0, 0},
       {{"GCA", "0.5"}, {"SCA", "0.3"}, {"MATR", "0.2"}, {"RECP", "0.1"}, {"GXL", "0.15"},
        {"SXL", "0.1"}, {"MXL", "0.05"}, {"RXL", "0.04"}, {"FXL", "0.06"}, {"ERR", "0.7"}},
       {{1, 1, 3}, {2, 2, 2}}, 7, 5, {true, 1, 1, 1, 1}},
      {"self lines in SELF, GCA and SCA by location, clones",
       {3, 1, 2, 2, 2, 1, 0, 0, 0, 0, 0},
       {{"GCA", "0.4"}, {"SELF", "0.3"}, {"SCA", "0.2"}, {"GXL", "0.1"}, {"SXL", "0.08"},
        {"CLON", "0.1"}, {"ERR", "0.5"}},
       {{1, 1, 2}}, 5, 7, {true, 1, 1, 0, 0}},
  };
  for (const DesignCase& dc : cases) check_against_explicit_model(dc);
}

// ---------------------------------------------------------------------------------
// Every effect fixed (gcasca --fixed).

using testsupport::t_tail_even;

TEST(FixedEffects, BalancedHalfDiallelGivesTheClosedForms) {
  // Crosses i < j (and with self lines the selfs i = i: Griffing's method 2, through
  // korbal's data pass with --selfs) in b replications (fixed), x the family means, Y_i
  // the sum of the families of line i (a self counted twice), X.. of all, k = p - 2 for
  // crosses only and p + 2 with the selfs: g_i = (Y_i - 2 X.. / p) / k,
  // s_ij = x_ij - (Y_i + Y_j) / k + 2 X.. / ((p-1)(p-2)) or / ((p+1)(p+2)); Var(g_i) =
  // (p-1) s / (p k), Var(g_i - g_j) = 2 s / k, Var(s_ij) = (p-3) s / (p-1) for crosses
  // only, and (p^2+p+2) s / ((p+1)(p+2)), Var(s_ii) = p(p-1) s / ((p+1)(p+2)) in
  // method 2, s = s2 / b, s2 the error mean square of replications + families on
  // (b-1)(c-1) DF (even here).
  struct Case { int p, b; bool selfs; } cases[] = {
      {5, 3, false}, {6, 2, false}, {4, 3, false}, {4, 3, true}, {5, 3, true}, {6, 3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "p " << c.p << " b " << c.b << (c.selfs ? " selfs" : ""));
    const int p = c.p, b = c.b, crosses = p * (p - 1) / 2 + (c.selfs ? p : 0);
    const double k = c.selfs ? p + 2.0 : p - 2.0;
    std::string data;
    std::map<std::pair<int, int>, std::vector<double>> y;  // by family, one per replication
    for (int i = 1; i <= p; ++i)
      for (int j = c.selfs ? i : i + 1; j <= p; ++j)
        for (int rep = 1; rep <= b; ++rep) {
          std::string text;
          y[{i, j}].push_back(as_read(10.0 + 0.7 * i - 0.3 * j + (i == j ? 2.0 : 0.0) +
                                          std::sin(i * j + 2.0 * rep),
                                      text));
          data += data_line({1, rep, 1, i, j, 0}, text);
        }
    std::map<std::pair<int, int>, double> x;
    std::vector<double> line(p + 1, 0.0), rep_mean(b, 0.0);
    double total = 0.0;
    for (const auto& [ij, v] : y) {
      x[ij] = std::accumulate(v.begin(), v.end(), 0.0) / b;
      line[ij.first] += x[ij];
      line[ij.second] += x[ij];
      total += x[ij];
      for (int r = 0; r < b; ++r) rep_mean[r] += v[r] / crosses;
    }
    const double grand = total / crosses;
    double sse = 0.0;
    for (const auto& [ij, v] : y)
      for (int r = 0; r < b; ++r) sse += std::pow(v[r] - x[ij] - rep_mean[r] + grand, 2);
    const int df = (b - 1) * (crosses - 1);
    const double s2 = sse / df, s = s2 / b;

    const gcasca_test::Outcome o = gcasca_test::run_gcasca_fixed(
        control_for({p, 1, 0, b, 0, c.selfs ? 0 : -1, 0, 0, 0, 0, 0}), data, c.selfs);
    ASSERT_EQ(o.status, 0) << o.console;
    const auto got = gcasca_test::rows_by_key(o.effects, 8);
    const auto diffs = gcasca_test::rows_by_key(o.differences, 5);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(p + crosses)) << o.effects;
    ASSERT_EQ(diffs.size(), static_cast<std::size_t>(p * (p - 1) / 2)) << o.differences;
    const double tol = 1e-9 * (1.0 + std::abs(grand));
    auto g = [&](int i) { return (line[i] - 2.0 * total / p) / k; };
    const double last = c.selfs ? 2.0 / ((p + 1.0) * (p + 2.0)) : 2.0 / ((p - 1.0) * (p - 2.0));
    for (int i = 1; i <= p; ++i) {
      const auto& e = got.at(key("GCA", 0, 0, 1, i, 0, 0));
      EXPECT_NEAR(e[0], g(i), tol) << i;
      EXPECT_NEAR(e[1], std::sqrt((p - 1.0) * s / (p * k)), 1e-9) << i;
      for (int j = i; j <= p; ++j) {
        if (j == i && !c.selfs) continue;
        const auto& sij = got.at(key("SCA", 0, 0, 1, i, j, 0));
        const double sca = x[{i, j}] - (line[i] + line[j]) / k + last * total;
        EXPECT_NEAR(sij[0], sca, tol) << i << "," << j;
        const double var = !c.selfs  ? (p - 3.0) / (p - 1.0)
                           : i == j ? p * (p - 1.0) / ((p + 1.0) * (p + 2.0))
                                    : (p * p + p + 2.0) / ((p + 1.0) * (p + 2.0));
        EXPECT_NEAR(sij[1], std::sqrt(var * s), 1e-9) << i << "," << j;
        if (j == i) continue;
        const auto& d = diffs.at("Y,GCA,1," + std::to_string(i) + "," + std::to_string(j));
        const double se = std::sqrt(2.0 * s / k);
        EXPECT_NEAR(d[0], g(i) - g(j), tol);
        EXPECT_NEAR(d[1], se, 1e-9);
        EXPECT_NEAR(d[2], (g(i) - g(j)) / se, 1e-7 * (1.0 + std::abs(d[2])));
        EXPECT_NEAR(d[3], t_tail_even((g(i) - g(j)) / se, df), 1e-9);
      }
    }
  }
}

TEST(FixedEffects, GcaByLocationOfABalancedMethodTwoTrialIsTheLocationsGcaLessThePooled) {
  // Griffing's method 2 in each of E locations (b replications): the fixed GXL of line i
  // in location l is the GCA of i estimated from location l alone less the pooled GCA,
  // g_i = (Y_i - 2 X.. / p) / (p + 2) on the family means of that location or of all.
  const int p = 4, b = 2, nloc = 3;
  std::string data;
  std::map<std::array<int, 3>, double> x;  // location (0: all), female, male -> mean
  for (int l = 1; l <= nloc; ++l)
    for (int i = 1; i <= p; ++i)
      for (int j = i; j <= p; ++j)
        for (int rep = 1; rep <= b; ++rep) {
          std::string text;
          const double v = as_read(10.0 + 0.7 * i * l - 0.3 * j + (i == j ? 2.0 : 0.0) +
                                       std::sin(i * j + 2.0 * rep + l),
                                   text);
          x[{l, i, j}] += v / b;
          x[{0, i, j}] += v / (b * nloc);
          data += data_line({l, rep, 1, i, j, 0}, text);
        }
  auto gca = [&](int l, int i) {
    double yi = 0.0, total = 0.0;
    for (int a = 1; a <= p; ++a)
      for (int c = a; c <= p; ++c) {
        total += x[{l, a, c}];
        yi += (a == i) * x[{l, a, c}] + (c == i) * x[{l, a, c}];
      }
    return (yi - 2.0 * total / p) / (p + 2.0);
  };
  // ISELF 0, NREP b, NLOC 3, IGXL 1, ISXL 1.
  const gcasca_test::Outcome o = gcasca_test::run_gcasca_fixed(
      dims({p, 1, 0, 0, 0, 0, b, nloc, 0, 1, 0, 1, 0, 0, 0, 1, 1}) + "TEST DESIGN\nY\n(6I3,F10.4)\n",
      data, true);
  ASSERT_EQ(o.status, 0) << o.console;
  const auto got = gcasca_test::rows_by_key(o.effects, 8);
  int gxl = 0, sxl = 0;
  for (const auto& [k, v] : got) {
    gxl += k.rfind("Y,GXL,", 0) == 0;
    sxl += k.rfind("Y,SXL,", 0) == 0;
  }
  EXPECT_EQ(gxl, nloc * p) << o.effects;
  EXPECT_EQ(sxl, nloc * p * (p + 1) / 2) << o.effects;
  for (int l = 1; l <= nloc; ++l)
    for (int i = 1; i <= p; ++i) {
      const auto it = got.find(key("GXL", l, 0, 1, i, 0, 0));
      ASSERT_NE(it, got.end()) << o.effects;
      EXPECT_NEAR(it->second[0], gca(l, i) - gca(0, i), 1e-9) << l << "," << i;
    }
}

TEST(FixedEffects, BalancedHalfDiallelWithSelfsGivesGriffingsMethodTwo) {
  // The normal equations of the crosses i <= j in b replications, self lines coded as in
  // Griffing's model (GCA of i 2, the self column of i at the head of SCA 1), built here
  // and reduced by korbal's reduction. With x the family means, Y_i = sum_j x_ij + x_ii
  // (x_ij = x_ji) and X.. the sum over i <= j: g_i = (Y_i - 2 X.. / p) / (p+2),
  // s_ij = x_ij - (Y_i + Y_j) / (p+2) + 2 X.. / ((p+1)(p+2)); Var(g_i) = (p-1) s / (p(p+2)),
  // Var(s_ii) = p(p-1) s / ((p+1)(p+2)), Var(s_ij) = (p^2+p+2) s / ((p+1)(p+2)),
  // Var(g_i - g_j) = 2 s / (p+2), s = s2 / b.
  struct Case { int p, b; } cases[] = {{4, 2}, {5, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "p " << c.p << " b " << c.b);
    const int p = c.p, b = c.b, families = p * (p + 1) / 2;
    std::vector<gcasca::ColumnId> ids;
    auto col = [&ids](const char* e, bool fixed, int rep, int l1, int l2) {
      gcasca::ColumnId id;
      id.effect = e;
      id.fixed = fixed;
      id.rep = rep;
      id.set = !fixed || std::string(e) == "SETS" ? 1 : 0;
      id.line_1 = l1;
      id.line_2 = l2;
      ids.push_back(id);
      return static_cast<int>(ids.size()) - 1;
    };
    col("MEAN", true, 0, 0, 0);
    for (int r = 1; r <= b; ++r) col("REPS", true, r, 0, 0);
    col("SETS", true, 0, 0, 0);
    std::map<std::pair<int, int>, int> sca;
    std::vector<int> gca(p + 1);
    for (int i = 1; i <= p; ++i) gca[i] = col("GCA", false, 0, i, 0);
    for (int i = 1; i <= p; ++i) sca[{i, i}] = col("SCA", false, 0, i, i);
    for (int i = 1; i <= p; ++i)
      for (int j = i + 1; j <= p; ++j) sca[{i, j}] = col("SCA", false, 0, i, j);
    const int n = static_cast<int>(ids.size());
    std::vector<double> XPX(static_cast<std::size_t>(n * (n + 1) / 2), 0.0), XPY(n, 0.0);
    std::map<std::pair<int, int>, std::vector<double>> y;
    for (int i = 1; i <= p; ++i)
      for (int j = i; j <= p; ++j)
        for (int r = 1; r <= b; ++r) {
          const double v = 10.0 + 0.7 * i - 0.3 * j + (i == j ? 2.0 : 0.0) + std::sin(i * j + 2.0 * r);
          y[{i, j}].push_back(v);
          std::map<int, double> row = {{0, 1.0}, {r, 1.0}, {b + 1, 1.0}, {sca[{i, j}], 1.0}};
          row[gca[i]] += 1.0;
          row[gca[j]] += 1.0;
          for (const auto& [a, va] : row) {
            XPY[a] += va * v;
            for (const auto& [bb, vb] : row)
              if (a <= bb) XPX[a + bb * (bb + 1) / 2] += va * vb;
          }
        }
    std::map<std::pair<int, int>, double> x;
    std::vector<double> Y(p + 1, 0.0), rep_mean(b, 0.0);
    double total = 0.0;
    for (const auto& [ij, v] : y) {
      x[ij] = std::accumulate(v.begin(), v.end(), 0.0) / b;
      Y[ij.first] += x[ij];
      Y[ij.second] += x[ij];  // a self family counts twice
      total += x[ij];
      for (int r = 0; r < b; ++r) rep_mean[r] += v[r] / families;
    }
    double sse = 0.0;
    for (const auto& [ij, v] : y)
      for (int r = 0; r < b; ++r) sse += std::pow(v[r] - x[ij] - rep_mean[r] + total / families, 2);
    const int df = (b - 1) * (families - 1);
    const double s = sse / df / b;

    const double TOL = korbal::pivot_tolerance(n, XPX[0]);
    korbal::covred_reduce(XPX.data(), XPY.data(), TOL, n, 1);
    const std::vector<char> accepted = korbal::accepted_columns(XPX.data(), n, TOL);
    gcasca::FixedFit fit;
    ASSERT_TRUE(gcasca::fixed_fit(ids, XPX.data(), accepted, fit));
    const gcasca::FixedResult r = gcasca::fixed_trait("Y", ids, fit, XPY.data(), df, sse / df);
    auto g = [&](int i) { return (Y[i] - 2.0 * total / p) / (p + 2.0); };
    for (int i = 1; i <= p; ++i) {
      EXPECT_NEAR(r.estimate[gca[i]], g(i), 1e-9) << i;
      EXPECT_NEAR(r.se[gca[i]], std::sqrt((p - 1.0) * s / (p * (p + 2.0))), 1e-9) << i;
      for (int j = i; j <= p; ++j) {
        const int k = sca[{i, j}];
        const double sij =
            x[{i, j}] - (Y[i] + Y[j]) / (p + 2.0) + 2.0 * total / ((p + 1.0) * (p + 2.0));
        EXPECT_NEAR(r.estimate[k], sij, 1e-9) << i << "," << j;
        const double var = (i == j ? p * (p - 1.0) : p * p + p + 2.0) * s / ((p + 1.0) * (p + 2.0));
        EXPECT_NEAR(r.se[k], std::sqrt(var), 1e-9) << i << "," << j;
      }
    }
    ASSERT_EQ(r.differences.size(), static_cast<std::size_t>(p * (p - 1) / 2));
    for (const gcasca::Difference& d : r.differences) {
      EXPECT_NEAR(d.difference, g(d.level_1) - g(d.level_2), 1e-9);
      EXPECT_NEAR(d.se, std::sqrt(2.0 * s / (p + 2.0)), 1e-9);
    }
  }
}

// Null space (as vectors) of the symmetric matrix c by Gauss-Jordan elimination with
// partial pivoting; a pivot below 1e-9 x `big` counts as zero.
Matrix null_space(Matrix c, double big) {
  const std::size_t n = c.size();
  std::vector<int> pivot_row(n, -1);
  std::size_t row = 0;
  for (std::size_t col = 0; col < n && row < n; ++col) {
    std::size_t piv = row;
    for (std::size_t r = row + 1; r < n; ++r)
      if (std::abs(c[r][col]) > std::abs(c[piv][col])) piv = r;
    if (!(std::abs(c[piv][col]) > 1e-9 * big)) continue;
    std::swap(c[row], c[piv]);
    const double d = c[row][col];
    for (double& v : c[row]) v /= d;
    for (std::size_t r = 0; r < n; ++r)
      if (r != row && c[r][col] != 0.0) {
        const double f = c[r][col];
        for (std::size_t k = 0; k < n; ++k) c[r][k] -= f * c[row][k];
      }
    pivot_row[col] = static_cast<int>(row++);
  }
  Matrix basis;
  for (std::size_t f = 0; f < n; ++f) {
    if (pivot_row[f] >= 0) continue;
    std::vector<double> v(n, 0.0);
    v[f] = 1.0;
    for (std::size_t col = 0; col < n; ++col)
      if (pivot_row[col] >= 0) v[col] = -c[static_cast<std::size_t>(pivot_row[col])][f];
    basis.push_back(v);
  }
  return basis;
}

// The estimates, SEs and differences of gcasca --fixed against the constrained
// least-squares solution written out here: the explicit design matrix X of every level
// of every effect (model order), for each effect the null space N_k of its normal
// equations after the earlier effects are projected out, and the bordered system
// [X'X N; N' 0] whose inverse's leading block H gives b = H X'y and Cov(b) = s2 H.
void check_against_constrained_solve(const DesignCase& dc) {
  SCOPED_TRACE(dc.name);
  const Layout& d = dc.d;
  const bool has_loc = d.nloc >= 2, has_rep = d.nrep >= 2;
  // Every column, in model order: effect code and key.
  std::vector<std::pair<std::string, std::string>> cols;
  std::map<std::string, std::size_t> index;
  auto column = [&](const std::string& code, const std::string& k) {
    index[k] = cols.size();
    cols.push_back({code, k});
  };
  column("MEAN", "MEAN");
  for (int l = 1; has_loc && l <= d.nloc; ++l) column("LOC", "LOC" + std::to_string(l));
  for (int l = 1; has_rep && l <= std::max(1, d.nloc); ++l)
    for (int r = 1; r <= d.nrep; ++r)
      column("REPS", "REPS" + std::to_string(has_loc ? l : 0) + "," + std::to_string(r));
  for (int s = 1; s <= d.sets; ++s) column("SETS", "SETS" + std::to_string(s));
  auto lines = [&](const char* code) {
    for (int s = 1; s <= d.sets; ++s)
      for (int i = 1; i <= d.p; ++i) column(code, key(code, 0, 0, s, i, 0, 0));
  };
  auto pairs = [&](const char* code, bool selfs) {
    for (int s = 1; s <= d.sets; ++s) {
      for (int i = 1; selfs && i <= d.p; ++i) column(code, key(code, 0, 0, s, i, i, 0));
      for (int i = 1; i <= d.p; ++i)
        for (int j = i + 1; j <= d.p; ++j) column(code, key(code, 0, 0, s, i, j, 0));
    }
  };
  auto by_location = [&](const char* code, bool lines_of_sets, bool selfs) {
    for (int l = 1; has_loc && l <= d.nloc; ++l)
      for (int s = 1; s <= d.sets; ++s)
        for (int i = 1; i <= d.p; ++i)
          for (int j = lines_of_sets ? 0 : i + (selfs ? 0 : 1); j <= (lines_of_sets ? 0 : d.p); ++j)
            column(code, key(code, l, 0, s, i, j, 0));
  };
  lines("GCA");
  if (d.iself >= 1) lines("SELF");
  pairs("SCA", d.iself == 0);
  if (d.imatr) lines("MATR");
  if (d.irecp > 0) pairs("RECP", false);
  if (dc.x.gxl) by_location("GXL", true, false);
  if (dc.x.sxl) by_location("SXL", false, d.iself == 0);
  if (dc.x.mxl && d.imatr) by_location("MXL", true, false);
  if (dc.x.rxl && d.irecp > 0) by_location("RXL", false, false);
  for (int l = 1; d.ifxl > 0 && has_loc && l <= d.nloc; ++l)
    for (int s = 1; s <= d.sets; ++s)
      for (int f = 1; f <= d.p; ++f)
        for (int m = 1; m <= d.p; ++m)
          if (f != m || dc.x.selfs) column("FXL", key("FXL", l, 0, s, f, m, 0));
  const std::size_t n = cols.size();

  // The plots and their rows of X.
  Matrix X;
  std::vector<double> y;
  std::string data;
  int counter = 0;
  std::uint32_t seed = 777;
  auto uniform = [&seed] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0; };
  for (int l = 1; l <= std::max(1, d.nloc); ++l)
    for (int r = 1; r <= std::max(1, d.nrep); ++r)
      for (int s = 1; s <= d.sets; ++s)
        for (int f = 1; f <= d.p; ++f)
          for (int m = 1; m <= d.p; ++m) {
            if ((f == m && !dc.x.selfs) || dc.missing.count({s, f, m}) || ++counter % dc.drop == 0)
              continue;
            for (int copy = 0; copy < (counter % dc.dup == 0 ? 2 : 1); ++copy) {
              std::string text;
              y.push_back(as_read(10.0 + 3.0 * uniform() + 0.5 * f - 0.2 * m + 0.3 * l, text));
              data += data_line({l, r, s, f, m, 0}, text);
              std::vector<double> row(n, 0.0);
              auto put = [&](const std::string& k, double v) { row[index.at(k)] += v; };
              put("MEAN", 1.0);
              if (has_loc) put("LOC" + std::to_string(l), 1.0);
              if (has_rep) put("REPS" + std::to_string(has_loc ? l : 0) + "," + std::to_string(r), 1.0);
              put("SETS" + std::to_string(s), 1.0);
              for (const Coded& e : genetic_effects(d, dc.x, l, r, f, m, 0))
                put(key(e.code, e.loc, e.rep, s, e.l1, e.l2, e.clone), e.value);
              X.push_back(row);
            }
          }
  const std::size_t N = X.size();

  // The constraints, effect by effect: earlier columns as an orthonormal basis Q, the
  // effect's columns less their projection on Q, the null space of their cross products.
  Matrix Q, constraints;  // constraints: vectors of length n
  for (std::size_t first = 0; first < n;) {
    std::size_t last = first;
    while (last < n && cols[last].first == cols[first].first) ++last;
    Matrix E;  // the effect's columns, projected
    double big = 1.0;  // the largest squared norm of its columns before the projection
    for (std::size_t j = first; j < last; ++j) {
      std::vector<double> v(N);
      for (std::size_t o = 0; o < N; ++o) v[o] = X[o][j];
      big = std::max(big, std::inner_product(v.begin(), v.end(), v.begin(), 0.0));
      for (const auto& q : Q) {
        const double c = std::inner_product(v.begin(), v.end(), q.begin(), 0.0);
        for (std::size_t o = 0; o < N; ++o) v[o] -= c * q[o];
      }
      E.push_back(v);
    }
    Matrix C(last - first, std::vector<double>(last - first, 0.0));
    for (std::size_t a = 0; a < E.size(); ++a)
      for (std::size_t b = 0; b < E.size(); ++b)
        C[a][b] = std::inner_product(E[a].begin(), E[a].end(), E[b].begin(), 0.0);
    for (const auto& v : null_space(C, big)) {
      std::vector<double> full(n, 0.0);
      std::copy(v.begin(), v.end(), full.begin() + static_cast<std::ptrdiff_t>(first));
      constraints.push_back(full);
    }
    for (std::size_t j = first; j < last; ++j) {  // extend Q by the effect's columns
      std::vector<double> v(N);
      for (std::size_t o = 0; o < N; ++o) v[o] = X[o][j];
      const double norm0 = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0));
      for (int pass = 0; pass < 2; ++pass)
        for (const auto& q : Q) {
          const double c = std::inner_product(v.begin(), v.end(), q.begin(), 0.0);
          for (std::size_t o = 0; o < N; ++o) v[o] -= c * q[o];
        }
      const double norm = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0));
      if (norm > 1e-8 * norm0) {
        for (double& e : v) e /= norm;
        Q.push_back(v);
      }
    }
    first = last;
  }
  const std::size_t nc = constraints.size();
  ASSERT_EQ(n - nc, Q.size()) << "constraints and rank disagree";
  Matrix M(n + nc, std::vector<double>(n + nc, 0.0));
  std::vector<double> xty(n, 0.0);
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t o = 0; o < N; ++o) xty[a] += X[o][a] * y[o];
    for (std::size_t b = 0; b < n; ++b)
      for (std::size_t o = 0; o < N; ++o) M[a][b] += X[o][a] * X[o][b];
    for (std::size_t k = 0; k < nc; ++k) M[a][n + k] = M[n + k][a] = constraints[k][a];
  }
  const Matrix H = inverse(M);
  std::vector<double> est(n, 0.0);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = 0; b < n; ++b) est[a] += H[a][b] * xty[b];
  double sse = std::inner_product(y.begin(), y.end(), y.begin(), 0.0);
  for (std::size_t a = 0; a < n; ++a) sse -= est[a] * xty[a];
  const double s2 = sse / static_cast<double>(N - Q.size());

  const gcasca_test::Outcome o = gcasca_test::run_gcasca_fixed(control_for(d, dc.x), data, dc.x.selfs);
  ASSERT_EQ(o.status, 0) << o.console << o.report;
  const auto got = gcasca_test::rows_by_key(o.effects, 8);
  const auto diffs = gcasca_test::rows_by_key(o.differences, 5);
  std::size_t genetic = 0, compared = 0;
  for (std::size_t a = 0; a < n; ++a) {
    const std::string& code = cols[a].first;
    if (gcasca::is_fixed_effect(code)) continue;
    ++genetic;
    const auto it = got.find(cols[a].second);
    ASSERT_NE(it, got.end()) << cols[a].second;
    EXPECT_NEAR(it->second[0], est[a], 1e-8) << cols[a].second;
    EXPECT_NEAR(it->second[1], std::sqrt(std::max(0.0, s2 * H[a][a])), 1e-8) << cols[a].second;
    if (!gcasca::compares_levels(code)) continue;
    for (std::size_t b = a + 1; b < n && cols[b].first == code; ++b) {
      const auto ka = rec::csv::parse(cols[a].second)[0], kb = rec::csv::parse(cols[b].second)[0];
      if (ka[4] != kb[4]) continue;  // another set
      ++compared;
      const auto dt = diffs.find("Y," + code + "," + ka[4] + "," + ka[5] + "," + kb[5]);
      ASSERT_NE(dt, diffs.end()) << cols[a].second << " " << cols[b].second;
      const double v = s2 * (H[a][a] + H[b][b] - 2.0 * H[a][b]);
      EXPECT_NEAR(dt->second[0], est[a] - est[b], 1e-8);
      EXPECT_NEAR(dt->second[1], std::sqrt(std::max(0.0, v)), 1e-8);
    }
  }
  EXPECT_EQ(got.size(), genetic);
  EXPECT_EQ(diffs.size(), compared);
}

TEST(FixedEffects, AgreeWithTheConstrainedSolveOnUnbalancedDesigns) {
  const DesignCase cases[] = {
      {"one set, maternal and reciprocal effects, replications, missing crosses",
       {5, 1, 0, 2, 0, -1, 1, 1, 0, 0, 0}, {}, {{1, 1, 2}, {1, 2, 1}, {1, 3, 4}, {1, 5, 2}}, 7, 5},
      {"two sets in two locations, family by location, selfs inside SCA (no data)",
       {4, 2, 2, 0, 0, 0, 1, 0, 1, 0, 0}, {}, {{1, 1, 3}, {2, 2, 4}, {2, 4, 2}}, 6, 4},
      {"a SELF block without data, reciprocal effects, one location",
       {4, 1, 0, 3, 0, 1, 0, 1, 0, 0, 0}, {}, {{1, 2, 3}, {1, 3, 2}}, 5, 3},
      {"self lines inside SCA and SXL, every genetic effect by location, missing families",
       {4, 1, 2, 2, 0, 0, 1, 1, 1, 0, 0}, {}, {{1, 1, 3}, {1, 3, 1}, {1, 2, 2}}, 7, 5,
       {true, 1, 1, 1, 1}},
      {"self lines in SELF, GCA and SCA by location, two sets",
       {3, 2, 3, 0, 0, 1, 0, 0, 0, 0, 0}, {}, {{2, 1, 2}}, 6, 4, {true, 1, 1, 0, 0}},
  };
  for (const DesignCase& dc : cases) check_against_constrained_solve(dc);
}

// ---------------------------------------------------------------------------------

TEST(Components, RowsOfTheTraitInProblemOneOnly) {
  const std::string text = std::string(gcasca_test::kComponentsHeader) +
                           "1,Y1,Y1,GCA,0.5,0.1,1,1,1,1,1,0.01\n"
                           "1,Y1,Y2,GCA,0.7,NA,NA,NA,NA,NA,NA,NA\n"
                           "2,Y1,Y1,GCA,0.9,NA,NA,NA,NA,NA,NA,NA\n"
                           "1,Y1,Y1,SCA,NA,NA,NA,NA,NA,NA,NA,NA\n"
                           "1,\"A, B\",\"A, B\",ERR,1e-3,NA,NA,NA,NA,NA,NA,NA\n"
                           "1,Y1,Y1,RECP,4e-320,NA,NA,NA,NA,NA,NA,NA\n";
  const auto rows = gcasca::parse_components(text, "c.csv");
  const auto y1 = gcasca::components_of(rows, "Y1              ");
  ASSERT_EQ(y1.size(), 3u);
  EXPECT_EQ(y1.at("RECP"), 4e-320);
  EXPECT_EQ(y1.at("GCA"), 0.5);
  EXPECT_TRUE(std::isnan(y1.at("SCA")));
  EXPECT_EQ(gcasca::components_of(rows, "A, B").at("ERR"), 1e-3);
  EXPECT_TRUE(gcasca::components_of(rows, "Y2").empty());
}

TEST(Components, MalformedTablesAreRunErrors) {
  const std::string h = gcasca_test::kComponentsHeader;
  const char* bad[] = {
      "",
      "problem,trait_1,trait_2,component,estimate\n1,Y,Y,GCA,1\n",
      "problem,trait_1,trait_2,component,estimate,sd,ms,denominator,df1,df2,f\n",
      "1,Y,Y,GCA,1,NA,NA,NA,NA,NA,NA\n",         // eleven fields
      "1,Y,Y,GCA,abc,NA,NA,NA,NA,NA,NA,NA\n",    // not a number
      "1,Y,Y,GCA,1.5x,NA,NA,NA,NA,NA,NA,NA\n",
      "1,Y,Y,GCA,inf,NA,NA,NA,NA,NA,NA,NA\n",
      "1,Y,Y,GCA,1e999,NA,NA,NA,NA,NA,NA,NA\n",
      "1,Y,Y,GCA, 1,NA,NA,NA,NA,NA,NA,NA\n",
      "1,Y,Y,GCA,,NA,NA,NA,NA,NA,NA,NA\n",
      "1,Y,Y,GCA,\"1,NA,NA,NA,NA,NA,NA,NA\n",    // quote never closed
  };
  for (std::size_t k = 0; k < std::size(bad); ++k) {
    const std::string text = k < 3 ? std::string(bad[k]) : h + bad[k];
    EXPECT_THROW(gcasca::parse_components(text, "c.csv"), rec::RunError) << text;
  }
  // The text of the estimate is shown escaped and cut, and so is the file's name.
  try {
    gcasca::parse_components(h + "1,Y,Y,GCA,\"\x1b" + std::string(90, '7') + "\",NA,NA,NA,NA,NA,NA,NA\n",
                             "c\n.csv");
    FAIL() << "no error";
  } catch (const rec::RunError& e) {
    EXPECT_EQ(std::string(e.what()), "Run-time error: c\\x0A.csv row 2: estimate \"\\x1B" +
                                         std::string(79, '7') + "...\" (91 characters) is not a number");
  }
}

}  // namespace
