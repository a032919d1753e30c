// korbal: reads a control file and a data file, fits the diallel model by least
// squares and prints the expected mean squares and the analyses of variance.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"
#include "records/program.h"
#include "records/usage.h"

namespace {
constexpr std::string_view kUsage =
    "Usage: korbal [--csv DIR] [--selfs] [CONTROL-FILE [REPORT-FILE [DATA-FILE]]]\n"
    "Least-squares analysis of a diallel experiment: reads the control file and the\n"
    "data file, writes the report and MERIDOX_IN.DAT (in the current directory) for\n"
    "meridox. File names not given are asked for on the console.\n"
    "  --csv DIR   also write the tables as CSV files into the folder DIR\n"
    "  --selfs     analyse the self lines (female = male; needs ISELF 0 or more)\n"
    "  -h, --help  show this text and the version, then exit\n"
    "  --version   show the version, then exit\n"
    "Exit status: 0 done, 1 JOB TERMINATED (see the report), 2 run-time error.\n";
constexpr std::string_view kSeeAlso =
    "The files are described in the README, sections \"The control file\" and\n"
    "\"The data file\".\n";
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (rec::usage_requested(args, std::cout, "korbal", kUsage, kSeeAlso)) return 0;
  korbal::Options opt = korbal::parse_options(args);
  if (!opt.error.empty()) opt.error = rec::with_usage(opt.error, kUsage);
  rec::Io io(args, std::cin, std::cout);
  korbal::SystemClock clock;
  // The control file and the data file are opened before any output is created.
  return rec::run_program(io,
                          {{{0, korbal::kControlUnit}, {2, 0}},
                           {korbal::kReportUnit},
                           {"T h a t 's  i t  f o l k s !", "JOB TERMINATED"}},
                          opt.error.empty(), [&] { return korbal::run(io, clock, opt); });
}
