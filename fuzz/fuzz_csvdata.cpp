// Loads an arbitrary CSV data file with an arbitrary CSV data record (the input is the
// record, a line "%%", then the file) for a model with locations, replications, two sets,
// clones and every effect, and accumulates it. Every input must either be refused with a
// RunError or be accumulated without touching memory outside the arrays; and the file
// read in small blocks must give what the file read whole gives: the same equations,
// counts and level names, or the same error. Read once with the accumulation (where the
// records allow it), the file gives what its two passes give, report lines included; and
// records decoded in place give what every record split and converted field by field
// gives.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "bench/trial_data.h"
#include "fuzz_support.h"
#include "korbal/csvdata.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/io.h"

namespace {

enum class Way { TwoPasses, OnePass, Reference };

// The pass over the file d.csv of the scratch directory, read whole (block 0) or in
// blocks of `block` bytes, in two passes, in one where the records allow it, or in two
// with every record converted field by field; its outcome as text (with the report's
// lines after it when read in blocks) and its equations in `a`.
std::string pass(const korbal::Control& c, const korbal::Model& m, std::string_view record,
                 std::size_t block, korbal::Arrays& a, Way way = Way::TwoPasses) {
  const std::size_t nx = static_cast<std::size_t>(m.SDFL) * (m.SDFL + 1) / 2;
  std::fill(a.XPX.begin(), a.XPX.begin() + static_cast<std::ptrdiff_t>(nx), 0.0);
  std::fill(a.XPY.begin(), a.XPY.end(), 0.0);
  std::fill(a.YPY.begin(), a.YPY.end(), 0.0);
  a.NOBS = 0;
  std::istringstream in;
  std::ostringstream out;
  rec::Io io({}, in, out, fuzzsupport::scratch());
  io.open(korbal::kReportUnit, "r.out", rec::OpenMode::Output);
  io.open(1, "d.csv", rec::OpenMode::Input);
  std::string shown;
  try {
    korbal::CsvData csv(c, m, record);
    csv.decode_plain_lines(way != Way::Reference);
    if (block == 0) {
      csv.load(io.read_rest(1, korbal::kMaxCsvBytes, korbal::kMaxCsvLine), io.file_name(1), 1);
    } else if (way == Way::OnePass) {
      csv.open_unit(io, 1, block);
    } else {
      csv.load_unit(io, 1, block);
      csv.print_key(io);
    }
    const korbal::PassResult r = csv.accumulate(io, c, m, a);
    shown = std::to_string(a.NOBS) + " " + std::to_string(r.NREAD) + " " +
            std::to_string(r.missing_lines) + " " + std::to_string(r.bad_lines) + " " +
            std::to_string(csv.last_line_cut());
    for (const auto& names : r.level_names)
      for (const auto& n : names) shown += " " + n;
  } catch (const rec::RunError& e) {
    shown = e.what();
  }
  if (block == 0) return shown;
  try {
    io.close();
  } catch (const rec::RunError& e) {
    shown += e.what();
  }
  std::ifstream report(fuzzsupport::scratch() / "r.out", std::ios::binary);
  std::ostringstream lines;
  lines << report.rdbuf();
  return shown + "\n" + lines.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzzsupport::split(data, size, 2);
  const korbal::Control c = trialdata::every_effect(4, 2);
  const korbal::Model m = korbal::allocate_columns(c);
  static const auto whole = std::make_unique<korbal::Arrays>();
  static const auto blocks = std::make_unique<korbal::Arrays>();
  fuzzsupport::clear();
  fuzzsupport::write(fuzzsupport::scratch() / "d.csv", parts[1]);
  const std::string a = pass(c, m, parts[0], 0, *whole);
  // A block of 1 to 64 bytes, so that records, quotes and line ends fall across blocks.
  const std::size_t block = 1 + (size == 0 ? 0 : data[size - 1] % 64);
  const std::size_t nx = static_cast<std::size_t>(m.SDFL) * (m.SDFL + 1) / 2;
  auto same = [&](const korbal::Arrays& x, const korbal::Arrays& y) {
    return std::memcmp(x.XPX.data(), y.XPX.data(), nx * sizeof(double)) == 0 && x.XPY == y.XPY &&
           x.YPY == y.YPY;
  };
  const std::string b = pass(c, m, parts[0], block, *blocks);
  if (b.compare(0, a.size() + 1, a + "\n") != 0 || !same(*whole, *blocks)) std::abort();
  static const auto other = std::make_unique<korbal::Arrays>();
  for (const Way way : {Way::OnePass, Way::Reference})
    if (pass(c, m, parts[0], block, *other, way) != b || !same(*blocks, *other)) std::abort();
  return 0;
}
