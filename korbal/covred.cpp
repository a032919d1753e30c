// Reduction of the normal equations in place.
//
// XPX is the upper triangle of X'X packed by columns, so column l of the triangle,
// elements (1..l, l), is contiguous, while row i is spread one column apart. The
// reduction therefore copies each scaled pivot row once into a contiguous buffer and
// updates the later columns of the triangle, each over its contiguous rows, with unit
// stride in both the column and the buffer.
//
// The sweep over the remaining triangle is what costs (it is memory bound), so two
// pivots are eliminated per sweep: pivot i is first applied to row i+1 alone, which
// decides and scales pivot i+1, and then one pass subtracts both rows' products from
// every later element, pivot i's first. Each element still sees the same operations
// in the same order as with one pivot per pass, so the results are identical.
#include <cmath>
#include <stdexcept>
#include <vector>

#include "korbal/analysis.h"
#include "korbal/korbal.h"

namespace korbal {

namespace {

// 0-based storage index of the 1-based element (i, j), i <= j.
inline std::int64_t at(std::int64_t i, std::int64_t j) { return packed(i, j) - 1; }

}  // namespace

void covred_reduce(double* XPX, double* XPY, double TOL, int SDFL, int NV) {
  if (SDFL > kMaxColByLocation)
    throw std::invalid_argument("covred_reduce: more columns than kMaxColByLocation");
  const std::int64_t n = SDFL;
  auto x = [XPX](std::int64_t i, std::int64_t j) -> double& { return XPX[at(i, j)]; };
  auto y = [XPY, n](std::int64_t i, int v) -> double& { return XPY[v * n + (i - 1)]; };

  // Scaled pivot rows: r1[k] = R(i, k), r2[k] = R(i+1, k), 1-based k.
  std::vector<double> r1(static_cast<std::size_t>(n) + 1), r2(static_cast<std::size_t>(n) + 1);

  // Decides column i: a dependency gets zero right-hand sides and stays as it is;
  // an accepted column has its row (into `r`) and right-hand sides divided by the
  // root of its pivot. Returns whether the column was accepted.
  auto pivot = [&](std::int64_t i, std::vector<double>& r) {
    const double d = x(i, i);
    if (!(d > TOL)) {
      for (int v = 0; v < NV; ++v) y(i, v) = 0.0;
      return false;
    }
    const double s = std::sqrt(d);
    for (std::int64_t l = i + 1; l <= n; ++l) r[l] = (x(i, l) /= s);
    for (int v = 0; v < NV; ++v) y(i, v) /= s;
    return true;
  };

  for (std::int64_t i = 1; i <= n; i += 2) {
    const std::int64_t j = i + 1;  // the second column of this pass
    const bool first = pivot(i, r1);
    bool second = false;
    if (j <= n) {
      if (first) {
        // Row j after elimination of column i, then its own pivot.
        for (std::int64_t l = j; l <= n; ++l) x(j, l) -= r1[j] * r1[l];
        for (int v = 0; v < NV; ++v) y(j, v) -= r1[j] * y(i, v);
      }
      second = pivot(j, r2);
    }
    // Eliminate the accepted pivots from rows k = i+2 .. m of a column c holding
    // elements (k0 .., .) contiguously: c(k) -= R(i, k) a, then c(k) -= R(j, k) b.
    const std::int64_t k0 = i + 2;
    auto eliminate = [&](double* c, std::int64_t m, double a, double b) {
      const double* p = &r1[k0];
      const double* q = &r2[k0];
      const std::int64_t len = m - k0 + 1;
      if (first && second)
        for (std::int64_t t = 0; t < len; ++t) c[t] = c[t] - p[t] * a - q[t] * b;
      else if (first)
        for (std::int64_t t = 0; t < len; ++t) c[t] -= p[t] * a;
      else if (second)
        for (std::int64_t t = 0; t < len; ++t) c[t] -= q[t] * b;
    };
    for (std::int64_t l = k0; l <= n; ++l)
      eliminate(&x(k0, l), l, first ? r1[l] : 0.0, second ? r2[l] : 0.0);
    if (k0 <= n)
      for (int v = 0; v < NV; ++v)
        eliminate(&y(k0, v), n, first ? y(i, v) : 0.0, second ? y(j, v) : 0.0);
  }
}

std::vector<char> accepted_columns(const double* XPX, int SDFL, double TOL) {
  std::vector<char> ok(static_cast<std::size_t>(SDFL));
  for (int i = 1; i <= SDFL; ++i) ok[static_cast<std::size_t>(i - 1)] = XPX[at(i, i)] > TOL;
  return ok;
}

}  // namespace korbal
