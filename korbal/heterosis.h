// Heterosis of the crosses over their parents, when the self lines are analysed: the
// means of every cross and of its two parents' self lines, the mid- and the better
// parent, heterosis in percent and its t tests on the error of the trait's analysis.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korbal/analysis.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "records/io.h"

namespace korbal {

// One ordered cross of a set, both of whose parents have self lines, for one trait.
// Means are over all the accumulated data lines of the cross or the parent. A value
// that is not defined (heterosis over a mean 0, a test without error DF or with an
// error mean square not above 0) is NaN.
struct HeterosisRow {
  int trait = 0;  // 0-based
  std::int32_t set = 0, female = 0, male = 0;
  std::int64_t n_cross = 0, n_female = 0, n_male = 0;
  double cross = 0.0, female_mean = 0.0, male_mean = 0.0;
  double mid = 0.0;     // (female + male) / 2
  double better = 0.0;  // the higher parent mean (the female's when they are equal)
  double mph = 0.0, bph = 0.0;          // 100 (cross - mid) / mid, 100 (cross - better) / better
  double t_mid = 0.0, p_mid = 0.0;      // (cross - mid) / sqrt(MSE (1/nF + 1/4nf + 1/4nm))
  double t_better = 0.0, p_better = 0.0;  // (cross - better) / sqrt(MSE (1/nF + 1/nBP))
  double error_ms = 0.0;
  int error_df = 0;
};

// The rows of every trait, set, female and male in that order, from the sums per cross
// of the data pass (empty when these were not accumulated) and the error lines of the
// analyses of variance in `r`.
std::vector<HeterosisRow> heterosis(const Control& c, const PassResult& pass, const Results& r);

// The heterosis page of the report: one table per trait. Parents are shown by their
// names when the data name them (`names`, one list for both roles), else by number.
void write_heterosis(rec::Io& io, const Control& c, const std::vector<HeterosisRow>& rows,
                     const std::vector<std::string>& VNAME, const std::vector<std::string>& names);

// The text of heterosis.csv.
std::string heterosis_table(const std::vector<HeterosisRow>& rows,
                            const std::vector<std::string>& VNAME,
                            const std::vector<std::string>& names);

}  // namespace korbal
