// meridox: variance and covariance components from the interchange file of korbal.
#pragma once

#include "meridox/options.h"
#include "records/io.h"

namespace meridox {

inline constexpr int kInputUnit = 5;
inline constexpr int kReportUnit = 6;

// The whole run of meridox; returns the exit status (0 clean run, 1 a problem
// abandoned or the run ended by a "JOB TERMINATED" message, 2 run-time error,
// including an unusable command line or CSV folder and an input file that holds no
// complete problem).
int run(rec::Io& io, const Options& options = {});

}  // namespace meridox
