// Loads an arbitrary CSV data file with an arbitrary CSV data record (the input is the
// record, a line "%%", then the file) for a model with locations, replications, two sets,
// clones and every effect, and accumulates it. Every input must either be refused with a
// RunError or be accumulated without touching memory outside the arrays.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "bench/trial_data.h"
#include "fuzz_support.h"
#include "korbal/csvdata.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzzsupport::split(data, size, 2);
  const korbal::Control c = trialdata::every_effect(4, 2);
  const korbal::Model m = korbal::allocate_columns(c);
  static const auto a = std::make_unique<korbal::Arrays>();
  a->NOBS = 0;
  fuzzsupport::clear();
  std::istringstream in;
  std::ostringstream out;
  rec::Io io({}, in, out, fuzzsupport::scratch());
  io.open(korbal::kReportUnit, "r.out", rec::OpenMode::Output);
  try {
    korbal::CsvData csv(c, m, parts[0]);
    csv.load(std::string(parts[1]), "d.csv", 1);
    csv.accumulate(io, c, m, *a);
  } catch (const rec::RunError&) {
  }
  return 0;
}
