// MATINV: inversion of the matrix of expected-mean-square coefficients, and its printout.
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

// Upward Gauss-Jordan elimination of the coefficient matrix `a` in natural order (n rows
// and columns, error last, upper triangular) augmented by the identity, from the last row
// up. Rows are never exchanged; the routine relies on every entry below the diagonal
// being zero and refuses a matrix where one is not. On success `inv` holds the inverse
// (row i = the weights of the mean squares, error last, that make up component i).
InvResult invert_upward(const NatMat& a, int n, NatMat& inv);

// The inverse as printed: heading with the component names, then one row per component.
void print_inverse(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                   const NatMat& inv);

// The message of a matrix that could not be inverted, naming the failing row by its
// number in file order (`file_row`, 1-based).
void print_inversion_failure(rec::Io& io, int unit, InvStatus status, int file_row);

}  // namespace meridox
