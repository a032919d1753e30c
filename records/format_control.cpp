// Format control: the walk over a compiled format that matches items with data
// descriptors, for write statements (format_write) and read statements (format_read),
// and list-directed integer input (list_read_ints).
//
// The walk keeps a stack of open groups with the repeats they have left. When the
// items are exhausted it goes on to the next data descriptor, to a ':' or to the end
// of the format, applying texts, X, T and '/' on the way. When items remain at the
// final ')', the record is ended and the walk restarts at the last top-level group
// (with its repeat count) or, without inner groups, at the start.
#include <algorithm>
#include <bit>
#include <charconv>
#include <type_traits>
#include <utility>
#include <cstring>
#include <string>

#include "records/editing.h"
#include "records/format.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KRB_SIMD 1
#include <immintrin.h>
#else
#define KRB_SIMD 0
#endif

namespace rec {
namespace {

// Positions are clamped here so that long runs of X or TR cannot overflow.
constexpr long long kFarColumn = 1LL << 40;

// The position after a column movement at `pos` (0-based): T goes to its column, TL back
// (never before the first), X and TR forward; on input a text is passed over as an X of
// its width.
long long moved(const FormatNode& n, long long pos) {
  switch (n.kind) {
    case FormatNode::T: return n.width - 1;
    case FormatNode::TL: return std::max(0LL, pos - n.width);
    default: return std::min(pos + n.width, kFarColumn);
  }
}

const char* kind_name(FormatNode::Kind k) {
  switch (k) {
    case FormatNode::I: return "I";
    case FormatNode::F: return "F";
    case FormatNode::E: return "E";
    case FormatNode::D: return "D";
    case FormatNode::G: return "G";
    case FormatNode::A: return "A";
    default: return "?";
  }
}

// Walks `fmt` for `count` items. The handler gets:
//   bool data(const FormatNode&, std::size_t item)  - transfer one item
//   bool control(const FormatNode&)                 - texts, X, T, /, P, BN, BZ
//   bool next_record()                              - reversion ends the record
// and returns false from any of them to end the statement at once.
template <class Handler>
void drive(const Format& fmt, std::size_t count, Handler& h) {
  const auto& nodes = fmt.nodes();
  if (nodes.size() < 2) throw FormatError("format not compiled", 0);
  const int last = static_cast<int>(nodes.size()) - 1;
  struct Frame {
    int open;
    int left;
  };
  Frame stack[kMaxNesting + 1];
  int depth = 0;
  int pc = 1;
  int done_of_node = 0;  // repeats of the current data descriptor already used
  std::size_t k = 0;
  bool moved = false;    // an item was transferred since the last start or reversion
  long steps = 0;
  for (;;) {
    const FormatNode& n = nodes[static_cast<std::size_t>(pc)];
    if (n.is_data()) {
      if (k == count) return;
      // As many items as the repeat count and the items left allow.
      const std::size_t left = count - k;
      const int want = n.repeat - done_of_node;
      const int run = left < static_cast<std::size_t>(want) ? static_cast<int>(left) : want;
      for (int j = 0; j < run; ++j, ++k)
        if (!h.data(n, k)) return;
      moved = true;
      steps = 0;
      done_of_node += run;
      if (done_of_node >= n.repeat) {
        done_of_node = 0;
        ++pc;
      }
      continue;
    }
    // Every repetition of a text or a '/' is a step of its own: a repeat count must not
    // multiply the work of one step unseen.
    steps += n.kind == FormatNode::Literal || n.kind == FormatNode::Slash ? n.repeat : 1;
    if (steps > kMaxControlSteps)
      throw FormatError("format takes more than " + std::to_string(kMaxControlSteps) +
                            " steps without transferring an item",
                        n.position);
    switch (n.kind) {
      case FormatNode::GroupOpen:
        stack[depth++] = {pc, n.repeat};
        ++pc;
        break;
      case FormatNode::GroupClose:
        if (pc == last) {
          if (k == count) return;
          if (!moved)
            throw FormatError("items remain but the format has no data descriptor to take them",
                              n.position);
          moved = false;
          if (!h.next_record()) return;
          const int r = fmt.reversion_start();
          depth = 0;
          if (r == 0) {
            pc = 1;
          } else {
            stack[depth++] = {r, nodes[static_cast<std::size_t>(r)].repeat};
            pc = r + 1;
          }
        } else if (--stack[depth - 1].left > 0) {
          pc = stack[depth - 1].open + 1;
        } else {
          --depth;
          ++pc;
        }
        break;
      case FormatNode::Colon:
        if (k == count) return;
        ++pc;
        break;
      default:
        if (!h.control(n)) return;
        ++pc;
        break;
    }
  }
}

// ---------------------------------------------------------------- output

class Writer {
 public:
  Writer(std::span<const Item> items, RecordSink& sink) : items_(items), sink_(sink) { rec_.reserve(160); }

  bool data(const FormatNode& n, std::size_t k) {
    const Item& it = items_[k];
    switch (n.kind) {
      case FormatNode::A: {
        if (it.kind != Item::Text) mismatch(n, it);
        std::string_view s = it.s;
        if (n.width == 0) {
          put(s, n);
        } else if (static_cast<int>(s.size()) >= n.width) {
          put(s.substr(0, static_cast<std::size_t>(n.width)), n);
        } else {
          put(std::string(static_cast<std::size_t>(n.width) - s.size(), ' '), n);
          put(s, n);
        }
        return true;
      }
      case FormatNode::I:
        if (it.kind != Item::Int) mismatch(n, it);
        put(edit_int(it.i, n.width, n.digits), n);
        return true;
      default: {
        double v;
        if (it.kind == Item::Real)
          v = it.r;
        else if (it.kind == Item::Int)
          v = it.i;
        else
          mismatch(n, it);
        if (n.kind == FormatNode::F)
          put(edit_fixed(v, n.width, n.digits), n);
        else if (n.kind == FormatNode::G)
          put(edit_general(v, n.width, n.digits), n);
        else
          put(edit_exp(v, n.width, n.digits), n);
        return true;
      }
    }
  }

  bool control(const FormatNode& n) {
    switch (n.kind) {
      case FormatNode::Literal:
        for (int r = 0; r < n.repeat; ++r) put(n.text, n);
        break;
      case FormatNode::X:
      case FormatNode::TR:
      case FormatNode::T:
      case FormatNode::TL:
        pos_ = moved(n, pos_);
        break;
      case FormatNode::Slash:
        for (int r = 0; r < n.repeat; ++r) next_record();
        break;
      default:  // P, BN, BZ do not change output
        break;
    }
    return true;
  }

