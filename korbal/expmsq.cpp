// Coefficients of the expected mean squares of the sequential analysis.
//
// For every accepted column i of an effect, row i of the reduced triangle is walked
// from the last column back to the diagonal; the squares of its entries are summed
// into the position of the effect that owns each column, position 1 belonging to
// the last effect. The pivot itself stands for R(i, i) squared.
#include <cmath>

#include "korbal/analysis.h"

namespace korbal {

namespace {
inline std::int64_t at(std::int64_t i, std::int64_t j) { return packed(i, j) - 1; }
}  // namespace

std::vector<EmsRow> ems_coefficients(const double* XPX, std::span<const EffectBlock> effects,
                                     double TOL) {
  const int ne = static_cast<int>(effects.size());
  std::vector<EmsRow> rows;
  if (ne == 0) return rows;
  const std::int64_t SDFL = effects.back().last;
  // Position of the owner of every column, counted from the last effect (1-based).
  std::vector<int> pos(static_cast<std::size_t>(SDFL) + 1, 0);
  for (int e = 0; e < ne; ++e)
    for (std::int64_t j = effects[e].first; j <= effects[e].last; ++j)
      pos[static_cast<std::size_t>(j)] = ne - e;
  rows.reserve(ne);
  for (const EffectBlock& b : effects) {
    EmsRow r;
    r.code = b.label;
    r.coef.assign(ne, 0.0);
    for (std::int64_t c = b.first; c <= b.last; ++c) {
      if (!(XPX[at(c, c)] > TOL)) continue;
      for (std::int64_t j = SDFL;; --j) {
        const double x = XPX[at(c, j)];
        if (std::fabs(x) > TOL) r.coef[pos[static_cast<std::size_t>(j)] - 1] += (j == c) ? x : x * x;
        if (j == c) break;
      }
      ++r.df;
    }
    if (r.df > 0)
      for (double& q : r.coef) q /= r.df;
    rows.push_back(std::move(r));
  }
  return rows;
}

}  // namespace korbal
