// korbal: reads a control file and a data file, fits the diallel model by least
// squares and prints the expected mean squares and the analyses of variance.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"
#include "records/usage.h"

namespace {
constexpr std::string_view kUsage =
    "Usage: korbal [--csv DIR] [CONTROL-FILE [REPORT-FILE [DATA-FILE]]]\n"
    "Least-squares analysis of a diallel experiment: reads the control file and the\n"
    "data file, writes the report and MERIDOX_IN.DAT (in the current directory) for\n"
    "meridox. File names not given are asked for on the console.\n"
    "  --csv DIR  also write the tables as CSV files into the folder DIR\n"
    "  --help     show this text and the version, then exit\n"
    "  --version  show the version, then exit\n";
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (rec::usage_requested(args, std::cout, "korbal", kUsage)) return 0;
  const korbal::Options opt = korbal::parse_options(args);
  rec::Io io(args, std::cin, std::cout);
  korbal::SystemClock clock;
  return korbal::run(io, clock, opt);
}
