// meridox: variance and covariance components from the interchange file of korbal.
#pragma once

#include "records/io.h"

namespace meridox {

inline constexpr int kInputUnit = 5;
inline constexpr int kReportUnit = 6;

// The whole run of meridox; returns the exit status (0 clean run, 1 a problem
// abandoned or the error-degrees-of-freedom message, 2 run-time error).
int run(rec::Io& io);

}  // namespace meridox
