// REML against a dense REML written here: the explicit covariance V = sum sigma2_k Z_k Z_k'
// + sigma2(ERR) I, its log-determinant, the projection P = V^-1 - V^-1 X (X'V^-1 X)^-1 X'V^-1,
// and Fisher scoring on them, on small unbalanced diallels (crosses missing, uneven
// replication).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "gcasca/gcasca.h"
#include "gcasca/reml.h"
#include "support.h"

namespace {

using testsupport::inverse;
using testsupport::Matrix;

Matrix zeros(std::size_t r, std::size_t c) { return Matrix(r, std::vector<double>(c, 0.0)); }

Matrix mul(const Matrix& a, const Matrix& b) {
  Matrix c = zeros(a.size(), b[0].size());
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t k = 0; k < b.size(); ++k)
      if (a[i][k] != 0.0)
        for (std::size_t j = 0; j < b[0].size(); ++j) c[i][j] += a[i][k] * b[k][j];
  return c;
}

Matrix transposed(const Matrix& a) {
  Matrix t = zeros(a[0].size(), a.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < a[0].size(); ++j) t[j][i] = a[i][j];
  return t;
}

// A diallel of p lines, one location: MEAN fixed, GCA and SCA random. `reps[pair]` is
// the number of plots of each unordered pair (0: the cross is missing).
struct Trial {
  std::vector<gcasca::ColumnId> ids;
  Matrix X;                 // n x 1 (the mean)
  std::vector<Matrix> Z;    // GCA, SCA
  std::vector<double> y;
};

Trial simulate(int p, const std::vector<int>& reps, double s2g, double s2s, double s2e, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  Trial t;
  t.ids.push_back({"MEAN", true});
  for (int i = 1; i <= p; ++i) t.ids.push_back({"GCA", false, 0, 0, 1, i});
  const int pairs = p * (p - 1) / 2;
  for (int k = 0; k < pairs; ++k) t.ids.push_back({"SCA", false});
  std::vector<double> g(p), s(pairs);
  for (double& v : g) v = std::sqrt(s2g) * normal(rng);
  for (double& v : s) v = std::sqrt(s2s) * normal(rng);
  int pair = 0;
  std::vector<std::vector<double>> zg, zs;
  for (int i = 0; i < p; ++i) {
    for (int j = i + 1; j < p; ++j, ++pair) {
      for (int r = 0; r < reps[pair]; ++r) {
        std::vector<double> rg(p, 0.0), rs(pairs, 0.0);
        rg[i] = rg[j] = 1.0;
        rs[pair] = 1.0;
        zg.push_back(rg);
        zs.push_back(rs);
        t.y.push_back(10.0 + g[i] + g[j] + s[pair] + std::sqrt(s2e) * normal(rng));
      }
    }
  }
  t.X = Matrix(t.y.size(), std::vector<double>{1.0});
  t.Z = {zg, zs};
  return t;
}

// The normal equations of the whole model [X Z_1 Z_2], as korbal's data pass gives them.
struct Equations {
  std::vector<double> XPX, xpy;
  double ypy = 0.0;
};

Equations equations(const Trial& t) {
  Matrix W = t.X;
  for (std::size_t r = 0; r < W.size(); ++r)
    for (const Matrix& z : t.Z) W[r].insert(W[r].end(), z[r].begin(), z[r].end());
  const std::size_t m = W[0].size();
  Equations e;
  e.XPX.assign(m * (m + 1) / 2, 0.0);
  e.xpy.assign(m, 0.0);
  for (std::size_t r = 0; r < W.size(); ++r) {
    for (std::size_t j = 0; j < m; ++j) {
      for (std::size_t i = 0; i <= j; ++i) e.XPX[i + j * (j + 1) / 2] += W[r][i] * W[r][j];
      e.xpy[j] += W[r][j] * t.y[r];
    }
    e.ypy += t.y[r] * t.y[r];
  }
  return e;
}

