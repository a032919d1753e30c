// The regularized incomplete beta function in 64 bits and the tail probabilities built
// on it, shared by the programs that test: meridox's F tests and gcasca's t tests.
#pragma once

namespace rec {

// I_x(a, b) in 64 bits, with y = 1 - x given separately so that x near 1 loses nothing:
// the continued fraction by the modified Lentz method, which converges for every
// a, b > 0 within its (large) step limit.
double incomplete_beta(double a, double b, double x, double y);

// Two-sided P-value of a t statistic on `df` degrees of freedom (df > 0):
// P(|T| >= |t|) = I_{df / (df + t^2)}(df / 2, 1 / 2). NaN when t is not a number.
double t_two_sided(double t, double df);

}  // namespace rec
