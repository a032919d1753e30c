// gcasca: best linear unbiased prediction of the random effects of korbal's diallel
// model (GCA, SELF, SCA, MATR, RECP, GXL, SXL, MXL, RXL, FXL, CLON, CXL, RXF) from the
// variance components
// that meridox estimated, one trait at a time.
//
// The pieces, each testable on its own:
//   - the components table (components.csv of meridox) and the choice of a trait's rows;
//   - the mixed-model equations: X'X of the model with sigma2(ERR) / sigma2(effect) added
//     to the diagonal of every random column, solved for the predictions and the
//     diagonal of the inverse of the random block after absorbing the fixed columns;
//   - with every effect fixed (--fixed), the least-squares estimates restricted effect by
//     effect, from korbal's reduction of the same normal equations, with their SEs;
//   - the differences of two lines of a set (GCA, SELF, MATR) and their SEs;
//   - the report, effects.csv and differences.csv;
//   - the run (korbal's control file, korbal's data pass, the components file).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korbal/clock.h"
#include "records/io.h"

namespace gcasca {

inline constexpr int kControlUnit = 5;
inline constexpr int kReportUnit = 6;
inline constexpr int kDataUnit = 1;
inline constexpr int kComponentsUnit = 4;

// What a run computes: predictions with meridox's components, every effect fixed
// (--fixed), or the components by REML and the predictions with them (--reml).
enum class Mode { Predict, Fixed, Reml };

struct RunOptions {
  std::optional<std::filesystem::path> csv_dir;  // --csv DIR: the tables go there
  Mode mode = Mode::Predict;
  bool selfs = false;  // --selfs: the self lines are analysed, as korbal --selfs
};

// ---------------------------------------------------------------------------------
// Columns of the model

// What one column of the model stands for. Identifiers the effect does not have are 0.
// line_1/line_2: the line (line_2 0) for GCA, SELF, MATR, GXL and MXL; the lower and higher
// line for SCA, RECP, SXL and RXL (both the same line for a self column of SCA and SXL);
// female and male for
// FXL, CLON, CXL and RXF.
struct ColumnId {
  std::string effect;  // effect code without trailing blanks: "MEAN", "GCA", ...
  bool fixed = false;  // MEAN, LOC, REPS, SETS
  std::int32_t loc = 0, rep = 0, set = 0, line_1 = 0, line_2 = 0, clone = 0;
};

// Whether an effect code (trimmed) is one of the fixed effects.
bool is_fixed_effect(std::string_view code);

// ---------------------------------------------------------------------------------
// Variance components

// One row of components.csv.
struct ComponentRow {
  std::string problem, trait_1, trait_2, component;
  double estimate = 0.0;  // NaN when the table says NA
};

// Parses the text of components.csv (header
// problem,trait_1,trait_2,component,estimate,sd,ms,denominator,df1,df2,f,p).
// Throws rec::RunError naming `file` on a wrong header, a row with the wrong number of
// fields or an estimate that is neither a number nor NA.
std::vector<ComponentRow> parse_components(std::string_view text, std::string_view file);

// The components of one trait: the rows of problem 1 whose trait_1 and trait_2 are the
// trait's name without trailing blanks, by component code. Empty when there are none.
std::map<std::string, double> components_of(const std::vector<ComponentRow>& rows,
                                            std::string_view trait);

// ---------------------------------------------------------------------------------
// Mixed-model equations

// Solution of the mixed-model equations of one trait, one entry per column.
struct Solution {
  std::vector<double> value;  // BLUP of a random column, estimate of a fixed one (0 when dropped)
  std::vector<double> cinv;   // random columns: diagonal element of the inverse of the random
                              // block after absorbing the fixed columns; NaN for fixed ones
  // The random block of the inverse is T'T, T lower triangular over the random columns
  // that enter the equations; row a of `inverse_factor` (nr values) is column a of T, and
  // `position` gives a column's a (-1 for a column outside the equations).
  std::vector<double> inverse_factor;
  std::vector<int> position;
  std::size_t nr = 0;
  // Element (i, j) of the inverse of the random block (0-based columns): 0 when either
  // is a random column of variance 0, NaN when either is fixed.
  double cov(std::size_t i, std::size_t j) const;
};

// Solves the mixed-model equations whose coefficient matrix is the packed X'X
// (upper triangle by columns, 1-based element (i, j) at index i - 1 + j(j-1)/2) with
// `ratio[i]` added to the diagonal of column i, and whose right-hand side is `xpy`:
//   ratio 0            a fixed column; kept when `keep[i]` (the pivot test passed),
//                      dropped (value 0) otherwise;
//   ratio > 0, finite  a random column with variance sigma2(ERR) / ratio;
//   ratio infinite     a random column with variance 0: value 0, cinv 0.
// Fixed columns must come before the random ones. Returns false when the equations are
// not positive definite (they always are in exact arithmetic).
bool solve_mixed_model(const double* XPX, const double* xpy, int n,
                       std::span<const double> ratio, std::span<const char> keep,
                       Solution& out);

// ---------------------------------------------------------------------------------
// Differences of two levels

// One difference of two levels of an effect of lines (GCA, SELF, MATR) within a set:
// level_1 < level_2, difference = value(level_1) - value(level_2).
struct Difference {
  std::string effect;
  std::int32_t set = 0, level_1 = 0, level_2 = 0;
  double difference = 0.0, se = 0.0;
  double t = std::numeric_limits<double>::quiet_NaN();  // fixed effects only
  double p = std::numeric_limits<double>::quiet_NaN();  // two-sided, on the error DF
};

// Whether the levels of an effect (trimmed code) are compared pairwise: GCA, SELF, MATR.
bool compares_levels(std::string_view code);

// Every pair of levels of the compared effects within a set (and location), in column
// order, from the values of the columns and their error covariance cov(i, j) (0-based
// columns; sigma2 included). The SE is NaN where the covariance is.
std::vector<Difference> level_differences(
    const std::vector<ColumnId>& columns, std::span<const double> value,
    const std::function<double(std::size_t, std::size_t)>& cov);

// ---------------------------------------------------------------------------------
// Predictions of one trait

struct EffectUse {
  std::string code;          // trimmed effect code
  double variance = 0.0;     // the component as read; NaN when absent or NA
  bool positive = false;     // enters with its variance; otherwise with variance 0
};

struct TraitResult {
  std::string name;                // 16 characters, as in the control file
  bool predicted = false;
  std::string reason;              // why the trait was not predicted
  double error_variance = 0.0;     // sigma2(ERR)
  std::vector<EffectUse> effects;  // the random effects of the model, model order
  // One entry per column of the model (random columns only are meaningful).
  std::vector<double> blup, se, reliability;  // reliability NaN when undefined
  std::vector<Difference> differences;        // of the levels of GCA, SELF, MATR
};

// Predictions of one trait from the normal equations of the model (`xpy` the trait's
// right-hand side), the identities of the columns, the accepted fixed columns and the
// trait's components (components_of).
TraitResult predict_trait(const std::string& name, const std::vector<ColumnId>& columns,
                          const double* XPX, const double* xpy, std::span<const char> keep,
                          const std::map<std::string, double>& components);

// ---------------------------------------------------------------------------------
// Every effect fixed

// The design half of the least-squares fit with every effect fixed, from korbal's reduced
// normal equations; shared by every trait. Each effect's vector of estimates lies in the
// row space of its block of the reduced triangle R, i.e. is orthogonal to the null space
// of its normal equations after the earlier effects (model order) are absorbed.
struct FixedFit {
  std::size_t n = 0, m = 0;        // columns; accepted columns (the rank)
  std::vector<std::size_t> rows;   // the accepted columns, 0-based, in order
  std::vector<double> g;           // n x m: estimates b = G z (z the reduced right-hand
                                   // side at `rows`), Cov(b) = sigma2(E) G G'
  // (G G')(i, j), 0-based columns.
  double cov(std::size_t i, std::size_t j) const;
};

// Builds the fit from the reduced packed triangle `R` of korbal's reduction (pivots on
// its diagonal) and the columns it accepted; the effects are the runs of one code in
// `columns`. Returns false when the system cannot be solved (not in exact arithmetic).
bool fixed_fit(const std::vector<ColumnId>& columns, const double* R,
               std::span<const char> accepted, FixedFit& fit);

// The estimates of one trait with every effect fixed.
struct FixedResult {
  std::string name;                     // 16 characters, as in the control file
  int error_df = 0;                     // korbal's error line
  double error_ms = 0.0;
  std::vector<double> estimate, se;     // one per column; NaN for the design columns, and
                                        // the SE NaN for every column without error DF
  std::vector<Difference> differences;  // of the levels of GCA, SELF, MATR, with t tests
};

// The estimates of a trait from the fit, its reduced right-hand side `z` (one value per
// column) and korbal's error line of the trait.
FixedResult fixed_trait(const std::string& name, const std::vector<ColumnId>& columns,
                        const FixedFit& fit, const double* z, int error_df, double error_ms);

// ---------------------------------------------------------------------------------
// Output

// What the report and the table need of the problem besides the predictions.
struct ReportContext {
  std::string title;                  // 80 characters
  std::int32_t nobs = 0;
  int columns = 0;                    // columns of the model
  int dropped = 0;                    // fixed columns dropped as dependent
  std::vector<ColumnId> ids;          // one per column
  // Names of the levels, indexed location, replication, set, female line, male line,
  // clone (the order of the identifiers of a data line); an empty list means the
  // levels are numbered. Lines carry one list for both parents' roles: the female list.
  std::array<std::vector<std::string>, 6> level_names;
  // Data lines behind each column (the diagonal of X'X, every design value +1 or -1, but
  // for the 2 of a self line in GCA);
  // empty when not known, and then NA in effects.csv.
  std::vector<std::int64_t> lines;
};

// The banner and the title at the head of the report (of the estimates with every
// effect fixed when `fixed`).
void write_heading(rec::Io& io, const std::string& title, Mode mode = Mode::Predict);

// The size of the problem, after the data pass.
void write_problem(rec::Io& io, const ReportContext& ctx, int ntraits);

// The report pages of one trait; a trait that was not predicted gets one line saying why.
void write_trait(rec::Io& io, const ReportContext& ctx, const TraitResult& r);

// The report pages of one trait with every effect fixed: the error, the estimates with
// their SEs (ranks within the set for GCA, SELF, MATR), the range of the further effects
// and the table of the differences of two GCAs with their t tests.
void write_fixed_trait(rec::Io& io, const ReportContext& ctx, const FixedResult& r);

// The closing line of the report.
void write_closing(rec::Io& io, bool fixed = false);

// The text of effects.csv: one row per random column of every predicted trait.
std::string effects_table(const ReportContext& ctx, const std::vector<TraitResult>& results);

// effects.csv with every effect fixed: one row per column of the genetic effects of every
// trait, trait,effect,location,replication,set,line_1,line_2,clone,estimate,se.
std::string effects_table(const ReportContext& ctx, const std::vector<FixedResult>& results);

// The text of differences.csv: trait,effect,set,level_1,level_2,difference,se, one row per
// pair of levels of GCA, SELF and MATR within a set; with every effect fixed also t and p.
std::string differences_table(const std::vector<TraitResult>& results);
std::string differences_table(const std::vector<FixedResult>& results);

// ---------------------------------------------------------------------------------
// The run

// The whole run; `args` are the file names (CONTROL DATA COMPONENTS REPORT, or in the
// modes Fixed and Reml CONTROL DATA REPORT; those not given are asked for on the
// console), `clock` stamps the progress lines of the data pass. Returns the exit status:
// 0 normal, 1 input refused or traits not predicted (said on the report), 2 run-time
// error.
int run(rec::Io& io, korbal::Clock& clock, const RunOptions& options);

}  // namespace gcasca
