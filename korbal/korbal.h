// korbal: general least-squares analysis of diallel experiments.
//
// The run owns a handful of fixed arrays (Arrays) and hands them to the routines by
// reference: the effects model numbers the columns, the data pass accumulates the
// normal equations, the analysis reduces them into a value (Results, analysis.h) and
// three writers turn that value into the report, the interchange file and CSV tables.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "korbal/clock.h"
#include "records/io.h"

namespace korbal {

inline constexpr int MAXCOL = 550;  // most columns of the linear model
// Most columns of a model with an effect by location (GXL, SXL, MXL, RXL): their blocks
// grow with the locations, and the arrays grow to this size for such a model only.
inline constexpr int kMaxColByLocation = 2000;
inline constexpr int MAXY = 10;     // most response variables
inline constexpr int kControlUnit = 5;
inline constexpr int kReportUnit = 6;
inline constexpr int kInterchangeUnit = 3;

// Design layout of the data lines: which identifiers a line carries before the set,
// the parents and the clone. The values are the layout numbers of the design.
enum class Layout : int {
  LocRep = 3,   // location and replication
  Rep = 1,      // replication only
  Loc = 4,      // location only
  Neither = 2,  // neither
};

// The items of the dimension record, in record order, and what follows from them once
// the record is normalised (normalise). The first fifteen are the original record; the
// four switches of the effects by location follow in columns 46-57 (blank or absent: 0).
struct Control {
  std::int32_t NLINES = 0, NV = 0, CROSS = 0, ISELF = 0, IMATR = 0, IRECP = 0, NREP = 0,
               NLOC = 0, IFXL = 0, IDATA = 0, IPRINT = 0, NSETS = 0, NCLON = 0, ICXL = 0,
               IRXF = 0;
  std::int32_t IGXL = 0, ISXL = 0, IMXL = 0, IRXL = 0;  // GCA, SCA, MATR, RECP by location
  Layout LAYOUT = Layout::LocRep;
  // The counts of locations and replications as the record gives them (NLOC and NREP
  // become 0 for a count of 1 when the record is normalised).
  std::int32_t NLOC_READ = 0, NREP_READ = 0;
  // Not a record item: whether self lines (female = male) are analysed (the option
  // --selfs). A self family then has columns of its own in the family-level effects.
  bool selfs = false;
};

// Normalises a dimension record right after it is read: the layout of the data lines
// from the counts as given, a count of 1 location or replication becomes 0 (no such
// effect), a data unit below 1 becomes 1. Negative counts are left for
// check_dimensions to refuse.
void normalise(Control& c);

// Run options from the command line.
struct Options {
  std::optional<std::filesystem::path> csv_dir;  // --csv DIR: also write the CSV tables
  bool selfs = false;                            // --selfs: analyse the self lines
  std::string error;                             // a malformed option, for the console
};

// Takes the options out of `args` (the arguments after the program name), leaving the
// file names: "--csv DIR" or "--csv=DIR", and "--selfs".
Options parse_options(std::vector<std::string>& args);

// The fixed arrays of the run, allocated once at their sizes for MAXCOL columns; a model
// with an effect by location beyond MAXCOL columns grows XPX and XPY once before the data
// pass (initialise).
struct Arrays {
  std::vector<double> XPX = std::vector<double>(MAXCOL * (MAXCOL + 1) / 2);  // packed X'X
  std::vector<double> XPY = std::vector<double>(MAXCOL * MAXY);              // X'Y, stride SDFL
  std::vector<double> YPY = std::vector<double>(MAXY * (MAXY + 1) / 2);      // Y'Y, analysis order
  std::vector<std::string> VNAME = std::vector<std::string>(MAXY, std::string(16, ' '));
  std::string TITLE = std::string(80, ' ');
  std::int32_t NOBS = 0;
};

// Position of element (i, j), i <= j, 1-based, in the packed upper triangle (1-based).
inline constexpr std::int64_t packed(std::int64_t i, std::int64_t j) { return i + j * (j - 1) / 2; }

// The whole run of korbal; returns the exit status (0 normal, 1 input error
// reported with "JOB TERMINATED", 2 run-time error).
// With `opt.csv_dir` the CSV tables are written there as well; a folder that cannot be
// created or written is a run-time error before the report is opened.
int run(rec::Io& io, Clock& clock, const Options& opt = {});

}  // namespace korbal
