// The laid-out read of a fixed-field format against the general walk: the input is a
// list of item kinds (i: integer, f: real, d: double real), a line "%%", a format text,
// "%%", then the records. Where the format can be laid out, both read the records
// statement by statement and must give the same status, the same values bit for bit,
// the same error and the same number of records taken. A one-record plan also decodes
// each record whole: where it takes the record, the walk must have read the same values,
// into a later row as into the first, from a record at a buffer's end as in its middle;
// and the records decoded as one text give the same values and record lengths.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "records/format.h"

namespace {

class LineSource : public rec::RecordSource {
 public:
  explicit LineSource(std::string_view all) : rest_(all) {}
  bool next(std::string_view& record) override {
    if (rest_.empty()) return false;
    const auto k = rest_.find('\n');
    record = rest_.substr(0, k);
    // A CR before the line end goes, as from a file.
    if (k != std::string_view::npos && !record.empty() && record.back() == '\r') record.remove_suffix(1);
    rest_.remove_prefix(k == std::string_view::npos ? rest_.size() : k + 1);
    return true;
  }

 private:
  std::string_view rest_;
};

// The items of one reader: integers, reals and double reals in the order of `kinds`.
struct Items {
  std::int32_t i[16] = {};
  float f[16] = {};
  double d[16] = {};
  rec::Target targets[16];
  std::size_t n = 0;
  explicit Items(std::string_view kinds) {
    for (const char k : kinds) {
      if (n == 16) break;
      if (k == 'i') targets[n] = rec::Target::of(i[n]);
      else if (k == 'f') targets[n] = rec::Target::of(f[n]);
      else if (k == 'd') targets[n] = rec::Target::of(d[n]);
      else continue;
      ++n;
    }
  }
  std::span<const rec::Target> span() const { return {targets, n}; }
  bool same(const Items& o) const {
    return std::memcmp(i, o.i, sizeof i) == 0 && std::memcmp(f, o.f, sizeof f) == 0 &&
           std::memcmp(d, o.d, sizeof d) == 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto parts = fuzzsupport::split(data, size, 3);
  rec::Format fmt;
  try {
    fmt = rec::Format::compile(parts[1]);
  } catch (const rec::FormatError&) {
    return 0;
  }
  Items general(parts[0]), laid(parts[0]);
  if (general.n == 0) return 0;
  const rec::FieldPlan plan(fmt, laid.span());
  if (!plan.usable()) return 0;
  // The whole-record decoder writes row 1 of `whole` by the plan of row 0.
  Items whole[2] = {Items(parts[0]), Items(parts[0])};
  const rec::FieldPlan whole_plan(fmt, whole[0].span());
  const auto row = reinterpret_cast<const char*>(&whole[1]) - reinterpret_cast<const char*>(&whole[0]);
  LineSource a(parts[2]), b(parts[2]), c(parts[2]);
  std::string buffer;
  // The records decoded as a text, up to four into the rows of `many`.
  Items many[4] = {Items(parts[0]), Items(parts[0]), Items(parts[0]), Items(parts[0])};
  const rec::FieldPlan many_plan(fmt, many[0].span());
  std::string text(parts[2]);
  const std::size_t text_size = text.size();
  text.resize(text_size + 256, '8');
  std::uint32_t ends[4], lengths[4];
  const std::size_t decoded_rows =
      many_plan.decode_records(text.data(), text_size, text_size + (size % 2 ? 0 : 256), 4,
                               reinterpret_cast<const char*>(&many[1]) - reinterpret_cast<const char*>(&many[0]),
                               ends, lengths);
  for (int statement = 0; statement < 64; ++statement) {
    std::string_view record;
    bool decoded = false;
    if (whole_plan.one_record() && c.next(record)) {
      // Odd statements: the record ends its buffer, so that its loads need a copy.
      buffer.assign(record);
      const std::size_t readable = buffer.size() + (statement % 2 ? 0 : 256);
      buffer.resize(buffer.size() + 256, '9');
      decoded = whole_plan.decode(buffer.data(), record.size(), readable, row);
    }
    rec::ReadError ea, eb;
    int ra = -1, rb = -1;
    rec::ReadStatus sa;
    try {
      sa = rec::format_read(fmt, a, general.span(), &ea, &ra);
    } catch (const rec::FormatError&) {
      std::abort();  // a laid-out format is one the walk reads without a format error
    }
    const rec::ReadStatus sb = plan.read(b, &eb, &rb);
    if (sa != sb || ra != rb || !general.same(laid)) std::abort();
    if (decoded && (sa != rec::ReadStatus::Ok || !general.same(whole[1]))) std::abort();
    if (static_cast<std::size_t>(statement) < decoded_rows &&
        (sa != rec::ReadStatus::Ok || !general.same(many[statement]) ||
         lengths[statement] != record.size()))
      std::abort();
    if (sa == rec::ReadStatus::Error &&
        (ea.record != eb.record || ea.column != eb.column || ea.width != eb.width ||
         ea.field != eb.field || ea.message != eb.message))
      std::abort();
    if (sa != rec::ReadStatus::Ok) break;
  }
  return 0;
}
