// gcasca: best linear unbiased prediction of the random effects of korbal's diallel
// model (GCA, SELF, SCA, MATR, RECP, FXL, CLON, CXL, RXF) from the variance components
// that meridox estimated, one trait at a time.
//
// The pieces, each testable on its own:
//   - the components table (components.csv of meridox) and the choice of a trait's rows;
//   - the mixed-model equations: X'X of the model with sigma2(ERR) / sigma2(effect) added
//     to the diagonal of every random column, solved for the predictions and the
//     diagonal of the inverse of the random block after absorbing the fixed columns;
//   - the report and effects.csv;
//   - the run (korbal's control file, korbal's data pass, the components file).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
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

// ---------------------------------------------------------------------------------
// Columns of the model

// What one column of the model stands for. Identifiers the effect does not have are 0.
// line_1/line_2: the line (line_2 0) for GCA, SELF and MATR; the lower and higher line
// for SCA and RECP (both the same line for a self column of SCA); female and male for
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
};

// Predictions of one trait from the normal equations of the model (`xpy` the trait's
// right-hand side), the identities of the columns, the accepted fixed columns and the
// trait's components (components_of).
TraitResult predict_trait(const std::string& name, const std::vector<ColumnId>& columns,
                          const double* XPX, const double* xpy, std::span<const char> keep,
                          const std::map<std::string, double>& components);

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

// The banner and the title at the head of the report.
void write_heading(rec::Io& io, const std::string& title);

// The size of the problem, after the data pass.
void write_problem(rec::Io& io, const ReportContext& ctx, int ntraits);

// The report pages of one trait; a trait that was not predicted gets one line saying why.
void write_trait(rec::Io& io, const ReportContext& ctx, const TraitResult& r);

// The closing line of the report.
void write_closing(rec::Io& io);

// The text of effects.csv: one row per random column of every predicted trait.
std::string effects_table(const ReportContext& ctx, const std::vector<TraitResult>& results);

// ---------------------------------------------------------------------------------
// The run

// The whole run; `args` are the file names (CONTROL DATA COMPONENTS REPORT, those not
// given are asked for on the console), `clock` stamps the progress lines of the data
// pass, `csv_dir` is the folder of effects.csv when asked for. Returns the exit
// status: 0 normal, 1 input refused or traits not predicted (said on the report), 2
// run-time error.
int run(rec::Io& io, korbal::Clock& clock, const std::optional<std::filesystem::path>& csv_dir,
        bool selfs = false);

}  // namespace gcasca
