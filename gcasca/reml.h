// Variance components of one trait by restricted maximum likelihood, from the normal
// equations of korbal's model: every random effect of gcasca's model has one variance,
// the residual another, and the fixed effects (MEAN, LOC, REPS, SETS) are absorbed.
//
// The iterations are average-information steps on the mixed-model equations. Every
// quantity of a step (the likelihood, its first derivatives and the average
// information) is a function of X'X, X'y, y'y and the number of observations, so the
// iterations need no second pass over the data.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "gcasca/gcasca.h"

namespace gcasca {

// One iteration of the history: the likelihood at its start values and those values
// (the random effects in model order, then the error variance).
struct RemlIteration {
  int iteration = 0;
  double loglik = 0.0;
  std::vector<double> values;
  bool em = false;  // the step taken from here was an EM step, not an AI step
};

struct RemlResult {
  std::vector<std::string> codes;  // random effects in model order, then "ERR"
  std::vector<std::int64_t> levels;  // columns of each effect (0 for ERR)
  std::vector<double> estimate;    // final variances
  std::vector<double> se;          // from the inverse average information; NaN on the boundary
  std::vector<char> boundary;      // the variance reached 0 and stays there
  std::vector<char> no_data;       // not estimated: 1 no observation falls in the effect's
                                   // columns, 2 they depend on the earlier effects' columns
  double loglik = 0.0;             // REML log-likelihood at the estimates
  bool converged = false;
  bool moment_start = false;       // started from the method-of-moments components
  std::string reason;              // why the iterations stopped without convergence
  std::vector<RemlIteration> history;
};

// The REML log-likelihood (with its constant -(N - p)/2 log 2 pi, p the accepted fixed
// columns) of the variances `values` (random effects of `columns` in model order, then
// the error variance; a variance of 0 removes its effect's columns). NaN when the
// mixed-model equations are not positive definite.
double reml_loglik(const std::vector<ColumnId>& columns, const double* XPX, const double* xpy,
                   double ypy, std::int64_t nobs, std::span<const char> keep,
                   std::span<const double> values);

// Estimates the variances of one trait: `XPX` the packed X'X of the model, `xpy` the
// trait's X'y, `ypy` its y'y, `nobs` the number of observations, `keep` the accepted
// fixed columns (accepted_fixed).
// `start`: the method-of-moments components by code (moment_components), the start of
// the iterations when its ERR is positive: a component below 1e-3 of the variance left
// after the fixed effects (a negative one among them) starts there. Without a usable
// start the iterations start from that variance shared evenly. The effects `no_df`
// (no degrees of freedom after the effects before them) are not estimated: their
// variance stays 0, as that of an effect without observations.
RemlResult reml_trait(const std::vector<ColumnId>& columns, const double* XPX, const double* xpy,
                      double ypy, std::int64_t nobs, std::span<const char> keep,
                      const std::map<std::string, double>& start = {},
                      const std::set<std::string>& no_df = {});

// The components of a REML fit as predict_trait takes them: the estimates by code, ERR
// the error variance. Empty when the fit did not converge.
std::map<std::string, double> reml_components(const RemlResult& r);

// The REML page of one trait on the report: the iterations, the components with their
// SEs, the log-likelihood.
void write_reml(rec::Io& io, const std::string& trait, const RemlResult& r);

// components.csv in meridox's columns (problem 1; the columns of the F tests NA) and
// reml.csv (trait, iteration, loglik, component, estimate), one entry per trait.
std::string reml_components_table(const std::vector<std::string>& traits,
                                  const std::vector<RemlResult>& results);
std::string reml_history_table(const std::vector<std::string>& traits,
                               const std::vector<RemlResult>& results);

}  // namespace gcasca
