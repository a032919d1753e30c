// The data pass of a run: the data record of the control file, the data file, and the
// pass over it through the line source of its kind (fixed columns or a CSV file).
#include <stdexcept>
#include <string>

#include "korbal/control.h"
#include "korbal/csvdata.h"
#include "korbal/datapass.h"
#include "records/format.h"

namespace korbal {

std::string read_data_record(rec::Io& io) {
  static const rec::Format kWholeRecord = rec::Format::compile("(A)");
  // The data record is read whole: a CSV record may be longer than the 80 columns of
  // a format, which are the record's first 80 columns.
  std::string record;
  io.read(kControlUnit, kWholeRecord, {rec::Target::of(record, rec::kMaxRecordLength)}, false);
  return record;
}

int open_data(rec::Io& io, const Control& c, int unit) {
  if (unit != 0) return unit;
  io.say({});
  io.say({"Please enter input data set name"});
  io.open(c.IDATA, "", rec::OpenMode::Input);
  return c.IDATA;
}

PassResult run_data_pass(rec::Io& io, Clock& clock, const Control& c, const Model& m, Arrays& a) {
  return pass_data(io, clock, c, m, a, read_data_record(io), 0);
}

PassResult pass_data(rec::Io& io, Clock& clock, const Control& c, const Model& m,
                     Accumulators a, const std::string& record, int unit) {
  static const rec::Format kReading = rec::Format::compile(
      "(' Reading problem dataset   ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const rec::Format kShowFormat = rec::Format::compile("(' Input data format: ',A80)");
  static const rec::Format kHeading = rec::Format::compile(
      "('1 FEMALE  MALE',/,'   LINE   LINE',/,'    NO.    NO.',6X,'C O L U M N  N U M B E R  "
      "I N  (X)  ',T67,'V A L U E  I N  C O L U M N  O F   (X) ',/)");

  if (is_csv_record(record)) return pass_csv_data(io, clock, c, m, a, record, unit);
  std::string DATFMT = record.substr(0, 80);
  rec::Format datfmt;
  try {
    datfmt = rec::Format::compile(DATFMT);
  } catch (const rec::FormatError& e) {
    std::string shown = DATFMT;
    while (!shown.empty() && shown.back() == ' ') shown.pop_back();
    throw rec::RunError(rec::ErrorSite{}, "invalid data format " + shown + ": " + e.what() +
                        " (format position " + std::to_string(e.position + 1) + ")");
  }

  unit = open_data(io, c, unit);
  stamp(io, clock, kReading);
  io.write(rec::kConsole, kShowFormat, {DATFMT});
  if (c.IPRINT < 0) io.write(kReportUnit, kHeading, {});

  const PassResult r = accumulate(io, c, m, a, datfmt, unit);

  finish_pass(io, clock, *a.NOBS, r, r.NREAD);
  return r;
}

NormalEquations normal_equations(rec::Io& io, Clock& clock, const Control& c, const Model& m,
                                 const std::string& record, int unit) {
  // Sized to the model, the equations hold no column or response beyond its own.
  if (!m.fits() || c.NV < 0 || c.NV > MAXY)
    throw std::invalid_argument("normal_equations: a model beyond the column or response limit");
  NormalEquations e;
  e.SDFL = m.SDFL;
  e.NV = c.NV;
  const auto n = static_cast<std::size_t>(m.SDFL), nv = static_cast<std::size_t>(c.NV);
  e.XPX.assign(n * (n + 1) / 2, 0.0);
  e.XPY.assign(n * nv, 0.0);
  e.YPY.assign(nv * (nv + 1) / 2, 0.0);
  e.pass = pass_data(io, clock, c, m, {e.XPX.data(), e.XPY.data(), e.YPY.data(), &e.NOBS},
                     record, unit);
  return e;
}

}  // namespace korbal
