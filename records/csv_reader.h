// Reading CSV text: the separator, the byte order mark, records of fields (RFC 4180:
// quoted fields may hold separators, quotes and line ends), and fields as numbers.
//
// A Reader hands out one record at a time as views into the text (or into one reused
// buffer for fields that are not a run of the text), so that a pass over millions of
// records allocates nothing per record. The common record, one line without quotes, is
// split by a table of byte kinds; records with quotes take the general path.
#pragma once

#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "records/editing.h"

namespace rec::csv {

// Length of the UTF-8 byte order mark at the start of `text` (3), or 0.
inline std::size_t bom_length(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// The separator of a text whose first row is its header: a comma, or a semicolon or tab
// when the header row holds no comma (outside quotes); a comma when it holds none.
char find_separator(std::string_view text);

// A record the reader cannot split: what() names the fault ("a quoted field is not
// closed", "text after the closing quote of a field"); `line` is the line of the text
// where the record begins.
class Malformed : public std::runtime_error {
 public:
  Malformed(const char* what, std::int64_t line) : std::runtime_error(what), line(line) {}
  std::int64_t line;
};

// How fields are taken from the text.
enum class Dialect {
  // Blanks (space, tab unless it is the separator, CR) around a field and around its
  // quotes are dropped; a line of blanks is skipped; text after a closing quote is a
  // fault; lines end at LF (a CR before it is a trailing blank).
  Trimmed,
  // Fields are taken byte for byte; a line without any byte is a record of no fields;
  // a quote opens a quoted part only at the start of a field, and text after its
  // closing quote belongs to the field; lines end at CR LF, LF or CR.
  Exact,
};

class Reader {
 public:
  Reader(std::string_view text, char sep, Dialect dialect = Dialect::Trimmed)
      : text_(text), sep_(sep), exact_(dialect == Dialect::Exact) {
    kind_[static_cast<unsigned char>(sep)] = kSep;
    kind_[static_cast<unsigned char>('\n')] = kEnd;
    if (exact_) kind_[static_cast<unsigned char>('\r')] = kEnd;
    kind_[static_cast<unsigned char>('"')] = kQuote;
  }

  // Reading continues at offset `pos`, which is on line `line` of the text.
  void start(std::size_t pos, std::int64_t line) {
    pos_ = pos;
    line_ = line;
  }
  // Reading goes on in `text` (the next block of the same file) at offset `pos`, which
  // is on line `line`.
  void reset(std::string_view text, std::size_t pos, std::int64_t line) {
    text_ = text;
    start(pos, line);
  }
  std::size_t position() const { return pos_; }
  std::int64_t next_line() const { return line_; }
  std::string_view text() const { return text_; }
  // The caller took the record at position() itself: one line, whose line end is
  // followed by offset `end`.
  void took_line(std::size_t end) {
    record_line_ = line_;
    pos_ = end;
    ++line_;
  }
  // The caller took `n` records of one line each, the last followed by offset `end`.
  void took_lines(std::size_t end, std::int64_t n) {
    record_line_ = line_ + n - 1;
    pos_ = end;
    line_ += n;
  }
  // Line of the text where the record last read begins.
  std::int64_t line() const { return record_line_; }

  // The fields of the next record, without their quotes; false at the end of the text.
  // The views live until the next call. Throws Malformed on a record it cannot split.
  bool next(std::vector<std::string_view>& fields) {
    return exact_ ? scan<true>(fields) : scan<false>(fields);
  }

 private:
  // next() for one dialect, so that the dialect costs nothing per field.
  template <bool kExact>
  bool scan(std::vector<std::string_view>& fields) {
    const char* t = text_.data();
    const std::size_t n = text_.size();
    if constexpr (kExact) {
      if (pos_ >= n) return false;
    } else {
      for (;;) {  // blank lines
        std::size_t p = pos_;
        while (p < n && (t[p] == ' ' || t[p] == '\r' || (t[p] == '\t' && sep_ != '\t'))) ++p;
        if (p == n) {
          pos_ = n;
          return false;
        }
        if (t[p] != '\n') break;
        pos_ = p + 1;
        ++line_;
      }
    }
    record_line_ = line_;
    // The common record: one line without quotes, split at the separators.
    fields.clear();
    std::size_t b = pos_, q = pos_;
    for (;; ++q) {
      q = skip_plain<kExact>(t, q, n);
      const unsigned char kind =
          q < n ? kind_[static_cast<unsigned char>(t[q])] : static_cast<unsigned char>(kEnd);
      if (kind == kPlain) continue;
      if (kind == kQuote) return next_quoted(fields);
      std::string_view f(t + b, q - b);
      if (!kExact && !f.empty() && (is_blank(f.front()) || is_blank(f.back()))) f = trim(f);
      fields.push_back(f);
      if (kind == kEnd) break;
      b = q + 1;
    }
    if (kExact && q == pos_) fields.clear();  // an empty line: a record of no fields
    if (q < n) {
      if (kExact && t[q] == '\r' && q + 1 < n && t[q + 1] == '\n') ++q;
      pos_ = q + 1;
      ++line_;
    } else {
      pos_ = n;
    }
    return true;
  }

  // The first byte at or after `q` that is not plain (a separator, a line end or a
  // quote), eight bytes at a time while eight remain; `q` itself when fewer remain.
  template <bool kExact>
  std::size_t skip_plain(const char* t, std::size_t q, std::size_t n) const {
    if constexpr (std::endian::native == std::endian::little) {
      constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
      auto equal = [](std::uint64_t x, std::uint64_t c) {
        const std::uint64_t y = x ^ c;
        return ~(((y & ~kHigh) + ~kHigh) | y | ~kHigh);
      };
      const std::uint64_t sep = kOnes * static_cast<unsigned char>(sep_);
      while (q + 8 <= n) {
        std::uint64_t x;
        std::memcpy(&x, t + q, 8);
        std::uint64_t hit = equal(x, sep) | equal(x, kOnes * '\n') | equal(x, kOnes * '"');
        if constexpr (kExact) hit |= equal(x, kOnes * '\r');
        if (hit) return q + static_cast<std::size_t>(std::countr_zero(hit) / 8);
        q += 8;
      }
    }
    return q;
  }

  static bool is_blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; }
  static std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
  }
  // The record at pos_, which holds a quote.
  bool next_quoted(std::vector<std::string_view>& fields);
  bool next_quoted_exact(std::vector<std::string_view>& fields);
  [[noreturn]] void fail(const char* what) const { throw Malformed(what, record_line_); }

