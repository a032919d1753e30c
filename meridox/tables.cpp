// CSV tables written from the results of the problems.
#include "meridox/tables.h"

#include <string_view>

namespace meridox {

namespace {

using rec::csv::trimmed;

// The trait names of an analysis from its label: "(12X,2A8)" for a variance analysis,
// "(2A8,' - BY - ',2A8)" for a pair.
std::string_view trait_1(const AnalysisResult& an) {
  return trimmed(std::string_view(an.label).substr(an.trait_a == an.trait_b ? 12 : 0, 16));
}
std::string_view trait_2(const AnalysisResult& an) {
  return trimmed(std::string_view(an.label).substr(an.trait_a == an.trait_b ? 12 : 24, 16));
}

const char* status_text(ProblemStatus s) {
  switch (s) {
    case ProblemStatus::Ok: return "ok";
    case ProblemStatus::Singular: return "singular";
    case ProblemStatus::NotTriangular: return "not-triangular";
    case ProblemStatus::ErrorDf: return "error-df";
    case ProblemStatus::Rejected: return "rejected";
  }
  return "";
}

}  // namespace

CsvTables::CsvTables(bool genetics)
    : genetics_(genetics),
      components_({"problem", "trait_1", "trait_2", "component", "estimate", "sd", "ms",
                   "denominator", "df1", "df2", "f", "p"}),
      correlations_({"problem", "trait_1", "trait_2", "component", "correlation"}),
      problems_({"problem", "status", "note"}),
      genetic_({"problem", "trait", "parameter", "estimate", "se"}) {}

void CsvTables::add(const ProblemResult& r) {
  problems_.row().integer(r.number).text(status_text(r.status)).text(r.note);
  if (r.status != ProblemStatus::Ok) return;
  for (const AnalysisResult& an : r.analyses) {
    for (int i = 0; i < r.n; ++i) {
      rec::csv::Table& t = components_;
      t.row().integer(r.number).text(trait_1(an)).text(trait_2(an)).text(trimmed(r.cname[i]));
      t.num(an.vc[i]).num(an.sd[i]).num(an.ms[i]);
      // The error, and every component of a problem without tests, has no test fields.
      if (r.itest && i < r.n - 1) {
        const TestRow& x = an.tests[i];
        t.num(x.denom).integer(r.idf[i]).num_or_na(x.df2, x.df2_defined);
        t.num_or_na(x.fratio, x.fratio_defined).num_or_na(x.pval64, x.pval_defined);
      } else {
        t.na().integer(i == r.n - 1 ? an.error_df : r.idf[i]).na().na().na();
      }
    }
    if (an.genetics) {
      for (const GeneticParameter& p : an.genetics->params) {
        genetic_.row().integer(r.number).text(trait_1(an)).text(p.name);
        genetic_.num_or_na(p.estimate, p.defined).num_or_na(p.se, p.defined);
      }
    }
  }
  for (const PairCorrelation& p : r.correlations) {
    const std::string_view l(p.label);
    for (int i = 0; i < r.n; ++i) {
      correlations_.row().integer(r.number).text(trimmed(l.substr(0, 16))).text(trimmed(l.substr(24, 16)));
      correlations_.text(trimmed(r.cname[i])).num_or_na(p.cor[i], p.cor[i] != kNoCorrelation);
    }
  }
}

void CsvTables::write(rec::Io& io, const std::filesystem::path& dir) const {
  io.add_table(dir / "components.csv", components_.str());
  io.add_table(dir / "correlations.csv", correlations_.str());
  io.add_table(dir / "problems.csv", problems_.str());
  if (genetics_) io.add_table(dir / "genetics.csv", genetic_.str());
}

}  // namespace meridox
