// REML of the variance components of one trait by average-information iterations on
// the mixed-model equations (see reml.h).
//
// With W the used columns of the model (the accepted fixed ones and those of every
// random effect whose variance is not 0), lambda_a = sigma2(ERR) / sigma2(effect of a)
// on the diagonal of the random columns, C = W'W + diag(lambda), b = C^-1 W'y:
//   -2 logL = (N - p - q) log s2e + sum_k q_k log s2_k + log|C| + (y'y - b'W'y) / s2e
//             + (N - p) log 2 pi,
// p the fixed and q the random columns. With P the projection of REML,
//   W'e = lambda b (e = y - W b), e'e = y'y - b'W'y - sum lambda_a b_a^2,
//   tr(P V_k) = q_k / s2_k - s2e tr(C^-1 of block k) / s2_k^2, y'P V_k P y = |b_k|^2 / s2_k^2,
//   tr(P) = (N - p - sum_k s2_k tr(P V_k)) / s2e, y'P P y = e'e / s2e^2,
// and the working variates of the average information are q_k = Z_k b_k / s2_k and
// q_e = e / s2e, whose products W'q and q'q come from X'X as well.
#include "gcasca/reml.h"

#include "gcasca/dense.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace gcasca {

namespace {

constexpr double kLogTwoPi = 1.8378770664093454836;
constexpr int kMaxIterations = 100;
constexpr int kMaxHalvings = 12;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The problem of one trait: the normal equations and which columns each variance owns.
struct Problem {
  const double* XPX;
  const double* xpy;
  double ypy;
  double nobs;
  std::vector<int> fixed;                // accepted fixed columns, 0-based
  std::vector<std::vector<int>> effect;  // columns of each random effect, model order

