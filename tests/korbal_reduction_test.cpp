// The arithmetic of the analysis: the reduction of the normal equations, the
// coefficients of the expected mean squares and the sequential sums of squares,
// checked against closed forms and against an independent dense computation
// (Gram-Schmidt on the explicit design matrix), and the analysis of self lines from
// korbal's data pass against the design matrix written out with their coding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "korbal/analysis.h"
#include "korbal/control.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "korbal_effects.h"
#include "records/format.h"
#include "support.h"

namespace {

using korbal::packed;

// X'X packed and X'Y (stride SDFL) from a dense design X (rows) and responses Y (rows).
struct Normal {
  std::vector<double> xpx, xpy;
};

Normal normal_equations(const std::vector<std::vector<double>>& X,
                        const std::vector<std::vector<double>>& Y, int sdfl, int nv) {
  Normal n;
  n.xpx.assign(static_cast<std::size_t>(sdfl) * (sdfl + 1) / 2, 0.0);
  n.xpy.assign(static_cast<std::size_t>(sdfl) * nv, 0.0);
  for (std::size_t r = 0; r < X.size(); ++r) {
    for (int j = 1; j <= sdfl; ++j)
      for (int i = 1; i <= j; ++i) n.xpx[packed(i, j) - 1] += X[r][i - 1] * X[r][j - 1];
    for (int v = 0; v < nv; ++v)
      for (int i = 0; i < sdfl; ++i) n.xpy[v * sdfl + i] += X[r][i] * Y[r][v];
  }
  return n;
}

std::vector<std::string> labels(std::initializer_list<std::pair<const char*, int>> runs) {
  std::vector<std::string> e;
  for (auto [code, n] : runs)
    for (int k = 0; k < n; ++k) e.emplace_back(code);
  return e;
}

// The analysis functions over a model given by its column labels.
std::vector<korbal::EmsRow> ems_of(const double* xpx, const std::vector<std::string>& ename,
                                   double tol) {
  return korbal::ems_coefficients(xpx, testsupport::effects_of(ename), tol);
}
korbal::AnovaResult sums_of(const double* xpy, int first, int second,
                            const std::vector<std::string>& ename,
                            const std::vector<char>& accepted, double zero) {
  return korbal::anova_sums(xpy, first, second, testsupport::effects_of(ename), accepted, zero);
}
std::vector<char> accepted(const std::vector<double>& xpx, int sdfl, double tol) {
  return korbal::accepted_columns(xpx.data(), sdfl, tol);
}

// ---------------------------------------------------------------------------------
// Closed forms and the dependency rule.

TEST(CovredReduce, MeanOnlyGivesTheCorrectionForTheMean) {
  std::vector<double> xpx{5.0};
  std::vector<double> xpy{1 + 2 + 3 + 4 + 10.0, 2.0 * 20};  // two variables
  korbal::covred_reduce(xpx.data(), xpy.data(), 1 * 5 * 1.0e-11, 1, 2);
  EXPECT_EQ(xpx[0], 5.0);  // the pivot stays, not its root
  EXPECT_DOUBLE_EQ(xpy[0], 20.0 / std::sqrt(5.0));
  EXPECT_DOUBLE_EQ(xpy[0] * xpy[0], 80.0);
  EXPECT_DOUBLE_EQ(xpy[1], 40.0 / std::sqrt(5.0));

  const auto rows = ems_of(xpx.data(), {"MEAN"}, 5e-11);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].code, "MEAN");
  EXPECT_EQ(rows[0].df, 1);
  ASSERT_EQ(rows[0].coef.size(), 1u);
  EXPECT_EQ(rows[0].coef[0], 5.0);

  const auto a = sums_of(xpy.data(), 0, 0, {"MEAN"}, accepted(xpx, 1, 5e-11), 5e-11);
  ASSERT_EQ(a.lines.size(), 1u);
  EXPECT_EQ(a.lines[0].df, 1);
  EXPECT_DOUBLE_EQ(a.lines[0].sum, 80.0);
  EXPECT_EQ(a.dependencies, 0);
}

