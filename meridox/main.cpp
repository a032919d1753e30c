// meridox: estimates variance and covariance components, their standard deviations,
// F tests and genetic correlations from the interchange file written by korbal.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "meridox/meridox.h"
#include "records/io.h"
#include "records/program.h"
#include "records/usage.h"

namespace {
constexpr std::string_view kUsage =
    "Usage: meridox [--csv DIR] [--inbreeding F] [--error FILE] [INTERCHANGE-FILE [REPORT-FILE]]\n"
    "Variance and covariance components, their standard deviations, F tests and\n"
    "genetic correlations from the interchange file written by korbal\n"
    "(MERIDOX_IN.DAT). File names not given are asked for on the console.\n"
    "  --csv DIR   also write the tables as CSV files into the folder DIR\n"
    "  --inbreeding F  also estimate genetic parameters for parents with inbreeding F (0 to 1)\n"
    "  --error FILE  take the error mean squares and DF from the CSV file FILE\n"
    "              (trait_1,trait_2,ms,df), e.g. for data without replication\n"
    "  -h, --help  show this text and the version, then exit\n"
    "  --version   show the version, then exit\n"
    "Exit status: 0 done, 1 JOB TERMINATED (see the report), 2 run-time error.\n";
constexpr std::string_view kSeeAlso =
    "The files are described in the README, sections \"The workflow: korbal, then\n"
    "meridox\" (the interchange file) and \"meridox report\".\n";
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (rec::usage_requested(args, std::cout, "meridox", kUsage, kSeeAlso)) return 0;
  meridox::Options options = meridox::parse_options(args);
  if (!options.error.empty()) options.error = rec::with_usage(options.error, kUsage);
  rec::Io io(args, std::cin, std::cout);
  // The interchange file is opened before any output is created.
  return rec::run_program(io,
                          {{{0, meridox::kInputUnit}},
                           {meridox::kReportUnit},
                           {"* * * AND ALL IS DONE * * *", "JOB TERMINATED"}},
                          options.error.empty(), [&] { return meridox::run(io, options); });
}