  bool next_record() {
    sink_.put(rec_);
    rec_.clear();
    pos_ = 0;
    return true;
  }

  void finish() { sink_.put(rec_); }

 private:
  [[noreturn]] void mismatch(const FormatNode& n, const Item& it) {
    const char* what = it.kind == Item::Int ? "an integer" : it.kind == Item::Real ? "a real" : "a character";
    throw FormatError(std::string("edit descriptor ") + kind_name(n.kind) + " cannot write " + what +
                          " item",
                      n.position);
  }

  void put(std::string_view s, const FormatNode& n) {
    if (pos_ + static_cast<long long>(s.size()) > kMaxRecordLength)
      throw FormatError("record longer than " + std::to_string(kMaxRecordLength) + " characters",
                        n.position);
    const auto p = static_cast<std::size_t>(pos_);
    if (rec_.size() < p) rec_.resize(p, ' ');
    const std::size_t end = p + s.size();
    if (rec_.size() < end) rec_.resize(end);
    std::memcpy(rec_.data() + p, s.data(), s.size());
    pos_ = static_cast<long long>(end);
  }

  std::span<const Item> items_;
  RecordSink& sink_;
  std::string rec_;
  long long pos_ = 0;
};

// ---------------------------------------------------------------- input

class Reader {
 public:
  Reader(std::span<const Target> targets, RecordSource& source, ReadError* err)
      : targets_(targets), source_(source), err_(err) {}

  bool start() { return fetch(); }
  // Starts the statement on a record already taken from the source.
  void start_with(std::string_view record) {
    rec_ = record;
    records = 1;
    pos_ = 0;
  }

  bool data(const FormatNode& n, std::size_t k) {
    const Target& t = targets_[k];
    if (n.kind == FormatNode::A) {
      if (t.kind != Target::Text) mismatch(n, t);
      read_text(n, t);
      return true;
    }
    const int w = n.width;
    detail::Field f = field(w);
    if (!blank_zero_) {
      bool done = false;
      if (n.kind == FormatNode::I) {
        if (t.kind == Target::Int) done = detail::read_int_fast(f.text, *static_cast<std::int32_t*>(t.p));
      } else if (t.kind == Target::Real32) {
        done = detail::read_real_fast(f.text, n.digits, scale_, *static_cast<float*>(t.p));
      } else if (t.kind == Target::Real64) {
        done = detail::read_real_fast(f.text, n.digits, scale_, *static_cast<double*>(t.p));
      }
      if (done) {
        pos_ += w;
        return true;
      }
    }
    detail::FieldStatus st;
    if (n.kind == FormatNode::I) {
      if (t.kind != Target::Int) mismatch(n, t);
      st = detail::read_int(f, *static_cast<std::int32_t*>(t.p));
    } else if (t.kind == Target::Real32) {
      st = detail::read_real(f, n.digits, scale_, *static_cast<float*>(t.p));
    } else if (t.kind == Target::Real64) {
      st = detail::read_real(f, n.digits, scale_, *static_cast<double*>(t.p));
    } else {
      mismatch(n, t);
    }
    if (st != detail::FieldStatus::Ok) {
      const bool integer = n.kind == FormatNode::I;
      const char* msg = st == detail::FieldStatus::Range
                            ? (integer ? "integer out of range in field" : "real out of range in field")
                            : (integer ? "invalid character in integer field"
                                       : "invalid character in real field");
      return error(msg, f.text, w);
    }
    pos_ += w;
    return true;
  }

  bool control(const FormatNode& n) {
    switch (n.kind) {
      case FormatNode::Literal:  // not meaningful on input: its columns are passed over
      case FormatNode::X:
      case FormatNode::TR:
      case FormatNode::T:
      case FormatNode::TL:
        pos_ = moved(n, pos_);
        break;
      case FormatNode::Slash:
        for (int r = 0; r < n.repeat; ++r)
          if (!fetch()) return false;
        break;
      case FormatNode::Scale:
        scale_ = n.width;
        break;
      case FormatNode::BN:
        blank_zero_ = false;
        break;
      case FormatNode::BZ:
        blank_zero_ = true;
        break;
      default:
        break;
    }
    return true;
  }

  bool next_record() { return fetch(); }

  ReadStatus status = ReadStatus::Ok;
  int records = 0;

 private:
  bool fetch() {
    if (!source_.next(rec_)) {
      status = ReadStatus::End;
      return false;
    }
    ++records;
    pos_ = 0;
    return true;
  }

  // The field of w columns at the current position; columns past the end of the
  // record are padding blanks.
  detail::Field field(int w) const {
    detail::Field f;
    f.blank_zero = blank_zero_;
    const long long len = static_cast<long long>(rec_.size());
    const long long avail = pos_ >= len ? 0 : (len - pos_ < w ? len - pos_ : w);
    if (avail > 0) f.text = std::string_view(rec_.data() + pos_, static_cast<std::size_t>(avail));
    f.pad = w - static_cast<int>(avail);
    return f;
  }

  void read_text(const FormatNode& n, const Target& t) {
    auto& s = *static_cast<std::string*>(t.p);
    const int len = t.length < 0 ? 0 : t.length;
    const int w = n.width == 0 ? len : n.width;
    s.assign(static_cast<std::size_t>(len), ' ');
    // With w >= len the rightmost len columns of the field are taken, else all w
    // columns, padded with blanks.
    const long long from = pos_ + (w >= len ? w - len : 0);
    const int take = std::min(w, len);
    const long long rl = static_cast<long long>(rec_.size());
    for (int j = 0; j < take; ++j) {
      const long long c = from + j;
      if (c >= rl) break;
      s[static_cast<std::size_t>(j)] = rec_[static_cast<std::size_t>(c)];
    }
    pos_ += w;
  }

  [[noreturn]] void mismatch(const FormatNode& n, const Target& t) {
    const char* what = t.kind == Target::Int ? "an integer" : t.kind == Target::Text ? "a character" : "a real";
    throw FormatError(std::string("edit descriptor ") + kind_name(n.kind) + " cannot read " + what + " item",
                      n.position);
  }

