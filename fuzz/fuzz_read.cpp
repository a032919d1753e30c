// Reads arbitrary records with an arbitrary format: the input is a format text, a
// line "%%", then the records. Integers, reals and texts are read until the end of
// the records; every statement ends with Ok, End or Error, never a crash or a hang.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "records/format.h"

namespace {
class LineSource : public rec::RecordSource {
 public:
  explicit LineSource(std::string_view all) : rest_(all) {}
  bool next(std::string_view& record) override {
    if (done_) return false;
    auto k = rest_.find('\n');
    if (k == std::string_view::npos) {
      record = rest_;
      done_ = true;
      return !rest_.empty();
    }
    record = rest_.substr(0, k);
    rest_.remove_prefix(k + 1);
    return true;
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto parts = fuzzsupport::split(data, size, 2);
  rec::Format fmt;
  try {
    fmt = rec::Format::compile(parts[0]);
  } catch (const rec::FormatError&) {
    return 0;
  }
  LineSource source(parts[1]);
  std::int32_t i1 = 0, i2 = 0;
  float f1 = 0;
  double d1 = 0;
  std::string s1;
  const rec::Target targets[] = {rec::Target::of(i1), rec::Target::of(f1), rec::Target::of(s1, 8),
                                 rec::Target::of(d1), rec::Target::of(i2)};
  for (int statement = 0; statement < 64; ++statement) {
    rec::ReadError err;
    rec::ReadStatus st;
    try {
      st = rec::format_read(fmt, source, targets, &err);
    } catch (const rec::FormatError&) {
      return 0;
    } catch (const std::runtime_error&) {
      return 0;
    }
    if (st == rec::ReadStatus::End) break;
  }
  return 0;
}