TEST(CovredReduce, BalancedOneWayCoefficientIsReplicationCount) {
  const int t = 5, r = 4;
  std::vector<std::vector<double>> X, Y;
  std::mt19937 g(7);
  std::normal_distribution<double> d(10, 2);
  for (int lev = 0; lev < t; ++lev)
    for (int k = 0; k < r; ++k) {
      std::vector<double> row(1 + t, 0.0);
      row[0] = 1;
      row[1 + lev] = 1;
      X.push_back(row);
      Y.push_back({d(g)});
    }
  Normal n = normal_equations(X, Y, 1 + t, 1);
  const double tol = (1 + t) * n.xpx[0] * 1e-11;
  korbal::covred_reduce(n.xpx.data(), n.xpy.data(), tol, 1 + t, 1);
  const auto ems = ems_of(n.xpx.data(), labels({{"MEAN", 1}, {"GCA ", t}}), tol);
  ASSERT_EQ(ems.size(), 2u);
  EXPECT_EQ(ems[0].df, 1);
  EXPECT_NEAR(ems[0].coef[1], t * r, 1e-9);
  EXPECT_NEAR(ems[0].coef[0], r, 1e-9);
  EXPECT_EQ(ems[1].df, t - 1);
  EXPECT_NEAR(ems[1].coef[0], r, 1e-9);
  EXPECT_EQ(ems[1].coef[1], 0.0);
  EXPECT_EQ(n.xpy[t], 0.0);  // last level is the dependency
}

TEST(CovredReduce, PivotEqualToTolAndNegativePivotAreDependencies) {
  // Diagonal matrix: pivots are the diagonal itself.
  const double tol = 0.5;
  std::vector<double> xpx(packed(4, 4), 0.0);
  xpx[packed(1, 1) - 1] = 4.0;
  xpx[packed(2, 2) - 1] = 0.5;    // equal to TOL
  xpx[packed(3, 3) - 1] = -1e-3;  // negative
  xpx[packed(4, 4) - 1] = 0.5000001;
  xpx[packed(2, 3) - 1] = 7.0;    // row of a dependent column: untouched, never used
  std::vector<double> before = xpx;
  std::vector<double> xpy{2.0, 3.0, 4.0, 5.0};
  korbal::covred_reduce(xpx.data(), xpy.data(), tol, 4, 1);
  EXPECT_DOUBLE_EQ(xpy[0], 1.0);
  EXPECT_EQ(xpy[1], 0.0);
  EXPECT_EQ(xpy[2], 0.0);
  EXPECT_DOUBLE_EQ(xpy[3], 5.0 / std::sqrt(0.5000001));
  EXPECT_EQ(xpx[packed(2, 2) - 1], before[packed(2, 2) - 1]);
  EXPECT_EQ(xpx[packed(2, 3) - 1], 7.0);  // not scaled
  EXPECT_EQ(xpx[packed(3, 3) - 1], -1e-3);
  EXPECT_EQ(xpx[packed(4, 4) - 1], 0.5000001);  // nothing reduced it

  const auto ems = ems_of(xpx.data(), labels({{"MEAN", 1}, {"GCA ", 2}, {"SCA ", 1}}), tol);
  ASSERT_EQ(ems.size(), 3u);
  EXPECT_EQ(ems[1].df, 0);
  EXPECT_EQ(ems[1].coef, std::vector<double>(3, 0.0));
  EXPECT_EQ(ems[2].df, 1);
  EXPECT_DOUBLE_EQ(ems[2].coef[0], 0.5000001);

  const auto a = sums_of(xpy.data(), 0, 0, labels({{"MEAN", 1}, {"GCA ", 2}, {"SCA ", 1}}), accepted(xpx, 4, tol), tol);
  EXPECT_EQ(a.lines[1].df, 0);
  EXPECT_EQ(a.lines[1].sum, 0.0);
  EXPECT_EQ(a.lines[1].mean, 0.0);
  EXPECT_EQ(a.dependencies, 2);
}

TEST(CovredReduce, LastColumnDependentGivesZeroRightHandSides) {
  // Third column = first - second.
  std::vector<std::vector<double>> X{{1, 1, 0}, {1, 0, 1}, {1, 1, 0}, {1, 0, 1}, {1, 1, 0}};
  std::vector<std::vector<double>> Y{{1, 2}, {4, 3}, {2, 2}, {7, 1}, {3, 9}};
  Normal n = normal_equations(X, Y, 3, 2);
  korbal::covred_reduce(n.xpx.data(), n.xpy.data(), 3 * 5 * 1e-11, 3, 2);
  EXPECT_EQ(n.xpy[2], 0.0);
  EXPECT_EQ(n.xpy[5], 0.0);
}

