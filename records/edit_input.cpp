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

// Converts the unsigned mantissa with its exponent in [first, last). `e` is the exponent
// written there, used to tell an overflow from an underflow.
template <class T>
FieldStatus convert(const char* first, const char* last, std::int64_t e, T& out) {
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
  out = v;
  return FieldStatus::Ok;
}


// The common field: an optional sign, digits and a point, blanks ignored (BN), no
// exponent. Returns false (leaving `out` alone) for anything else.
template <class T>
bool read_plain_real(const Field& fld, int d, int scale, T& out, FieldStatus& status) {
  if (fld.blank_zero || fld.text.size() > 64) return false;
  char buf[96];
  std::size_t n = 0;
  const char* end = fld.text.data() + fld.text.size();
  bool negative;
  const char* p = skip_blanks_and_sign(fld.text.data(), end, negative);
  bool point = false, digit = false;
  for (; p != end; ++p) {
    const char c = *p;
    if (static_cast<unsigned char>(c) - static_cast<unsigned>('0') <= 9u) {
      buf[n++] = c;
      digit = true;
    } else if (c == '.' && !point) {
      buf[n++] = c;
      point = true;
    } else if (c != ' ') {
      return false;
    }
  }
  if (!digit) {
    out = T(0);
    status = FieldStatus::Ok;
    return true;
  }
  std::int64_t e = -static_cast<std::int64_t>(scale);
  if (!point) e -= d;
  if (e != 0) {
    buf[n++] = 'e';
    n = static_cast<std::size_t>(std::to_chars(buf + n, buf + sizeof buf, e).ptr - buf);
  }
  status = convert(buf, buf + n, e, out);
  if (status == FieldStatus::Ok && negative) out = -out;
  return true;
}

template <class T>
FieldStatus read_real_impl(const Field& fld, int d, int scale, T& out) {
  FieldStatus fast;
  if (read_plain_real(fld, d, scale, out, fast)) return fast;
  // Mantissa characters (digits and point) go to a buffer on the stack, or to a
  // string for the rare field too long for it, followed by the exponent.
  char small[96];
  std::string big;
  char* buf = small;
  const std::size_t cap = fld.text.size() + static_cast<std::size_t>(fld.pad) + 24;
  if (cap > sizeof small) {
    big.resize(cap);
    buf = big.data();
  }
  std::size_t n = 0;
  enum { Mantissa, ExpStart, Exp } state = Mantissa;
  bool negative = false, sign_seen = false, point = false, digit = false;
  bool has_exp = false, exp_digit = false, exp_negative = false;
  std::int64_t exp = 0;
  bool ok = for_each_char(fld, [&](char c) {
    switch (state) {
      case Mantissa:
        if (c >= '0' && c <= '9') {
          buf[n++] = c;
          digit = true;
          return true;
        }
        if (c == '.') {
          if (point) return false;
          point = true;
          buf[n++] = c;
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
  if (e != 0) {
    buf[n++] = 'e';
    auto r = std::to_chars(buf + n, buf + cap, e);
    n = static_cast<std::size_t>(r.ptr - buf);
  }
  FieldStatus st = convert(buf, buf + n, e, out);
  if (st == FieldStatus::Ok && negative) out = -out;
  return st;
}


}  // namespace

FieldStatus read_int(const Field& fld, std::int32_t& out) {
  const char* end = fld.text.data() + fld.text.size();
  if (fld.text.find_first_not_of(' ') == std::string_view::npos) {
    // All blank (padding blanks after no character are ignored too).
    out = 0;
    return FieldStatus::Ok;
  }
  bool negative = false;
  const char* p = skip_blanks_and_sign(fld.text.data(), end, negative);
  std::int64_t acc = 0;
  bool range = false;
  for (; p != end; ++p) {
    unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
    if (digit > 9) {
      if (*p != ' ') return FieldStatus::BadChar;
      if (!fld.blank_zero) continue;
      digit = 0;
    }
    acc = acc * 10 + digit;
    if (acc > kIntLimit) {
      range = true;
      acc = kIntLimit + 1;
    }
  }
  if (fld.blank_zero)
    for (int i = 0; i < fld.pad && !range; ++i) {
      acc *= 10;
      if (acc > kIntLimit) range = true;
    }
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
