// FTEST: approximate F tests of the variance components against zero, with the
// incomplete beta function (BETAI, BETACF) and the log-gamma function (GAMMLN).
#pragma once

#include <span>
#include <string>

#include "meridox/arrays.h"
#include "records/io.h"

namespace meridox {

// ln Gamma(xx) for xx > 0: six-term series computed in 64 bits, returned in 32.
float GAMMLN(float xx);
// Continued fraction of the incomplete beta function, in single precision. Without
// convergence in 100 steps it pauses (when `io` is given) and returns the last value.
float BETACF(float a, float b, float x, rec::Io* io = nullptr);
// Regularized incomplete beta function I_x(a, b). For x outside [0, 1] it pauses
// (when `io` is given) and returns a quiet NaN, which the caller must not print.
float BETAI(float a, float b, float x, rec::Io* io = nullptr);

// Test results of one component; a field whose computation meets a zero divisor or a
// bad argument is not defined and is printed blank.
struct TestRow {
  double denom = 0.0;
  double df2 = 0.0;
  double fratio = 0.0;
  double pval = 0.0;
  bool df2_defined = false;
  bool fratio_defined = false;
  bool pval_defined = false;
};

// Computes the tests of components 1 .. n-1 of one analysis (error = component n):
// cnat = coefficients in natural order, r = inverse, ms = mean squares, idf = degrees
// of freedom, v = components. Shows the console messages (and pauses) on `io` if given.
void ftest_values(int n, const NatMat& cnat, const NatMat& r, std::span<const double> ms,
                  std::span<const int> idf, std::span<const double> v, std::span<TestRow> rows,
                  rec::Io* io);

// Prints the tests table of one analysis on `unit`.
void FTEST(rec::Io& io, int unit, int n, std::span<const std::string> cname, const NatMat& cnat,
           const NatMat& r, std::span<const double> ms, std::span<const int> idf,
           std::span<const double> v);

}  // namespace meridox