  double xpx(int i, int j) const {  // element (i, j) of X'X, 0-based, any order
    if (i > j) std::swap(i, j);
    return XPX[i + static_cast<std::ptrdiff_t>(j + 1) * j / 2];
  }
};

// Solves L w = v in place (L lower, row-major m x m).
void forward(const std::vector<double>& L, std::size_t m, double* v) {
  for (std::size_t a = 0; a < m; ++a) {
    v[a] = (v[a] - dot(&L[a * m], v, a)) / L[a * m + a];
  }
}

// Solves L' x = w in place.
void backward(const std::vector<double>& L, std::size_t m, double* v) {
  for (std::size_t a = m; a-- > 0;) {
    double s = v[a];
    for (std::size_t k = a + 1; k < m; ++k) s -= L[k * m + a] * v[k];
    v[a] = s / L[a * m + a];
  }
}

// Everything the iterations need at one point of the parameter space.
struct Point {
  bool ok = false;
  double loglik = kNaN;
  std::vector<double> score;  // d logL / d value, per value (random effects, then ERR)
  std::vector<double> ai;     // average information of logL, (K+1) x (K+1)
  std::vector<double> em;     // the EM update of every value
};

Point evaluate(const Problem& P, std::span<const double> v, bool derivatives) {
  Point pt;
  const std::size_t K = P.effect.size();
  const double s2e = v[K];
  if (!(s2e > 0.0)) return pt;
  // The columns that enter, and the effect of each (K for a fixed one).
  std::vector<int> cols(P.fixed);
  std::vector<std::size_t> owner(P.fixed.size(), K);
  double q = 0.0, logdet_g = 0.0;
  for (std::size_t k = 0; k < K; ++k) {
    if (!(v[k] > 0.0)) continue;
    for (int c : P.effect[k]) {
      cols.push_back(c);
      owner.push_back(k);
    }
    q += static_cast<double>(P.effect[k].size());
    logdet_g += static_cast<double>(P.effect[k].size()) * std::log(v[k]);
  }
  const std::size_t m = cols.size();
  std::vector<double> lambda(m, 0.0);
  for (std::size_t a = 0; a < m; ++a)
    if (owner[a] < K) lambda[a] = s2e / v[owner[a]];
  std::vector<double> L(m * m, 0.0);
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = 0; b <= a; ++b) L[a * m + b] = P.xpx(cols[a], cols[b]);
    L[a * m + a] += lambda[a];
  }
  if (!cholesky(L.data(), m)) return pt;
  double logdet_c = 0.0;
  for (std::size_t a = 0; a < m; ++a) logdet_c += 2.0 * std::log(L[a * m + a]);
  std::vector<double> r(m), b(m);
  for (std::size_t a = 0; a < m; ++a) r[a] = b[a] = P.xpy[cols[a]];
  forward(L, m, b.data());
  backward(L, m, b.data());
  double fit = 0.0;
  for (std::size_t a = 0; a < m; ++a) fit += b[a] * r[a];
  const double sse = P.ypy - fit;  // y'P y times s2e
  const double p = static_cast<double>(P.fixed.size());
  const double n = P.nobs;
  const double m2ll = (n - p - q) * std::log(s2e) + logdet_g + logdet_c + sse / s2e + (n - p) * kLogTwoPi;
  pt.loglik = -0.5 * m2ll;
  pt.ok = std::isfinite(pt.loglik);
  if (!derivatives || !pt.ok) return pt;

  // The diagonal of C^-1 over the random columns: C^-1 restricted to them is the inverse
  // of the Schur complement Lrr Lrr' (L is block lower triangular, fixed columns first),
  // so its diagonal is the squared column norms of Lrr^-1, built column by column.
  const std::size_t nf = P.fixed.size(), nr = m - nf;
  std::vector<double> tr(K, 0.0), bb(K, 0.0), qk(K, 0.0);
  double lam_bb = 0.0;
  std::vector<double> norm2(nr);
  lower_inverse_columns(L.data(), m, nf, nullptr, norm2.data());
  for (std::size_t j = 0; j < nr; ++j) tr[owner[nf + j]] += norm2[j];
  for (std::size_t a = nf; a < m; ++a) {
    bb[owner[a]] += b[a] * b[a];
    qk[owner[a]] += 1.0;
    lam_bb += lambda[a] * b[a] * b[a];
  }
  const double ee = sse - lam_bb;
  pt.score.assign(K + 1, 0.0);
  pt.em.assign(K + 1, 0.0);
  double sum_tr = 0.0;
  for (std::size_t k = 0; k < K; ++k) {
    if (!(v[k] > 0.0)) continue;
    const double tr_pv = qk[k] / v[k] - s2e * tr[k] / (v[k] * v[k]);
    pt.score[k] = -0.5 * (tr_pv - bb[k] / (v[k] * v[k]));
    pt.em[k] = (bb[k] + s2e * tr[k]) / qk[k];
    sum_tr += v[k] * tr_pv;
  }
  const double tr_p = (n - p - sum_tr) / s2e;
  pt.score[K] = -0.5 * (tr_p - ee / (s2e * s2e));
  pt.em[K] = sse / (n - p);

  // The working variates in the space of W: B_k = W'Z_k b_k / s2_k, B_e = W'e / s2e.
  const std::size_t nv = K + 1;
  std::vector<double> B(m * nv, 0.0);  // column k of B at B[a * nv + k]
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t c = 0; c < m; ++c) {
      if (owner[c] == K) continue;
      B[a * nv + owner[c]] += P.xpx(cols[a], cols[c]) * b[c] / v[owner[c]];
    }
    B[a * nv + K] = lambda[a] * b[a] / s2e;
  }
  // q_k'q_j = sum over the columns a of k of b_a B_j[a] / s2_k; q_e'q_e = e'e / s2e^2.
  std::vector<double> QQ(nv * nv, 0.0);
  for (std::size_t a = 0; a < m; ++a) {
    if (owner[a] == K) continue;
    for (std::size_t j = 0; j < nv; ++j) QQ[owner[a] * nv + j] += b[a] * B[a * nv + j] / v[owner[a]];
  }
  for (std::size_t j = 0; j < K; ++j) QQ[K * nv + j] = QQ[j * nv + K];
  QQ[K * nv + K] = ee / (s2e * s2e);
  // B'C^-1 B = (L^-1 B)'(L^-1 B).
  std::vector<double> col(m);
  std::vector<std::vector<double>> TB(nv);
  for (std::size_t j = 0; j < nv; ++j) {
    for (std::size_t a = 0; a < m; ++a) col[a] = B[a * nv + j];
    forward(L, m, col.data());
    TB[j] = col;
  }
  pt.ai.assign(nv * nv, 0.0);
  for (std::size_t i = 0; i < nv; ++i) {
    for (std::size_t j = 0; j <= i; ++j) {
      double s = 0.0;
      for (std::size_t a = 0; a < m; ++a) s += TB[i][a] * TB[j][a];
      const double sym = 0.5 * (QQ[i * nv + j] + QQ[j * nv + i]);
      pt.ai[i * nv + j] = pt.ai[j * nv + i] = 0.5 * (sym - s) / s2e;
    }
  }
  return pt;
}

