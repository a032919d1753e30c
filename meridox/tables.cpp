// CSV tables written from the results of the problems.
#include "meridox/tables.h"

#include <string_view>

#include "records/csv.h"

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

bool has_results(const ProblemResult& r) { return r.status == ProblemStatus::Ok; }

}  // namespace

std::string components_csv(std::span<const ProblemResult> results) {
  rec::csv::Table t({"problem", "trait_1", "trait_2", "component", "estimate", "sd", "ms",
                     "denominator", "df1", "df2", "f", "p"});
  for (const ProblemResult& r : results) {
    if (!has_results(r)) continue;
    for (const AnalysisResult& an : r.analyses) {
      for (int i = 0; i < r.n; ++i) {
        t.row().integer(r.number).text(trait_1(an)).text(trait_2(an)).text(trimmed(r.cname[i]));
        t.num(an.vc[i]).num(an.sd[i]).num(an.ms[i]);
        const bool tested = r.itest && i < r.n - 1;
        if (tested) {
          const TestRow& x = an.tests[i];
          t.num(x.denom).integer(r.idf[i]).num_or_na(x.df2, x.df2_defined);
          t.num_or_na(x.fratio, x.fratio_defined).num_or_na(x.pval, x.pval_defined);
        } else {
          t.na().integer(r.idf[i]).na().na().na();
        }
      }
    }
  }
  return t.str();
}

std::string correlations_csv(std::span<const ProblemResult> results) {
  rec::csv::Table t({"problem", "trait_1", "trait_2", "component", "correlation"});
  for (const ProblemResult& r : results) {
    if (!has_results(r)) continue;
    for (const PairCorrelation& p : r.correlations) {
      const std::string_view l(p.label);
      for (int i = 0; i < r.n; ++i) {
        t.row().integer(r.number).text(trimmed(l.substr(0, 16))).text(trimmed(l.substr(24, 16)));
        t.text(trimmed(r.cname[i])).num_or_na(p.cor[i], p.cor[i] != kNoCorrelation);
      }
    }
  }
  return t.str();
}

std::string problems_csv(std::span<const ProblemResult> results) {
  rec::csv::Table t({"problem", "status", "note"});
  for (const ProblemResult& r : results)
    t.row().integer(r.number).text(status_text(r.status)).text(r.note);
  return t.str();
}

std::string genetics_csv(std::span<const ProblemResult> results) {
  rec::csv::Table t({"problem", "trait", "parameter", "estimate", "se"});
  for (const ProblemResult& r : results) {
    if (!has_results(r)) continue;
    for (const AnalysisResult& an : r.analyses) {
      if (!an.genetics) continue;
      for (const GeneticParameter& p : an.genetics->params) {
        t.row().integer(r.number).text(trait_1(an)).text(p.name);
        t.num_or_na(p.estimate, p.defined).num_or_na(p.se, p.defined);
      }
    }
  }
  return t.str();
}

void write_tables(const std::filesystem::path& dir, std::span<const ProblemResult> results,
                  bool genetics) {
  rec::csv::write_atomically(dir, "components.csv", components_csv(results));
  rec::csv::write_atomically(dir, "correlations.csv", correlations_csv(results));
  rec::csv::write_atomically(dir, "problems.csv", problems_csv(results));
  if (genetics) rec::csv::write_atomically(dir, "genetics.csv", genetics_csv(results));
}

}  // namespace meridox