  bool error(const char* msg, std::string_view text, int w) {
    status = ReadStatus::Error;
    if (err_) {
      err_->record = records;
      err_->column = static_cast<int>(pos_) + 1;
      err_->width = w;
      std::size_t b = text.find_first_not_of(' ');
      std::size_t e = text.find_last_not_of(' ');
      std::string_view trimmed = b == std::string_view::npos ? std::string_view{} : text.substr(b, e - b + 1);
      if (trimmed.size() > 40) trimmed = trimmed.substr(0, 40);
      err_->field.assign(trimmed);
      err_->message = msg;
    }
    return false;
  }

  std::span<const Target> targets_;
  RecordSource& source_;
  ReadError* err_;
  std::string_view rec_;
  long long pos_ = 0;
  int scale_ = 0;
  bool blank_zero_ = false;
};

}  // namespace

void format_write(const Format& fmt, std::span<const Item> items, RecordSink& sink) {
  Writer w(items, sink);
  drive(fmt, items.size(), w);
  w.finish();
}

namespace {

// One record read by a fixed-column format: every field converted by the fast paths.
// False when some field needs the general conversion (or is in error).
bool read_flat(const std::vector<FlatField>& flat, std::string_view rec, std::span<const Target> targets) {
  const std::size_t len = rec.size();
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const FlatField& f = flat[k];
    const Target& t = targets[k];
    const std::size_t col = static_cast<std::size_t>(f.column);
    std::string_view text;
    if (col < len) text = rec.substr(col, static_cast<std::size_t>(f.width));
    bool ok;
    switch (t.kind) {
      case Target::Int:
        ok = f.kind == FormatNode::I && detail::read_int_fast(text, *static_cast<std::int32_t*>(t.p));
        break;
      case Target::Real32:
        ok = f.kind != FormatNode::I && f.kind != FormatNode::A &&
             detail::read_real_fast(text, f.digits, 0, *static_cast<float*>(t.p));
        break;
      case Target::Real64:
        ok = f.kind != FormatNode::I && f.kind != FormatNode::A &&
             detail::read_real_fast(text, f.digits, 0, *static_cast<double*>(t.p));
        break;
      default:
        ok = false;
        break;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

ReadStatus format_read(const Format& fmt, RecordSource& source, std::span<const Target> targets,
                       ReadError* err, int* records_used) {
  Reader r(targets, source, err);
  const auto& flat = fmt.flat();
  if (!flat.empty() && targets.size() <= flat.size()) {
    // A simple format: read the record directly, and go the general way only when a
    // field needs it (the general way then reads the same record again).
    std::string_view rec;
    if (!source.next(rec)) {
      if (records_used) *records_used = 0;
      return ReadStatus::End;
    }
    if (read_flat(flat, rec, targets)) {
      if (records_used) *records_used = 1;
      return ReadStatus::Ok;
    }
    r.start_with(rec);
    drive(fmt, targets.size(), r);
  } else if (r.start()) {
    drive(fmt, targets.size(), r);
  }
  if (records_used) *records_used = r.records;
  return r.status;
}

// ---------------------------------------------------------------- laid-out statements

namespace {

// Fields read eight bytes at a time (the words below assume little-endian bytes).
constexpr bool kWords = std::endian::native == std::endian::little;

// Limits of a laid-out statement; a longer one keeps the general walk.
constexpr std::size_t kMaxPlanSteps = 4096;
constexpr std::size_t kMaxPlanRecords = 256;

// Walks the format as a read statement would, recording where each item's field lies
// instead of reading it. Any edit but I, F, X, T, TL, TR and '/' ends the walk unplanned.
class Planner {
 public:
  Planner(std::span<const Target> targets, std::vector<FieldPlan::Step>& steps,
          std::vector<std::uint32_t>& ends)
      : targets_(targets), steps_(steps), ends_(ends) {}

  bool data(const FormatNode& n, std::size_t k) {
    const Target& t = targets_[k];
    const bool fits = n.kind == FormatNode::I ? t.kind == Target::Int
                                               : n.kind == FormatNode::F &&
                                                     (t.kind == Target::Real32 || t.kind == Target::Real64);
    if (!fits || steps_.size() >= kMaxPlanSteps) return refuse();
    // A field that starts beyond the longest record is blank in every record.
    const long long column = std::min(pos_, static_cast<long long>(kMaxRecordLength) + 1);
    // A field of at most 8 columns that ends 8 columns or more into the record is read
    // as the word of the 8 bytes that end with it.
    const bool word = kWords && n.width <= 8;
    const std::uint64_t before = n.width >= 8 ? 0 : (std::uint64_t{1} << (8 * (8 - n.width))) - 1;
    const int shift = column + n.width >= 8 ? 0 : 8 * (8 - static_cast<int>(column) - n.width);
    steps_.push_back({static_cast<std::int32_t>(column), n.width, n.digits, t.kind, word, shift, before, t.p});
    pos_ = std::min(pos_ + n.width, kFarColumn);
    return true;
  }

  bool control(const FormatNode& n) {
    switch (n.kind) {
      case FormatNode::X:
      case FormatNode::TR:
      case FormatNode::T:
      case FormatNode::TL:
        pos_ = moved(n, pos_);
        return true;
      case FormatNode::Slash:
        for (int r = 0; r < n.repeat; ++r)
          if (!next_record()) return false;
        return true;
      default:
        return refuse();
    }
  }

  bool next_record() {
    if (ends_.size() + 1 >= kMaxPlanRecords) return refuse();
    ends_.push_back(static_cast<std::uint32_t>(steps_.size()));
    pos_ = 0;
    return true;
  }

  bool ok = true;

 private:
  bool refuse() {
    ok = false;
    return false;
  }
  std::span<const Target> targets_;
  std::vector<FieldPlan::Step>& steps_;
  std::vector<std::uint32_t>& ends_;
  long long pos_ = 0;
};

// The plain field of a laid-out statement: blanks, digits and (for F) one point, no sign,
// at most 19 columns, in one pass without a branch per character. Gives what
// detail::read_int_fast or detail::read_real_fast gives for such a field (the same value,
// the same arithmetic) and false for any other field, which then goes the walk's way.
inline bool plain_int(const char* p, std::size_t n, std::int32_t& out) {
  std::uint32_t acc = 0;
  unsigned digits = 0, bad = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned c = static_cast<unsigned char>(p[i]);
    const unsigned dg = c - '0';
    const bool is_digit = dg <= 9u;
    acc = is_digit ? acc * 10 + dg : acc;
    digits += is_digit;
    bad |= !is_digit & (c != ' ');
  }
  if (bad | (digits > 9)) return false;
  out = static_cast<std::int32_t>(acc);
  return true;
}

template <class T>
inline bool plain_real(const char* p, std::size_t n, int d, T& out) {
  constexpr std::uint64_t kMaxExact = sizeof(T) == 4 ? (1u << 24) : (1ull << 53);
  constexpr int kMaxPow = sizeof(T) == 4 ? 10 : 22;
  if (n > 19) return false;
  std::uint64_t m = 0;
  unsigned frac = 0, points = 0, bad = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned c = static_cast<unsigned char>(p[i]);
    const unsigned dg = c - '0';
    const bool is_digit = dg <= 9u, is_point = c == '.';
    m = is_digit ? m * 10 + dg : m;
    frac += is_digit & (points != 0);
    points += is_point;
    bad |= !is_digit & !is_point & (c != ' ');
  }
  if (bad | (points > 1) | (m > kMaxExact)) return false;
  const int e = points ? -static_cast<int>(frac) : -d;
  if (e < -kMaxPow || e > kMaxPow) return false;
  T v = static_cast<T>(m);
  if constexpr (sizeof(T) == 4)
    v = e < 0 ? v / detail::kExactPow10f[-e] : v * detail::kExactPow10f[e];
  else
    v = e < 0 ? v / detail::kExactPow10[-e] : v * detail::kExactPow10[e];
  out = v;
  return true;
}

// The same fields eight bytes at a time: `x` holds the 8 bytes that end with the field
// (little-endian, so the field's last character is the top byte), the columns before
// the field already turned into blanks. Takes a field of leading blanks and then digits
// (with one point for F); anything else, embedded blanks included, is left to the loops.
constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighBits = 0x8080808080808080ull;

// The doubles nearest 10^-k.
constexpr double kInverse10[] = {1.0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7};

// The high bit of every byte of `x` equal to `c`.
inline std::uint64_t bytes_equal(std::uint64_t x, unsigned char c) {
  const std::uint64_t y = x ^ (kOnes * c);
  return ~(((y & ~kHighBits) + ~kHighBits) | y | ~kHighBits);
}

// Whether the blanks `blanks` (high bits) of a word of digits and blanks come first.
inline bool blanks_lead(std::uint64_t blanks) {
  const std::uint64_t bytes = (blanks >> 7) * 0xFF;  // 0xFF in every blank byte
  return (bytes & (bytes + 1)) == 0;
}

// The value of a word of digits and leading blanks (blanks read as leading zeros).
inline std::uint32_t word_value(std::uint64_t x, std::uint64_t blanks) {
  std::uint64_t v = x + (blanks >> 7) * 0x10 - kOnes * '0';
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
  return static_cast<std::uint32_t>(v);
}

inline bool word_digits(std::uint64_t x, std::uint64_t& digits) {
  if (x & kHighBits) return false;
  digits = (x + kOnes * 0x50) & ~(x + kOnes * 0x46) & kHighBits;  // '0' <= byte <= '9'
  return true;
}

inline bool word_int(std::uint64_t x, std::int32_t& out) {
  std::uint64_t digits;
  if (!word_digits(x, digits)) return false;
  const std::uint64_t blanks = bytes_equal(x, ' ');
  if ((digits | blanks) != kHighBits || !blanks_lead(blanks)) return false;
  out = static_cast<std::int32_t>(word_value(x, blanks));
  return true;
}

template <class T>
inline bool word_real(std::uint64_t x, int d, T& out) {
  constexpr std::uint64_t kMaxExact = sizeof(T) == 4 ? (1u << 24) : (1ull << 53);
  constexpr int kMaxPow = sizeof(T) == 4 ? 10 : 22;
  std::uint64_t digits;
  if (!word_digits(x, digits)) return false;
  const std::uint64_t point = bytes_equal(x, '.');
  if ((digits | point | bytes_equal(x, ' ')) != kHighBits || (point & (point - 1)) != 0) return false;
  int e = -d;
  if (point) {
    // Digits alone after the point (each of them a decimal). Without the point: the
    // bytes before it move up one, a blank comes in first.
    const int k = std::countr_zero(point) / 8;
    if (k < 7 && (digits >> (8 * k + 8)) != (kHighBits >> (8 * k + 8))) return false;
    const std::uint64_t below = x & ((std::uint64_t{1} << (8 * k)) - 1);
    const std::uint64_t above = k == 7 ? 0 : x & ~((std::uint64_t{1} << (8 * k + 8)) - 1);
    x = above | (below << 8) | ' ';
    e = k - 7;
  }
  const std::uint64_t blanks = bytes_equal(x, ' ');
  if (!blanks_lead(blanks)) return false;
  const std::uint64_t m = word_value(x, blanks);
  if (m > kMaxExact || e < -kMaxPow || e > kMaxPow) return false;
  T v = static_cast<T>(m);
  if constexpr (sizeof(T) == 4) {
    // m / 10^k for k <= 7 as the product with the double nearest 10^-k: its error is
    // below 2^-51 of the quotient, while the quotient of m <= 2^24 by 10^k lies at
    // least 2^-48 of itself away from any midpoint between floats (or on a float), so
    // the product rounds to the float that the division gives, without its latency
    // (checked for every m and k).
    if (e < 0 && e >= -7)
      v = static_cast<float>(static_cast<double>(m) * kInverse10[-e]);
    else
      v = e < 0 ? v / detail::kExactPow10f[-e] : v * detail::kExactPow10f[e];
  } else {
    v = e < 0 ? v / detail::kExactPow10[-e] : v * detail::kExactPow10[e];
  }
  out = v;
  return true;
}

// The word of the 8 bytes that end at `end`, the bytes `before` the field read as blanks.
inline std::uint64_t field_word(const char* end, std::uint64_t before) {
  std::uint64_t x;
  std::memcpy(&x, end - 8, 8);
  return (x & ~before) | (kOnes * ' ' & before);
}

// What the walk's Reader reports for a field it cannot convert.
ReadStatus field_error(ReadError* err, int record, int column, int width, std::string_view text,
                       bool integer, detail::FieldStatus st) {
  if (err) {
    err->record = record;
    err->column = column + 1;
    err->width = width;
    const std::size_t b = text.find_first_not_of(' ');
    const std::size_t e = text.find_last_not_of(' ');
    std::string_view trimmed = b == std::string_view::npos ? std::string_view{} : text.substr(b, e - b + 1);
    if (trimmed.size() > 40) trimmed = trimmed.substr(0, 40);
    err->field.assign(trimmed);
    err->message = st == detail::FieldStatus::Range
                       ? (integer ? "integer out of range in field" : "real out of range in field")
                       : (integer ? "invalid character in integer field" : "invalid character in real field");
  }
  return ReadStatus::Error;
}

// A field of a laid-out statement by the fast ways, in the walk's order: one word when
// the field lies whole in a record of 8 or more columns, else the plain loops, else the
// walk's fast conversion. False leaves the field to the general conversion.
inline bool plain_step(const FieldPlan::Step& s, const char* rec, std::size_t len, std::ptrdiff_t shift = 0) {
  void* const target = static_cast<char*>(s.p) + shift;
  const std::size_t col = static_cast<std::size_t>(s.column);
  const std::size_t width = static_cast<std::size_t>(s.width);
  // A whole field of at most 8 columns in a record of 8 or more: one word, of the 8
  // bytes that end with the field or, near the record's start, of its first 8 bytes
  // moved up so that the field ends the word.
  if (s.word && col + width <= len && len >= 8) {
    const std::uint64_t x = s.shift ? ((field_word(rec + 8, 0) << s.shift) & ~s.before) | (kOnes * ' ' & s.before)
                                    : field_word(rec + col + width, s.before);
    if (s.kind == Target::Int ? word_int(x, *static_cast<std::int32_t*>(target))
        : s.kind == Target::Real32 ? word_real(x, s.digits, *static_cast<float*>(target))
                                   : word_real(x, s.digits, *static_cast<double*>(target)))
      return true;
  }
  const std::size_t avail = col >= len ? 0 : std::min(len - col, width);
  const std::string_view text(rec + (avail ? col : 0), avail);
  if (s.kind == Target::Int) {
    auto& out = *static_cast<std::int32_t*>(target);
    return plain_int(text.data(), avail, out) || detail::read_int_fast(text, out);
  }
  if (s.kind == Target::Real32) {
    auto& out = *static_cast<float*>(target);
    return plain_real(text.data(), avail, s.digits, out) || detail::read_real_fast(text, s.digits, 0, out);
  }
  auto& out = *static_cast<double*>(target);
  return plain_real(text.data(), avail, s.digits, out) || detail::read_real_fast(text, s.digits, 0, out);
}

}  // namespace

// The whole-record decoder of a one-record statement whose fields are all I of at most
// 8 columns or F of at most 8 columns with fewer decimals than columns, within the
// record's first 128 columns. One pass over the record's 16-byte chunks classifies its
// bytes (digit, blank, point); the statement is plain where every field byte is a digit
// or a blank, the point of each F field stands where its decimals put it, and no blank
// follows a digit or point in its field. Each field's digits (the point left out) are
// then gathered, right-aligned, into an 8-byte lane, two fields to a 16-byte window, and
// turned into numbers by multiply-adds. A field that is not plain takes plain_step.
struct FieldPlan::Fast {
  static constexpr int kMaxChunks = 8;
  struct Window {
    alignas(16) std::uint8_t shuffle[16];  // lane byte from window byte; 0x80 gives 0
    alignas(16) double scale[2] = {1.0, 1.0};  // Reals: the double nearest 10^-decimals
    void* p[4] = {};                        // the targets of the lanes
    std::int32_t offset = 0;                // first column of the window's 16
    std::int32_t step[4] = {-1, -1, -1, -1};  // fields of the lanes (-1: none)
    // The lanes and how they are stored: two 8-byte lanes of integers, of 32-bit reals,
    // or each by its kind; or four 4-byte lanes of integers of at most 4 digits (Quads),
    // stored at once when they are the four 32-bit places of one row (Row).
    enum Form : std::uint8_t { Ints, Reals, Each, Quads, Row } form = Each;
    std::uint8_t lanes = 1;
  };
  using Mask = unsigned __int128;  // one bit per column of the first 128
  int chunks = 0;
  std::size_t min_length = 0;  // the record must hold every field
  Mask digits = 0;             // columns that must be digits or blanks
  Mask points = 0;             // columns that must be points
  Mask follows = 0;            // columns whose column before is in the same field
  std::vector<Window> windows;
  std::vector<Mask> columns;   // the columns of each field
  std::size_t loaded() const { return static_cast<std::size_t>(chunks) * 16; }
};

namespace {

#if KRB_SIMD
bool has_ssse3() {
  static const bool yes = __builtin_cpu_supports("ssse3");
  return yes;
}

// The lane value `v` of field `s` stored as its target: what word_int and word_real
// give for the same plain field.
inline void store_lane(const FieldPlan::Step& s, std::uint32_t v, std::ptrdiff_t shift) {
  void* const p = static_cast<char*>(s.p) + shift;
  if (s.kind == Target::Int)
    *static_cast<std::int32_t*>(p) = static_cast<std::int32_t>(v);
  else if (s.kind == Target::Real32)
    *static_cast<float*>(p) = s.digits == 0 ? static_cast<float>(v)
                                            : static_cast<float>(static_cast<double>(v) * kInverse10[s.digits]);
  else
    *static_cast<double*>(p) = static_cast<double>(v) / detail::kExactPow10[s.digits];
}

// The classes of the first 16 C bytes of `rec`: digits, blanks and points, a bit each.
// The line ends among them too.
template <int C, class Mask>
[[gnu::target("ssse3"), gnu::always_inline]] inline void classify(const char* rec, Mask& dig, Mask& blank,
                                                                 Mask& point, Mask& line_end) {
  const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
  const __m128i sp = _mm_set1_epi8(' '), dot = _mm_set1_epi8('.'), nl = _mm_set1_epi8('\n');
  dig = blank = point = line_end = 0;
#pragma GCC unroll 8
  for (int c = 0; c < C; ++c) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rec + 16 * c));
    const __m128i t = _mm_sub_epi8(v, zero);
    const auto bits = [c](__m128i m) {
      return static_cast<Mask>(static_cast<unsigned>(_mm_movemask_epi8(m))) << (16 * c);
    };
    dig |= bits(_mm_cmpeq_epi8(_mm_min_epu8(t, nine), t));
    blank |= bits(_mm_cmpeq_epi8(v, sp));
    point |= bits(_mm_cmpeq_epi8(v, dot));
    line_end |= bits(_mm_cmpeq_epi8(v, nl));
  }
}

