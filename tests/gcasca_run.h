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
  std::string console, report, effects, differences;
};

using korbal_test::FixedClock;

// Writes the control, data and components files and runs gcasca on them with
// `--csv csv` and a clock fixed at `time` (with `fixed`, `gcasca --fixed` without the
// components file; with `selfs`, `--selfs`); collects the console, the report,
// effects.csv and differences.csv (empty when missing).
inline Outcome run_gcasca(const std::string& control, const std::string& data,
                          const std::string& components,
                          korbal::ClockReading time = {10, 0, 0, 0}, bool fixed = false,
                          bool selfs = false) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "problem.ctl", control);
  testsupport::write_file(dir / "problem.dat", data);
  std::vector<std::string> args = {"problem.ctl", "problem.dat", "problem.gca"};
  if (!fixed) {
    testsupport::write_file(dir / "components.csv", components);
    args.insert(args.begin() + 2, "components.csv");
  }
  std::istringstream in;
  std::ostringstream out;
  Outcome o;
  {
    rec::Io io(args, in, out, dir.path());
    FixedClock clock(time);
    gcasca::RunOptions opt;
    opt.csv_dir = std::filesystem::path("csv");
    opt.mode = fixed ? gcasca::Mode::Fixed : gcasca::Mode::Predict;
    opt.selfs = selfs;
    o.status = gcasca::run(io, clock, opt);
  }
  o.console = out.str();
  o.report = testsupport::read_file(dir / "problem.gca");
  for (auto [name, text] : {std::pair{"effects.csv", &o.effects},
                            std::pair{"differences.csv", &o.differences}})
    if (testsupport::file_exists(dir / "csv" / name))
      *text = testsupport::read_file(dir / "csv" / name);
  return o;
}

// gcasca --fixed --csv csv (with `selfs`, --selfs) on the control and data files.
inline Outcome run_gcasca_fixed(const std::string& control, const std::string& data,
                                bool selfs = false) {
  return run_gcasca(control, data, "", {10, 0, 0, 0}, true, selfs);
}

// A CSV table by the first `key_fields` fields of its rows joined with commas -> the
// remaining fields as numbers (NaN for NA); the header is left out.
inline std::map<std::string, std::vector<double>> rows_by_key(const std::string& text,
                                                               std::size_t key_fields) {
  std::map<std::string, std::vector<double>> out;
  const auto rows = rec::csv::parse(text);
  for (std::size_t k = 1; k < rows.size(); ++k) {
    const auto& r = rows[k];
    if (r.size() <= key_fields) continue;
    std::string key = r[0];
    for (std::size_t i = 1; i < key_fields; ++i) key += "," + r[i];
    std::vector<double> v;
    for (std::size_t i = key_fields; i < r.size(); ++i)
      v.push_back(r[i] == "NA" ? std::nan("") : std::stod(r[i]));
    out[key] = v;
  }
  return out;
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
