// Runs the whole of korbal on an arbitrary control file and data file (the input is
// the control file, a line "%%", then the data file). Every run must end with an
// exit status of 0, 1 or 2 and never crash, hang or write outside its arrays.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "fuzz_support.h"
#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"

namespace {
class FixedClock : public korbal::Clock {
 public:
  korbal::ClockReading now() override { return {10, 0, 0, 0}; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto parts = fuzzsupport::split(data, size, 2);
  fuzzsupport::clear();
  const auto& dir = fuzzsupport::scratch();
  fuzzsupport::write(dir / "c.ctl", parts[0]);
  fuzzsupport::write(dir / "d.dat", parts[1]);
  // A pause at an interactive console reads lines of every length; a prompt meets the
  // end at once.
  std::istringstream in(fuzzsupport::kPauseLines);
  std::ostringstream out;
  int status;
  {
    rec::Io io({"c.ctl", "r.out", "d.dat"}, in, out, dir);
    FixedClock clock;
    status = fuzzsupport::run_as_program(io, {{0, korbal::kControlUnit}, {2, 0}},
                                         korbal::kReportUnit, [&] { return korbal::run(io, clock); });
  }
  if (status < 0 || status > 2) std::abort();
  return 0;
}
