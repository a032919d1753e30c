// FTEST: approximate F tests of the variance components against zero, with the
// incomplete beta function (BETAI, BETACF) and the log-gamma function (GAMMLN).
#pragma once

#include <span>
#include <string>

#include "meridox/arrays.h"
#include "records/beta.h"
#include "records/io.h"

namespace meridox {

// ln Gamma(xx) for xx > 0: six-term series computed in 64 bits, returned in 32.
float GAMMLN(float xx);
// Continued fraction of the incomplete beta function, in single precision, at most 100
// steps. `converged` (when given) tells whether it met its tolerance; otherwise the last
// approximation is returned.
float BETACF(float a, float b, float x, bool* converged = nullptr);
// Regularized incomplete beta function I_x(a, b) in single precision. For x outside
// [0, 1] it returns a quiet NaN, which the caller must not print. `converged` (when
// given) is cleared when the continued fraction did not converge.
float BETAI(float a, float b, float x, bool* converged = nullptr);
// I_x(a, b) in 64 bits (records/beta.h).
using rec::incomplete_beta;

// Test results of one component; a field whose computation meets a zero divisor or a
// bad argument is not defined and is printed blank.
struct TestRow {
  double denom = 0.0;
  double df2 = 0.0;
  double fratio = 0.0;
  double pval = 0.0;    // the printed P-value (see upper_tail in ftest.cpp)
  double pval64 = 0.0;  // the P-value computed in 64 bits throughout, for the tables
  bool df2_defined = false;
  bool fratio_defined = false;
  bool pval_defined = false;
  // What the console is told about this component, in this order: a zero F ratio, zero
  // degrees of freedom of the component, zero Satterthwaite degrees of freedom, and the
  // number of arguments of BETAI outside [0, 1] (each a pause).
  bool f_zero = false;
  bool df_zero = false;
  bool df2_zero = false;
  int bad_beta_args = 0;
};

// Computes the tests of components 1 .. n-1 of one analysis (error = component n):
// cnat = coefficients in natural order, r = inverse, ms = mean squares, idf = degrees
// of freedom, v = components.
void ftest_values(int n, const NatMat& cnat, const NatMat& r, std::span<const double> ms,
                  std::span<const int> idf, std::span<const double> v, std::span<TestRow> rows);

// Tells the console what the rows note (messages and pauses), then prints the tests
// table of one analysis on `unit`.
void print_tests(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                 std::span<const double> ms, std::span<const int> idf, std::span<const double> v,
                 std::span<const TestRow> rows);

}  // namespace meridox
