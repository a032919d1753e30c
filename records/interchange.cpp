// Writing and reading the records of the interchange file.
//
// The writer lays out every real in a 12-column field: G12.7 for zero and positive
// values, E12.6 for negative ones (G12.7 has no room for the sign). The fields are
// edited first and placed with A12 descriptors in formats that have exactly the layout
// of the G12.7 formats, so the records (the empty record after a group of exactly eight
// values and the continuation records included) are those of the G12.7 formats.
#include "records/interchange.h"

#include <cmath>
#include <string>
#include <vector>

namespace rec::interchange {

namespace {

std::string real_field(double v) { return v < 0.0 ? edit_exp(v, 12, 6) : edit_general(v, 12, 7); }

// A name cut or blank-padded to n characters.
std::string fit(std::string_view s, std::size_t n) {
  std::string r(s.substr(0, std::min(n, s.size())));
  r.resize(n, ' ');
  return r;
}

void write_group(Io& io, int unit, const Format& fmt, std::vector<Item>& items,
                 std::span<const double> values) {
  std::vector<std::string> fields;
  fields.reserve(values.size());
  for (double v : values) fields.push_back(real_field(v));
  for (const std::string& f : fields) items.emplace_back(std::string_view(f));
  io.write(unit, fmt, std::span<const Item>(items));
}

// The columns that the last record of a group of n reals takes: ten before the reals
// (code and degrees of freedom, or the two offsets, or blanks), then twelve per real,
// eight reals to a record; none for the empty record after a multiple of eight.
std::size_t last_group_record(std::size_t n) { return n % 8 == 0 ? 0 : 10 + 12 * (n % 8); }

}  // namespace

void write_header(Io& io, int unit, int nv, int cross, int ne) {
  static const Format fmt = Format::compile("(3I4,'   1')");
  io.write(unit, fmt, {nv, cross, ne});
}

// Layout of "(A4,I4,2X,8G12.7,/,(10X,8G12.7))".
void write_coefficients(Io& io, int unit, std::string_view code, int df, std::span<const double> coef) {
  static const Format fmt = Format::compile("(A4,I4,2X,8A12,/,(10X,8A12))");
  std::string c = fit(code, 4);
  std::vector<Item> items{Item(std::string_view(c)), Item(df)};
  write_group(io, unit, fmt, items, coef);
}

void write_variance_label(Io& io, int unit, std::string_view name16) {
  static const Format fmt = Format::compile("(12X,2A8)");
  std::string n = fit(name16, 16);
  io.write(unit, fmt, {std::string_view(n).substr(0, 8), std::string_view(n).substr(8, 8)});
}

void write_cross_label(Io& io, int unit, std::string_view name_a16, std::string_view name_b16) {
  static const Format fmt = Format::compile("(2A8,' - BY - ',2A8)");
  std::string a = fit(name_a16, 16), b = fit(name_b16, 16);
  std::string_view av(a), bv(b);
  io.write(unit, fmt, {av.substr(0, 8), av.substr(8, 8), bv.substr(0, 8), bv.substr(8, 8)});
}

// Layout of "(2I4,2X,8G12.7,/,(10X,8G12.7))".
void write_mean_squares(Io& io, int unit, int offset_a, int offset_b, std::span<const double> ms) {
  static const Format fmt = Format::compile("(2I4,2X,8A12,/,(10X,8A12))");
  std::vector<Item> items{Item(offset_a), Item(offset_b)};
  write_group(io, unit, fmt, items, ms);
}

// Layout of "(I8,2X,G12.7)".
void write_error(Io& io, int unit, int df, double ms) {
  static const Format fmt = Format::compile("(I8,2X,A12)");
  std::string f = real_field(ms);
  io.write(unit, fmt, {df, std::string_view(f)});
}

void write_problem(Io& io, int unit, const Problem& p, bool with_header) {
  if (with_header) write_header(io, unit, p.nv, p.cross, static_cast<int>(p.groups.size()));
  for (const Problem::Group& g : p.groups) write_coefficients(io, unit, g.code, g.df, g.coef);
  for (const Problem::Analysis& a : p.analyses) {
    if (a.name_b16.empty())
      write_variance_label(io, unit, a.name_a16);
    else
      write_cross_label(io, unit, a.name_a16, a.name_b16);
    write_mean_squares(io, unit, a.offset_a, a.offset_b, a.ms);
    write_error(io, unit, a.error_df, a.error_ms);
  }
}

bool read_header(Io& io, int unit, Header& h) {
  std::int32_t* v[4] = {&h.nv, &h.cross, &h.ne, &h.itest};
  return io.read_list(unit, std::span<std::int32_t*>(v), true);
}

void read_coefficients(Io& io, int unit, std::string& code, std::int32_t& df, std::span<double> coef) {
  static const Format fmt = Format::compile("(A4,I4,2X,8G12.7/(10X,8G12.7))");
  std::vector<Target> t;
  t.reserve(coef.size() + 2);
  t.push_back(Target::of(code, 4));
  t.push_back(Target::of(df));
  for (double& c : coef) t.push_back(Target::of(c));
  io.read(unit, fmt, std::span<const Target>(t), false);
  io.require_record_length(unit, last_group_record(coef.size()));
}

void read_label(Io& io, int unit, std::string& label40) {
  static const Format fmt = Format::compile("(5A8)");
  std::string w[5];
  io.read(unit, fmt,
          {Target::of(w[0], 8), Target::of(w[1], 8), Target::of(w[2], 8), Target::of(w[3], 8),
           Target::of(w[4], 8)},
          false);
  label40 = w[0] + w[1] + w[2] + w[3] + w[4];
}

void read_mean_squares(Io& io, int unit, std::span<double> ms) {
  static const Format fmt = Format::compile("(10X,8G12.7/(10X,8G12.7))");
  std::vector<Target> t;
  t.reserve(ms.size());
  for (double& m : ms) t.push_back(Target::of(m));
  io.read(unit, fmt, std::span<const Target>(t), false);
  io.require_record_length(unit, last_group_record(ms.size()));
}

void read_error(Io& io, int unit, std::int32_t& df, double& ms) {
  static const Format fmt = Format::compile("(I8,2X,G12.7)");
  io.read(unit, fmt, {Target::of(df), Target::of(ms)}, false);
  io.require_record_length(unit, 22);
}

}  // namespace rec::interchange
