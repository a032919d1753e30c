// The results of a problem as a value, computed without I/O from the problem as read;
// the report and the CSV tables are two writers of it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "meridox/arrays.h"
#include "meridox/components.h"
#include "meridox/error_file.h"
#include "meridox/ftest.h"
#include "meridox/genetics.h"
#include "meridox/matinv.h"
#include "meridox/problem.h"

namespace meridox {

// How a problem ended. Rejected: a header or degrees of freedom that meridox cannot
// use; the run stops there, as it does after ErrorDf.
enum class ProblemStatus { Ok, Singular, NotTriangular, ErrorDf, Rejected };

struct AnalysisResult {
  std::string label;  // the 40-character label record
  int trait_a = 0, trait_b = 0;  // 1-based; equal for an analysis of variance
  CompVec ms{}, vc{}, sd{};
  std::vector<TestRow> tests;    // components 1 .. n-1, when tests are asked for
  std::optional<Genetics> genetics;
  int error_df = 0;              // the error's degrees of freedom used (ms[n-1] its mean square)
  std::optional<ExternalError> external;  // the row of the error file that replaced the error
  std::string error_source;      // with an error file: the file the error came from, for the report
};

struct ProblemResult {
  int number = 0;  // 1-based, in file order
  ProblemStatus status = ProblemStatus::Ok;
  std::string note;  // the report's message on a problem without results, in one line
  int nv = 0;
  bool cross = false;
  bool itest = false;
  std::vector<std::string> left_out;  // effects left out as not estimable, in file order
  InvResult inversion;                // row: in file order
  int n = 0;                          // components, error last
  CompNames cname{};
  CompInts idf{};
  NatMat inv{};
  std::vector<AnalysisResult> analyses;
  std::vector<PairCorrelation> correlations;
  bool error_not_estimable = false;  // an analysis kept an error of 0 degrees of freedom
};

// Settings of the run that shape the results.
struct SolveSettings {
  std::optional<double> inbreeding;  // genetic parameters when given
  const ErrorFile* error_file = nullptr;  // --error: errors replacing those of the analyses
  std::string interchange_name;           // the interchange file, named in the report
};

// The two trait names of an analysis from its 40-character label ("(12X,2A8)" for a
// variance analysis, "(2A8,' - BY - ',2A8)" for a pair), without surrounding blanks.
std::string_view label_trait(std::string_view label40, bool variance, int which);

// The traits (1-based) of analysis k (0-based) among nv variables, with or without cross
// products.
void analysis_traits(int nv, bool cross, int k, int& a, int& b);

// Solves a problem that has been read: leaves out the effects that cannot be estimated,
// inverts the coefficient matrix and computes every analysis' components, tests,
// genetic parameters and the correlations. `pb` is changed by the leaving out.
ProblemResult solve(Problem& pb, int number, const SolveSettings& settings);

// The report of one solved problem (or its inversion failure). The console gets the
// test notes and pauses of each analysis as its table is printed.
void print_problem(rec::Io& io, int unit, const ProblemResult& res);

}  // namespace meridox