TEST(CovredReduce, AllZeroMatrixAcceptsNothing) {
  std::vector<double> xpx(packed(3, 3), 0.0), xpy(6, 0.0);
  korbal::covred_reduce(xpx.data(), xpy.data(), 0.0, 3, 2);
  EXPECT_EQ(xpy, std::vector<double>(6, 0.0));
  const auto a = sums_of(xpy.data(), 0, 3, labels({{"MEAN", 1}, {"GCA ", 2}}), accepted(xpx, 3, 0.0), 0.0);
  EXPECT_EQ(a.df, 0);
  EXPECT_EQ(a.dependencies, 3);
}

TEST(EmsCoefficients, FactorEntriesAtMostTolContributeNothing) {
  // A reduced triangle given directly: columns MEAN, GCA, GCA, SCA; TOL 0.01.
  const double tol = 0.01;
  std::vector<double> r(packed(4, 4), 0.0);
  r[packed(1, 1) - 1] = 9.0;
  r[packed(1, 2) - 1] = 0.01;   // equal to TOL: left out
  r[packed(1, 3) - 1] = -0.02;  // above TOL: 4e-4
  r[packed(1, 4) - 1] = 3.0;
  r[packed(2, 2) - 1] = 2.0;
  r[packed(2, 3) - 1] = 1.0;
  r[packed(2, 4) - 1] = -0.005;  // below TOL
  r[packed(3, 3) - 1] = 0.01;    // dependent (pivot equal to TOL)
  r[packed(3, 4) - 1] = 50.0;    // row of a dependent column: never used
  r[packed(4, 4) - 1] = 4.0;
  const auto ems = ems_of(r.data(), labels({{"MEAN", 1}, {"GCA ", 2}, {"SCA ", 1}}), tol);
  ASSERT_EQ(ems.size(), 3u);
  EXPECT_EQ(ems[0].df, 1);
  EXPECT_DOUBLE_EQ(ems[0].coef[0], 9.0);     // SCA: 3^2
  EXPECT_DOUBLE_EQ(ems[0].coef[1], 0.0004);  // GCA: only (1,3)
  EXPECT_DOUBLE_EQ(ems[0].coef[2], 9.0);     // MEAN: the pivot
  EXPECT_EQ(ems[1].df, 1);                   // column 3 is dependent
  EXPECT_DOUBLE_EQ(ems[1].coef[0], 0.0);     // (2,4) below TOL
  EXPECT_DOUBLE_EQ(ems[1].coef[1], 3.0);     // pivot 2 + 1^2, the dependent column included
  EXPECT_EQ(ems[1].coef[2], 0.0);
  EXPECT_EQ(ems[2].df, 1);
  EXPECT_EQ(ems[2].coef, (std::vector<double>{4.0, 0.0, 0.0}));
}

TEST(AnovaSums, SumAtTolIsZeroedButCountsDegreesOfFreedom) {
  const double tol = 0.25;
  // z for MEAN, GCA, GCA: the GCA sum is 0.5 * 0.5 = 0.25 = TOL.
  std::vector<double> z{3.0, 0.5, 0.0};
  const auto a = sums_of(z.data(), 0, 0, labels({{"MEAN", 1}, {"GCA ", 2}}), {1, 1, 0}, tol);
  EXPECT_EQ(a.lines[1].df, 1);
  EXPECT_EQ(a.lines[1].sum, 0.0);
  EXPECT_EQ(a.lines[1].mean, 0.0);
  EXPECT_EQ(a.accounted, 9.0);
  EXPECT_EQ(a.df, 2);
}

TEST(AnovaSums, DegreesOfFreedomAreTheAcceptedColumnsWhateverTheValues) {
  // Variable 1 and variable 2 at offset 3; a reduced value of exactly 0 in an accepted
  // column (a trait without variation, say) still counts, a dependency does not.
  std::vector<double> z{2.0, 1.0, 3.0, /**/ 4.0, 0.0, -2.0};
  auto a = sums_of(z.data(), 0, 3, labels({{"MEAN", 1}, {"GCA ", 2}}), {1, 1, 1}, 1e-10);
  EXPECT_EQ(a.lines[0].sum, 8.0);
  EXPECT_EQ(a.lines[1].df, 2);
  EXPECT_EQ(a.lines[1].sum, -6.0);
  EXPECT_EQ(a.lines[1].mean, -3.0);
  EXPECT_EQ(a.dependencies, 0);
  a = sums_of(z.data(), 0, 3, labels({{"MEAN", 1}, {"GCA ", 2}}), {1, 0, 1}, 1e-10);
  EXPECT_EQ(a.lines[1].df, 1);
  EXPECT_EQ(a.lines[1].mean, -6.0);
  EXPECT_EQ(a.dependencies, 1);
}