  struct Piece {
    std::size_t b, e;
    bool in_scratch;
  };
  // What each byte is to the splitting of a record without quotes.
  enum : unsigned char { kPlain, kSep, kEnd, kQuote };
  std::array<unsigned char, 256> kind_{};

  std::string_view text_;
  char sep_;
  bool exact_;
  std::size_t pos_ = 0;
  std::int64_t line_ = 1, record_line_ = 1;
  std::vector<Piece> pieces_;
  std::string scratch_;
};

// A field as a whole number that fits 32 bits: an optional sign and at most ten digits.
inline bool whole_number(std::string_view v, std::int32_t& out) {
  std::size_t k = 0;
  const bool negative = !v.empty() && v[0] == '-';
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) k = 1;
  if (k == v.size() || v.size() - k > 10) return false;
  std::int64_t acc = 0;
  for (; k < v.size(); ++k) {
    const unsigned digit = static_cast<unsigned char>(v[k]) - static_cast<unsigned>('0');
    if (digit > 9u) return false;
    acc = acc * 10 + digit;
  }
  if (negative) acc = -acc;
  if (acc < std::numeric_limits<std::int32_t>::min() ||
      acc > std::numeric_limits<std::int32_t>::max())
    return false;
  out = static_cast<std::int32_t>(acc);
  return true;
}

// A field as a number as people write it: an optional sign, digits with at most one
// point, and an optional exponent (e or E, optional sign, digits). Converted into single
// precision, correctly rounded, by the same routine as a real field of a formatted
// record.
enum class NumberStatus { Ok, Invalid, Range };
NumberStatus read_number_general(std::string_view v, float& out);  // read_number's slow path

// A field of the same syntax as read_number as the nearest double. A number whose
// magnitude is beyond the doubles, or so small that it would read as zero, is Range;
// a subnormal number is a number.
NumberStatus read_double(std::string_view v, double& out);