// The square matrix `a` (n x n) restricted to the indices `idx`.
std::vector<double> restricted(const std::vector<double>& a, std::size_t n, const std::vector<std::size_t>& idx) {
  const std::size_t r = idx.size();
  std::vector<double> out(r * r);
  for (std::size_t i = 0; i < r; ++i)
    for (std::size_t j = 0; j < r; ++j) out[i * r + j] = a[idx[i] * n + idx[j]];
  return out;
}

Problem make_problem(const std::vector<ColumnId>& columns, const double* XPX, const double* xpy,
                     double ypy, std::int64_t nobs, std::span<const char> keep,
                     std::vector<std::string>* codes) {
  Problem P{XPX, xpy, ypy, static_cast<double>(nobs), {}, {}};
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnId& c = columns[i];
    if (c.fixed) {
      if (i < keep.size() && keep[i]) P.fixed.push_back(static_cast<int>(i));
      continue;
    }
    if (i == 0 || columns[i - 1].effect != c.effect || columns[i - 1].fixed) {
      P.effect.emplace_back();
      if (codes) codes->push_back(c.effect);
    }
    P.effect.back().push_back(static_cast<int>(i));
  }
  return P;
}

}  // namespace

double reml_loglik(const std::vector<ColumnId>& columns, const double* XPX, const double* xpy,
                   double ypy, std::int64_t nobs, std::span<const char> keep,
                   std::span<const double> values) {
  const Problem P = make_problem(columns, XPX, xpy, ypy, nobs, keep, nullptr);
  return evaluate(P, values, false).loglik;
}

