// Whole CSV lines of numbers against the field conversions: the input is a list of
// column kinds (i: whole number, f: real, n: a name, -: skipped), a line "%%", then the
// lines; the names are A, B and P.1, levels 1 to 3. Each line the whole-line decoder
// takes must split, by the general reader, into one field a column and give, for every
// column not skipped, the value whole_number or read_number (or the names) gives its
// field, bit for bit, into a later row as into the first, and as the decoding of the
// lines as one text.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "records/csv_lines.h"
#include "records/csv_reader.h"

namespace {

struct Row {
  std::int32_t i[16];
  float f[16];
};

struct Names : rec::csv::Levels {
  std::int32_t level(std::string_view v) const override {
    return v == "A" ? 1 : v == "B" ? 2 : v == "P.1" ? 3 : 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzzsupport::split(data, size, 2);
  if (parts.size() < 2) return 0;
  std::string kinds;
  for (const char k : parts[0])
    if ((k == 'i' || k == 'f' || k == 'n' || k == '-') && kinds.size() < 16) kinds += k;
  if (kinds.empty()) return 0;
  static Row rows[2];
  static const Names names;
  std::vector<rec::csv::NumberLines::Column> columns;
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    if (kinds[k] == 'i') columns.push_back({false, rec::Target::of(rows[0].i[k])});
    else if (kinds[k] == 'f') columns.push_back({false, rec::Target::of(rows[0].f[k])});
    else if (kinds[k] == 'n') columns.push_back({false, rec::Target::of(rows[0].i[k]), &names});
    else columns.push_back({});
  }
  rec::csv::NumberLines lines(',', columns);
  if (!lines.usable()) return 0;
  const std::string_view all = parts[1];
  const std::string text = std::string(all) + std::string(rec::csv::NumberLines::kSpan, 'z');
  std::size_t at = 0;
  while (at < all.size()) {
    std::memset(rows, 0, sizeof rows);
    const std::size_t n = lines.line(text.data() + at, 0);
    if (n == 0) {
      const std::size_t e = all.find('\n', at);
      if (e == std::string_view::npos) break;
      at = e + 1;
      continue;
    }
    std::string_view line = all.substr(at, n - 1);
    if (all.size() < at + n || all[at + n - 1] != '\n' || line.find('\n') != std::string_view::npos) std::abort();
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // The line as the general reader splits it.
    std::vector<std::string_view> fields;
    const std::string record = std::string(line) + "\n";
    rec::csv::Reader reader(record, ',');
    try {
      if (!reader.next(fields)) std::abort();
    } catch (const rec::csv::Malformed&) {
      std::abort();
    }
    if (fields.size() != kinds.size()) std::abort();
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      std::int32_t i = 0;
      float f = 0;
      if (kinds[k] == 'i' && (!rec::csv::whole_number(fields[k], i) || i != rows[0].i[k])) std::abort();
      if (kinds[k] == 'n' && (names.level(fields[k]) == 0 || names.level(fields[k]) != rows[0].i[k])) std::abort();
      if (kinds[k] == 'f' && (rec::csv::read_number(fields[k], f) != rec::csv::NumberStatus::Ok ||
                              std::bit_cast<std::uint32_t>(f) != std::bit_cast<std::uint32_t>(rows[0].f[k])))
        std::abort();
    }
    // The same line into the second row, and decoded from the text of lines.
    if (lines.line(text.data() + at, sizeof(Row)) != n) std::abort();
    for (std::size_t k = 0; k < kinds.size(); ++k)
      if (((kinds[k] == 'i' || kinds[k] == 'n') && rows[1].i[k] != rows[0].i[k]) ||
          (kinds[k] == 'f' && std::bit_cast<std::uint32_t>(rows[1].f[k]) != std::bit_cast<std::uint32_t>(rows[0].f[k])))
        std::abort();
    std::size_t pos = at;
    if (lines.decode(text.data(), pos, text.size(), sizeof(Row), 1) != 1 || pos != at + n) std::abort();
    at += n;
  }
  return 0;
}
