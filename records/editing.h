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

// Right-justifies `s` in `w` columns, or w asterisks when it does not fit.
std::string justify(std::string_view s, int w);

}  // namespace rec::detail
