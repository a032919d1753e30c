// gcasca: predicts the GCA, SCA, maternal and reciprocal effects of every parent and
// cross from korbal's control and data files and meridox's variance components.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gcasca/gcasca.h"
#include "korbal/clock.h"
#include "records/io.h"
#include "records/options.h"
#include "records/program.h"
#include "records/usage.h"

namespace {
constexpr std::string_view kUsage =
    "Usage: gcasca [--csv DIR] [--selfs] [CONTROL-FILE [DATA-FILE [COMPONENTS-FILE [REPORT-FILE]]]]\n"
    "Best linear unbiased prediction of the random effects of a diallel (GCA, SELF, SCA,\n"
    "MATR, RECP, FXL, CLON, CXL, RXF): reads korbal's control and data files and the\n"
    "variance components of meridox (components.csv of meridox --csv), writes the report.\n"
    "File names not given are asked for on the console.\n"
    "  --csv DIR     also write DIR/effects.csv, one row per random column of every trait\n"
    "  --selfs       analyse the self lines, as korbal --selfs (needs ISELF 0 or more)\n"
    "  -h, --help    show this text and the version, then exit\n"
    "  --version     show the version, then exit\n"
    "Exit status: 0 done, 1 a trait not predicted or input refused (see the report),\n"
    "2 run-time error.\n";
constexpr std::string_view kSeeAlso =
    "The program and its report are described in the README, section \"gcasca\".\n";
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (rec::usage_requested(args, std::cout, "gcasca", kUsage, kSeeAlso)) return 0;
  rec::OptionValues options = rec::take_options(args, {"--csv"}, {"--selfs"});
  const bool selfs = options.switches.count("--selfs") != 0;
  if (!options.error.empty()) options.error = rec::with_usage(options.error, kUsage);
  std::optional<std::filesystem::path> csv_dir;
  if (auto it = options.values.find("--csv"); it != options.values.end()) csv_dir = it->second;
  rec::Io io(args, std::cin, std::cout);
  // The control, data and components files are opened before any output is created.
  return rec::run_program(
      io,
      {{{0, gcasca::kControlUnit}, {1, gcasca::kDataUnit}, {2, gcasca::kComponentsUnit}},
       {gcasca::kReportUnit},
       {"E n d   o f   t h e   p r e d i c t i o n s"}},
      options.error.empty(), [&] {
        if (!options.error.empty())
          throw rec::RunError(rec::ErrorSite{}, options.error);
        korbal::SystemClock clock;
        return gcasca::run(io, clock, csv_dir, selfs);
      });
}