TEST(ErrorLine, SaturatedAndBelowTolerance) {
  auto e = korbal::error_line(10.0, 9.0, 4, 4, 1e-10);  // NOBS == D
  EXPECT_EQ(e.df, 0);
  EXPECT_EQ(e.sum, 0.0);
  EXPECT_EQ(e.mean, 0.0);
  e = korbal::error_line(10.0, 10.0 - 5e-11, 2, 4, 1e-10);  // below TOL
  EXPECT_EQ(e.df, 2);
  EXPECT_EQ(e.sum, 0.0);
  EXPECT_EQ(e.mean, 0.0);
  e = korbal::error_line(10.0, 9.75, 2, 4, 0.25);  // equal to TOL: kept
  EXPECT_EQ(e.sum, 0.25);
  EXPECT_EQ(e.mean, 0.125);
  e = korbal::error_line(10.0, 10.5, 2, 6, 0.25);  // negative, as for cross products
  EXPECT_EQ(e.df, 4);
  EXPECT_EQ(e.mean, -0.125);
}

// ---------------------------------------------------------------------------------
// Independent check on random unbalanced designs.

struct Design {
  std::vector<std::string> ename;
  std::vector<std::vector<double>> X, Y;
  int sdfl = 0, nv = 0;
};

// Effects of random kinds: indicator levels (each row in one level, so the levels
// reproduce the mean and the last is dependent), +-1 contrast columns, two-factor
// indicators (two ones per row), duplicated columns and columns without observations.
Design random_design(std::mt19937& g, int n_effects) {
  static const char* codes[] = {"LOC ", "REPS", "SETS", "GCA ", "SELF", "SCA ", "MATR",
                                "RECP", "FXL ", "CLON", "CXL ", "RXF "};
  Design d;
  const int nobs = std::uniform_int_distribution<int>(15, 60)(g);
  d.nv = std::uniform_int_distribution<int>(1, 4)(g);
  d.X.assign(nobs, {});
  d.ename.push_back("MEAN");
  for (auto& r : d.X) r.push_back(1.0);
  for (int e = 1; e < n_effects; ++e) {
    const int kind = std::uniform_int_distribution<int>(0, 4)(g);
    const int levels = std::uniform_int_distribution<int>(2, 5)(g);
    const std::size_t base = d.X[0].size();
    for (auto& r : d.X) r.resize(base + levels, 0.0);
    for (auto& r : d.X) {
      const int a = std::uniform_int_distribution<int>(0, levels - 1)(g);
      const int b = std::uniform_int_distribution<int>(0, levels - 1)(g);
      switch (kind) {
        case 0: r[base + a] = 1.0; break;
        case 1: r[base + a] += 1.0; r[base + b] += 1.0; break;
        case 2: r[base + a] = (g() & 1) ? 1.0 : -1.0; break;
        case 3:  // levels 0..levels-2 only: last column never observed
          if (a < levels - 1) r[base + a] = 1.0;
          break;
        case 4:  // the last column repeats an earlier one
          r[base + a] = 1.0;
          r[base + levels - 1] = r[base];
          break;
      }
    }
    for (int k = 0; k < levels; ++k) d.ename.push_back(codes[(e - 1) % 12]);
  }
  d.sdfl = static_cast<int>(d.X[0].size());
  std::normal_distribution<double> nd(0.0, 1.0);
  std::vector<double> mu(d.nv);
  for (auto& m : mu) m = 5.0 * nd(g);
  for (int r = 0; r < nobs; ++r) {
    std::vector<double> y(d.nv);
    for (int v = 0; v < d.nv; ++v) {
      y[v] = mu[v];
      for (int j = 0; j < d.sdfl; ++j) y[v] += 0.7 * d.X[r][j] * std::sin(1.0 + j + 3 * v);
      y[v] += nd(g);
    }
    d.Y.push_back(y);
  }
  return d;
}

