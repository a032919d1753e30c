// meridox: estimates variance and covariance components, their standard deviations,
// F tests and genetic correlations from the interchange file written by korbal.
#include <iostream>
#include <string>
#include <vector>

#include "meridox/meridox.h"
#include "records/io.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  rec::Io io(args, std::cin, std::cout);
  return meridox::run(io);
}
