// The run of korbal from start to end: files, control records, model, data pass,
// analysis, its writers and the closing page.
#include <memory>
#include <string>

#include "korbal/analysis.h"
#include "korbal/control.h"
#include "korbal/datapass.h"
#include "korbal/heterosis.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/csv.h"
#include "records/format.h"
#include "records/interchange.h"
#include "records/options.h"
#include "records/program.h"

namespace korbal {

Options parse_options(std::vector<std::string>& args) {
  rec::OptionValues v = rec::take_options(args, {"--csv"}, {"--selfs"});
  Options opt;
  opt.error = v.error;
  opt.selfs = v.switches.count("--selfs") != 0;
  if (auto it = v.values.find("--csv"); it != v.values.end()) opt.csv_dir = it->second;
  return opt;
}

namespace {

// Closing page, execution time and the notice of the interchange file.
void closing(rec::Io& io, Clock& clock, double T0) {
  static const rec::Format kFolks = rec::Format::compile(
      "('1',/,/,/,'0 * * * * T h a t ''s  i t  f o l k s !  * * * *')");
  static const rec::Format kTime =
      rec::Format::compile("(/,' Execution time = ',F8.1,' seconds.',/)");
  static const rec::Format kCreated = rec::Format::compile(
      "(/,' * * * Input file for MERIDOX has been created as:',/,'       MERIDOX_IN.DAT')");
  io.write(kReportUnit, kFolks, {});
  const double elapsed = elapsed_seconds(T0, static_cast<double>(SECNDS(clock, 0.0f)));
  io.write(rec::kConsole, kTime, {elapsed});
  io.write(rec::kConsole, kCreated, {});
}

// Steps of the run up to the closing sequence; returns the exit status.
int analyse(rec::Io& io, Clock& clock, const Options& opt) {
  static const rec::Format kStarted = rec::Format::compile(
      "(' Diallel analysis started ',2(I2.2,':'),I2.2,'.',I2.2,/)");
  static const rec::Format kDimensions = rec::Format::compile(
      "(' Analyzing problem dimensions ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const rec::Format kBegin = rec::Format::compile("(/,' Beginning initialization ')");

  // A folder for the tables that cannot be made, or a table that would replace an input
  // or another output, is found before any output exists.
  if (opt.csv_dir)
    rec::csv::prepare_tables(io, *opt.csv_dir, {"ems.csv", "anova.csv", "crosses.csv", "levels.csv"});
  if (opt.csv_dir && opt.selfs) rec::csv::prepare_tables(io, *opt.csv_dir, {"heterosis.csv"});

  const double T0 = static_cast<double>(SECNDS(clock, 0.0f));
  stamp(io, clock, kStarted);
  io.say({"Opening data files:"});
  io.say({">> Control data file will be read using Unit 5"});
  io.open(kControlUnit, "", rec::OpenMode::Input);
  io.say({"   "});
  io.say({">> Output file will be written using Unit 6"});
  io.open(kReportUnit, "", rec::OpenMode::Output);
  io.open(kInterchangeUnit, rec::interchange::kFileName, rec::OpenMode::Output);
  io.say({". . . Input data file for MERIDOX will be created as"});
  io.say({". . . MERIDOX_IN.DAT"});
  stamp(io, clock, kDimensions);

  int status = 0;
  Control c;
  const auto arrays = std::make_unique<Arrays>();  // the run's fixed arrays
  Arrays& a = *arrays;
  if (!read_dimensions(io, c)) {
    io.say({"The control file holds no dimension record: nothing was analysed"});
  } else if (c.NV == 0) {
    io.say({"No response variables (NV = 0): nothing was analysed"});
  } else {
    normalise(c);
    c.selfs = opt.selfs;
    check_selfs(c);
    read_title(io, a.TITLE);
    if (!check_dimensions(io, c)) {
      status = 1;
    } else {
      print_banner(io);
      describe_problem(io, c, a.TITLE);
      io.write(rec::kConsole, kBegin, {});
      const std::optional<Model> m = initialise(io, clock, c, a);
      if (!m) {
        status = 1;
      } else {
        rec::interchange::write_header(io, kInterchangeUnit, c.NV, c.CROSS, m->NE);
        const PassResult pass = run_data_pass(io, clock, c, *m, a);
        if (pass.bad_lines > 0 || a.NOBS == 0) {
          status = 1;
        } else {
          const std::vector<EffectBlock> effects = m->effects();
          const Results results = compute_results(io, clock, c, effects, a);
          write_report(io, results, a.VNAME);
          // With the self lines analysed, heterosis of the crosses over their parents.
          std::vector<HeterosisRow> het;
          if (c.selfs) {
            het = heterosis(c, pass, results);
            write_heterosis(io, c, het, a.VNAME, pass.level_names[kFemale]);
          }
          rec::interchange::write_problem(io, kInterchangeUnit, interchange_of(results, a.VNAME),
                                          false);
          if (opt.csv_dir) write_tables(io, *opt.csv_dir, c, results, pass, a.VNAME);
          if (opt.csv_dir && c.selfs)
            io.add_table(*opt.csv_dir / "heterosis.csv",
                         heterosis_table(het, a.VNAME, pass.level_names[kFemale]));
        }
      }
    }
  }
  closing(io, clock, T0);
  return status;
}

}  // namespace

int run(rec::Io& io, Clock& clock, const Options& opt) {
  return rec::run_to_stop(io, [&] {
    if (!opt.error.empty()) throw rec::RunError(rec::ErrorSite{}, opt.error);
    return analyse(io, clock, opt);
  });
}

}  // namespace korbal
