// The regularized incomplete beta function in 64 bits, shared by the programs' tests
// (meridox's F tests, korbal's t tests of heterosis).
#pragma once

namespace rec {

// I_x(a, b) in 64 bits, with y = 1 - x given separately so that x near 1 loses nothing:
// the continued fraction by the modified Lentz method, which converges for every
// a, b > 0 within its (large) step limit. 0 for x <= 0, 1 for y <= 0.
double incomplete_beta(double a, double b, double x, double y);

// The two-sided P-value of t on `df` degrees of freedom (df > 0) from Student's t
// distribution: I_{df/(df+t^2)}(df/2, 1/2).
double t_two_sided(double t, double df);

}  // namespace rec
