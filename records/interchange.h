// The interchange file MERIDOX_IN.DAT, written by korbal and read by meridox.
//
// One problem is: a header record (NV, CROSS, NE, ITEST); NE coefficient groups
// (effect code, degrees of freedom, NE coefficients, last effect first); then per
// analysis a label record, a mean-square group (NE mean squares, MEAN first) and an
// error record. Groups carry eight reals per record; with a multiple of eight the
// format's "/" yields one further empty record, which the reader skips in step.
//
// Reals are written with G12.7 when zero or positive. A negative value does not fit
// G12.7 (it would become twelve asterisks), so it is written in the 12-column
// exponent form E12.6 ("-.500000E+00"), which the G12.7 reader reads back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/io.h"

namespace rec::interchange {

inline constexpr const char* kFileName = "MERIDOX_IN.DAT";

// One problem as korbal writes it.
struct Problem {
  int nv = 0, cross = 0;
  struct Group {  // coefficients of the expected mean square of one effect
    std::string code;
    int df = 0;
    std::vector<double> coef;  // last effect first
  };
  struct Analysis {
    std::string name_a16, name_b16;  // name_b16 empty for an analysis of variance
    int offset_a = 0, offset_b = 0;  // offsets of the two variables in X'Y
    std::vector<double> ms;          // mean squares of the effects, MEAN first
    int error_df = 0;
    double error_ms = 0.0;
  };
  std::vector<Group> groups;  // one per effect: NE is their number
  std::vector<Analysis> analyses;
};

// The writer of a problem: header, coefficient groups, then per analysis its label,
// mean-square group and error record. korbal writes the header as soon as the model
// is known (a run stopped by its data leaves the header), then the rest with
// `with_header` false.
void write_problem(Io& io, int unit, const Problem& p, bool with_header = true);

// The single records (write_problem is made of them).
void write_header(Io& io, int unit, int nv, int cross, int ne);
void write_coefficients(Io& io, int unit, std::string_view code, int df,
                        std::span<const double> coef);
void write_variance_label(Io& io, int unit, std::string_view name16);
void write_cross_label(Io& io, int unit, std::string_view name_a16, std::string_view name_b16);
void write_mean_squares(Io& io, int unit, int offset_a, int offset_b,
                        std::span<const double> ms);
void write_error(Io& io, int unit, int df, double ms);

// Reading (meridox). Each returns as the corresponding read statement: a RunError for
// an end of file or a conversion error; read_header returns false at the end of file.
// When the last record that a coefficient, mean-square or error read takes is the last
// of the file (only blank records follow), it must reach the end of the fields read from
// it, as korbal writes them (every field whole, blanks included): a shorter one is a
// RunError, the file having been cut there and given a line end again. The label record
// is read as 40 characters of which korbal writes 28 or 40.
struct Header {
  std::int32_t nv = 0, cross = 0, ne = 0, itest = 0;
};
bool read_header(Io& io, int unit, Header& h);
// Reads one coefficient group: code (4 characters), df and `coef.size()` coefficients.
void read_coefficients(Io& io, int unit, std::string& code, std::int32_t& df,
                       std::span<double> coef);
// Reads a label record as 40 characters.
void read_label(Io& io, int unit, std::string& label40);
// Reads one mean-square group of `ms.size()` values.
void read_mean_squares(Io& io, int unit, std::span<double> ms);
void read_error(Io& io, int unit, std::int32_t& df, double& ms);

}  // namespace rec::interchange
