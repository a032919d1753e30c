// korbal: reads a control file and a data file, fits the diallel model by least
// squares and prints the expected mean squares and the analyses of variance.
#include <iostream>
#include <string>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  rec::Io io(args, std::cin, std::cout);
  korbal::SystemClock clock;
  return korbal::run(io, clock);
}
