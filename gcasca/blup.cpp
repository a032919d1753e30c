// The mixed-model equations of one trait and the predictions they give.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

#include "gcasca/dense.h"
#include "gcasca/gcasca.h"

namespace gcasca {

bool is_fixed_effect(std::string_view code) {
  return code == "MEAN" || code == "LOC" || code == "REPS" || code == "SETS";
}

bool solve_mixed_model(const double* XPX, const double* xpy, int n,
                       std::span<const double> ratio, std::span<const char> keep,
                       Solution& out) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  out.value.assign(static_cast<std::size_t>(n), 0.0);
  out.cinv.assign(static_cast<std::size_t>(n), nan);
  out.position.assign(static_cast<std::size_t>(n), -1);
  out.inverse_factor.clear();
  out.nr = 0;
  // The columns that enter the equations, in natural order: accepted fixed columns,
  // then random columns with a positive variance.
  std::vector<int> cols;
  std::size_t nfixed = 0;
  for (int i = 0; i < n; ++i) {
    const double r = ratio[static_cast<std::size_t>(i)];
    if (r == 0.0) {
      if (cols.size() > nfixed)
        throw std::invalid_argument("solve_mixed_model: a fixed column after a random one");
      if (keep[static_cast<std::size_t>(i)]) {
        cols.push_back(i);
        ++nfixed;
      }
    } else if (std::isinf(r)) {
      out.cinv[static_cast<std::size_t>(i)] = 0.0;
    } else {
      cols.push_back(i);
    }
  }
  const std::size_t m = cols.size();
  if (m == 0) return true;

  // Lower triangle of the coefficient matrix, row by row (row a holds columns 0..a).
  auto xpx = [XPX](std::int64_t i, std::int64_t j) {  // 0-based, any order
    if (i > j) std::swap(i, j);
    return XPX[i + (j + 1) * j / 2];
  };
  std::vector<double> L(m * m, 0.0);
  auto at = [&L, m](std::size_t a, std::size_t b) -> double& { return L[a * m + b]; };
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = 0; b <= a; ++b) at(a, b) = xpx(cols[a], cols[b]);
    at(a, a) += ratio[static_cast<std::size_t>(cols[a])];
  }
  // Cholesky factor L L' in place.
  if (!cholesky(L.data(), m)) return false;
  // Solution: L w = X'y, then L' b = w.
  std::vector<double> b(m);
  for (std::size_t a = 0; a < m; ++a) b[a] = (xpy[cols[a]] - dot(&L[a * m], b.data(), a)) / at(a, a);
  for (std::size_t a = m; a-- > 0;) {
    double v = b[a];
    for (std::size_t k = a + 1; k < m; ++k) v -= at(k, a) * b[k];
    b[a] = v / at(a, a);
  }
  for (std::size_t a = 0; a < m; ++a) out.value[static_cast<std::size_t>(cols[a])] = b[a];

  // The random block of the inverse is the inverse of the Schur complement, which is
  // Lrr Lrr' (Lrr the random rows and columns of L): its diagonal is the squared column
  // norms of T = Lrr^-1, built column by column by forward substitution.
  // T is kept (column j of T as row j of `inverse_factor`) for the covariances.
  const std::size_t nr = m - nfixed;
  out.nr = nr;
  out.inverse_factor.assign(nr * nr, 0.0);
  std::vector<double> norm2(nr);
  lower_inverse_columns(L.data(), m, nfixed, out.inverse_factor.data(), norm2.data());
  for (std::size_t j = 0; j < nr; ++j) {
    out.cinv[static_cast<std::size_t>(cols[nfixed + j])] = norm2[j];
    out.position[static_cast<std::size_t>(cols[nfixed + j])] = static_cast<int>(j);
  }
  return true;
}

double Solution::cov(std::size_t i, std::size_t j) const {
  const int a = position[i], b = position[j];
  if (a < 0 || b < 0) return std::isnan(cinv[i]) || std::isnan(cinv[j])
                                 ? std::numeric_limits<double>::quiet_NaN()
                                 : 0.0;
  // (T'T)(a, b): T is lower triangular, so the sum runs from the later of the two.
  const std::size_t lo = static_cast<std::size_t>(std::max(a, b));
  return dot(&inverse_factor[static_cast<std::size_t>(a) * nr + lo],
             &inverse_factor[static_cast<std::size_t>(b) * nr + lo], nr - lo);
}