// The columns of `rec` that break the plainness of the fields: a field column that is
// neither digit nor blank, a point missing, a blank after a digit or point of its field.
template <class Mask>
[[gnu::always_inline]] inline Mask not_plain(const FieldPlan::Fast& f, Mask dig, Mask blank, Mask point) {
  const Mask digits = static_cast<Mask>(f.digits), points = static_cast<Mask>(f.points);
  const Mask follows = static_cast<Mask>(f.follows);
  return (digits & ~(dig | blank)) | (points & ~point) | (blank & ((dig | point) << 1) & follows);
}

// Stores the fields of a record whose columns `fail` (by not_plain) break no field, and
// takes the other fields by plain_step; false when one needs the general conversion.
template <class Mask>
[[gnu::target("ssse3"), gnu::always_inline]] inline bool store_fields(
    const FieldPlan::Fast& f, const FieldPlan::Step* steps, const char* rec, std::size_t len,
    std::ptrdiff_t shift, Mask fail) {
  const __m128i low = _mm_set1_epi8(0x0F);
  const __m128i tens = _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1);
  const __m128i hundreds = _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1);
  const __m128i myriads = _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1);
  using Window = FieldPlan::Fast::Window;
  for (const Window& w : f.windows) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rec + w.offset));
    // Digits 0-9 and blanks 0 (the bytes that a plain field holds), gathered by lanes.
    v = _mm_shuffle_epi8(_mm_and_si128(v, low), _mm_load_si128(reinterpret_cast<const __m128i*>(w.shuffle)));
    v = _mm_madd_epi16(_mm_maddubs_epi16(v, tens), hundreds);
    if (w.form == Window::Row) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(static_cast<char*>(w.p[0]) + shift), v);
      continue;
    }
    if (w.form == Window::Quads) {
      alignas(16) std::int32_t q[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(q), v);
      std::memcpy(static_cast<char*>(w.p[0]) + shift, &q[0], 4);
      std::memcpy(static_cast<char*>(w.p[1]) + shift, &q[1], 4);
      if (w.lanes > 2) std::memcpy(static_cast<char*>(w.p[2]) + shift, &q[2], 4);
      if (w.lanes > 3) std::memcpy(static_cast<char*>(w.p[3]) + shift, &q[3], 4);
      continue;
    }
    v = _mm_madd_epi16(_mm_packs_epi32(v, v), myriads);
    const auto place = [&w, shift](int lane) { return static_cast<char*>(w.p[lane]) + shift; };
    if (w.form == Window::Reals) {
      // m * 10^-d in double, rounded to float: what word_real gives (m < 2^24).
      const __m128 r = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtepi32_pd(v), _mm_load_pd(w.scale)));
      _mm_store_ss(reinterpret_cast<float*>(place(0)), r);
      if (w.lanes == 2) _mm_store_ss(reinterpret_cast<float*>(place(1)), _mm_shuffle_ps(r, r, 1));
      continue;
    }
    const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(v));
    if (w.form == Window::Ints) {
      const auto lo = static_cast<std::int32_t>(both), hi = static_cast<std::int32_t>(both >> 32);
      std::memcpy(place(0), &lo, 4);
      if (w.lanes == 2) std::memcpy(place(1), &hi, 4);
      continue;
    }
    store_lane(steps[w.step[0]], static_cast<std::uint32_t>(both), shift);
    if (w.lanes == 2) store_lane(steps[w.step[1]], static_cast<std::uint32_t>(both >> 32), shift);
  }
  if (fail == 0) return true;
  for (std::size_t k = 0; k < f.columns.size(); ++k)
    if ((f.columns[k] & static_cast<FieldPlan::Fast::Mask>(fail)) && !plain_step(steps[k], rec, len, shift))
      return false;
  return true;
}

