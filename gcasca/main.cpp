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
    "       gcasca --fixed [--csv DIR] [--selfs] [CONTROL-FILE [DATA-FILE [REPORT-FILE]]]\n"
    "       gcasca --reml [--csv DIR] [--selfs] [CONTROL-FILE [DATA-FILE [REPORT-FILE]]]\n"
    "Best linear unbiased prediction of the random effects of a diallel (GCA, SELF, SCA,\n"
    "MATR, RECP, GXL, SXL, MXL, RXL, FXL, CLON, CXL, RXF): reads korbal's control and data\n"
    "files and the variance components of meridox (components.csv of meridox --csv),\n"
    "writes the report.\n"
    "With --fixed, least-squares estimates of the same effects, all fixed, with standard\n"
    "errors and t tests of the differences of two lines (no components file).\n"
    "With --reml, the variance components by REML, then the predictions with them (no\n"
    "components file).\n"
    "File names not given are asked for on the console.\n"
    "  --csv DIR     also write DIR/effects.csv, one row per genetic column of every trait,\n"
    "                and DIR/differences.csv, every two lines of a set for GCA, SELF, MATR;\n"
    "                with --reml also DIR/components.csv and DIR/reml.csv\n"
    "  --fixed       estimate every effect as fixed\n"
    "  --reml        estimate the variance components by REML\n"
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
  rec::OptionValues options = rec::take_options(args, {"--csv"}, {"--fixed", "--reml", "--selfs"});
  gcasca::RunOptions run;
  run.selfs = options.switches.count("--selfs") != 0;
  const bool fixed = options.switches.count("--fixed") != 0;
  const bool reml = options.switches.count("--reml") != 0;
  if (fixed && reml && options.error.empty())
    options.error = "options --fixed and --reml exclude each other";
  run.mode = fixed ? gcasca::Mode::Fixed : reml ? gcasca::Mode::Reml : gcasca::Mode::Predict;
  if (!options.error.empty()) options.error = rec::with_usage(options.error, kUsage);
  if (auto it = options.values.find("--csv"); it != options.values.end()) run.csv_dir = it->second;
  rec::Io io(args, std::cin, std::cout);
  // The control, data (and components) files are opened before any output is created.
  const auto body = [&] {
    if (!options.error.empty()) throw rec::RunError(rec::ErrorSite{}, options.error);
    korbal::SystemClock clock;
    return gcasca::run(io, clock, run);
  };
  const std::initializer_list<std::string_view> ends = {
      "E n d   o f   t h e   p r e d i c t i o n s", "E n d   o f   t h e   e s t i m a t e s"};
  if (run.mode != gcasca::Mode::Predict)
    return rec::run_program(
        io, {{{0, gcasca::kControlUnit}, {1, gcasca::kDataUnit}}, {gcasca::kReportUnit}, ends},
        options.error.empty(), body);
  return rec::run_program(
      io,
      {{{0, gcasca::kControlUnit}, {1, gcasca::kDataUnit}, {2, gcasca::kComponentsUnit}},
       {gcasca::kReportUnit},
       ends},
      options.error.empty(), body);
}
