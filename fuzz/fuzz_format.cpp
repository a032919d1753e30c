// Compiles arbitrary format texts and applies the compiled ones to a fixed item list
// on output: every text either compiles or is refused with a FormatError, and a
// compiled format writes or refuses its items without crashing or hanging.
#include <cstdint>
#include <string>

#include "records/format.h"

namespace {
class NullSink : public rec::RecordSink {
 public:
  void put(std::string_view record) override { total += record.size(); }
  std::size_t total = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  rec::Format fmt;
  try {
    fmt = rec::Format::compile(text);
  } catch (const rec::FormatError&) {
    return 0;
  }
  const rec::Item items[] = {rec::Item(12), rec::Item(-3.25), rec::Item("ABCDEFGH"),
                             rec::Item(0.0), rec::Item(1.0e-30), rec::Item(-2147483647)};
  NullSink sink;
  try {
    rec::format_write(fmt, items, sink);
  } catch (const rec::FormatError&) {
  } catch (const std::runtime_error&) {
  }
  return 0;
}
