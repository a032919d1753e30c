// Field conversions shared by the format interpreter (not part of the public interface).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rec::detail {

// Outcome of converting one input field.
enum class FieldStatus { Ok, BadChar, Range };

// A numeric input field: the `text` found in the record plus `pad` blank columns that
// lie beyond the end of a short record. `blank_zero` is the BZ mode.
struct Field {
  std::string_view text;
  int pad = 0;
  bool blank_zero = false;
};

FieldStatus read_int(const Field& f, std::int32_t& out);
// Fw.d input (also E, D, G): `d` implied decimals when the field has no point,
// `scale` the kP factor, applied only when the field has no exponent.
FieldStatus read_real(const Field& f, int d, int scale, double& out);
FieldStatus read_real(const Field& f, int d, int scale, float& out);

// The start of every numeric field, for the fast paths below and the general
// conversions alike: leading blanks skipped, then an optional sign. Returns the
// position after them.
inline const char* skip_blanks_and_sign(const char* p, const char* end, bool& negative) {
  while (p != end && *p == ' ') ++p;
  negative = false;
  if (p != end && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
  }
  return p;
}

// Fast paths for the common numeric fields, inlined into the read loop. Each returns
// false when the field needs the general conversion above (BZ, exponents, errors...).

// An integer field of blanks, an optional sign and digits (blanks ignored).
inline bool read_int_fast(std::string_view text, std::int32_t& out) {
  const char* end = text.data() + text.size();
  bool negative;
  const char* p = skip_blanks_and_sign(text.data(), end, negative);
  if (end - p > 9) return false;  // may not fit: the general routine checks the range
  std::int32_t acc = 0;
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
    if (digit <= 9u)
      acc = acc * 10 + static_cast<std::int32_t>(digit);
    else if (*p != ' ')
      return false;
  }
  out = negative ? -acc : acc;
  return true;
}

// Powers of ten that float and double hold exactly.
inline constexpr float kExactPow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
inline constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A real field of blanks, an optional sign, digits and a point, without exponent,
// whose digits make an integer m that the target type holds exactly and whose
// decimal exponent e is within the exactly held powers of ten. Then m / 10**-e (or
// m * 10**e) is one IEEE operation on exact operands and so the correctly rounded
// result. Other fields go to the general conversion.
template <class T>
inline bool read_real_fast(std::string_view text, int d, int scale, T& out) {
  constexpr std::uint64_t kMaxExact = sizeof(T) == 4 ? (1u << 24) : (1ull << 53);
  constexpr int kMaxPow = sizeof(T) == 4 ? 10 : 22;
  const char* end = text.data() + text.size();
  bool negative;
  const char* p = skip_blanks_and_sign(text.data(), end, negative);
  if (end - p > 19) return false;  // m could overflow 64 bits
  std::uint64_t m = 0;
  int frac = 0;
  bool point = false;
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
    if (digit <= 9u) {
      m = m * 10 + digit;
      frac += point;
    } else if (*p == '.' && !point) {
      point = true;
    } else if (*p != ' ') {
      return false;
    }
  }
  if (m > kMaxExact) return false;
  const int e = (point ? -frac : -d) - scale;
  if (e < -kMaxPow || e > kMaxPow) return false;
  T v = static_cast<T>(m);
  if constexpr (sizeof(T) == 4)
    v = e < 0 ? v / kExactPow10f[-e] : v * kExactPow10f[e];
  else
    v = e < 0 ? v / kExactPow10[-e] : v * kExactPow10[e];
  out = negative ? -v : v;
  return true;
}

// Right-justifies `s` in `w` columns, or w asterisks when it does not fit.
std::string justify(std::string_view s, int w);

}  // namespace rec::detail
