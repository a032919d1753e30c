// The run of korbal from start to end: files, control records, model, data pass,
// analysis and the closing page.
#include <memory>
#include <string>

#include "korbal/control.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/format.h"
#include "records/interchange.h"

namespace korbal {

namespace {

void stamp(rec::Io& io, Clock& clock, const rec::Format& fmt) {
  int hh, mm, ss, cc;
  CLKHMS(clock, hh, mm, ss, cc);
  io.write(rec::kConsole, fmt, {hh, mm, ss, cc});
}

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
int analyse(rec::Io& io, Clock& clock) {
  static const rec::Format kStarted = rec::Format::compile(
      "(' Diallel analysis started ',2(I2.2,':'),I2.2,'.',I2.2,/)");
  static const rec::Format kDimensions = rec::Format::compile(
      "(' Analyzing problem dimensions ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const rec::Format kBegin = rec::Format::compile("(/,' Beginning initialization ')");

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
  Model m;
  if (read_dimensions(io, c) && c.NV != 0) {
    read_title(io, a.TITLE);
    if (!check_dimensions(io, c)) {
      status = 1;
    } else {
      print_banner(io);
      describe_problem(io, c, a.TITLE);
      if (c.IDATA < 1) c.IDATA = 1;
      io.write(rec::kConsole, kBegin, {});
      if (!INITIA(io, clock, c, a, m)) {
        status = 1;
      } else {
        const PassResult r = DATPAS(io, clock, c, m, a);
        if (r.bad_lines > 0) {
          status = 1;
        } else {
          const double TOL = static_cast<double>(m.SDFL) * a.XPX[0] * 1.0E-11;
          GOTOIT(io, clock, a.XPX, a.XPY, a.YPY, a.ENAME, c.NV, m.SDFL, c.CROSS, TOL, a.NOBS,
                 c.IPRINT, a.VNAME);
        }
      }
    }
  }
  closing(io, clock, T0);
  return status;
}

}  // namespace

int run(rec::Io& io, Clock& clock) {
  try {
    const int status = analyse(io, clock);
    io.stop();
    return status;
  } catch (const rec::RunError& e) {
    io.say({e.what()});
  } catch (const rec::FormatError& e) {
    io.say({std::string("Format error: ") + e.what()});
  }
  // The console's records end before their text; end the last line for the shell.
  io.console_out() << '\n';
  io.flush();
  return 2;
}

}  // namespace korbal
