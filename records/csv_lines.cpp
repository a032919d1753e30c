#include "records/csv_lines.h"

#include <bit>
#include <cstring>
#include <string>

#include "records/csv_reader.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rec::csv {

namespace {

using Mask = NumberLines::Mask;

inline int lowest(std::uint64_t m) { return std::countr_zero(m); }
inline int lowest(Mask m) {
  const auto low = static_cast<std::uint64_t>(m);
  return low != 0 ? std::countr_zero(low) : 64 + std::countr_zero(static_cast<std::uint64_t>(m >> 64));
}
inline int count(Mask m) {
  return std::popcount(static_cast<std::uint64_t>(m)) + std::popcount(static_cast<std::uint64_t>(m >> 64));
}
inline Mask bit(int k) { return static_cast<Mask>(1) << k; }
inline Mask low_bits(int n) { return bit(n) - 1; }  // n < 128

// The marks of the digits, separators, points and line ends of the bytes at `p`, a bit
// a byte (the first byte in the lowest bit), 16 bytes at a time: M of 64 bits for a
// line that ends within 64 bytes, of 128 for a longer one.
template <class M>
struct Marks {
  M digits = 0, seps = 0, points = 0, ends = 0;
  void add(const char* p, char sep, int shift) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + shift));
    const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    auto bits = [&](__m128i m) { return static_cast<M>(static_cast<unsigned>(_mm_movemask_epi8(m))) << shift; };
    digits |= bits(digit);
    seps |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(sep)));
    points |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')));
    ends |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
#else
    for (int k = 0; k < 16; ++k) {
      const M b = static_cast<M>(1) << (shift + k);
      const char ch = p[shift + k];
      if (ch >= '0' && ch <= '9') digits |= b;
      if (ch == sep) seps |= b;
      if (ch == '.') points |= b;
      if (ch == '\n') ends |= b;
    }
#endif
  }
};

}  // namespace

NumberLines::NumberLines(char sep, std::vector<Column> columns) : sep_(sep), columns_(std::move(columns)) {
  for (const Column& c : columns_) {
    if (!c.skip && c.target.kind != Target::Int && (c.levels != nullptr || c.target.kind != Target::Real32)) {
      read_ = false;  // not usable
      return;
    }
    read_ = read_ || !c.skip;
  }
}

std::size_t NumberLines::line(const char* p, std::ptrdiff_t shift) {
  static_assert(kSpan == 128);
  // The chunks up to the line end: most lines end within 32 bytes, many within 64.
  Marks<std::uint64_t> m;
  m.add(p, sep_, 0);
  m.add(p, sep_, 16);
  if (m.ends == 0) {
    m.add(p, sep_, 32);
    m.add(p, sep_, 48);
  }
  if (m.ends != 0) return marked(p, m, shift);
  Marks<Mask> w;
  w.digits = m.digits;
  w.seps = m.seps;
  w.points = m.points;
  for (int k = 64; k < 128 && w.ends == 0; k += 32) {
    w.add(p, sep_, k);
    w.add(p, sep_, k + 16);
  }
  return w.ends != 0 ? marked(p, w, shift) : 0;
}

