// meridox: estimates variance and covariance components, their standard deviations,
// F tests and genetic correlations from the interchange file written by korbal.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "meridox/meridox.h"
#include "records/io.h"
#include "records/usage.h"

namespace {
constexpr std::string_view kUsage =
    "Usage: meridox [INTERCHANGE-FILE [REPORT-FILE]]\n"
    "Variance and covariance components, their standard deviations, F tests and\n"
    "genetic correlations from the interchange file written by korbal\n"
    "(MERIDOX_IN.DAT). File names not given are asked for on the console.\n"
    "  --help     show this text and the version, then exit\n"
    "  --version  show the version, then exit\n";
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (rec::usage_requested(args, std::cout, "meridox", kUsage)) return 0;
  const meridox::Options options = meridox::parse_options(args);
  rec::Io io(args, std::cin, std::cout);
  return meridox::run(io, options);
}