// Sequential fit by modified Gram-Schmidt in column order: a column whose squared
// residual norm is not above tol is dependent. Returns R (dense, zero rows for
// dependent columns), the accepted flags and z = Q'Y.
struct Reference {
  std::vector<std::vector<double>> R;  // R[i][j]
  std::vector<bool> accepted;
  std::vector<std::vector<double>> z;  // z[i][v]
};

Reference gram_schmidt(const Design& d, double tol) {
  const int n = static_cast<int>(d.X.size());
  Reference ref;
  ref.R.assign(d.sdfl, std::vector<double>(d.sdfl, 0.0));
  ref.accepted.assign(d.sdfl, false);
  ref.z.assign(d.sdfl, std::vector<double>(d.nv, 0.0));
  std::vector<std::vector<double>> Q;  // orthonormal columns (accepted only)
  std::vector<int> qcol;
  for (int j = 0; j < d.sdfl; ++j) {
    std::vector<double> q(n);
    for (int r = 0; r < n; ++r) q[r] = d.X[r][j];
    for (std::size_t t = 0; t < Q.size(); ++t) {
      double s = 0.0;
      for (int r = 0; r < n; ++r) s += Q[t][r] * q[r];
      ref.R[qcol[t]][j] = s;
      for (int r = 0; r < n; ++r) q[r] -= s * Q[t][r];
    }
    double nn = 0.0;
    for (double x : q) nn += x * x;
    if (nn > tol) {
      const double s = std::sqrt(nn);
      for (double& x : q) x /= s;
      ref.R[j][j] = s;
      ref.accepted[j] = true;
      Q.push_back(q);
      qcol.push_back(j);
    }
  }
  for (std::size_t t = 0; t < Q.size(); ++t)
    for (int v = 0; v < d.nv; ++v) {
      double s = 0.0;
      for (int r = 0; r < n; ++r) s += Q[t][r] * d.Y[r][v];
      ref.z[qcol[t]][v] = s;
    }
  return ref;
}

// The reduction written out literally, one pivot at a time, on the packed layout.
void literal_reduction(std::vector<double>& xpx, std::vector<double>& xpy, double tol, int n, int nv) {
  auto X = [&](int i, int j) -> double& { return xpx[packed(i, j) - 1]; };
  auto Y = [&](int i, int v) -> double& { return xpy[(v - 1) * n + i - 1]; };
  for (int i = 1; i <= n; ++i) {
    const double d = X(i, i);
    if (d <= tol || std::isnan(d)) {
      for (int v = 1; v <= nv; ++v) Y(i, v) = 0.0;
      continue;
    }
    const double s = std::sqrt(d);
    for (int j = i + 1; j <= n; ++j) X(i, j) = X(i, j) / s;
    for (int v = 1; v <= nv; ++v) Y(i, v) = Y(i, v) / s;
    for (int k = i + 1; k <= n; ++k) {
      for (int l = k; l <= n; ++l) X(k, l) = X(k, l) - X(i, k) * X(i, l);
      for (int v = 1; v <= nv; ++v) Y(k, v) = Y(k, v) - X(i, k) * Y(i, v);
    }
  }
}

void expect_close(double got, double want, double scale, const std::string& what) {
  EXPECT_LE(std::fabs(got - want), 1e-9 * std::max({std::fabs(want), std::fabs(got), scale}))
      << what << ": got " << got << " want " << want;
}