// line() on the marks of a line that ends within them.
template <class M>
std::size_t NumberLines::marked(const char* p, const M& m, std::ptrdiff_t shift) {
  using W = decltype(m.ends);
  const int length = lowest(m.ends);
  int end = length;  // of the last field: a CR before the line end is a blank after it
  if (end > 0 && p[end - 1] == '\r') --end;
  if (end == 0) return 0;
  const W within = (static_cast<W>(1) << end) - 1;
  // Bytes other than digits, separators and points may stand in a column skipped or a
  // name; a minus sign may begin a real, and quotes may enclose a whole field: where
  // they stand is part of the shape, whose statement allows them or not.
  const W other = ~(m.digits | m.seps | m.points) & within;
  W minus = 0, quotes = 0;
  for (W w = other; w != 0; w &= w - 1) {
    const char ch = p[lowest(w)];
    if (ch == '-') minus |= w & (~w + 1);
    if (ch == '"') quotes |= w & (~w + 1);
  }
  const W seps = m.seps & within, points = m.points & within;
  const Shape* shape = shape_for(seps, points, minus, quotes, end);
  if (shape == nullptr) {
    if (quotes != 0 || !fields(p, seps, other, end, shift)) return 0;
  } else {
    if ((other & ~(minus | quotes | static_cast<W>(shape->skipped))) != 0) return 0;
    shape->plan->decode_plain(p, shift);
    const auto place = [&](std::uint64_t w) {
      return static_cast<char*>(columns_[static_cast<std::size_t>(std::countr_zero(w))].target.p) + shift;
    };
    for (std::uint64_t w = shape->wholes; w != 0; w &= w - 1) {
      char* const out = place(w);
      std::int32_t v;
      std::memcpy(&v, out, sizeof v);
      const float x = static_cast<float>(v);  // correctly rounded, as read_number gives
      std::memcpy(out, &x, sizeof x);
    }
    for (std::uint64_t w = shape->negated; w != 0; w &= w - 1) {
      char* const out = place(w);
      float x;
      std::memcpy(&x, out, sizeof x);
      x = -x;
      std::memcpy(out, &x, sizeof x);
    }
    for (const Name& n : shape->names) {
      const Column& c = columns_[n.column];
      const std::int32_t v = c.levels->level(std::string_view(p + n.from, n.length));
      if (v <= 0) return 0;
      std::memcpy(static_cast<char*>(c.target.p) + shift, &v, sizeof v);
    }
  }
  return static_cast<std::size_t>(length) + 1;
}

// The shape of a line (its separators, points, minus signs and quotes before its line end at
// `end`) with its statement, or null when the line has no statement: a shape seen before
// is looked up; a new one is checked (one field a column, none empty) and its statement
// built, up to kMaxStatements of them.
template <class W>
const NumberLines::Shape* NumberLines::shape_for(W seps, W points, W minus, W quotes, int end) {
  const auto fold = [](W m) {
    if constexpr (sizeof(W) == 8)
      return m;
    else
      return static_cast<std::uint64_t>(m) ^ (static_cast<std::uint64_t>(m >> 64) * 0x9FB21C651E98DF25ull);
  };
  const std::uint64_t h = fold(seps) * 0x9E3779B97F4A7C15ull + fold(points) * 0xC2B2AE3D27D4EB4Full +
                          (fold(minus) ^ fold(quotes) << 1) * 0x165667B19E3779F9ull + static_cast<std::uint64_t>(end);
  // Two places a shape may take: the first, or the second when the first is taken.
  const auto same = [&](const Shape& s) {
    return s.seps == seps && s.points == points && s.minus == minus && s.quotes == quotes && s.end == end;
  };
  Shape& first = shapes_[static_cast<std::size_t>(h >> 56)];
  if (same(first)) return first.plan ? &first : nullptr;
  Shape& second = shapes_[static_cast<std::size_t>(h >> 48) & 255];
  if (same(second)) return second.plan ? &second : nullptr;
  const Mask all = seps;
  if (static_cast<std::size_t>(count(all)) + 1 != columns_.size() ||
      (all & ((all << 1) | 1 | bit(end - 1))) != 0)
    return nullptr;  // ragged, or an empty field
  if (built_ >= kMaxStatements) return nullptr;
  ++built_;
  Shape& s = first.end >= 0 && second.end < 0 ? second : first;
  s.seps = seps;
  s.points = points;
  s.minus = minus;
  s.quotes = quotes;
  s.end = end;
  build(s);
  return s.plan ? &s : nullptr;
}