inline NumberStatus read_number(std::string_view v, float& out) {
  // The common number: digits with an optional sign and point, whose digits make an
  // integer a float holds exactly, divided by an exact power of ten: one correctly
  // rounded operation, as in the fixed-column path.
  std::size_t k = 0;
  const bool negative = !v.empty() && v[0] == '-';
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) k = 1;
  std::uint32_t m = 0;
  int digits = 0, frac = 0;
  bool point = false;
  for (; k < v.size() && digits < 8; ++k) {
    const unsigned d = static_cast<unsigned char>(v[k]) - static_cast<unsigned>('0');
    if (d <= 9u) {
      m = m * 10 + d;
      ++digits;
      frac += point;
    } else if (v[k] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (k == v.size() && digits > 0 && m <= (1u << 24) && frac <= 10) {
    const float x = static_cast<float>(m) / rec::detail::kExactPow10f[frac];
    out = negative ? -x : x;
    return NumberStatus::Ok;
  }
  return read_number_general(v, out);
}

// Fields scanned in place, for a caller that splits lines itself: each reads the field
// beginning at `p` up to the first byte that cannot belong to its form, and returns
// where it stopped (nullptr: not of the form), leaving the caller to check that the
// field ends there. What they take they read as whole_number and read_number do; any
// other field is left to those. The text must hold a byte after the field that stops
// them (a line end).
//
namespace detail {

// Of eight bytes read from memory (the first in the low byte): a mark (0x80) in each
// byte that is not a digit, and the value of the first `n` (1 to 8) as decimal digits.
inline std::uint64_t non_digits(std::uint64_t x) {
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull, kZeros = 0x3030303030303030ull;
  // A digit is 0x30 to 0x39: its high half is 3, and still is after adding 6. A carry
  // out of a byte that is not a digit disturbs only the bytes after it.
  const std::uint64_t y = ((x & kHigh) ^ kZeros) | (((x + 0x0606060606060606ull) & kHigh) ^ kZeros);
  return (y | (y << 1) | (y << 2) | (y << 3)) & 0x8080808080808080ull;
}
// A mark in each byte of eight that equals `c`.
inline std::uint64_t bytes_equal(std::uint64_t x, char c) {
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  const std::uint64_t y = x ^ (0x0101010101010101ull * static_cast<unsigned char>(c));
  return ~(((y & ~kHigh) + ~kHigh) | y | ~kHigh);
}
// All bits of the first `n` (0 to 8) bytes.
inline std::uint64_t low_bytes(int n) { return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1; }
inline std::uint32_t digits_value(std::uint64_t x, int n) {
  std::uint64_t v = (x & 0x0F0F0F0F0F0F0F0Full) << (8 * (8 - n));  // leading zeros first
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
  return static_cast<std::uint32_t>(v);
}

}  // namespace detail

// A whole number of one to nine digits.
inline const char* plain_whole(const char* p, std::int32_t& out) {
  unsigned v = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
  if (v > 9u) return nullptr;
  ++p;
  for (int k = 1; k < 9; ++k, ++p) {
    const unsigned d = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
    if (d > 9u) break;
    v = v * 10 + d;
  }
  out = static_cast<std::int32_t>(v);
  return p;
}

// read_number's common number: an optional sign, one to eight digits with at most one
// point, making an integer a float holds exactly.
inline const char* plain_number(const char* p, float& out) {
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint32_t m = 0;
  int digits = 0, frac = 0;
  bool point = false;
  for (; digits < 8; ++p) {
    const unsigned d = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
    if (d <= 9u) {
      m = m * 10 + d;
      ++digits;
      frac += point;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0 || m > (1u << 24)) return nullptr;
  const float x = static_cast<float>(m) / rec::detail::kExactPow10f[frac];
  out = negative ? -x : x;
  return p;
}

// plain_whole and plain_number for the field of `len` bytes at `f`, which read eight
// bytes at once: the text must hold nine bytes from `f` on.
[[gnu::always_inline]] inline bool plain_whole_field(const char* f, std::size_t len,
                                                     std::int32_t& out) {
  if (len - 1 < 2) {  // levels have one or two digits mostly
    const unsigned d0 = static_cast<unsigned char>(f[0]) - static_cast<unsigned>('0');
    const unsigned d1 = static_cast<unsigned char>(f[1]) - static_cast<unsigned>('0');
    const bool two = len == 2;
    if (d0 > 9u || (two && d1 > 9u)) return false;
    out = static_cast<std::int32_t>(two ? d0 * 10 + d1 : d0);
    return true;
  }
  if (len - 1 >= 8) return false;  // none, or nine digits and more
  std::uint64_t x;
  std::memcpy(&x, f, 8);
  const int n = static_cast<int>(len);
  if ((detail::non_digits(x) & detail::low_bytes(n)) != 0) return false;
  out = static_cast<std::int32_t>(detail::digits_value(x, n));
  return true;
}
[[gnu::always_inline]] inline bool plain_number_field(const char* f, std::size_t len, float& out) {
  const char* p = f;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const std::size_t rest = len - static_cast<std::size_t>(p - f);
  if (rest - 1 >= 8) return rest != 0 && plain_number(f, out) == f + len;  // none, or long
  std::uint64_t x;
  std::memcpy(&x, p, 8);
  int n = static_cast<int>(rest), frac = 0;
  const std::uint64_t nd = detail::non_digits(x) & detail::low_bytes(n);
  if (nd != 0) {
    // One point, the digits after it moved down over it.
    const int at = std::countr_zero(nd) / 8;
    if (p[at] != '.' || (nd & (nd - 1)) != 0 || n == 1) return false;
    frac = n - at - 1;
    const std::uint64_t low = detail::low_bytes(at);
    x = (x & low) | ((x >> 8) & ~low);
    --n;
  }
  const std::uint32_t m = detail::digits_value(x, n);
  if (m > (1u << 24)) return false;
  const float v = static_cast<float>(m) / rec::detail::kExactPow10f[frac];
  out = negative ? -v : v;
  return true;
}

}  // namespace rec::csv
