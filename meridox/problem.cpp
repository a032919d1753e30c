// Preparation of the coefficient matrix of a problem.
#include "meridox/problem.h"

namespace meridox {

void start_problem(Problem& pb) {
  for (auto& row : pb.cmat) row.fill(0.0);
  for (auto& row : pb.cnat) row.fill(0.0);
  pb.idf.fill(0);
  pb.lastdf = 0;
}

namespace {

// CNAT from CMAT: columns reversed, so that column n of CNAT is the error.
void natural_from_cmat(Problem& pb) {
  const int n = pb.ncomp;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) pb.cnat[i][j] = pb.cmat[i][n - 1 - j];
}

}  // namespace

void finish_matrix(Problem& pb) {
  const int n = pb.ncomp;
  for (int i = 0; i < n; ++i) pb.cmat[i][0] = 1.0;
  for (int j = 1; j < n; ++j) pb.cmat[n - 1][j] = 0.0;
  natural_from_cmat(pb);
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
      for (int j = 1; j < n; ++j) {
        if (pb.cmat[e][j] != 0.0) drop = false;
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
  for (auto& row : pb.cmat) row.fill(0.0);
  for (int r = 0; r < m; ++r) {
    for (int s = 0; s < m; ++s) pb.cnat[r][s] = full[keep[r]][keep[s]];
    pb.cname[r] = names[keep[r]];
    pb.idf[r] = idf[keep[r]];
    pb.file_row[r] = rows[keep[r]];
  }
  // CMAT again from the reduced natural matrix: column 1 the error, then the others in
  // reverse order.
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) pb.cmat[r][c] = pb.cnat[r][m - 1 - c];
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
