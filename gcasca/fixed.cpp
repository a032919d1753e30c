// Least-squares estimates of the whole model with every effect fixed, each effect's
// vector of estimates restricted to carry nothing that the earlier effects explain.
//
// korbal's reduction factors X'X = R'R in natural column order (R upper triangular, the
// rows of dependent columns left out), and the reduced right-hand side is z = R^-T X'y.
// The reduced normal equations of effect k after the earlier effects are absorbed are
// C_k = R_kk' R_kk (R_kk the diagonal block of R), so the restriction "orthogonal to the
// null space of C_k" puts b_k in the row space of R_kk. With U_k an orthonormal basis of
// that row space (its rows orthonormalised) and b_k = U_k a_k, the model is
// X b = Q R U a with R U square and nonsingular (block upper triangular with the
// nonsingular blocks R_kk U_k on its diagonal): a = (R U)^-1 z, b = U (R U)^-1 z = G z
// and Cov(b) = sigma2(E) G G'. Every factor is formed from R, never from X'X again, so
// the conditioning is that of R, the square root of that of X'X.
#include <algorithm>
#include <cmath>
#include <limits>

#include "gcasca/gcasca.h"
#include "records/beta.h"

namespace gcasca {

namespace {

double dot(const double* a, const double* b, std::size_t n) {
  double s = 0.0;
  for (std::size_t k = 0; k < n; ++k) s += a[k] * b[k];
  return s;
}

// Orthonormalises the `rows` rows of length `len` (row-major, in place) by modified
// Gram-Schmidt, twice over, so that the basis stays orthogonal to rounding.
void orthonormalise(std::vector<double>& u, std::size_t rows, std::size_t len) {
  for (std::size_t r = 0; r < rows; ++r) {
    double* v = &u[r * len];
    for (int pass = 0; pass < 2; ++pass)
      for (std::size_t q = 0; q < r; ++q) {
        const double* w = &u[q * len];
        const double c = dot(v, w, len);
        for (std::size_t k = 0; k < len; ++k) v[k] -= c * w[k];
      }
    const double norm = std::sqrt(dot(v, v, len));
    for (std::size_t k = 0; k < len; ++k) v[k] /= norm;
  }
}

// Inverse of the m x m matrix `a` (row-major) by Gauss-Jordan elimination with partial
// pivoting; false when a pivot is zero.
bool invert(std::vector<double> a, std::size_t m, std::vector<double>& inv) {
  inv.assign(m * m, 0.0);
  for (std::size_t i = 0; i < m; ++i) inv[i * m + i] = 1.0;
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < m; ++r)
      if (std::fabs(a[r * m + c]) > std::fabs(a[piv * m + c])) piv = r;
    if (!(a[piv * m + c] != 0.0)) return false;
    if (piv != c)
      for (std::size_t k = 0; k < m; ++k) {
        std::swap(a[c * m + k], a[piv * m + k]);
        std::swap(inv[c * m + k], inv[piv * m + k]);
      }
    const double d = a[c * m + c];
    for (std::size_t k = 0; k < m; ++k) {
      a[c * m + k] /= d;
      inv[c * m + k] /= d;
    }
    for (std::size_t r = 0; r < m; ++r) {
      const double f = a[r * m + c];
      if (r == c || f == 0.0) continue;
      for (std::size_t k = 0; k < m; ++k) {
        a[r * m + k] -= f * a[c * m + k];
        inv[r * m + k] -= f * inv[c * m + k];
      }
    }
  }
  return true;
}

}  // namespace