// The fixed-column statement of the lines of shape `s`: none when a field is one the
// whole-record decoder does not take (more than 8 columns, a point where its kind
// allows none, a sign but before a real, quotes but around a whole field) or the machine
// lacks its instructions.
void NumberLines::build(Shape& s) const {
  s.plan.reset();
  s.wholes = s.negated = 0;
  s.skipped = 0;
  s.names.clear();
  std::string text = "(";
  std::vector<Target> targets;
  Mask stops = s.seps | bit(s.end);
  int from = 0;
  for (std::size_t k = 0; k < columns_.size(); ++k) {
    const Column& c = columns_[k];
    const int at = lowest(stops);
    stops &= stops - 1;
    int n = at - from;
    // A field in quotes: only its first and last byte, around what it holds.
    const Mask quote = (s.quotes >> from) & low_bits(n);
    const bool quoted = quote != 0;
    if (quoted && (n < 3 || quote != (bit(0) | bit(n - 1)))) return;
    const int field = from, whole = n;
    if (quoted) {
      ++from;
      n -= 2;
    }
    const Mask minus = (s.minus >> from) & low_bits(n);
    if (text.size() > 1) text += ",1X,";
    if (quoted) text += "1X,";
    const char* const after = quoted ? ",1X" : "";
    if (c.skip || c.levels != nullptr) {
      text += std::to_string(n) + "X" + after;
      s.skipped |= low_bits(whole) << field;
      if (!c.skip)
        s.names.push_back({static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(from),
                           static_cast<std::uint32_t>(n)});
      from = at + 1;
      continue;
    }
    if (minus != 0) {
      // A real's sign: a column skipped, the value negated.
      if (minus != 1 || c.target.kind != Target::Real32 || n == 1) return;
      text += "1X,";
      s.negated |= std::uint64_t{1} << k;
      ++from;
      --n;
    }
    const Mask point = (s.points >> from) & low_bits(n);
    from = at + 1;
    if (n > 8) return;
    if (c.target.kind == Target::Int || point == 0) {
      if (point != 0) return;
      text += "I" + std::to_string(n);
      targets.push_back({Target::Int, c.target.p, 0});
      if (c.target.kind != Target::Int) s.wholes |= std::uint64_t{1} << k;
    } else {
      if ((point & (point - 1)) != 0 || n == 1) return;
      text += "F" + std::to_string(n) + "." + std::to_string(n - 1 - lowest(point));
      targets.push_back(c.target);
    }
    text += after;
  }
  text += ")";
  auto plan = std::make_unique<FieldPlan>(Format::compile(text), targets);
  if (plan->decodes_plain()) s.plan = std::move(plan);
}

// The fields of a line of plain numbers converted one by one; false for a field that is
// not a plain number of its kind (a sign among them).
bool NumberLines::fields(const char* p, Mask seps, Mask other, int end, std::ptrdiff_t shift) const {
  if (static_cast<std::size_t>(count(seps)) + 1 != columns_.size() ||
      (seps & ((seps << 1) | 1 | bit(end - 1))) != 0)
    return false;  // ragged, or an empty field
  Mask stops = seps | bit(end);
  int from = 0;
  for (const Column& c : columns_) {
    const int at = lowest(stops);
    stops &= stops - 1;
    const int n = at - from;
    if (c.levels != nullptr) {
      const std::int32_t v = c.levels->level(std::string_view(p + from, static_cast<std::size_t>(n)));
      if (v <= 0) return false;
      std::memcpy(static_cast<char*>(c.target.p) + shift, &v, sizeof v);
    } else if (!c.skip) {
      if (n > 8 || ((other >> from) & low_bits(n)) != 0) return false;
      // The field scanners read eight bytes from the field's start and need a byte
      // after it: a copy, as no byte after the line may be read.
      char field[16] = {};
      std::memcpy(field, p + from, static_cast<std::size_t>(n));
      field[n] = '\n';
      char* const out = static_cast<char*>(c.target.p) + shift;
      std::int32_t i;
      float x;
      if (c.target.kind == Target::Int) {
        if (!plain_whole_field(field, static_cast<std::size_t>(n), i)) return false;
        std::memcpy(out, &i, sizeof i);
      } else {
        if (!plain_number_field(field, static_cast<std::size_t>(n), x)) return false;
        std::memcpy(out, &x, sizeof x);
      }
    }
    from = at + 1;
  }
  return true;
}

std::size_t NumberLines::decode(const char* text, std::size_t& pos, std::size_t limit, std::size_t stride,
                                std::size_t max) {
  std::size_t n = 0;
  while (n < max && limit >= kSpan && pos <= limit - kSpan) {
    const std::size_t len = line(text + pos, static_cast<std::ptrdiff_t>(n * stride));
    if (len == 0) break;
    pos += len;
    ++n;
  }
  return n;
}

}  // namespace rec::csv
