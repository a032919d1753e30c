// Variance (covariance) components with their standard deviations, and the correlations
// computed from them.
#pragma once

#include <span>
#include <string>

#include "meridox/arrays.h"
#include "records/io.h"

namespace meridox {

// Components of one analysis: vc(i) = sum over j of r(i, j) ms(j), and the standard
// deviation sd(i) from Var = 2 sum (r(i, j) ms(j))^2 / (idf(j) + 2).
void component_values(int n, const NatMat& r, std::span<const double> ms,
                       std::span<const int> idf, std::span<double> vc, std::span<double> sd);

// VARCMP: computes the components of one analysis into `vc` and prints its table.
void VARCMP(rec::Io& io, int unit, int n, std::span<const std::string> cname, const NatMat& r,
            std::span<const double> ms, std::span<const int> idf, const std::string& label40,
            std::span<double> vc);

// Analysis number (1-based) of the pair (a, b), a <= b, among NV variables with cross products.
int analysis_index(int nv, int a, int b);

// Correlation of two variables in one component, or 1.0E20 when either variance
// component is not positive.
double component_correlation(double cov, double var_a, double var_b);

// CORREL: the correlation tables of a problem with cross products. `vc[k][i]` is
// component i of analysis k (0-based), `labels[k]` the 40-character label of analysis k.
void CORREL(rec::Io& io, int unit, int nv, int n, std::span<const std::string> cname,
            std::span<const CompVec> vc, std::span<const std::string> labels);

}  // namespace meridox