// The place of the lowest bit set of a mask that is not 0.
inline int lowest_bit(std::uint64_t m) { return std::countr_zero(m); }
inline int lowest_bit(unsigned __int128 m) {
  const auto low = static_cast<std::uint64_t>(m);
  return low != 0 ? std::countr_zero(low) : 64 + std::countr_zero(static_cast<std::uint64_t>(m >> 64));
}

// decode() of a record whose fields lie whole in it, C chunks loadable from its start.
template <int C>
[[gnu::target("ssse3")]] bool decode_whole(const FieldPlan::Fast& f, const FieldPlan::Step* steps,
                                           const char* rec, std::size_t len, std::ptrdiff_t shift) {
  using Mask = std::conditional_t<C <= 4, std::uint64_t, FieldPlan::Fast::Mask>;
  Mask dig, blank, point, line_end;
  classify<C>(rec, dig, blank, point, line_end);
  return store_fields(f, steps, rec, len, shift, not_plain(f, dig, blank, point));
}

// The records of a text one after another, as FieldPlan::decode_records: each record's
// chunks classified once, for its fields and for its line end.
template <int C>
[[gnu::target("ssse3")]] std::size_t decode_many(const FieldPlan::Fast& f, const FieldPlan::Step* steps,
                                                 const char* text, std::size_t size, std::size_t readable,
                                                 std::size_t rows, std::ptrdiff_t stride,
                                                 std::uint32_t* ends, std::uint32_t* lengths) {
  using Mask = std::conditional_t<C <= 4, std::uint64_t, FieldPlan::Fast::Mask>;
  constexpr std::size_t kLoaded = 16 * C;
  std::size_t n = 0, at = 0;
  while (n < rows && at < size && readable - at >= kLoaded) {
    const char* rec = text + at;
    const std::size_t avail = size - at;
    Mask dig, blank, point, line_end;
    classify<C>(rec, dig, blank, point, line_end);
    std::size_t pos;
    if (line_end != 0) {
      pos = static_cast<std::size_t>(lowest_bit(line_end));
    } else {
      const void* nl = avail > kLoaded ? std::memchr(rec + kLoaded, '\n', avail - kLoaded) : nullptr;
      pos = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - rec) : avail;
    }
    if (pos >= avail) break;  // no line end in the text
    std::size_t len = pos;
    if (len > 0 && rec[len - 1] == '\r') --len;
    if (len > static_cast<std::size_t>(kMaxRecordLength)) break;
    const std::ptrdiff_t shift = static_cast<std::ptrdiff_t>(n) * stride;
    if (len >= f.min_length) {
      if (!store_fields(f, steps, rec, len, shift, not_plain(f, dig, blank, point))) break;
    } else {
      // A record shorter than its fields: field by field, the columns beyond it blank.
      bool ok = true;
      for (std::size_t k = 0; ok && k < f.columns.size(); ++k) ok = plain_step(steps[k], rec, len, shift);
      if (!ok) break;
    }
    at += pos + 1;
    ends[n] = static_cast<std::uint32_t>(at);
    lengths[n] = static_cast<std::uint32_t>(len);
    ++n;
  }
  return n;
}