bool compares_levels(std::string_view code) {
  return code == "GCA" || code == "SELF" || code == "MATR";
}

std::vector<Difference> level_differences(
    const std::vector<ColumnId>& columns, std::span<const double> value,
    const std::function<double(std::size_t, std::size_t)>& cov) {
  std::vector<Difference> out;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnId& a = columns[i];
    if (a.fixed || !compares_levels(a.effect)) continue;
    for (std::size_t j = i + 1; j < columns.size(); ++j) {
      const ColumnId& b = columns[j];
      if (b.effect != a.effect || b.set != a.set || b.loc != a.loc) continue;
      Difference d;
      d.effect = a.effect;
      d.set = a.set;
      d.level_1 = a.line_1;
      d.level_2 = b.line_1;
      d.difference = value[i] - value[j];
      const double v = cov(i, i) + cov(j, j) - 2.0 * cov(i, j);
      d.se = std::isnan(v) ? v : std::sqrt(v > 0.0 ? v : 0.0);
      out.push_back(d);
    }
  }
  return out;
}

TraitResult predict_trait(const std::string& name, const std::vector<ColumnId>& columns,
                          const double* XPX, const double* xpy, std::span<const char> keep,
                          const std::map<std::string, double>& components) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  TraitResult r;
  r.name = name;
  for (const ColumnId& c : columns)
    if (!c.fixed && (r.effects.empty() || r.effects.back().code != c.effect))
      r.effects.push_back({c.effect, nan, false});
  const auto err = components.find("ERR");
  const double s2e = err == components.end() ? nan : err->second;
  // The ratio added to the diagonal of a random column; infinite (variance 0) when the
  // component is not positive or so small against the error that the ratio overflows,
  // and kept above 0 (which would make the column fixed) when it underflows.
  auto ratio_of = [s2e, inf](double v) {
    if (!(v > 0.0)) return inf;
    const double q = s2e / v;
    if (std::isnan(q)) return inf;
    return q > 0.0 ? q : std::numeric_limits<double>::min();
  };
  for (EffectUse& e : r.effects) {
    const auto it = components.find(e.code);
    if (it != components.end()) e.variance = it->second;
    e.positive = e.variance > 0.0 && std::isfinite(ratio_of(e.variance));
  }
  if (components.empty()) {
    r.reason = "NO VARIANCE COMPONENTS FOR THIS TRAIT IN THE COMPONENTS FILE";
    return r;
  }
  if (err == components.end() || !(err->second > 0.0)) {
    r.reason = "ERROR VARIANCE COMPONENT NOT POSITIVE";
    return r;
  }
  r.error_variance = err->second;

  const std::size_t n = columns.size();
  std::vector<double> ratio(n, 0.0), variance(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    if (columns[i].fixed) continue;
    const auto it = components.find(columns[i].effect);
    const double v = it == components.end() ? nan : it->second;
    ratio[i] = ratio_of(v);
    variance[i] = std::isinf(ratio[i]) ? 0.0 : v;
  }
  std::vector<char> keep_all(n, 1);
  for (std::size_t i = 0; i < keep.size() && i < n; ++i) keep_all[i] = keep[i];
  Solution s;
  if (!solve_mixed_model(XPX, xpy, static_cast<int>(n), ratio, keep_all, s)) {
    r.reason = "MIXED-MODEL EQUATIONS NOT POSITIVE DEFINITE";
    return r;
  }
  r.blup.assign(n, 0.0);
  r.se.assign(n, 0.0);
  r.reliability.assign(n, nan);
  for (std::size_t i = 0; i < n; ++i) {
    if (columns[i].fixed || variance[i] == 0.0) continue;
    const double pev = r.error_variance * s.cinv[i];
    r.blup[i] = s.value[i];
    r.se[i] = std::sqrt(pev > 0.0 ? pev : 0.0);
    r.reliability[i] = 1.0 - pev / variance[i];
  }
  // The prediction errors of two levels: sigma2(ERR) times the inverse's elements; a
  // level of variance 0 is predicted exactly (as 0).
  r.differences = level_differences(columns, r.blup, [&](std::size_t i, std::size_t j) {
    if (variance[i] == 0.0 || variance[j] == 0.0) return 0.0;
    return r.error_variance * s.cov(i, j);
  });
  r.predicted = true;
  return r;
}

}  // namespace gcasca