RemlResult reml_trait(const std::vector<ColumnId>& columns, const double* XPX, const double* xpy,
                      double ypy, std::int64_t nobs, std::span<const char> keep,
                      const std::map<std::string, double>& start,
                      const std::set<std::string>& no_df) {
  RemlResult res;
  const Problem P = make_problem(columns, XPX, xpy, ypy, nobs, keep, &res.codes);
  const std::size_t K = P.effect.size(), nv = K + 1;
  res.codes.push_back("ERR");
  for (const auto& e : P.effect) res.levels.push_back(static_cast<std::int64_t>(e.size()));
  res.levels.push_back(0);
  res.boundary.assign(nv, 0);
  res.no_data.assign(nv, 0);
  res.se.assign(nv, kNaN);
  const double dfe = P.nobs - static_cast<double>(P.fixed.size());
  if (!(dfe > 0.0)) {
    res.reason = "NO DEGREES OF FREEDOM AFTER THE FIXED EFFECTS";
    res.estimate.assign(nv, kNaN);
    return res;
  }

  // Start: the variance left after the fixed effects, shared evenly by the error and
  // the random effects. An effect whose columns hold no observation has no
  // information on its variance: it stays at 0.
  std::vector<double> v(nv, 0.0);
  v[K] = 1.0;
  const Point base = evaluate(P, v, true);
  const double s2y = base.ok ? base.em[K] : kNaN;
  if (!(s2y > 0.0)) {
    res.reason = "NO VARIATION LEFT AFTER THE FIXED EFFECTS";
    res.estimate.assign(nv, kNaN);
    return res;
  }
  std::size_t informative = 0;
  for (std::size_t k = 0; k < K; ++k) {
    bool data = false;
    for (int c : P.effect[k]) data = data || P.xpx(c, c) > 0.0;
    if (!data)
      res.boundary[k] = res.no_data[k] = 1;
    else if (no_df.count(res.codes[k]))
      res.boundary[k] = 1, res.no_data[k] = 2;
    else
      ++informative;
  }
  for (std::size_t k = 0; k < K; ++k) v[k] = res.boundary[k] ? 0.0 : s2y / static_cast<double>(informative + 1);
  v[K] = s2y / static_cast<double>(informative + 1);
  const auto err = start.find("ERR");
  if (err != start.end() && err->second > 0.0 && std::isfinite(err->second)) {
    res.moment_start = true;
    v[K] = err->second;
    for (std::size_t k = 0; k < K; ++k) {
      if (res.boundary[k]) continue;
      const auto it = start.find(res.codes[k]);
      const double mom = it == start.end() || !std::isfinite(it->second) ? 0.0 : it->second;
      v[k] = std::max(mom, 1e-3 * s2y);
    }
  }

  // A variance below this share of the start variance has reached 0.
  const double tiny = 1e-8 * s2y;
  Point pt = evaluate(P, v, true);
  for (int it = 0; it <= kMaxIterations && pt.ok; ++it) {
    RemlIteration h{it, pt.loglik, v, false};
    if (it == kMaxIterations) {
      res.history.push_back(h);
      break;
    }
    std::vector<std::size_t> act;
    for (std::size_t k = 0; k < nv; ++k)
      if (!res.boundary[k]) act.push_back(k);
    // The AI step: solve AI delta = score over the free variances.
    std::vector<double> A = restricted(pt.ai, nv, act);
    std::vector<double> delta(act.size());
    for (std::size_t i = 0; i < act.size(); ++i) delta[i] = pt.score[act[i]];
    const bool ai_ok = cholesky(A.data(), act.size());
    if (ai_ok) {
      forward(A, act.size(), delta.data());
      backward(A, act.size(), delta.data());
    }
    std::vector<double> next;
    Point trial;
    std::vector<char> hits(nv, 0);
    bool accepted = false;
    double scale = 1.0;
    for (int halving = 0; ai_ok && halving <= kMaxHalvings && !accepted; ++halving, scale *= 0.5) {
      next = v;
      std::fill(hits.begin(), hits.end(), 0);
      for (std::size_t i = 0; i < act.size(); ++i) {
        const std::size_t k = act[i];
        next[k] = v[k] + scale * delta[i];
        // A variance the step takes below a thousandth of its value (or below 0) goes
        // down by that factor only: an interior optimum brings it back, and one at 0
        // takes it below `tiny` in a few steps, where it stays.
        if (k < K && next[k] < 1e-3 * v[k]) next[k] = 1e-3 * v[k];
        if (k < K && next[k] < tiny) {
          next[k] = 0.0;
          hits[k] = 1;
        }
      }
      if (!(next[K] > 0.0)) continue;
      trial = evaluate(P, next, true);
      accepted = trial.ok && trial.loglik >= pt.loglik - 1e-10 * std::abs(pt.loglik);
    }
    if (!accepted) {
      // An EM step never lowers the likelihood and keeps every variance positive.
      h.em = true;
      next = v;
      std::fill(hits.begin(), hits.end(), 0);
      for (std::size_t k : act) {
        next[k] = pt.em[k];
        if (k < K && next[k] < tiny) {
          next[k] = 0.0;
          hits[k] = 1;
        }
      }
    }
    res.history.push_back(h);
    for (std::size_t k = 0; k < K; ++k)
      if (hits[k]) res.boundary[k] = 1;
    const Point after = accepted ? std::move(trial) : evaluate(P, next, true);
    if (!after.ok) break;
    bool small = std::abs(after.loglik - pt.loglik) < 1e-8;
    for (std::size_t k = 0; k < nv; ++k) {
      const double ref = std::max(std::abs(v[k]), tiny);
      small = small && std::abs(next[k] - v[k]) <= 1e-6 * ref;
    }
    v = next;
    pt = after;
    if (small) {
      res.converged = true;
      res.history.push_back({it + 1, pt.loglik, v, false});
      break;
    }
  }
  res.estimate = v;
  res.loglik = pt.loglik;
  if (!pt.ok) {
    res.reason = "MIXED-MODEL EQUATIONS NOT POSITIVE DEFINITE";
    res.converged = false;
    return res;
  }
  if (!res.converged) res.reason = "NOT CONVERGED IN 100 ITERATIONS";
  // Standard errors: the inverse of the average information of the free variances.
  std::vector<std::size_t> act;
  for (std::size_t k = 0; k < nv; ++k)
    if (!res.boundary[k]) act.push_back(k);
  std::vector<double> A = restricted(pt.ai, nv, act);
  if (cholesky(A.data(), act.size())) {
    std::vector<double> e(act.size());
    for (std::size_t i = 0; i < act.size(); ++i) {
      std::fill(e.begin(), e.end(), 0.0);
      e[i] = 1.0;
      forward(A, act.size(), e.data());
      backward(A, act.size(), e.data());
      res.se[act[i]] = e[i] > 0.0 ? std::sqrt(e[i]) : kNaN;
    }
  }
  return res;
}

}  // namespace gcasca
