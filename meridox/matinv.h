// MATINV: inversion of the matrix of expected-mean-square coefficients.
#pragma once

#include <span>
#include <string>

#include "meridox/arrays.h"
#include "records/io.h"

namespace meridox {

// The single-precision constant 1.0E-5 held in 64 bits: a pivot (or an entry that
// should be zero) whose magnitude does not exceed it counts as zero.
inline constexpr double kPivotTol = static_cast<double>(1.0E-5f);

enum class InvStatus { Ok, Singular, NotTriangular };

struct InvResult {
  InvStatus status = InvStatus::Ok;
  int row = 0;  // 1-based row of the matrix where the inversion failed
};

// Upward Gauss-Jordan elimination of CMAT (n rows; column 1 = error coefficient,
// column j >= 2 = coefficient of component n+1-j) augmented by the identity in
// columns n+1 .. 2n. Rows are never exchanged; the routine relies on every entry to
// the right of the anti-diagonal being zero and refuses a matrix where one is not.
// On success columns n+1 .. 2n hold the inverse in natural order (row i = weights of
// the mean squares, error last, that make up component i); columns 1 .. n are not yet
// overwritten.
InvResult invert_upward(CMat& cmat, int n);

// The whole routine: inverts, prints the inverse (or the message naming the failing
// row by its number in `file_row`, 1-based file order) on `unit`, and on success
// leaves the inverse in columns 1 .. n as well. Returns false when the matrix cannot
// be inverted.
bool MATINV(rec::Io& io, int unit, CMat& cmat, int n, std::span<const std::string> cname,
            std::span<const int> file_row);

}  // namespace meridox
