// Preparation of the coefficient matrix of a problem.
#include "meridox/problem.h"

namespace meridox {

void start_problem(Problem& pb) {
  for (auto& row : pb.cnat) row.fill(0.0);
  pb.idf.fill(0);
  pb.lastdf = 0;
}

void enter_coefficients(Problem& pb, int e, std::span<const double> coef) {
  const int ne = static_cast<int>(coef.size());
  for (int j = 0; j < ne; ++j) pb.cnat[e][ne - 1 - j] = coef[j];
}

void finish_matrix(Problem& pb) {
  const int n = pb.ncomp;
  for (int i = 0; i < n; ++i) pb.cnat[i][n - 1] = 1.0;
  for (int j = 0; j < n - 1; ++j) pb.cnat[n - 1][j] = 0.0;
  pb.cname[n - 1] = "ERR ";
  for (int i = 0; i < n; ++i) pb.file_row[i] = i + 1;
}

std::vector<std::string> leave_out_inestimable(Problem& pb) {
  const int n = pb.ncomp;
  std::vector<int> keep;
  std::vector<std::string> left_out;
  for (int e = 0; e < n; ++e) {
    bool drop = false;
    if (e < n - 1 && pb.idf[e] == 0) {
      drop = true;
      for (int j = 0; j < n - 1; ++j) {
        if (pb.cnat[e][j] != 0.0) drop = false;
      }
    }
    if (drop) {
      left_out.push_back(pb.cname[e]);
    } else {
      keep.push_back(e);
    }
  }
  if (left_out.empty()) return left_out;

  const int m = static_cast<int>(keep.size());
  const NatMat full = pb.cnat;
  const CompNames names = pb.cname;
  const CompInts idf = pb.idf;
  const CompInts rows = pb.file_row;
  for (auto& row : pb.cnat) row.fill(0.0);
  for (int r = 0; r < m; ++r) {
    for (int s = 0; s < m; ++s) pb.cnat[r][s] = full[keep[r]][keep[s]];
    pb.cname[r] = names[keep[r]];
    pb.idf[r] = idf[keep[r]];
    pb.file_row[r] = rows[keep[r]];
  }
  for (int k = 0; k < pb.nanal; ++k) {
    const CompVec ms = pb.xms[k];
    pb.xms[k].fill(0.0);
    for (int r = 0; r < m; ++r) pb.xms[k][r] = ms[keep[r]];
  }
  pb.ncomp = m;
  pb.ne = m - 1;
  return left_out;
}

}  // namespace meridox