// The fields of a record known plain (FieldPlan::decode_plain).
[[gnu::target("ssse3")]] void store_plain(const FieldPlan::Fast& f, const FieldPlan::Step* steps,
                                          const char* rec, std::ptrdiff_t shift) {
  store_fields(f, steps, rec, f.min_length, shift, std::uint64_t{0});
}

template <int... C>
std::size_t decode_many_of(int chunks, const FieldPlan::Fast& f, const FieldPlan::Step* steps, const char* text,
                           std::size_t size, std::size_t readable, std::size_t rows, std::ptrdiff_t stride,
                           std::uint32_t* ends, std::uint32_t* lengths, std::integer_sequence<int, C...>) {
  std::size_t n = 0;
  ((chunks == C + 1 ? (n = decode_many<C + 1>(f, steps, text, size, readable, rows, stride, ends, lengths)) : 0),
   ...);
  return n;
}

template <int... C>
bool decode_whole_of(int chunks, const FieldPlan::Fast& f, const FieldPlan::Step* steps, const char* rec,
                     std::size_t len, std::ptrdiff_t shift, std::integer_sequence<int, C...>) {
  bool ok = false;
  ((chunks == C + 1 ? (ok = decode_whole<C + 1>(f, steps, rec, len, shift)) : false), ...);
  return ok;
}
#endif