TEST(IndependentCheck, RandomUnbalancedDesigns) {
  std::mt19937 g(20240611);
  for (int trial = 0; trial < 60; ++trial) {
    const int n_effects = std::uniform_int_distribution<int>(1, 13)(g);
    const Design d = random_design(g, n_effects);
    Normal n = normal_equations(d.X, d.Y, d.sdfl, d.nv);
    const double tol = d.sdfl * n.xpx[0] * 1.0e-11;
    korbal::covred_reduce(n.xpx.data(), n.xpy.data(), tol, d.sdfl, d.nv);
    const Reference ref = gram_schmidt(d, tol);
    const std::string at = "trial " + std::to_string(trial);

    // Dependencies agree column by column.
    for (int i = 0; i < d.sdfl; ++i)
      ASSERT_EQ(n.xpx[packed(i + 1, i + 1) - 1] > tol, ref.accepted[i]) << at << " column " << i + 1;

    // Effects: [first, last] column ranges.
    std::vector<std::pair<int, int>> eff;
    for (int i = 0; i < d.sdfl; ++i)
      if (i == 0 || d.ename[i] != d.ename[i - 1]) eff.push_back({i, i});
      else eff.back().second = i;
    const int ne = static_cast<int>(eff.size());

    // Expected mean squares from the definition.
    const auto ems = ems_of(n.xpx.data(), d.ename, tol);
    ASSERT_EQ(static_cast<int>(ems.size()), ne) << at;
    for (int e = 0; e < ne; ++e) {
      int df = 0;
      for (int i = eff[e].first; i <= eff[e].second; ++i) df += ref.accepted[i];
      EXPECT_EQ(ems[e].df, df) << at << " effect " << e + 1;
      ASSERT_EQ(static_cast<int>(ems[e].coef.size()), ne);
      for (int u = 0; u < ne; ++u) {
        double c = 0.0;
        for (int i = eff[e].first; i <= eff[e].second; ++i) {
          if (!ref.accepted[i]) continue;
          for (int j = std::max(i, eff[u].first); j <= eff[u].second; ++j)
            if (std::fabs(ref.R[i][j]) > tol) c += ref.R[i][j] * ref.R[i][j];
        }
        if (df > 0) c /= df;
        expect_close(ems[e].coef[ne - 1 - u], c, 1e-6,
                     at + " ems(" + std::to_string(e + 1) + "," + std::to_string(u + 1) + ")");
      }
    }

    // Sequential sums of squares and products for every pair of variables.
    for (int a = 0; a < d.nv; ++a)
      for (int b = a; b < d.nv; ++b) {
        const auto res = sums_of(n.xpy.data(), a * d.sdfl, b * d.sdfl, d.ename, accepted(n.xpx, d.sdfl, tol), tol);
        ASSERT_EQ(static_cast<int>(res.lines.size()), ne);
        double total = 0.0, scale = 0.0;
        int tdf = 0;
        for (int e = 0; e < ne; ++e) {
          double s = 0.0, sa = 0.0, sb = 0.0;
          int df = 0;
          for (int i = eff[e].first; i <= eff[e].second; ++i)
            if (ref.accepted[i]) {
              s += ref.z[i][a] * ref.z[i][b];
              sa += ref.z[i][a] * ref.z[i][a];
              sb += ref.z[i][b] * ref.z[i][b];
              ++df;
            }
          if (std::fabs(s) <= tol) s = 0.0;
          const std::string w = at + " ss(" + std::to_string(a + 1) + "," + std::to_string(b + 1) +
                                ") effect " + std::to_string(e + 1);
          EXPECT_EQ(res.lines[e].code, d.ename[eff[e].first]);
          EXPECT_EQ(res.lines[e].df, df) << w;
          const double sc = std::sqrt(sa * sb);
          expect_close(res.lines[e].sum, s, sc, w);
          if (df > 0) expect_close(res.lines[e].mean, s / df, sc / df, w + " mean");
          total += s;
          scale += sc;
          tdf += df;
        }
        expect_close(res.accounted, total, scale, at + " accounted");
        EXPECT_EQ(res.df, tdf);
        EXPECT_EQ(res.dependencies, d.sdfl - tdf);

        // Error line against the residual of the full fit.
        double ypy = 0.0;
        for (const auto& y : d.Y) ypy += y[a] * y[b];
        const int nobs = static_cast<int>(d.X.size());
        const auto err = korbal::error_line(ypy, res.accounted, res.df, nobs, tol);
        if (nobs > tdf) {
          EXPECT_EQ(err.df, nobs - tdf);
          expect_close(err.sum, ypy - total, std::fabs(ypy), at + " error");
        }
      }
  }
}

