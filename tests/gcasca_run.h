// Runs gcasca in-process on files written into a scratch directory.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gcasca/gcasca.h"
#include "korbal/clock.h"
#include "records/csv.h"
#include "records/io.h"
#include "korbal_run.h"
#include "support.h"

namespace gcasca_test {

struct Outcome {
  int status = -1;
  std::string console, report, effects;
};

using korbal_test::FixedClock;

// Writes the control, data and components files and runs gcasca on them with
// `--csv csv` and a clock fixed at `time`; collects the console, the report and
// effects.csv (empty when missing).
inline Outcome run_gcasca(const std::string& control, const std::string& data,
                          const std::string& components,
                          korbal::ClockReading time = {10, 0, 0, 0}) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "problem.ctl", control);
  testsupport::write_file(dir / "problem.dat", data);
  testsupport::write_file(dir / "components.csv", components);
  std::istringstream in;
  std::ostringstream out;
  Outcome o;
  {
    rec::Io io({"problem.ctl", "problem.dat", "components.csv", "problem.gca"}, in, out,
               dir.path());
    FixedClock clock(time);
    o.status = gcasca::run(io, clock, std::filesystem::path("csv"));
  }
  o.console = out.str();
  o.report = testsupport::read_file(dir / "problem.gca");
  if (testsupport::file_exists(dir / "csv" / "effects.csv"))
    o.effects = testsupport::read_file(dir / "csv" / "effects.csv");
  return o;
}

// Rows of components.csv for one trait: {component, estimate} pairs.
inline std::string component_rows(const std::string& trait,
                                  const std::vector<std::pair<std::string, std::string>>& comps,
                                  const std::string& problem = "1") {
  std::string s;
  for (const auto& [code, value] : comps)
    s += problem + "," + trait + "," + trait + "," + code + "," + value + ",NA,NA,NA,NA,NA,NA,NA\n";
  return s;
}

inline const char* kComponentsHeader =
    "problem,trait_1,trait_2,component,estimate,sd,ms,denominator,df1,df2,f,p\n";

// effects.csv by its identifying fields "trait,effect,location,...,clone" -> {blup, se,
// reliability} (NaN for NA).
inline std::map<std::string, std::array<double, 3>> effects_by_key(const std::string& text) {
  std::map<std::string, std::array<double, 3>> out;
  const auto rows = rec::csv::parse(text);
  for (std::size_t k = 1; k < rows.size(); ++k) {
    const auto& r = rows[k];
    if (r.size() != 14) continue;
    std::string key = r[0];
    for (int i = 1; i < 8; ++i) key += "," + r[static_cast<std::size_t>(i)];
    auto num = [](const std::string& s) { return s == "NA" ? std::nan("") : std::stod(s); };
    out[key] = {num(r[8]), num(r[9]), num(r[10])};
  }
  return out;
}

}  // namespace gcasca_test
