// The arrays of one problem of the input file, and the preparation of its coefficient
// matrix before the inversion.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "meridox/arrays.h"

namespace meridox {

struct Problem {
  int nv = 0, cross = 0, ne = 0;
  bool itest = false;
  int ncomp = 0;  // components: effects and the error (after effects left out, if any)
  int nanal = 0;
  int lastdf = 0;
  NatMat cnat{};        // cnat[i][j] = coefficient of component j in EMS i, error last
  CompNames cname{};    // component names, "ERR " last
  CompInts idf{};       // degrees of freedom, the error's last
  CompInts file_row{};  // 1-based row in file order of each component
  std::array<CompVec, kMaxAnal> xms{};  // xms[k][i]: mean square of component i, analysis k
  std::array<std::string, kMaxAnal> alabel{};
};

// Clears what a problem reads, so that nothing of the previous problem survives.
void start_problem(Problem& pb);

// Enters the coefficient group of effect e as read (`coef` holds the coefficients of
// the effects last first) into row e of the natural-order matrix.
void enter_coefficients(Problem& pb, int e, std::span<const double> coef);

// After the records are read: the error row and column, the name "ERR " and the
// identity map of the rows to the file.
void finish_matrix(Problem& pb);

// Leaves out every effect whose degrees of freedom are 0 and whose coefficient row is all
// zero: its component cannot be estimated, and its zero pivot would make the whole matrix
// singular. Its row and column leave the matrix, its mean square every analysis.
// Returns the names of the effects left out, in file order.
std::vector<std::string> leave_out_inestimable(Problem& pb);

}  // namespace meridox
