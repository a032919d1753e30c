// The regularized incomplete beta function in 64 bits and the t test built on it.
#include "records/beta.h"

#include <cmath>

namespace rec {

namespace {

// The continued fraction of I_x(a, b) by the modified Lentz method. It converges in
// about sqrt(max(a, b)) steps where x < (a + 1) / (a + b + 2).
double lentz_fraction(double a, double b, double x) {
  constexpr int kItMax = 1'000'000;
  constexpr double kEps = 1.0E-15;
  constexpr double kTiny = 1.0E-300;
  const double qab = a + b, qap = a + 1.0, qam = a - 1.0;
  auto guard = [](double v) { return std::fabs(v) < kTiny ? kTiny : v; };
  double c = 1.0;
  double d = 1.0 / guard(1.0 - qab * x / qap);
  double h = d;
  for (int m = 1; m <= kItMax; ++m) {
    const double em = m, m2 = 2.0 * m;
    double aa = em * (b - em) * x / ((qam + m2) * (a + m2));
    d = 1.0 / guard(1.0 + aa * d);
    c = guard(1.0 + aa / c);
    h *= d * c;
    aa = -(a + em) * (qab + em) * x / ((a + m2) * (qap + m2));
    d = 1.0 / guard(1.0 + aa * d);
    c = guard(1.0 + aa / c);
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < kEps) break;
  }
  return h;
}

}  // namespace

double incomplete_beta(double a, double b, double x, double y) {
  if (!(x > 0.0)) return 0.0;
  if (!(y > 0.0)) return 1.0;
  const double ln_front = std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                          a * std::log(x) + b * std::log(y);
  const double front = std::exp(ln_front);
  if (x < (a + 1.0) / (a + b + 2.0)) return front * lentz_fraction(a, b, x) / a;
  return 1.0 - front * lentz_fraction(b, a, y) / b;
}

double t_two_sided(double t, double df) {
  const double t2 = t * t;
  return incomplete_beta(0.5 * df, 0.5, df / (df + t2), t2 / (df + t2));
}

}  // namespace rec
