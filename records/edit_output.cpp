// Output editing of single fields: Iw.m, Fw.d, Ew.d and Gw.d.
//
// Reals are converted through their exact decimal expansion (every binary double has
// a finite one), then rounded half away from zero to the digits the field shows, so
// that the result is the correctly rounded decimal of the stored value.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "records/editing.h"
#include "records/format.h"

namespace rec {
namespace {

// value = 0.digits x 10**exp10, digits without leading or trailing zeros ("" for zero).
struct Decimal {
  std::string digits;
  int exp10 = 0;
};

Decimal exact_decimal(double ax) {
  Decimal d;
  if (ax == 0.0) return d;
  int ex = 0;
  double f = std::frexp(ax, &ex);
  auto m = static_cast<std::uint64_t>(std::ldexp(f, 53));
  int e = ex - 53;
  while (m != 0 && (m & 1u) == 0) {
    m >>= 1;
    ++e;
  }
  const int frac = e < 0 ? -e : 0;  // the expansion ends after this many decimals
  char buf[1500];
  int n = std::snprintf(buf, sizeof buf, "%.*f", frac, ax);
  if (n <= 0 || n >= static_cast<int>(sizeof buf)) return d;  // cannot happen for finite doubles
  int int_digits = 0;
  bool in_frac = false;
  for (int i = 0; i < n; ++i) {
    char c = buf[i];
    if (c == '.') {
      in_frac = true;
      continue;
    }
    if (!in_frac) ++int_digits;
    d.digits.push_back(c);
  }
  std::size_t lead = 0;
  while (lead < d.digits.size() && d.digits[lead] == '0') ++lead;
  d.digits.erase(0, lead);
  d.exp10 = int_digits - static_cast<int>(lead);
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Keeps n significant digits, rounding half away from zero.
void round_to(Decimal& d, int n) {
  if (n < 0) {
    d.digits.clear();
    return;
  }
  if (static_cast<int>(d.digits.size()) <= n) return;
  bool up = d.digits[static_cast<std::size_t>(n)] >= '5';
  d.digits.resize(static_cast<std::size_t>(n));
  if (up) {
    int i = n - 1;
    while (i >= 0 && d.digits[static_cast<std::size_t>(i)] == '9') {
      d.digits[static_cast<std::size_t>(i)] = '0';
      --i;
    }
    if (i < 0) {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exp10;
    } else {
      ++d.digits[static_cast<std::size_t>(i)];
    }
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
}

char digit_at(const Decimal& d, int index) {
  return index >= 0 && index < static_cast<int>(d.digits.size())
             ? d.digits[static_cast<std::size_t>(index)]
             : '0';
}

// Fixed form of an already rounded value with `decimals` digits after the point.
// No zero before the point unless the field has no decimals ("0.").
std::string fixed_text(const Decimal& d, bool negative, int decimals) {
  std::string s;
  if (negative && !d.digits.empty()) s.push_back('-');
  for (int i = 0; i < d.exp10; ++i) s.push_back(digit_at(d, i));
  if (d.exp10 <= 0 && decimals == 0) s.push_back('0');
  s.push_back('.');
  for (int j = 0; j < decimals; ++j) s.push_back(digit_at(d, d.exp10 + j));
  return s;
}

std::string non_finite(double v, int w) {
  const char* t = std::isnan(v) ? "NaN" : (v < 0 ? "-Inf" : "Inf");
  return detail::justify(t, w);
}

std::string exp_text(double v, int w, int d) {
  if (d < 0) d = 0;
  Decimal x = exact_decimal(std::fabs(v));
  round_to(x, d);
  bool negative = std::signbit(v) && !x.digits.empty();
  int e = x.digits.empty() ? 0 : x.exp10;
  std::string s;
  if (negative) s.push_back('-');
  s.push_back('.');
  for (int j = 0; j < d; ++j) s.push_back(digit_at(x, j));
  int ae = e < 0 ? -e : e;
  if (ae > 999) return std::string(static_cast<std::size_t>(w > 0 ? w : 0), '*');
  char buf[8];
  if (ae <= 99)
    std::snprintf(buf, sizeof buf, "E%c%02d", e < 0 ? '-' : '+', ae);
  else
    std::snprintf(buf, sizeof buf, "%c%03d", e < 0 ? '-' : '+', ae);
  s += buf;
  return detail::justify(s, w);
}

}  // namespace

namespace detail {

std::string justify(std::string_view s, int w) {
  if (w < 0) w = 0;
  if (static_cast<int>(s.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
  std::string out(static_cast<std::size_t>(w) - s.size(), ' ');
  out.append(s);
  return out;
}

}  // namespace detail

std::string edit_count(std::int64_t v, int w) {
  std::string digits = std::to_string(v);
  if (digits.size() < static_cast<std::size_t>(w)) digits.insert(0, w - digits.size(), ' ');
  return digits;
}

std::string edit_int(std::int32_t v, int w, int m) {
  std::int64_t a = v < 0 ? -static_cast<std::int64_t>(v) : v;
  std::string digits;
  if (!(m == 0 && v == 0)) digits = std::to_string(a);
  if (m > 0 && static_cast<int>(digits.size()) < m)
    digits.insert(0, static_cast<std::size_t>(m) - digits.size(), '0');
  if (v < 0) digits.insert(digits.begin(), '-');
  return detail::justify(digits, w);
}

std::string edit_fixed(double v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  if (d < 0) d = 0;
  Decimal x = exact_decimal(std::fabs(v));
  round_to(x, x.exp10 + d);
  return detail::justify(fixed_text(x, std::signbit(v), d), w);
}

std::string edit_exp(double v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  return exp_text(v, w, d);
}

// Gw.d: zero and 0.1 <= |v| < 10**d in fixed form with d significant digits in w-4
// columns and 4 blanks; otherwise Ew.d. A value that rounding carries up to 10**d
// takes the exponent form, as its fixed form would need one digit more.
std::string edit_general(double v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  if (d < 0) d = 0;
  double av = std::fabs(v);
  if (av != 0.0 && av < 0.1) return exp_text(v, w, d);
  Decimal x = exact_decimal(av);
  int decimals = d;
  if (av != 0.0) {
    round_to(x, d);
    if (x.exp10 > d) return exp_text(v, w, d);
    decimals = d - x.exp10;
  }
  if (w < 4) return std::string(static_cast<std::size_t>(w > 0 ? w : 0), '*');
  std::string s = fixed_text(x, std::signbit(v), decimals);
  if (static_cast<int>(s.size()) > w - 4) return std::string(static_cast<std::size_t>(w), '*');
  return detail::justify(s, w - 4) + "    ";
}

}  // namespace rec
