// meridox: estimates variance and covariance components, their standard deviations,
// F tests and genetic correlations from the interchange file written by korbal.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "meridox/meridox.h"
#include "records/cleanup.h"
#include "records/io.h"
#include "records/usage.h"

namespace {
constexpr std::string_view kUsage =
    "Usage: meridox [--csv DIR] [--inbreeding F] [INTERCHANGE-FILE [REPORT-FILE]]\n"
    "Variance and covariance components, their standard deviations, F tests and\n"
    "genetic correlations from the interchange file written by korbal\n"
    "(MERIDOX_IN.DAT). File names not given are asked for on the console.\n"
    "  --csv DIR   also write the tables as CSV files into the folder DIR\n"
    "  --inbreeding F  also estimate genetic parameters for parents with inbreeding F (0 to 1)\n"
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
  rec::cleanup::install();
  const meridox::Options options = meridox::parse_options(args);
  rec::Io io(args, std::cin, std::cout);
  io.set_report_units({meridox::kReportUnit});
  io.set_replace_at_close(true);
  int status = 2;
  try {
    // The interchange file is opened before any output is created.
    if (options.error.empty()) io.open_input_arguments({{0, meridox::kInputUnit}});
    status = meridox::run(io, options);
    io.close();
  } catch (const rec::RunError& e) {
    io.say({e.what()});
    io.console_out() << '\n';
    status = 2;
  }
  io.console_out().flush();
  return status;
}
