// The REML page of the report, and components.csv and reml.csv of a REML run.
#include <cmath>

#include "gcasca/reml.h"
#include "records/csv.h"
#include "records/format.h"

namespace gcasca {

namespace {

using rec::Format;

std::string padded(std::string_view code, std::size_t width) {
  std::string s(code);
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

}  // namespace

std::map<std::string, double> reml_components(const RemlResult& r) {
  std::map<std::string, double> out;
  if (!r.converged) return out;
  for (std::size_t k = 0; k < r.codes.size(); ++k) out[r.codes[k]] = r.estimate[k];
  return out;
}

void write_reml(rec::Io& io, const std::string& trait, const RemlResult& r) {
  static const Format kHead = Format::compile(
      "('1',/,'0',T30,'R E M L   V A R I A N C E   C O M P O N E N T S   F O R',/,'0',T50,A16,/,"
      "'0',T10,'Iterations: the log-likelihood at the start of each, and the components')");
  static const Format kMoments = Format::compile(
      "(' ',T10,'Start: the method-of-moments components, at least 1E-3 of the variance',"
      "' after the fixed effects')");
  static const Format kEven = Format::compile(
      "(' ',T10,'Start: the variance left after the fixed effects, shared evenly')");
  static const Format kCodes = Format::compile("('0',T10,'ITER',T14,'      LOG-LIKELIHOOD',99A14)");
  static const Format kIteration = Format::compile("(' ',T10,I4,F20.6,99G14.6)");
  static const Format kTableHead =
      Format::compile("('0',T10,'EFFECT',T22,'VARIANCE',T46,'SE',T54,'LEVELS')");
  static const Format kRow = Format::compile("(' ',T10,A4,4X,2G16.6,I8)");
  static const Format kErr = Format::compile("(' ',T10,A4,4X,2G16.6)");
  static const Format kBoundary =
      Format::compile("(' ',T10,A4,4X,G16.6,'  on the boundary',I7)");
  static const Format kNoData =
      Format::compile("(' ',T10,A4,4X,'    no observation in its columns: not estimated')");
  static const Format kNoDf = Format::compile(
      "(' ',T10,A4,4X,'    no degrees of freedom after the effects before it: not estimated')");
  static const Format kConverged = Format::compile(
      "('0',T10,'REML log-likelihood =',F20.6,'   converged in',I4,' iterations')");
  static const Format kNotConverged =
      Format::compile("('0',T10,'REML log-likelihood =',F20.6,'   ',A)");
  static const Format kReason = Format::compile("('0',T10,A)");
  io.write(kReportUnit, kHead, {trait});
  if (r.history.empty()) {
    io.write(kReportUnit, kReason, {r.reason});
    return;
  }
  io.write(kReportUnit, r.moment_start ? kMoments : kEven, {});
  std::vector<std::string> heads;  // the items refer to these texts
  for (const std::string& c : r.codes) heads.push_back(padded(c, 14));
  std::vector<rec::Item> codes(heads.begin(), heads.end());
  io.write(kReportUnit, kCodes, codes);
  for (const RemlIteration& h : r.history) {
    std::vector<rec::Item> items{h.iteration, h.loglik};
    for (double v : h.values) items.emplace_back(v);
    io.write(kReportUnit, kIteration, items);
  }
  io.write(kReportUnit, kTableHead, {});
  for (std::size_t k = 0; k < r.codes.size(); ++k) {
    std::string code = r.codes[k];
    code.resize(4, ' ');
    if (k + 1 == r.codes.size())
      io.write(kReportUnit, kErr, {code, r.estimate[k], r.se[k]});
    else if (r.no_data[k])
      io.write(kReportUnit, r.no_data[k] == 2 ? kNoDf : kNoData, {code});
    else if (r.boundary[k])
      io.write(kReportUnit, kBoundary, {code, r.estimate[k], static_cast<int>(r.levels[k])});
    else
      io.write(kReportUnit, kRow, {code, r.estimate[k], r.se[k], static_cast<int>(r.levels[k])});
  }
  if (r.converged)
    io.write(kReportUnit, kConverged, {r.loglik, static_cast<int>(r.history.size() - 1)});
  else
    io.write(kReportUnit, kNotConverged, {r.loglik, r.reason});
}

std::string reml_components_table(const std::vector<std::string>& traits,
                                  const std::vector<RemlResult>& results) {
  rec::csv::Table t({"problem", "trait_1", "trait_2", "component", "estimate", "sd", "ms",
                     "denominator", "df1", "df2", "f", "p"});
  for (std::size_t v = 0; v < results.size(); ++v) {
    const RemlResult& r = results[v];
    if (!r.converged) continue;
    const std::string_view trait = rec::csv::trimmed(traits[v]);
    for (std::size_t k = 0; k < r.codes.size(); ++k) {
      t.row().integer(1).text(trait).text(trait).text(r.codes[k]);
      t.num(r.estimate[k]).num(r.se[k]);
      for (int c = 0; c < 6; ++c) t.na();
    }
  }
  return t.str();
}

std::string reml_history_table(const std::vector<std::string>& traits,
                               const std::vector<RemlResult>& results) {
  rec::csv::Table t({"trait", "iteration", "loglik", "component", "estimate"});
  for (std::size_t v = 0; v < results.size(); ++v) {
    const std::string_view trait = rec::csv::trimmed(traits[v]);
    for (const RemlIteration& h : results[v].history)
      for (std::size_t k = 0; k < h.values.size(); ++k)
        t.row().text(trait).integer(h.iteration).num(h.loglik).text(results[v].codes[k]).num(h.values[k]);
  }
  return t.str();
}

}  // namespace gcasca
