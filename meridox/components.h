// Variance (covariance) components with their standard deviations and sampling
// covariances, and the correlations computed from them.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "meridox/arrays.h"
#include "records/io.h"

namespace meridox {

// Components of one analysis: vc(i) = sum over j of r(i, j) ms(j), and the standard
// deviation sd(i) from Var = 2 sum (r(i, j) ms(j))^2 / (idf(j) + 2).
void component_values(int n, const NatMat& r, std::span<const double> ms,
                      std::span<const int> idf, std::span<double> vc, std::span<double> sd);

// Sampling covariance of the components under the same assumption as their standard
// deviations: cov(i, k) = sum over j of r(i, j) r(k, j) 2 ms(j)^2 / (idf(j) + 2). The
// diagonal is summed exactly as the squares of the standard deviations.
NatMat component_covariance(int n, const NatMat& r, std::span<const double> ms,
                            std::span<const int> idf);

// The components table of one analysis.
void print_components(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                      const std::string& label40, std::span<const double> vc,
                      std::span<const double> sd);

// Analysis number (1-based) of the pair (a, b), a <= b, among NV variables with cross products.
int analysis_index(int nv, int a, int b);

// Correlation of two variables in one component, or 1.0E20 when either variance
// component is not positive.
inline constexpr double kNoCorrelation = 1.0E20;
double component_correlation(double cov, double var_a, double var_b);

// The correlations of one pair of variables (a < b, 1-based), one per component.
struct PairCorrelation {
  int a = 0, b = 0;
  std::string label;  // the 40-character label of the pair's cross-product analysis
  CompVec cor{};      // kNoCorrelation where a variance component is not positive
};

// The correlations of a problem with cross products. `vc[k][i]` is component i of
// analysis k (0-based), `labels[k]` the 40-character label of analysis k.
std::vector<PairCorrelation> correlations(int nv, int n, std::span<const CompVec> vc,
                                          std::span<const std::string> labels);

// The correlation tables, six pairs to a block, three blocks to a page, and the note on
// the asterisks when a correlation is not defined.
void print_correlations(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                        std::span<const PairCorrelation> pairs);

}  // namespace meridox
