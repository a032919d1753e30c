// Sequential sums of squares (products) of one analysis.
//
// After the reduction the reduced right-hand sides of the columns are orthogonal
// contributions, so an effect's sum is the sum over its columns of the product of
// the two variables' reduced values. The degrees of freedom come from the design
// alone: the columns the reduction accepted, whatever the responses are.
#include <cmath>

#include "korbal/analysis.h"

namespace korbal {

AnovaResult anova_sums(const double* XPY, int first, int second,
                       std::span<const EffectBlock> effects, std::span<const char> accepted,
                       double zero) {
  AnovaResult res;
  res.lines.reserve(effects.size());
  for (const EffectBlock& b : effects) {
    AnovaLine line;
    line.code = b.label;
    for (std::int64_t col = b.first; col <= b.last; ++col) {
      const std::size_t i = static_cast<std::size_t>(col - 1);
      if (!accepted[i]) continue;
      line.sum += XPY[first + i] * XPY[second + i];
      ++line.df;
    }
    if (line.df > 0) {
      if (std::fabs(line.sum) <= zero) line.sum = 0.0;
      line.mean = line.sum / line.df;
    }
    res.df += line.df;
    res.accounted += line.sum;
    res.lines.push_back(std::move(line));
  }
  res.dependencies = static_cast<int>(accepted.size()) - res.df;
  return res;
}

ErrorLine error_line(double ypy, double S, int D, int NOBS, double zero) {
  ErrorLine e;
  if (NOBS > D) {
    e.df = NOBS - D;
    e.sum = ypy - S;
    if (std::abs(e.sum) >= zero) {
      e.mean = e.sum / (NOBS - D);
    } else {
      e.sum = 0.0;
      e.mean = 0.0;
    }
  }
  return e;
}

double zero_threshold(int SDFL, double corrected_a, double corrected_b) {
  if (!(corrected_a > 0.0) || !(corrected_b > 0.0)) return 0.0;
  const double scale = corrected_a == corrected_b ? corrected_a : std::sqrt(corrected_a * corrected_b);
  return static_cast<double>(SDFL) * 1.0E-11 * scale;
}

std::vector<std::pair<int, int>> analysis_order(int NV, bool cross) {
  std::vector<std::pair<int, int>> order;
  for (int a = 0; a < NV; ++a) {
    order.emplace_back(a, a);
    if (cross)
      for (int b = a + 1; b < NV; ++b) order.emplace_back(a, b);
  }
  return order;
}

namespace {

// Index in YPY of the analysis of variance of variable v.
int variance_index(int v, int NV, bool cross) {
  if (!cross) return v;
  int k = 0;
  for (int u = 0; u < v; ++u) k += NV - u;
  return k;
}

// Total of variable v corrected for the mean: its total less the MEAN line.
double corrected_total(const Reduced& r, int v) {
  const double total = r.YPY[variance_index(v, r.NV, r.cross)];
  double mean = 0.0;
  if (!r.effects.empty()) {
    const EffectBlock& b = r.effects.front();
    for (std::int64_t col = b.first; col <= b.last; ++col) {
      const std::size_t i = static_cast<std::size_t>(col - 1);
      if (!r.accepted[i]) continue;
      const double z = r.XPY[static_cast<std::size_t>(v) * r.SDFL + i];
      mean += z * z;
    }
  }
  return total - mean;
}

}  // namespace

Analysis analysis_of(const Reduced& r, int a, int b, int k) {
  Analysis an;
  an.a = a;
  an.b = b;
  const double zero = zero_threshold(r.SDFL, corrected_total(r, a), corrected_total(r, b));
  an.effects = anova_sums(r.XPY, r.SDFL * a, r.SDFL * b, r.effects, r.accepted, zero);
  an.total = r.YPY[k];
  an.error = error_line(an.total, an.effects.accounted, an.effects.df, r.NOBS, zero);
  return an;
}

}  // namespace korbal
