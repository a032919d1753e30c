// Control records of korbal: the dimension record, its checks, the banner and the
// problem description.
#pragma once

#include <string>

#include "korbal/korbal.h"
#include "records/io.h"

namespace korbal {

// Reads the dimension record "(15I3)" from the control file. False at its end.
bool read_dimensions(rec::Io& io, Control& c);

// Reads the title record "(20A4)" (no end-of-file branch).
void read_title(rec::Io& io, std::string& TITLE);

// Checks the dimension record before anything is printed: too many variables,
// negative counts, a data unit that is already in use. Writes the one
// "JOB TERMINATED" line on the report and returns false when the record is refused.
bool check_dimensions(rec::Io& io, const Control& c);

// The banner: title page of the report.
void print_banner(rec::Io& io);

// The problem description: title, counts and switches; sets LAYOUT.
void describe_problem(rec::Io& io, Control& c, const std::string& TITLE);

// Cross-products answer of the problem description: " YES" or "  NO".
const char* cross_answer(int CROSS);

// Design layout of the data lines for the counts as read (before the model turns a
// count of 1 into 0): 3 locations and replications, 1 replications only,
// 4 locations only, 2 neither.
int layout_of(int NLOC, int NREP);

}  // namespace korbal