TEST(IndependentCheck, ReductionMatchesTheOnePivotAtATimeLoopsBitForBit) {
  // Every element must see the same operations in the same order, whatever the
  // pairing of pivots: dependencies first, second, both or neither of a pair.
  std::mt19937 g(99);
  for (int trial = 0; trial < 80; ++trial) {
    const Design d = random_design(g, std::uniform_int_distribution<int>(1, 13)(g));
    Normal a = normal_equations(d.X, d.Y, d.sdfl, d.nv);
    if (trial % 4 == 1) a.xpx[packed(1, 1) - 1] = 0.0;  // a dependent first column
    if (trial % 4 == 2 && d.sdfl >= 4)                   // two dependent columns in a row
      for (int j = 1; j <= d.sdfl; ++j)
        for (int i = 1; i <= j; ++i)
          if (i == 2 || i == 3 || j == 2 || j == 3) a.xpx[packed(i, j) - 1] = 0.0;
    Normal b = a;
    const double tol = d.sdfl * 40 * 1.0e-11;
    korbal::covred_reduce(a.xpx.data(), a.xpy.data(), tol, d.sdfl, d.nv);
    literal_reduction(b.xpx, b.xpy, tol, d.sdfl, d.nv);
    ASSERT_EQ(a.xpx, b.xpx) << "trial " << trial;
    ASSERT_EQ(a.xpy, b.xpy) << "trial " << trial;
  }
}

// ---------------------------------------------------------------------------------
// Self lines analysed: the hayman54 diallel (8 parents, every ordered cross and self,
// 2 blocks) through korbal's data pass against its design matrix written out here. A
// cross f x m: GCA f and m 1, its pair in SCA 1, MATR f +1 and m -1, RECP +1 (f < m) or
// -1; a self of i: GCA i 2, the self column of i 1 (SELF, or the head of SCA).

struct Hayman54Line {
  int block, female, male;
  double days;
};

std::vector<Hayman54Line> hayman54() {
  // "Block","Par1","Par2","Ftime": Par1 is the male, Par2 the female; parents A to H.
  std::istringstream in(testsupport::read_file(testsupport::source_path("examples/csv/hayman54.csv")));
  std::vector<Hayman54Line> lines;
  std::string rec;
  std::getline(in, rec);
  while (std::getline(in, rec)) {
    for (char& ch : rec)
      if (ch == '"' || ch == ',') ch = ' ';
    std::istringstream f(rec);
    int block = 0;
    char male = 0, female = 0;
    double days = 0.0;
    f >> block >> male >> female >> days;
    lines.push_back({block, female - 'A' + 1, male - 'A' + 1, days});
  }
  return lines;
}

Design explicit_design(const std::vector<Hayman54Line>& lines, int p, int iself, bool matr,
                       bool recp) {
  Design d;
  d.nv = 1;
  auto add = [&d](const char* code, int n) {
    const int first = static_cast<int>(d.ename.size());
    for (int k = 0; k < n; ++k) d.ename.emplace_back(code);
    return first;
  };
  const int mean = add("MEAN", 1), reps = add("REPS", 2);
  add("SETS", 1);
  const int gca = add("GCA ", p);
  const int self = iself >= 1 ? add("SELF", p) : add("SCA ", p);
  std::map<std::pair<int, int>, int> pair;
  const int sca = add("SCA ", p * (p - 1) / 2);
  for (int lo = 1, k = 0; lo <= p; ++lo)
    for (int hi = lo + 1; hi <= p; ++hi) pair[{lo, hi}] = k++;
  const int mat = matr ? add("MATR", p) : -1;
  const int rec = recp ? add("RECP", p * (p - 1) / 2) : -1;
  d.sdfl = static_cast<int>(d.ename.size());
  for (const Hayman54Line& l : lines) {
    std::vector<double> x(static_cast<std::size_t>(d.sdfl), 0.0);
    x[mean] = 1.0;
    x[reps + l.block - 1] = 1.0;
    x[gca - 1] = 1.0;  // SETS: the one set
    if (l.female == l.male) {
      x[gca + l.female - 1] = 2.0;
      x[self + l.female - 1] = 1.0;
    } else {
      const int lo = std::min(l.female, l.male), hi = std::max(l.female, l.male);
      x[gca + l.female - 1] = x[gca + l.male - 1] = 1.0;
      x[sca + pair[{lo, hi}]] = 1.0;
      if (matr) {
        x[mat + l.female - 1] = 1.0;
        x[mat + l.male - 1] = -1.0;
      }
      if (recp) x[rec + pair[{lo, hi}]] = l.female < l.male ? 1.0 : -1.0;
    }
    d.X.push_back(x);
    d.Y.push_back({l.days});
  }
  return d;
}

