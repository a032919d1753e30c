// Inversion of the coefficient matrix by upward Gauss-Jordan elimination, and its printout.
#include "meridox/matinv.h"

#include <cmath>
#include <vector>

#include "records/format.h"

namespace meridox {

namespace {

// The routine handles only the triangular structure written by korbal: in row i
// (0-based) every column before the diagonal must be zero. A matrix that breaks it
// would be "inverted" into a wrong result without notice, so it is refused; the rows
// are examined from the bottom up, as the elimination takes them.
int first_non_triangular_row(const NatMat& a, int n) {
  for (int i = n - 1; i >= 0; --i) {
    for (int j = 0; j < i; ++j) {
      if (std::fabs(a[i][j]) > kPivotTol) return i + 1;
    }
  }
  return 0;
}

}  // namespace

InvResult invert_upward(const NatMat& a, int n, NatMat& inv) {
  if (int row = first_non_triangular_row(a, n); row != 0) {
    return {InvStatus::NotTriangular, row};
  }
  // `left` is reduced to the identity while `inv`, started as the identity, becomes the
  // inverse. In row p only columns 0 .. p of `left` can still be non-zero.
  NatMat left = a;
  for (int i = 0; i < n; ++i) {
    inv[i].fill(0.0);
    inv[i][i] = 1.0;
  }
  // The first pivot, the error's own coefficient, is 1 by construction: neither tested
  // nor divided.
  int p = n - 1;
  for (;;) {
    for (int r = p - 1; r >= 0; --r) {
      const double f = left[r][p];
      for (int j = p; j >= 0; --j) left[r][j] = left[r][j] - left[p][j] * f;
      for (int j = 0; j < n; ++j) inv[r][j] = inv[r][j] - inv[p][j] * f;
    }
    if (p == 0) break;
    --p;
    if (std::fabs(left[p][p]) - kPivotTol <= 0.0) return {InvStatus::Singular, p + 1};
    const double d = left[p][p];
    for (int j = p; j >= 0; --j) left[p][j] = left[p][j] / d;
    for (int j = 0; j < n; ++j) inv[p][j] = inv[p][j] / d;
  }
  return {InvStatus::Ok, 0};
}

void print_inversion_failure(rec::Io& io, int unit, InvStatus status, int file_row) {
  static const rec::Format kSingular = rec::Format::compile(
      "('1',/,/,'0 THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS SINGULAR AND "
      "CANNOT BE INVERTED.',/,'0  DEPENDENCE DISCOVERED IN ROW (',I3,')',/,/,"
      "'0      GET NEW SET OF DATA   * * * ')");
  static const rec::Format kNotTriangular = rec::Format::compile(
      "('1',/,/,'0 THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS NOT TRIANGULAR "
      "AND CANNOT BE INVERTED.',/,'0  COEFFICIENT OF AN EARLIER COMPONENT IS NOT ZERO IN ROW (',"
      "I3,')',/,/,'0      GET NEW SET OF DATA   * * * ')");
  io.write(unit, status == InvStatus::Singular ? kSingular : kNotTriangular, {file_row});
}

void print_inverse(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                   const NatMat& inv) {
  static const rec::Format kHeading = rec::Format::compile(
      "('1',/,/,'0',15X,'INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX',/,"
      "'0',10X,10(4X,A4,4X),/,(11X,10(4X,A4,4X)))");
  static const rec::Format kRow =
      rec::Format::compile("('0',3X,A4,3X,10G12.4,/,(11X,10G12.4))");

  std::vector<rec::Item> items;
  for (int i = 0; i < n; ++i) items.emplace_back(cname[i]);
  io.write(unit, kHeading, items);
  for (int i = 0; i < n; ++i) {
    items.clear();
    items.emplace_back(cname[i]);
    for (int j = 0; j < n; ++j) items.emplace_back(inv[i][j]);
    io.write(unit, kRow, items);
  }
}

}  // namespace meridox
