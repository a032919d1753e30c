// The part of korbal that gcasca builds on: its control records, its effects model and
// its data pass. Everything gcasca takes from korbal goes through this file.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "gcasca/gcasca.h"
#include "korbal/analysis.h"
#include "korbal/clock.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/io.h"

namespace gcasca {

// The problem as the control file describes it.
struct Design {
  korbal::Control c;  // NLOC and NREP as the model takes them (a count of 1 is 0)
  korbal::Model m;
  std::string title;                // 80 characters
  std::vector<std::string> traits;  // 16 characters each
  std::string datfmt;               // the data record: a format, or CSV and its columns
};

// The control items `c` as read: the model, the layout of the data lines and the
// adjusted counts; with `selfs` the self lines are analysed (korbal --selfs).
Design design_of(const korbal::Control& c, bool selfs = false);

enum class ControlOutcome {
  Ok,
  Empty,    // no dimension record, or no variables: nothing to do
  Refused,  // the dimension record or the model was refused on the report
};

// Reads the control file on kControlUnit: dimension record, title, variable names
// "(4(2A8,4X))" and the data format. Refusals ("JOB TERMINATED") go to the report.
// With `selfs` the self lines are analysed; with ISELF < 0 that is a run-time error.
ControlOutcome read_control(rec::Io& io, Design& d, bool selfs = false);

// What every column of the model stands for, in column order.
std::vector<ColumnId> identify_columns(const Design& d);

// korbal's data pass over the data file open on kDataUnit, with the data format of the
// control file and the clock of the run: the normal equations sized to the model. Bad
// data lines are reported on the report as korbal reports them.
korbal::NormalEquations data_pass(rec::Io& io, korbal::Clock& clock, const Design& d);

// The fixed columns 1..nfixed that korbal's reduction accepts (pivot above
// TOL = SDFL * XPX(1,1) * 1.0E-11, natural column order).
std::vector<char> accepted_fixed(const std::vector<double>& XPX, int SDFL, int nfixed);

// korbal's reduction of a copy of the normal equations `p` (the same pivot tolerance and
// order as korbal's run), and korbal's error line of the analysis of every trait.
struct Reduction {
  std::vector<double> XPX;             // reduced, packed; pivots on the diagonal
  std::vector<double> XPY;             // reduced, stride SDFL
  std::vector<char> accepted;          // the columns the reduction accepted
  std::vector<korbal::ErrorLine> errors;  // one per trait
  std::vector<korbal::Analysis> traits;   // the analysis of variance of each trait
};
Reduction reduce(const Design& d, const korbal::NormalEquations& p);

// The variance components of every trait by the method of moments, as meridox computes
// them from korbal's sequential analysis and expected mean squares: for the random
// effects from the last to the first, (MS - the later components' shares - sigma2(ERR))
// over the effect's own coefficient. By code, with "ERR"; a trait without error degrees
// of freedom gets an empty table. `no_df`: the random effects that have no degrees of
// freedom after the effects before them (their columns depend on earlier ones), whose
// variance the data cannot tell apart from the earlier effects'.
struct Moments {
  std::vector<std::map<std::string, double>> components;  // one table per trait
  std::set<std::string> no_df;
};
Moments moment_components(const Design& d, const korbal::NormalEquations& p);

}  // namespace gcasca
