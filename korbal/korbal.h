// korbal: general least-squares analysis of diallel experiments.
//
// The run owns a handful of fixed arrays (Arrays) and hands them to the routines by
// reference: the effects model numbers the columns, the data pass accumulates the
// normal equations, GOTOIT reduces them and prints the tables.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "korbal/clock.h"
#include "records/io.h"

namespace korbal {

inline constexpr int MAXCOL = 550;  // most columns of the linear model
inline constexpr int MAXY = 10;     // most response variables
inline constexpr int kControlUnit = 5;
inline constexpr int kReportUnit = 6;
inline constexpr int kInterchangeUnit = 3;

// The fifteen items of the dimension record, in record order.
struct Control {
  std::int32_t NLINES = 0, NV = 0, CROSS = 0, ISELF = 0, IMATR = 0, IRECP = 0, NREP = 0,
               NLOC = 0, IFXL = 0, IDATA = 0, IPRINT = 0, NSETS = 0, NCLON = 0, ICXL = 0,
               IRXF = 0;
  // Design layout of the data lines: 3 locations and replications, 1 replications
  // only, 4 locations only, 2 neither.
  int LAYOUT = 3;
};

// The fixed arrays of the run, allocated once at their maximal sizes.
struct Arrays {
  std::vector<double> XPX = std::vector<double>(MAXCOL * (MAXCOL + 1) / 2);  // packed X'X
  std::vector<double> XPY = std::vector<double>(MAXCOL * MAXY);              // X'Y, stride SDFL
  std::vector<double> YPY = std::vector<double>(MAXY * (MAXY + 1) / 2);      // Y'Y, analysis order
  std::vector<std::string> ENAME = std::vector<std::string>(MAXCOL, "    ");  // column labels
  std::vector<std::string> VNAME = std::vector<std::string>(MAXY, std::string(16, ' '));
  std::string TITLE = std::string(80, ' ');
  std::int32_t NOBS = 0;
};

// Position of element (i, j), i <= j, 1-based, in the packed upper triangle (1-based).
inline constexpr std::int64_t packed(std::int64_t i, std::int64_t j) { return i + j * (j - 1) / 2; }

// GOTOIT: prints the optional unreduced matrices, reduces the normal equations,
// prints the expected mean squares and one analysis per variable and pair, and writes
// the analysis records of the interchange file. Arrays are 0-based C++ vectors
// holding the 1-based layouts (element k at index k-1).
void GOTOIT(rec::Io& io, Clock& clock, std::vector<double>& XPX, std::vector<double>& XPY,
            const std::vector<double>& YPY, const std::vector<std::string>& ENAME, int NV,
            int SDFL, int CROSS, double TOL, int NOBS, int IPRINT,
            const std::vector<std::string>& VNAME);

// COVRED: in-place reduction (Cholesky, natural column order) of XPX and XPY.
void COVRED(rec::Io& io, Clock& clock, std::vector<double>& XPX, std::vector<double>& XPY,
            double TOL, int SDFL, int NV);

// The whole run of korbal; returns the exit status (0 normal, 1 input error
// reported with "JOB TERMINATED", 2 run-time error).
int run(rec::Io& io, Clock& clock);

}  // namespace korbal