// The whole-record decoder of `steps` (one record), or null when a field is of another
// kind or beyond column 128.
std::shared_ptr<const FieldPlan::Fast> whole_record(const std::vector<FieldPlan::Step>& steps) {
  using Fast = FieldPlan::Fast;
  auto f = std::make_shared<Fast>();
  std::size_t end = 0;
  for (const FieldPlan::Step& s : steps) {
    const bool fits = s.width <= 8 && (s.kind == Target::Int || (s.digits >= 0 && s.digits < s.width));
    if (!fits || s.column + s.width > Fast::kMaxChunks * 16) return nullptr;
    const int point = s.kind == Target::Int ? -1 : s.column + s.width - 1 - s.digits;
    Fast::Mask cols = 0;
    for (int c = s.column; c < s.column + s.width; ++c) {
      const Fast::Mask bit = static_cast<Fast::Mask>(1) << c;
      cols |= bit;
      (c == point ? f->points : f->digits) |= bit;
      if (c > s.column) f->follows |= bit;
    }
    f->columns.push_back(cols);
    end = std::max(end, static_cast<std::size_t>(s.column + s.width));
  }
  f->min_length = end;
  f->chunks = static_cast<int>((end + 15) / 16);
  // Up to four integer fields of at most 4 columns to a window, else two fields, when
  // their columns lie within 16.
  const auto narrow = [&](std::size_t i) { return steps[i].kind == Target::Int && steps[i].width <= 4; };
  for (std::size_t k = 0; k < steps.size();) {
    Fast::Window w;
    std::size_t q = 0;
    int qlo = 1 << 30, qhi = 0;
    while (q < 4 && k + q < steps.size() && narrow(k + q) &&
           std::max(qhi, steps[k + q].column + steps[k + q].width) -
                   std::min(qlo, steps[k + q].column) <= 16) {
      qlo = std::min(qlo, steps[k + q].column);
      qhi = std::max(qhi, steps[k + q].column + steps[k + q].width);
      ++q;
    }
    if (q >= 2) {
      w.offset = std::max(0, qhi - 16);
      std::memset(w.shuffle, 0x80, sizeof w.shuffle);
      w.lanes = static_cast<std::uint8_t>(q);
      bool row = q == 4;
      for (std::size_t lane = 0; lane < q; ++lane) {
        const FieldPlan::Step& s = steps[k + lane];
        w.step[lane] = static_cast<std::int32_t>(k + lane);
        w.p[lane] = s.p;
        row = row && static_cast<char*>(s.p) == static_cast<char*>(steps[k].p) + 4 * lane;
        int byte = static_cast<int>(4 * lane) + 3;
        for (int c = s.column + s.width - 1; c >= s.column; --c)
          w.shuffle[byte--] = static_cast<std::uint8_t>(c - w.offset);
      }
      w.form = row ? Fast::Window::Row : Fast::Window::Quads;
      f->windows.push_back(w);
      k += q;
      continue;
    }
    const auto lo = [&](std::size_t i) { return steps[i].column; };
    const auto hi = [&](std::size_t i) { return steps[i].column + steps[i].width; };
    const bool pair = k + 1 < steps.size() && std::max(hi(k), hi(k + 1)) - std::min(lo(k), lo(k + 1)) <= 16;
    const int top = pair ? std::max(hi(k), hi(k + 1)) : hi(k);
    w.offset = std::max(0, top - 16);
    std::memset(w.shuffle, 0x80, sizeof w.shuffle);
    w.lanes = pair ? 2 : 1;
    bool ints = true, reals = true;
    for (int lane = 0; lane < w.lanes; ++lane) {
      const FieldPlan::Step& s = steps[k + static_cast<std::size_t>(lane)];
      w.step[lane] = static_cast<std::int32_t>(k) + lane;
      w.p[lane] = s.p;
      ints = ints && s.kind == Target::Int;
      reals = reals && s.kind == Target::Real32;
      if (s.kind == Target::Real32) w.scale[lane] = kInverse10[s.digits];
      const int point = s.kind == Target::Int ? -1 : s.column + s.width - 1 - s.digits;
      int byte = 8 * lane + 7;  // the lane's last byte takes the field's last digit
      for (int c = s.column + s.width - 1; c >= s.column; --c)
        if (c != point) w.shuffle[byte--] = static_cast<std::uint8_t>(c - w.offset);
    }
    w.form = ints ? Fast::Window::Ints : reals ? Fast::Window::Reals : Fast::Window::Each;
    f->windows.push_back(w);
    k += pair ? 2 : 1;
  }
  return f;
}

}  // namespace

FieldPlan::FieldPlan(const Format& fmt, std::span<const Target> targets) {
  if (targets.empty()) return;
  Planner planner(targets, steps_, record_ends_);
  try {
    drive(fmt, targets.size(), planner);
  } catch (const FormatError&) {
    planner.ok = false;  // the general walk reports it
  }
  if (planner.ok && steps_.size() == targets.size()) {
    record_ends_.push_back(static_cast<std::uint32_t>(steps_.size()));
    if (one_record()) fast_ = whole_record(steps_);
  } else {
    steps_.clear();
    record_ends_.clear();
  }
}

