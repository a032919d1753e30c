// The dense kernels by blocks of columns: every row below a block passes through the
// cache once for the whole block, not once for each column (the rows of a large model
// do not stay in the cache). Each element is the same dot product as column by column,
// so the results are those of the plain loops bit for bit.
#include "gcasca/dense.h"

#include <algorithm>
#include <cmath>

namespace gcasca {

namespace {
constexpr std::size_t kBlock = 32;
}  // namespace

bool cholesky(double* a, std::size_t m) {
  for (std::size_t J = 0; J < m; J += kBlock) {
    const std::size_t E = std::min(J + kBlock, m);
    for (std::size_t j = J; j < E; ++j) {
      double* lj = &a[j * m];
      const double d = lj[j] - dot(lj, lj, j);
      if (!(d > 0.0)) return false;
      lj[j] = std::sqrt(d);
      for (std::size_t i = j + 1; i < E; ++i) {
        double* li = &a[i * m];
        li[j] = (li[j] - dot(li, lj, j)) / lj[j];
      }
    }
    for (std::size_t i = E; i < m; ++i) {
      double* li = &a[i * m];
      for (std::size_t j = J; j < E; ++j) {
        const double* lj = &a[j * m];
        li[j] = (li[j] - dot(li, lj, j)) / lj[j];
      }
    }
  }
  return true;
}

void lower_inverse_columns(const double* L, std::size_t m, std::size_t off, double* T,
                           double* norm2) {
  const std::size_t nr = m - off;
  std::vector<double> own;
  if (T == nullptr) own.assign(kBlock * nr, 0.0);
  for (std::size_t J = 0; J < nr; J += kBlock) {
    const std::size_t E = std::min(J + kBlock, nr);
    for (std::size_t j = J; j < E; ++j) norm2[j] = 0.0;
    auto column = [&](std::size_t j) { return T ? &T[j * nr] : &own[(j - J) * nr]; };
    for (std::size_t i = J; i < nr; ++i) {
      const double* li = &L[(off + i) * m + off];
      for (std::size_t j = J; j < E && j <= i; ++j) {
        double* t = column(j);
        t[i] = ((i == j ? 1.0 : 0.0) - dot(li + j, t + j, i - j)) / li[i];
        norm2[j] += t[i] * t[i];
      }
    }
  }
}

}  // namespace gcasca
