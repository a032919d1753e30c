// Small dense kernels of gcasca's solves.
#pragma once

#include <cstddef>

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

}  // namespace gcasca