ReadStatus FieldPlan::read(RecordSource& source, ReadError* err, int* records_used) const {
  const Step* s = steps_.data();
  int records = 0;
  ReadStatus status = ReadStatus::Ok;
  for (const std::uint32_t end : record_ends_) {
    std::string_view rec;
    if (!source.next(rec)) {
      status = ReadStatus::End;
      break;
    }
    ++records;
    const std::size_t len = rec.size();
    for (const Step* last = steps_.data() + end; s != last; ++s) {
      if (plain_step(*s, rec.data(), len)) continue;
      // The field's columns within the record; those beyond its end are blanks, which
      // (without BZ) count for nothing.
      const std::size_t col = static_cast<std::size_t>(s->column);
      const std::size_t avail = col >= len ? 0 : std::min(len - col, static_cast<std::size_t>(s->width));
      const std::string_view text(rec.data() + (avail ? col : 0), avail);
      const detail::Field field{text, s->width - static_cast<int>(avail), false};
      // The general conversion, as the walk's Reader takes it for a field that its
      // fast conversion leaves.
      detail::FieldStatus st;
      if (s->kind == Target::Int)
        st = detail::read_int(field, *static_cast<std::int32_t*>(s->p));
      else if (s->kind == Target::Real32)
        st = detail::read_real(field, s->digits, 0, *static_cast<float*>(s->p));
      else
        st = detail::read_real(field, s->digits, 0, *static_cast<double*>(s->p));
      if (st != detail::FieldStatus::Ok) {
        if (records_used) *records_used = records;
        return field_error(err, records, s->column, s->width, text, s->kind == Target::Int, st);
      }
    }
  }
  if (records_used) *records_used = records;
  return status;
}

bool FieldPlan::decode(const char* record, std::size_t length, std::size_t readable,
                       std::ptrdiff_t shift) const {
  if (!one_record()) return false;
#if KRB_SIMD
  if (fast_ && length >= fast_->min_length && has_ssse3()) {
    constexpr auto kChunks = std::make_integer_sequence<int, Fast::kMaxChunks>{};
    if (readable >= fast_->loaded())
      return decode_whole_of(fast_->chunks, *fast_, steps_.data(), record, length, shift, kChunks);
    // Near the end of a buffer: the record's fields in a copy that may be loaded whole.
    char copy[Fast::kMaxChunks * 16];
    std::memset(copy, ' ', sizeof copy);
    std::memcpy(copy, record, std::min(length, sizeof copy));
    return decode_whole_of(fast_->chunks, *fast_, steps_.data(), copy, length, shift, kChunks);
  }
#endif
  for (const Step& s : steps_)
    if (!plain_step(s, record, length, shift)) return false;
  return true;
}

bool FieldPlan::decodes_plain() const {
#if KRB_SIMD
  return one_record() && fast_ && has_ssse3();
#else
  return false;
#endif
}

void FieldPlan::decode_plain(const char* record, std::ptrdiff_t shift) const {
#if KRB_SIMD
  store_plain(*fast_, steps_.data(), record, shift);
#else
  (void)record;
  (void)shift;
#endif
}

std::size_t FieldPlan::decode_records(const char* text, std::size_t size, std::size_t readable,
                                      std::size_t rows, std::ptrdiff_t stride, std::uint32_t* ends,
                                      std::uint32_t* lengths) const {
  if (!one_record()) return 0;
  std::size_t n = 0, at = 0;
#if KRB_SIMD
  if (fast_ && has_ssse3())
    n = decode_many_of(fast_->chunks, *fast_, steps_.data(), text, size, readable, rows, stride, ends,
                       lengths, std::make_integer_sequence<int, Fast::kMaxChunks>{});
  if (n > 0) at = ends[n - 1];
#endif
  // Record by record where the records stand too near the text's end to be loaded whole.
  while (n < rows && at < size) {
    const char* rec = text + at;
    const void* nl = std::memchr(rec, '\n', size - at);
    if (nl == nullptr) break;
    const std::size_t pos = static_cast<std::size_t>(static_cast<const char*>(nl) - rec);
    std::size_t len = pos;
    if (len > 0 && rec[len - 1] == '\r') --len;
    if (len > static_cast<std::size_t>(kMaxRecordLength) ||
        !decode(rec, len, readable - at, static_cast<std::ptrdiff_t>(n) * stride))
      break;
    at += pos + 1;
    ends[n] = static_cast<std::uint32_t>(at);
    lengths[n] = static_cast<std::uint32_t>(len);
    ++n;
  }
  return n;
}

// ---------------------------------------------------------------- list-directed input

ReadStatus list_read_ints(RecordSource& source, std::span<std::int32_t*> values, ReadError* err,
                          int* records_used, int* values_read) {
  int records = 0;
  std::size_t k = 0;
  ReadStatus status = ReadStatus::Ok;
  std::string_view rec;
  while (k < values.size() || records == 0) {
    if (!source.next(rec)) {
      status = ReadStatus::End;
      break;
    }
    ++records;
    std::size_t i = 0;
    bool slash = false;
    while (i < rec.size() && k < values.size()) {
      char c = rec[i];
      if (c == ' ' || c == '\t' || c == ',') {
        ++i;
        continue;
      }
      if (c == '/') {
        slash = true;
        break;
      }
      std::size_t j = i;
      while (j < rec.size() && rec[j] != ' ' && rec[j] != '\t' && rec[j] != ',' && rec[j] != '/') ++j;
      std::string_view tok = rec.substr(i, j - i);
      detail::Field f;
      f.text = tok;
      std::int32_t v = 0;
      detail::FieldStatus st = detail::read_int(f, v);
      if (tok.find_first_of("0123456789") == std::string_view::npos) st = detail::FieldStatus::BadChar;
      if (st != detail::FieldStatus::Ok) {
        if (err) {
          err->record = records;
          err->column = static_cast<int>(i) + 1;
          err->width = static_cast<int>(tok.size());
          err->field.assign(tok.substr(0, 40));
          err->message = st == detail::FieldStatus::Range ? "integer out of range in list input"
                                                          : "invalid character in integer value";
        }
        if (records_used) *records_used = records;
        if (values_read) *values_read = static_cast<int>(k);
        return ReadStatus::Error;
      }
      *values[k++] = v;
      i = j;
    }
    if (slash) break;
  }
  if (records_used) *records_used = records;
  if (values_read) *values_read = static_cast<int>(k);
  return status;
}

}  // namespace rec
