// Runs the whole of meridox on an arbitrary interchange file. Every run must end with
// an exit status of 0, 1 or 2 and never crash, hang or print outside its arrays.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "fuzz_support.h"
#include "meridox/meridox.h"
#include "records/io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::clear();
  const auto& dir = fuzzsupport::scratch();
  fuzzsupport::write(dir / "in.dat",
                     std::string_view(reinterpret_cast<const char*>(data), size));
  // A pause at an interactive console reads lines of every length.
  std::istringstream in(fuzzsupport::kPauseLines);
  std::ostringstream out;
  int status;
  {
    rec::Io io({"in.dat", "out.vc"}, in, out, dir);
    status = fuzzsupport::run_as_program(io, {{0, meridox::kInputUnit}}, meridox::kReportUnit,
                                         [&] { return meridox::run(io); });
  }
  if (status < 0 || status > 2) std::abort();
  return 0;
}
