// Input conversion of single numeric fields (Iw, and Fw.d for F, E, D and G).
//
// Blanks before the first character that is not blank are ignored; later blanks are
// ignored under BN and read as zeros under BZ. An all-blank field is zero. Reals are
// gathered into a small buffer in the syntax of std::from_chars and converted there,
// which gives the correctly rounded value of the target's type.
#include <charconv>
#include <cstdint>
#include <string>
#include <system_error>

#include "records/editing.h"

namespace rec::detail {

namespace {

// Calls f(c) for every character of the field, the padding columns included, with
// blanks already resolved: ignored ones are skipped, BZ ones handed on as '0'.
template <class F>
bool for_each_char(const Field& fld, F&& f) {
  bool started = false;
  for (char c : fld.text) {
    if (c == ' ') {
      if (!started || !fld.blank_zero) continue;
      c = '0';
    }
    started = true;
    if (!f(c)) return false;
  }
  if (started && fld.blank_zero)
    for (int i = 0; i < fld.pad; ++i)
      if (!f('0')) return false;
  return true;
}

constexpr std::int64_t kIntLimit = 2147483648LL;  // magnitude of the most negative int32

// Exponent digits beyond this carry no information for a 64-bit real.
constexpr std::int64_t kExpLimit = 100000;

template <class T>
FieldStatus read_real_impl(const Field& fld, int d, int scale, T& out) {
  // Mantissa characters (sign, digits, point) go to the buffer; long fields (rare)
  // go to a string instead.
  char small[128];
  std::string big;
  const bool use_big = fld.text.size() + static_cast<std::size_t>(fld.pad) + 24 > sizeof small;
  std::size_t n = 0;
  auto put = [&](char c) {
    if (use_big)
      big.push_back(c);
    else
      small[n++] = c;
  };
  enum { Mantissa, ExpStart, Exp } state = Mantissa;
  bool negative = false, sign_seen = false, point = false, digit = false;
  bool has_exp = false, exp_digit = false, exp_negative = false;
  std::int64_t exp = 0;
  bool ok = for_each_char(fld, [&](char c) {
    switch (state) {
      case Mantissa:
        if (c >= '0' && c <= '9') {
          put(c);
          digit = true;
          return true;
        }
        if (c == '.') {
          if (point) return false;
          point = true;
          put(c);
          return true;
        }
        if (c == '+' || c == '-') {
          if (!digit && !point && !sign_seen) {
            sign_seen = true;
            negative = c == '-';
            return true;
          }
          if (!digit) return false;
          has_exp = true;  // a signed exponent without its letter: "1.5-3"
          exp_negative = c == '-';
          state = Exp;
          return true;
        }
        if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
          if (!digit) return false;
          has_exp = true;
          state = ExpStart;
          return true;
        }
        return false;
      case ExpStart:
        if (c == '+' || c == '-') {
          exp_negative = c == '-';
          state = Exp;
          return true;
        }
        state = Exp;
        [[fallthrough]];
      case Exp:
        if (c < '0' || c > '9') return false;
        exp_digit = true;
        if (exp < kExpLimit) exp = exp * 10 + (c - '0');
        return true;
    }
    return false;
  });
  if (!ok) return FieldStatus::BadChar;
  if (has_exp && !exp_digit) return FieldStatus::BadChar;
  if (!digit) {
    if (has_exp) return FieldStatus::BadChar;
    out = T(0);
    return FieldStatus::Ok;
  }
  std::int64_t e = exp_negative ? -exp : exp;
  if (!point) e -= d;
  if (!has_exp) e -= scale;
  char tail[24];
  auto [tend, tec] = std::to_chars(tail, tail + sizeof tail, e);
  (void)tec;
  put('e');
  for (char* p = tail; p != tend; ++p) put(*p);
  const char* first = use_big ? big.data() : small;
  const char* last = first + (use_big ? big.size() : n);
  T v{};
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec == std::errc::result_out_of_range) {
    // Overflow or underflow: tell them apart by the position of the first significant
    // digit relative to the point.
    std::int64_t lead = 0;  // decimal exponent of the first significant digit
    bool seen_point = false, seen_sig = false;
    std::int64_t int_digits = 0, zeros_after_point = 0;
    for (const char* p = first; p != last && *p != 'e'; ++p) {
      if (*p == '.') {
        seen_point = true;
      } else if (*p >= '0' && *p <= '9') {
        if (*p != '0') seen_sig = true;
        if (!seen_point) {
          if (seen_sig) ++int_digits;
        } else if (!seen_sig) {
          ++zeros_after_point;
        }
      }
    }
    lead = (int_digits > 0 ? int_digits : -zeros_after_point) + e;
    if (lead > 0) return FieldStatus::Range;
    out = T(0);
    return FieldStatus::Ok;
  }
  if (ec != std::errc() || ptr != last) return FieldStatus::BadChar;
  out = negative ? -v : v;
  return FieldStatus::Ok;
}

}  // namespace

FieldStatus read_int(const Field& fld, std::int32_t& out) {
  std::int64_t acc = 0;
  bool negative = false, sign_seen = false, digit = false, range = false;
  bool ok = for_each_char(fld, [&](char c) {
    if (c >= '0' && c <= '9') {
      digit = true;
      if (!range) {
        acc = acc * 10 + (c - '0');
        if (acc > kIntLimit) range = true;
      }
      return true;
    }
    if ((c == '+' || c == '-') && !digit && !sign_seen) {
      sign_seen = true;
      negative = c == '-';
      return true;
    }
    return false;
  });
  if (!ok) return FieldStatus::BadChar;
  if (range || (!negative && acc == kIntLimit)) return FieldStatus::Range;
  out = static_cast<std::int32_t>(negative ? -acc : acc);
  return FieldStatus::Ok;
}

FieldStatus read_real(const Field& f, int d, int scale, double& out) {
  return read_real_impl(f, d, scale, out);
}

FieldStatus read_real(const Field& f, int d, int scale, float& out) {
  return read_real_impl(f, d, scale, out);
}

}  // namespace rec::detail
