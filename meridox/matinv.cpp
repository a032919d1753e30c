// Inversion of the coefficient matrix by upward Gauss-Jordan elimination, and its printout.
#include "meridox/matinv.h"

#include <cmath>
#include <vector>

#include "records/format.h"

namespace meridox {

namespace {

// The routine handles only the triangular structure written by korbal: in row i
// (0-based) every column beyond the anti-diagonal column n-1-i must be zero. A matrix
// that breaks it would be "inverted" into a wrong result without notice, so it is
// refused; the rows are examined from the bottom up, as the elimination takes them.
int first_non_triangular_row(const CMat& cmat, int n) {
  for (int i = n - 1; i >= 0; --i) {
    for (int j = n - i; j < n; ++j) {
      if (std::fabs(cmat[i][j]) > kPivotTol) return i + 1;
    }
  }
  return 0;
}

}  // namespace

InvResult invert_upward(CMat& cmat, int n) {
  if (int row = first_non_triangular_row(cmat, n); row != 0) {
    return {InvStatus::NotTriangular, row};
  }
  const int last = 2 * n;  // columns 0 .. last-1 are in use
  for (int i = 0; i < n; ++i) {
    for (int j = n; j < last; ++j) cmat[i][j] = 0.0;
    cmat[i][n + i] = 1.0;
  }
  // The first pivot, row n / column 1, is 1 by construction: neither tested nor divided.
  int p = n - 1;
  int q = 0;
  for (;;) {
    for (int r = p - 1; r >= 0; --r) {
      const double f = cmat[r][q];
      for (int j = q; j < last; ++j) cmat[r][j] = cmat[r][j] - cmat[p][j] * f;
    }
    if (p == 0) break;
    --p;
    ++q;
    if (std::fabs(cmat[p][q]) - kPivotTol <= 0.0) return {InvStatus::Singular, p + 1};
    const double d = cmat[p][q];
    for (int j = q; j < last; ++j) cmat[p][j] = cmat[p][j] / d;
  }
  return {InvStatus::Ok, 0};
}

bool MATINV(rec::Io& io, int unit, CMat& cmat, int n, std::span<const std::string> cname,
            std::span<const int> file_row) {
  static const rec::Format kSingular = rec::Format::compile(
      "('1',/,/,'0 THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS SINGULAR AND "
      "CANNOT BE INVERTED.',/,'0  DEPENDENCE DISCOVERED IN ROW (',I3,')',/,/,"
      "'0      GET NEW SET OF DATA   * * * ')");
  static const rec::Format kNotTriangular = rec::Format::compile(
      "('1',/,/,'0 THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS NOT TRIANGULAR "
      "AND CANNOT BE INVERTED.',/,'0  COEFFICIENT OF AN EARLIER COMPONENT IS NOT ZERO IN ROW (',"
      "I3,')',/,/,'0      GET NEW SET OF DATA   * * * ')");
  static const rec::Format kHeading = rec::Format::compile(
      "('1',/,/,'0',15X,'INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX',/,"
      "'0',10X,10(4X,A4,4X),/,(11X,10(4X,A4,4X)))");
  static const rec::Format kRow =
      rec::Format::compile("('0',3X,A4,3X,10G12.4,/,(11X,10G12.4))");

  const InvResult res = invert_upward(cmat, n);
  if (res.status != InvStatus::Ok) {
    const int row = file_row.empty() ? res.row : file_row[res.row - 1];
    io.write(unit, res.status == InvStatus::Singular ? kSingular : kNotTriangular, {row});
    return false;
  }

  std::vector<rec::Item> items;
  for (int i = 0; i < n; ++i) items.emplace_back(cname[i]);
  io.write(unit, kHeading, items);
  for (int i = 0; i < n; ++i) {
    items.clear();
    items.emplace_back(cname[i]);
    for (int j = n; j < 2 * n; ++j) items.emplace_back(cmat[i][j]);
    io.write(unit, kRow, items);
    for (int j = 0; j < n; ++j) cmat[i][j] = cmat[i][n + j];
  }
  return true;
}

}  // namespace meridox