TEST(IndependentCheck, SelfLinesOfHayman54AgreeWithTheExplicitDesign) {
  const struct {
    const char* name;
    int iself, imatr, irecp;
    std::vector<std::pair<std::string, int>> df;  // degrees of freedom by effect, error last
  } cases[] = {
      {"method 1: selfs in SCA, maternal and reciprocal", 0, 1, 1,
       {{"GCA ", 7}, {"SCA ", 28}, {"MATR", 7}, {"RECP", 21}, {"Error", 63}}},
      {"selfs in SELF, reciprocal", 1, 0, 1,
       {{"GCA ", 7}, {"SELF", 8}, {"SCA ", 20}, {"RECP", 28}, {"Error", 63}}},
      {"selfs in SCA, reciprocals pooled", 0, 0, 0, {{"GCA ", 7}, {"SCA ", 28}, {"Error", 91}}},
  };
  const std::vector<Hayman54Line> lines = hayman54();
  ASSERT_EQ(lines.size(), 128u);
  std::string text;
  char buf[64];
  for (const Hayman54Line& l : lines) {
    std::snprintf(buf, sizeof buf, "%3d%3d%3d%3d%3d%8.0f\n", l.block, 1, l.female, l.male, 0, l.days);
    text += buf;
  }
  testsupport::TempDir tmp;
  testsupport::write_file(tmp / "lines.dat", text);
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    korbal::Control c;
    c.NLINES = 8;
    c.NV = 1;
    c.ISELF = t.iself;
    c.IMATR = t.imatr;
    c.IRECP = t.irecp;
    c.NREP = 2;
    c.NSETS = 1;
    korbal::normalise(c);
    c.selfs = true;
    const korbal::Model m = korbal::allocate_columns(c);
    auto a = std::make_unique<korbal::Arrays>();
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({}, in, out, tmp.path());
    io.open(1, "lines.dat", rec::OpenMode::Input);
    const korbal::PassResult r =
        korbal::accumulate(io, c, m, *a, rec::Format::compile("(5I3,F8.0)"), 1);
    EXPECT_EQ(r.self_lines, 16);
    ASSERT_EQ(a->NOBS, 128);

    const Design d = explicit_design(lines, 8, t.iself, t.imatr != 0, t.irecp != 0);
    ASSERT_EQ(m.SDFL, d.sdfl);
    const Normal n = normal_equations(d.X, d.Y, d.sdfl, d.nv);
    const std::size_t npx = n.xpx.size();
    EXPECT_EQ(std::vector<double>(a->XPX.begin(), a->XPX.begin() + npx), n.xpx);
    EXPECT_EQ(std::vector<double>(a->XPY.begin(), a->XPY.begin() + d.sdfl), n.xpy);

    // The sequential analysis of korbal's equations against the fit of X in column order.
    const double tol = korbal::pivot_tolerance(m.SDFL, a->XPX[0]);
    const Reference ref = gram_schmidt(d, tol);
    korbal::covred_reduce(a->XPX.data(), a->XPY.data(), tol, m.SDFL, 1);
    const std::vector<korbal::EffectBlock> effects = m.effects();
    const korbal::AnovaResult res =
        korbal::anova_sums(a->XPY.data(), 0, 0, effects, korbal::accepted_columns(a->XPX.data(), m.SDFL, tol), tol);
    ASSERT_EQ(res.lines.size(), effects.size());
    double fitted = 0.0, ypy = 0.0;
    std::map<std::string, int> df;
    for (std::size_t e = 0; e < effects.size(); ++e) {
      double ss = 0.0;
      int k = 0;
      for (std::int64_t col = effects[e].first; col <= effects[e].last; ++col)
        if (ref.accepted[static_cast<std::size_t>(col - 1)]) {
          ss += ref.z[static_cast<std::size_t>(col - 1)][0] * ref.z[static_cast<std::size_t>(col - 1)][0];
          ++k;
        }
      fitted += ss;
      EXPECT_EQ(res.lines[e].df, k) << effects[e].label;
      expect_close(res.lines[e].sum, ss, 1.0, effects[e].label);
      df[effects[e].label] = k;
    }
    for (const Hayman54Line& l : lines) ypy += l.days * l.days;
    const korbal::ErrorLine err = korbal::error_line(ypy, res.accounted, res.df, 128, tol);
    expect_close(err.sum, ypy - fitted, ypy, "error");
    df["Error"] = err.df;
    for (const auto& [code, want] : t.df) EXPECT_EQ(df[code], want) << code;
  }
}

}  // namespace
