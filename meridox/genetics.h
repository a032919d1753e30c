// Genetic parameters of one trait from its variance components: additive and dominance
// variance, the variance of a single observation, narrow- and broad-sense heritability
// and the GCA/SCA ratio, with standard errors by the delta method.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "meridox/arrays.h"
#include "records/io.h"

namespace meridox {

struct GeneticParameter {
  std::string_view name;  // sigma2_A, sigma2_D, sigma2_P, h2_narrow, h2_broad, baker
  double estimate = 0.0;
  double se = 0.0;
  bool defined = false;   // false: a component it needs is missing, or its denominator is not positive
  bool negative = false;  // its formula uses a negative component
  bool outside = false;   // a heritability outside [0, 1], which no true one can be
};

struct Genetics {
  double inbreeding = 0.0;
  std::array<GeneticParameter, 6> params;
};

// The weight of a component in the variance of a single observation: the sum of squares
// of its design coefficients in one data line (GCA and GXL 2 for the two parents, MATR and
// MXL 2 for +1 and -1, SELF 0 because a cross has no self effect, 1 for the other random
// effects (SXL and RXL among them) and
// the error); 0 for the fixed effects MEAN, LOC, REPS and SETS; -1 for a code it does not
// know.
int phenotypic_weight(std::string_view code);

// The parameters of one analysis of variance with components `vc` (names `cname`, error
// last) and their sampling covariance `cov`. `left_out` names the components left out as
// not estimable; a parameter that needs one of them is not defined.
Genetics genetic_parameters(int n, std::span<const std::string> cname, std::span<const double> vc,
                            const NatMat& cov, std::span<const std::string> left_out,
                            double inbreeding);

// The GENETIC PARAMETERS table of one trait. A parameter that uses a negative component
// is marked "*", a heritability outside [0, 1] "#", each mark with a note below the table.
void print_genetics(rec::Io& io, int unit, const std::string& label40, const Genetics& g);

}  // namespace meridox
