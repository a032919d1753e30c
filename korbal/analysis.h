// The analysis half of korbal: reduction of the normal equations, expected mean
// squares and the analysis-of-variance tables.
//
// Every routine is split in two: a pure computation on the arrays (no I/O, testable
// and benchmarkable on its own) and the routine with the upper-case name, which
// prints what the computation produced.
#pragma once

#include <string>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"

namespace korbal {

inline constexpr int MAXEFF = 15;  // most effects a row of coefficients or means holds

// Reduces XPX (packed upper triangle by columns, 0-based storage of the 1-based
// layout) and XPY (stride SDFL) in place: Cholesky in natural column order with
// forward substitution of the right-hand sides. A column whose pivot is not above
// TOL is a dependency: its right-hand sides become 0 and it reduces nothing.
// SDFL must not exceed MAXCOL.
void covred_reduce(double* XPX, double* XPY, double TOL, int SDFL, int NV);

// One row of the table of expected mean squares.
struct EmsRow {
  std::string code;          // effect code (4 characters)
  int df = 0;                // accepted columns of the effect
  std::vector<double> coef;  // NE coefficients, last effect first
};

// Coefficients of the expected mean squares from the reduced XPX, one row per effect.
std::vector<EmsRow> ems_coefficients(const double* XPX, const std::vector<std::string>& ENAME,
                                     int SDFL, double TOL);

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
  int dependencies = 0;          // SDFL - df
};

// Sequential sums of squares (products) per effect from the reduced XPY; `first`
// and `second` are the 0-based offsets of the two variables in XPY.
AnovaResult anova_sums(const double* XPY, int first, int second,
                       const std::vector<std::string>& ENAME, int SDFL, double TOL);

// The Error line of an analysis.
struct ErrorLine {
  int df = 0;
  double sum = 0.0;
  double mean = 0.0;
};

// Error degrees of freedom, sum and mean from the total YPY, the sum S and degrees of
// freedom D accounted for by the effects, and the number of observations.
ErrorLine error_line(double ypy, double S, int D, int NOBS, double TOL);

// EXPMSQ: computes the coefficients, prints one table row per effect, lists the
// effects on the console and writes the coefficient groups of the interchange file.
void EXPMSQ(rec::Io& io, Clock& clock, const std::vector<double>& XPX,
            const std::vector<std::string>& ENAME, int SDFL, double TOL);

// ANOVSS: prints the effect lines of one analysis and writes its mean-square group;
// returns the sum accounted for, the effects' degrees of freedom and the dependencies.
void ANOVSS(rec::Io& io, Clock& clock, const std::vector<double>& XPY, int first, int second,
            const std::vector<std::string>& ENAME, int SDFL, double& SS, int& IDF, int& NDEP,
            double TOL);

// Console line with a time stamp: `label` (with its leading blank) then hh:mm:ss.hh.
void stamp_line(rec::Io& io, Clock& clock, const rec::Format& fmt);

}  // namespace korbal
