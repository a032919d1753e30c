// Solving a problem into its results, and the report written from them.
#include "meridox/results.h"

#include <algorithm>
#include <string_view>

#include "records/csv.h"
#include "records/format.h"

namespace meridox {

void analysis_traits(int nv, bool cross, int k, int& a, int& b) {
  if (!cross) {
    a = b = k + 1;
    return;
  }
  for (a = 1; a <= nv; ++a) {
    const int last = analysis_index(nv, a, nv) - 1;
    if (k <= last) {
      b = nv - (last - k);
      return;
    }
  }
}

namespace {

std::string_view blanks_trimmed(std::string_view s) {
  const std::size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

constexpr const char* kErrorNotEstimable =
    "THE ERROR VARIANCE IS NOT ESTIMABLE (0 ERROR DEGREES OF FREEDOM); GIVE ONE WITH --error FILE";

}  // namespace

std::string_view label_trait(std::string_view label40, bool variance, int which) {
  const std::size_t at = variance ? 12 : which == 1 ? 0 : 24;
  return blanks_trimmed(label40.substr(std::min(at, label40.size()), 16));
}

ProblemResult solve(Problem& pb, int number, const SolveSettings& settings) {
  ProblemResult res;
  res.number = number;
  res.nv = pb.nv;
  res.cross = pb.cross > 0;
  res.itest = pb.itest;
  res.left_out = leave_out_inestimable(pb);
  const int n = pb.ncomp;
  res.n = n;
  res.cname = pb.cname;
  res.idf = pb.idf;
  res.inversion = invert_upward(pb.cnat, n, res.inv);
  if (res.inversion.status != InvStatus::Ok) {
    res.inversion.row = pb.file_row[res.inversion.row - 1];
    res.status = res.inversion.status == InvStatus::Singular ? ProblemStatus::Singular
                                                             : ProblemStatus::NotTriangular;
    res.note = res.status == ProblemStatus::Singular
                   ? "THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS SINGULAR AND "
                     "CANNOT BE INVERTED; DEPENDENCE DISCOVERED IN ROW " +
                         std::to_string(res.inversion.row)
                   : "THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS NOT TRIANGULAR "
                     "AND CANNOT BE INVERTED; COEFFICIENT OF AN EARLIER COMPONENT IS NOT ZERO IN "
                     "ROW " +
                         std::to_string(res.inversion.row);
    return res;
  }
  for (const std::string& name : res.left_out) {
    if (!res.note.empty()) res.note += "; ";
    res.note += std::string(rec::csv::trimmed(name)) +
                " HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT ESTIMABLE AND IS LEFT OUT";
  }

  std::vector<CompVec> vcs;
  std::vector<std::string> labels;
  for (int k = 0; k < pb.nanal; ++k) {
    AnalysisResult& an = res.analyses.emplace_back();
    an.label = pb.alabel[k];
    analysis_traits(pb.nv, res.cross, k, an.trait_a, an.trait_b);
    an.ms = pb.xms[k];
    // The error of the analysis, or the one the error file gives for its traits.
    CompInts idf_k = pb.idf;
    an.error_df = pb.idf[n - 1];
    if (settings.error_file) {
      const bool variance = an.trait_a == an.trait_b;
      const ExternalError* e = find_error(*settings.error_file, label_trait(an.label, variance, 1),
                                          label_trait(an.label, variance, 2));
      if (e) {
        an.external = *e;
        an.ms[n - 1] = e->ms;
        idf_k[n - 1] = e->df;
        an.error_df = e->df;
      }
      an.error_source = e ? settings.error_file->name : settings.interchange_name;
    }
    if (an.error_df == 0) res.error_not_estimable = true;
    const std::span<const int> idf(idf_k.data(), n);
    const std::span<const double> ms(an.ms.data(), n);
    component_values(n, res.inv, ms, idf, an.vc, an.sd);
    if (pb.itest) {
      an.tests.resize(n > 1 ? n - 1 : 0);
      ftest_values(n, pb.cnat, res.inv, ms, idf, an.vc, an.tests);
    }
    if (settings.inbreeding && an.trait_a == an.trait_b) {
      an.genetics = genetic_parameters(n, res.cname, an.vc,
                                       component_covariance(n, res.inv, ms, idf), res.left_out,
                                       *settings.inbreeding);
    }
    vcs.push_back(an.vc);
    labels.push_back(an.label);
  }
  if (res.cross) res.correlations = correlations(pb.nv, n, vcs, labels);
  if (res.error_not_estimable) res.note += std::string(res.note.empty() ? "" : "; ") + kErrorNotEstimable;
  return res;
}

void print_problem(rec::Io& io, int unit, const ProblemResult& res) {
  static const rec::Format kLeftOut = rec::Format::compile(
      "('0 ',A4,' HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT ESTIMABLE AND IS LEFT OUT')");
  for (const std::string& name : res.left_out) io.write(unit, kLeftOut, {name});
  if (res.inversion.status != InvStatus::Ok) {
    print_inversion_failure(io, unit, res.inversion.status, res.inversion.row);
    return;
  }
  static const rec::Format kNotEstimable = rec::Format::compile("('0 NOTE: ',A)");
  static const rec::Format kErrorUsed = rec::Format::compile("('0',T46,A)");
  const int n = res.n;
  print_inverse(io, unit, n, res.cname, res.inv);
  if (res.error_not_estimable) io.write(unit, kNotEstimable, {kErrorNotEstimable});
  const std::span<const int> idf(res.idf.data(), n);
  for (const AnalysisResult& an : res.analyses) {
    const std::span<const double> vc(an.vc.data(), n);
    print_components(io, unit, n, res.cname, an.label, vc, std::span<const double>(an.sd.data(), n));
    if (!an.error_source.empty()) {
      const std::string ms = rec::edit_exp(an.ms[n - 1], 12, 4);
      io.write(unit, kErrorUsed,
               {std::string(an.trait_a == an.trait_b ? "ERROR MEAN SQUARE" : "ERROR MEAN PRODUCT") +
                " FROM '" + an.error_source + "': MS = " + std::string(blanks_trimmed(ms)) +
                ", DF = " + std::to_string(an.error_df)});
    }
    if (res.itest) {
      print_tests(io, unit, n, res.cname, std::span<const double>(an.ms.data(), n), idf, vc,
                  an.tests);
    }
    if (an.genetics) print_genetics(io, unit, an.label, *an.genetics);
  }
  if (res.cross) print_correlations(io, unit, n, res.cname, res.correlations);
}

}  // namespace meridox