// The dense REML of the explicit V: log-likelihood, and Fisher scoring to its maximum.
struct Dense {
  const Trial& t;
  Matrix V(const std::vector<double>& v) const {
    const std::size_t n = t.y.size();
    Matrix out = zeros(n, n);
    for (std::size_t k = 0; k < t.Z.size(); ++k) {
      const Matrix zz = mul(t.Z[k], transposed(t.Z[k]));
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) out[i][j] += v[k] * zz[i][j];
    }
    for (std::size_t i = 0; i < n; ++i) out[i][i] += v.back();
    return out;
  }
  Matrix projection(const std::vector<double>& v, double* logdets) const {
    double ldv = 0.0, ldx = 0.0;
    const Matrix Vi = inverse(V(v), &ldv);
    const Matrix ViX = mul(Vi, t.X);
    const Matrix XViX = inverse(mul(transposed(t.X), ViX), &ldx);
    const Matrix corr = mul(mul(ViX, XViX), transposed(ViX));
    Matrix P = Vi;
    for (std::size_t i = 0; i < P.size(); ++i)
      for (std::size_t j = 0; j < P.size(); ++j) P[i][j] -= corr[i][j];
    if (logdets) *logdets = ldv + ldx;  // log|V| + log|X'V^-1 X|
    return P;
  }
  double loglik(const std::vector<double>& v) const {
    double ld = 0.0;
    const Matrix P = projection(v, &ld);
    double ypy = 0.0;
    for (std::size_t i = 0; i < P.size(); ++i)
      for (std::size_t j = 0; j < P.size(); ++j) ypy += t.y[i] * P[i][j] * t.y[j];
    const double n = static_cast<double>(t.y.size()), p = static_cast<double>(t.X[0].size());
    return -0.5 * (ld + ypy + (n - p) * std::log(2.0 * M_PI));
  }
  std::vector<double> fit(std::vector<double> v) const {
    const std::size_t nk = v.size(), n = t.y.size();
    for (int it = 0; it < 200; ++it) {
      const Matrix P = projection(v, nullptr);
      std::vector<Matrix> PV(nk);
      for (std::size_t k = 0; k < nk; ++k) {
        if (k + 1 < nk) {
          PV[k] = mul(P, mul(t.Z[k], transposed(t.Z[k])));
        } else {
          PV[k] = P;
        }
      }
      std::vector<double> py(n, 0.0);
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) py[i] += P[i][j] * t.y[j];
      Matrix F = zeros(nk, nk);
      Matrix score = zeros(nk, 1);
      for (std::size_t a = 0; a < nk; ++a) {
        double tr = 0.0, quad = 0.0;
        for (std::size_t i = 0; i < n; ++i) tr += PV[a][i][i];
        const Matrix& Va = a + 1 < nk ? mul(t.Z[a], transposed(t.Z[a])) : Matrix{};
        for (std::size_t i = 0; i < n; ++i)
          for (std::size_t j = 0; j < n; ++j) quad += py[i] * (a + 1 < nk ? Va[i][j] : (i == j)) * py[j];
        score[a][0] = -0.5 * (tr - quad);
        for (std::size_t b = 0; b < nk; ++b) {
          double s = 0.0;
          for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) s += PV[a][i][j] * PV[b][j][i];
          F[a][b] = 0.5 * s;
        }
      }
      const Matrix step = mul(inverse(F), score);
      double change = 0.0;
      for (std::size_t k = 0; k < nk; ++k) {
        v[k] += step[k][0];
        change = std::max(change, std::abs(step[k][0]) / std::abs(v[k]));
      }
      if (change < 1e-12) break;
    }
    return v;
  }
};

std::vector<int> uneven(int pairs, unsigned seed, bool missing) {
  std::mt19937 rng(seed);
  std::vector<int> reps(static_cast<std::size_t>(pairs));
  for (int& r : reps) r = 1 + static_cast<int>(rng() % 4);
  if (missing) reps[1] = reps[4] = 0;
  return reps;
}

TEST(Reml, LikelihoodIsTheDenseOneAtAnyValues) {
  const Trial t = simulate(5, uneven(10, 3, true), 2.0, 1.0, 1.5, 11);
  const Equations e = equations(t);
  const Dense dense{t};
  const std::vector<char> keep{1};
  for (const std::vector<double>& v : {std::vector<double>{2.0, 1.0, 1.5}, {0.1, 3.0, 0.7}, {5.0, 0.01, 2.0}})
    EXPECT_NEAR(gcasca::reml_loglik(t.ids, e.XPX.data(), e.xpy.data(), e.ypy,
                                    static_cast<std::int64_t>(t.y.size()), keep, v),
                dense.loglik(v), 1e-9 * std::abs(dense.loglik(v)));
}

TEST(Reml, UnbalancedTrialsMatchTheDenseFit) {
  struct Case { int p; bool missing; double s2g, s2s, s2e; unsigned seed; } cases[] = {
      {5, true, 2.0, 1.0, 1.5, 11}, {6, true, 0.5, 2.0, 1.0, 5}, {7, false, 1.0, 0.5, 2.0, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.p << " lines, seed " << c.seed);
    const Trial t = simulate(c.p, uneven(c.p * (c.p - 1) / 2, c.seed, c.missing), c.s2g, c.s2s, c.s2e, c.seed);
    const Equations e = equations(t);
    const std::vector<char> keep{1};
    const gcasca::RemlResult r = gcasca::reml_trait(t.ids, e.XPX.data(), e.xpy.data(), e.ypy,
                                                    static_cast<std::int64_t>(t.y.size()), keep);
    ASSERT_TRUE(r.converged) << r.reason;
    ASSERT_EQ(r.codes, (std::vector<std::string>{"GCA", "SCA", "ERR"}));
    const Dense dense{t};
    const std::vector<double> best = dense.fit({1.0, 1.0, 1.0});
    ASSERT_TRUE(best[0] > 0.0 && best[1] > 0.0) << "the case needs positive components";
    EXPECT_GE(r.loglik, dense.loglik(best) - 1e-9);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(r.estimate[k], best[k], 1e-4 * best[k]);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_TRUE(r.se[k] > 0.0 && !r.boundary[k]);
  }
}

TEST(Reml, AVarianceOfZeroStaysOnTheBoundary) {
  // No SCA in the data and little GCA against the error: SCA's REML estimate is 0.
  const Trial t = simulate(6, uneven(15, 2, false), 1.0, 0.0, 4.0, 2);
  const Equations e = equations(t);
  const std::vector<char> keep{1};
  const auto n = static_cast<std::int64_t>(t.y.size());
  const gcasca::RemlResult r = gcasca::reml_trait(t.ids, e.XPX.data(), e.xpy.data(), e.ypy, n, keep);
  ASSERT_TRUE(r.converged) << r.reason;
  EXPECT_TRUE(r.boundary[1]);
  EXPECT_EQ(r.estimate[1], 0.0);
  EXPECT_TRUE(std::isnan(r.se[1]));
  // No positive SCA variance does better, near the estimates.
  for (double s2s : {1e-4, 1e-2, 0.1}) {
    std::vector<double> v = r.estimate;
    v[1] = s2s;
    EXPECT_LT(gcasca::reml_loglik(t.ids, e.XPX.data(), e.xpy.data(), e.ypy, n, keep, v), r.loglik);
  }
}

}  // namespace
