// The analysis half of korbal: reduction of the normal equations, expected mean
// squares and the analysis-of-variance tables.
//
// The analysis is computed first, as a value (Results), by functions that do no I/O;
// compute_results adds only the console progress lines between the steps. Three writers then
// turn the value into the report, the interchange file and the CSV tables.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/interchange.h"
#include "records/io.h"

namespace korbal {

struct PassResult;

// Reduces XPX (packed upper triangle by columns, 0-based storage of the 1-based
// layout) and XPY (stride SDFL) in place: Cholesky in natural column order with
// forward substitution of the right-hand sides. A column whose pivot is not above
// TOL is a dependency: its right-hand sides become 0 and it reduces nothing.
// SDFL must not exceed kMaxColByLocation.
void covred_reduce(double* XPX, double* XPY, double TOL, int SDFL, int NV);

// The columns the reduction accepted: pivot (the diagonal of the reduced XPX, left as
// it was when the column was decided) greater than TOL.
std::vector<char> accepted_columns(const double* XPX, int SDFL, double TOL);

// One row of the table of expected mean squares.
struct EmsRow {
  std::string code;          // effect code (4 characters)
  int df = 0;                // accepted columns of the effect
  std::vector<double> coef;  // one coefficient per effect, last effect first
};

// Coefficients of the expected mean squares from the reduced XPX, one row per effect
// (`effects` in model order, contiguous from column 1).
std::vector<EmsRow> ems_coefficients(const double* XPX, std::span<const EffectBlock> effects,
                                     double TOL);

// One effect line of an analysis table.
struct AnovaLine {
  std::string code;
  int df = 0;
  double sum = 0.0;
  double mean = 0.0;
};

struct AnovaResult {
  std::vector<AnovaLine> lines;  // one per effect, model order
  double accounted = 0.0;        // sum accounted for by all effects
  int df = 0;                    // degrees of freedom of all effects
  int dependencies = 0;          // columns not accepted
};

// Sequential sums of squares (products) per effect from the reduced XPY; `first` and
// `second` are the 0-based offsets of the two variables in XPY. The degrees of freedom
// of an effect are its accepted columns; a sum whose magnitude is at most `zero`
// becomes 0.
AnovaResult anova_sums(const double* XPY, int first, int second,
                       std::span<const EffectBlock> effects, std::span<const char> accepted,
                       double zero);

// The Error line of an analysis.
struct ErrorLine {
  int df = 0;
  double sum = 0.0;
  double mean = 0.0;
};

// Error degrees of freedom, sum and mean from the total YPY, the sum S and degrees of
// freedom D accounted for by the effects, and the number of observations; an error sum
// whose magnitude is below `zero` becomes 0.
ErrorLine error_line(double ypy, double S, int D, int NOBS, double zero);

// The magnitude below which the sums of one analysis count as zero: SDFL x 1.0E-11
// times the analysis' total corrected for the mean (for two variables the geometric
// mean of their two corrected totals; 0 when either is not positive). It scales with
// the data, so a change of unit changes no result.
double zero_threshold(int SDFL, double corrected_a, double corrected_b);

// The analyses in report order as pairs of 0-based variables: (a, a) for each variable,
// followed, with cross products, by (a, a+1) .. (a, NV-1).
std::vector<std::pair<int, int>> analysis_order(int NV, bool cross);

// One analysis: its two variables, the effect lines, the Error line and the Total.
struct Analysis {
  int a = 0, b = 0;   // 0-based variables; equal for an analysis of variance
  AnovaResult effects;
  ErrorLine error;
  double total = 0.0;  // uncorrected total sum of squares (products)
};

// The analysis of a run as a value.
struct Results {
  int NV = 0, SDFL = 0, NOBS = 0;
  bool cross = false;
  std::vector<EffectBlock> effects;  // model order
  std::vector<EmsRow> ems;           // one row per effect
  std::vector<Analysis> analyses;    // report order
};

// The reduced normal equations an analysis is computed from.
struct Reduced {
  const double* XPX = nullptr;  // reduced, packed
  const double* XPY = nullptr;  // reduced, stride SDFL
  const double* YPY = nullptr;  // uncorrected totals, analysis order
  int NV = 0, SDFL = 0, NOBS = 0;
  bool cross = false;
  std::span<const EffectBlock> effects;
  std::span<const char> accepted;
};

// The analysis of variables a and b (the k-th analysis, 0-based) from reduced equations.
Analysis analysis_of(const Reduced& r, int a, int b, int k);

// The analysis of the run: reduces the normal equations of `a` in place and computes
// the expected mean squares and every analysis. Writes only the console progress
// lines (and, when IPRINT < 0, the unreduced matrices on the report before reducing).
Results compute_results(rec::Io& io, Clock& clock, const Control& c,
                std::span<const EffectBlock> effects, Arrays& a);

// Writer of the report: the table of expected mean squares and the analysis tables.
void write_report(rec::Io& io, const Results& r, const std::vector<std::string>& VNAME);

// The records of the interchange file for the results.
rec::interchange::Problem interchange_of(const Results& r, const std::vector<std::string>& VNAME);

// Writer of the CSV tables into `dir`: ems.csv, anova.csv, crosses.csv and levels.csv;
// none is written when one of them is an input of the run.
void write_tables(rec::Io& io, const std::filesystem::path& dir, const Control& c,
                  const Results& r, const PassResult& pass, const std::vector<std::string>& VNAME);

}  // namespace korbal
