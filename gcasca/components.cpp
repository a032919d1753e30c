// The table of variance components that meridox writes (components.csv).
#include <limits>
#include <stdexcept>

#include "gcasca/gcasca.h"
#include "records/csv.h"
#include "records/csv_reader.h"

namespace gcasca {

namespace {

constexpr std::size_t kColumns = 12;

// The file's name as messages show it (bytes outside printable ASCII as \xNN).
std::string shown_name(std::string_view file) { return rec::echo(file, 0, std::string_view::npos); }

double parse_estimate(const std::string& s, std::string_view file, std::size_t row) {
  if (s == rec::csv::kNA) return std::numeric_limits<double>::quiet_NaN();
  // The number syntax of every CSV field the programs read; a tiny estimate that reads
  // back as a subnormal number is still a number.
  double v = 0.0;
  if (rec::csv::read_double(s, v) != rec::csv::NumberStatus::Ok)
    throw rec::RunError(rec::ErrorSite{}, shown_name(file) + " row " + std::to_string(row) +
                        ": estimate " + rec::echo(s, '"') + " is not a number");
  return v;
}

}  // namespace

std::vector<ComponentRow> parse_components(std::string_view text, std::string_view file) {
  std::vector<std::vector<std::string>> records;
  try {
    records = rec::csv::parse(text);
  } catch (const std::runtime_error& e) {
    throw rec::RunError(rec::ErrorSite{}, shown_name(file) + ": " + e.what());
  }
  const std::vector<std::string> header = {"problem", "trait_1", "trait_2", "component",
                                           "estimate", "sd", "ms", "denominator",
                                           "df1", "df2", "f", "p"};
  if (records.empty() || records[0] != header)
    throw rec::RunError(rec::ErrorSite{}, shown_name(file) +
                        " is not a table of variance components: its header is not "
                        "problem,trait_1,trait_2,component,estimate,sd,ms,denominator,df1,df2,f,p");
  std::vector<ComponentRow> rows;
  for (std::size_t k = 1; k < records.size(); ++k) {
    const std::vector<std::string>& r = records[k];
    if (r.size() == 1 && r[0].empty()) continue;  // a blank line
    if (r.size() != kColumns)
      throw rec::RunError(rec::ErrorSite{}, shown_name(file) + " row " + std::to_string(k + 1) +
                          " has " + std::to_string(r.size()) + " fields instead of 12");
    rows.push_back({r[0], r[1], r[2], r[3], parse_estimate(r[4], file, k + 1)});
  }
  return rows;
}

std::map<std::string, double> components_of(const std::vector<ComponentRow>& rows,
                                            std::string_view trait) {
  const std::string_view name = rec::csv::trimmed(trait);
  std::map<std::string, double> out;
  for (const ComponentRow& r : rows)
    if (r.problem == "1" && r.trait_1 == name && r.trait_2 == name)
      out.emplace(std::string(rec::csv::trimmed(r.component)), r.estimate);
  return out;
}

}  // namespace gcasca
