// Reads arbitrary bytes as the two CSV tables that the programs take as input: the
// variance components of gcasca (meridox's components.csv) and the external error of
// meridox --error. Each read must give rows or a run-time error, never crash or hang.
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "gcasca/gcasca.h"
#include "meridox/error_file.h"
#include "records/io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    gcasca::parse_components(text, "components.csv");
  } catch (const rec::RunError&) {
  }
  fuzzsupport::clear();
  const auto& dir = fuzzsupport::scratch();
  fuzzsupport::write(dir / "e.csv", text);
  try {
    meridox::read_error_file(dir, "e.csv");
  } catch (const rec::RunError&) {
  }
  return 0;
}
