// Small dense kernels of gcasca's solves.
#pragma once

#include <cstddef>
#include <vector>

namespace gcasca {

// Sum of a[k] * b[k], k < n, in four interleaved partial sums: the solves are made of
// such products, and independent sums let them pipeline.
inline double dot(const double* a, const double* b, std::size_t n) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  std::size_t k = 0;
  for (; k + 4 <= n; k += 4) {
    s0 += a[k] * b[k];
    s1 += a[k + 1] * b[k + 1];
    s2 += a[k + 2] * b[k + 2];
    s3 += a[k + 3] * b[k + 3];
  }
  for (; k < n; ++k) s0 += a[k] * b[k];
  return (s0 + s1) + (s2 + s3);
}

// Cholesky factor L L' of the m x m symmetric matrix `a` (row-major; the lower triangle
// is read and overwritten by L); false when it is not positive definite.
bool cholesky(double* a, std::size_t m);

// The columns of the inverse of the lower triangle of `L` (row-major, m x m) from row
// and column `off` on, nr = m - off of them: column j goes to row j of `T` (nr x nr,
// from its diagonal down) when `T` is given, and its squared norm to norm2[j] (so that
// norm2 is the diagonal of the inverse of that block times its transpose).
void lower_inverse_columns(const double* L, std::size_t m, std::size_t off, double* T,
                           double* norm2);

}  // namespace gcasca