bool fixed_fit(const std::vector<ColumnId>& columns, const double* R,
               std::span<const char> accepted, FixedFit& fit) {
  const std::size_t n = columns.size();
  fit = FixedFit{};
  fit.n = n;
  // 0-based element (i, j), i <= j, of the packed reduced triangle; the diagonal of an
  // accepted column holds its pivot, whose root is R's diagonal.
  auto r_at = [R](std::size_t i, std::size_t j) {
    const double v = R[i + j * (j + 1) / 2];
    return i == j ? std::sqrt(v) : v;
  };
  for (std::size_t i = 0; i < n; ++i)
    if (accepted[i]) fit.rows.push_back(i);
  const std::size_t m = fit.rows.size();
  fit.m = m;
  if (m == 0) return true;

  // The effects (runs of one code), the orthonormal basis of each one's row space and
  // where its coordinates stand.
  struct Block {
    std::size_t first = 0, size = 0, offset = 0, rank = 0;
    std::vector<double> u;  // rank x size, row-major: the basis vectors as rows
  };
  std::vector<Block> blocks;
  std::vector<std::size_t> block_of(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (i == 0 || columns[i].effect != columns[i - 1].effect) blocks.push_back({i, 0, 0, 0, {}});
    ++blocks.back().size;
    block_of[i] = blocks.size() - 1;
  }
  std::size_t offset = 0;
  for (Block& b : blocks) {
    b.offset = offset;
    for (std::size_t i = b.first; i < b.first + b.size; ++i)
      if (accepted[i]) {
        b.u.resize((b.rank + 1) * b.size, 0.0);
        double* row = &b.u[b.rank * b.size];
        for (std::size_t j = i; j < b.first + b.size; ++j) row[j - b.first] = r_at(i, j);
        ++b.rank;
      }
    orthonormalise(b.u, b.rank, b.size);
    offset += b.rank;
  }

  // R U: row of accepted column i (block k), coordinates of blocks l >= k.
  std::vector<double> ru(m * m, 0.0);
  for (std::size_t a = 0; a < m; ++a) {
    const std::size_t i = fit.rows[a];
    for (std::size_t l = block_of[i]; l < blocks.size(); ++l) {
      const Block& b = blocks[l];
      const std::size_t from = std::max(i, b.first);
      for (std::size_t c = 0; c < b.rank; ++c) {
        double s = 0.0;
        for (std::size_t j = from; j < b.first + b.size; ++j) s += r_at(i, j) * b.u[c * b.size + j - b.first];
        ru[a * m + b.offset + c] = s;
      }
    }
  }
  std::vector<double> inv;
  if (!invert(std::move(ru), m, inv)) return false;

  // G = U (R U)^-1: the row of column i is its basis coordinates times the inverse's rows.
  fit.g.assign(n * m, 0.0);
  for (const Block& b : blocks)
    for (std::size_t j = 0; j < b.size; ++j) {
      double* g = &fit.g[(b.first + j) * m];
      for (std::size_t c = 0; c < b.rank; ++c) {
        const double w = b.u[c * b.size + j];
        const double* row = &inv[(b.offset + c) * m];
        for (std::size_t k = 0; k < m; ++k) g[k] += w * row[k];
      }
    }
  return true;
}

double FixedFit::cov(std::size_t i, std::size_t j) const {
  return dot(&g[i * m], &g[j * m], m);
}

FixedResult fixed_trait(const std::string& name, const std::vector<ColumnId>& columns,
                        const FixedFit& fit, const double* z, int error_df, double error_ms) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  FixedResult r;
  r.name = name;
  r.error_df = error_df;
  r.error_ms = error_ms;
  const std::size_t n = columns.size();
  r.estimate.assign(n, nan);
  r.se.assign(n, nan);
  std::vector<double> za(fit.m);
  for (std::size_t a = 0; a < fit.m; ++a) za[a] = z[fit.rows[a]];
  const bool defined = error_df > 0;
  const double s2 = defined ? error_ms : nan;
  for (std::size_t i = 0; i < n; ++i) {
    if (columns[i].fixed) continue;
    r.estimate[i] = fit.m == 0 ? 0.0 : dot(&fit.g[i * fit.m], za.data(), fit.m);
    const double v = s2 * (fit.m == 0 ? 0.0 : fit.cov(i, i));
    r.se[i] = std::isnan(v) ? v : std::sqrt(v > 0.0 ? v : 0.0);
  }
  r.differences = level_differences(columns, r.estimate, [&](std::size_t i, std::size_t j) {
    return s2 * (fit.m == 0 ? 0.0 : fit.cov(i, j));
  });
  // A difference without a positive SE (two levels the data do not reach, or an exact
  // fit) has no test.
  for (Difference& d : r.differences) {
    if (!(d.se > 0.0)) continue;
    d.t = d.difference / d.se;
    d.p = rec::t_two_sided(d.t, error_df);
  }
  return r;
}

}  // namespace gcasca
