// The arrays of one problem of the input file, and the preparation of its coefficient
// matrix before the inversion.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "meridox/arrays.h"

namespace meridox {

struct Problem {
  int nv = 0, cross = 0, ne = 0;
  int ncomp = 0;  // components: effects and the error (after effects left out, if any)
  int nanal = 0;
  int lastdf = 0;
  CMat cmat{};          // as read: row e, column 1 = error, column j >= 2 = coefficient j-1
  NatMat cnat{};        // natural order: cnat[i][j] = coefficient of component j in EMS i
  CompNames cname{};    // component names, "ERR " last
  CompInts idf{};       // degrees of freedom, the error's last
  CompInts file_row{};  // 1-based row in file order of each component
  std::array<CompVec, kMaxAnal> xms{};  // xms[k][i]: mean square of component i, analysis k
  std::array<CompVec, kMaxAnal> vc{};   // vc[k][i]: component i of analysis k
  std::array<std::string, kMaxAnal> alabel{};
};

// Clears what a problem reads, so that nothing of the previous problem survives.
void start_problem(Problem& pb);

// After the records are read: the error row and column of CMAT, the name "ERR ", the
// natural-order matrix CNAT and the identity map of the rows to the file.
void finish_matrix(Problem& pb);

// Leaves out every effect whose degrees of freedom are 0 and whose coefficient row is all
// zero: its component cannot be estimated, and its zero pivot would make the whole matrix
// singular. Its row and column leave CMAT and CNAT, its mean square every analysis.
// Returns the names of the effects left out, in file order.
std::vector<std::string> leave_out_inestimable(Problem& pb);

}  // namespace meridox
