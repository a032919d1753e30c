// COVRED: reduction of the normal equations in place.
//
// XPX is the upper triangle of X'X packed by columns, so column l of the triangle,
// elements (1..l, l), is contiguous. Row i of the triangle is not: its elements lie
// one column apart. The reduction therefore copies the scaled row i once into a
// contiguous buffer and then updates the later columns l = i+1 .. SDFL of the
// triangle, each over its contiguous rows k = i+1 .. l, with unit stride in both
// the column and the buffer.
#include <array>
#include <cmath>
#include <stdexcept>

#include "korbal/analysis.h"
#include "korbal/korbal.h"
#include "records/format.h"

namespace korbal {

namespace {

// 0-based storage index of the 1-based element (i, j), i <= j.
inline std::int64_t at(std::int64_t i, std::int64_t j) { return packed(i, j) - 1; }

}  // namespace

void covred_reduce(double* XPX, double* XPY, double TOL, int SDFL, int NV) {
  if (SDFL > MAXCOL) throw std::invalid_argument("covred_reduce: more columns than MAXCOL");
  // row[k] holds the scaled element (i, k) of the current pivot row, 1-based k.
  std::array<double, MAXCOL + 1> row;
  const std::int64_t n = SDFL;
  for (std::int64_t i = 1; i <= n; ++i) {
    const double d = XPX[at(i, i)];
    if (!(d > TOL)) {
      // Dependency: no right-hand side, the triangle is left as it stands.
      for (int v = 0; v < NV; ++v) XPY[v * n + (i - 1)] = 0.0;
      continue;
    }
    const double s = std::sqrt(d);
    for (std::int64_t j = i + 1; j <= n; ++j) {
      double& x = XPX[at(i, j)];
      x /= s;
      row[j] = x;
    }
    for (int v = 0; v < NV; ++v) XPY[v * n + (i - 1)] /= s;

    // Eliminate column i from the later rows: (k, l) -= R(i, k) R(i, l), i < k <= l.
    for (std::int64_t l = i + 1; l <= n; ++l) {
      const double ril = row[l];
      double* col = XPX + at(1, l);  // col[k - 1] is element (k, l)
      for (std::int64_t k = i + 1; k <= l; ++k) col[k - 1] -= row[k] * ril;
    }
    for (int v = 0; v < NV; ++v) {
      double* y = XPY + v * n;  // y[k - 1] is element (k, v)
      const double yi = y[i - 1];
      for (std::int64_t k = i + 1; k <= n; ++k) y[k - 1] -= row[k] * yi;
    }
  }
}

void COVRED(rec::Io& io, Clock& clock, std::vector<double>& XPX, std::vector<double>& XPY,
            double TOL, int SDFL, int NV) {
  static const rec::Format start =
      rec::Format::compile("(/,' Performing reduction of XPX and XPY matrices . . .')");
  static const rec::Format done =
      rec::Format::compile("(' Reduction completed       ',2(I2.2,':'),I2.2,'.',I2.2)");
  io.write(rec::kConsole, start, {});
  covred_reduce(XPX.data(), XPY.data(), TOL, SDFL, NV);
  stamp_line(io, clock, done);
}

}  // namespace korbal
