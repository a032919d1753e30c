// EXPMSQ: coefficients of the expected mean squares of the sequential analysis.
//
// For every accepted column i of an effect, row i of the reduced triangle is walked
// from the last column back to the diagonal; the squares of its entries are summed
// into the position of the effect that owns each column, position 1 belonging to
// the last effect. The pivot itself stands for R(i, i) squared.
#include <cmath>

#include "korbal/analysis.h"
#include "korbal/model.h"
#include "records/format.h"
#include "records/interchange.h"

namespace korbal {

namespace {
inline std::int64_t at(std::int64_t i, std::int64_t j) { return packed(i, j) - 1; }
}  // namespace

std::vector<EmsRow> ems_coefficients(const double* XPX, const std::vector<std::string>& ENAME,
                                     int SDFL, double TOL) {
  const int ne = count_effects(ENAME, SDFL);
  std::vector<EmsRow> rows;
  rows.reserve(ne);
  int i = 1;
  while (i <= SDFL) {
    EmsRow r;
    r.code = ENAME[i - 1];
    r.coef.assign(ne, 0.0);
    int p = 1;
    // The columns of the effect: i .. last.
    int last = i;
    while (last < SDFL && ENAME[last] == r.code) ++last;
    for (int c = i; c <= last; ++c) {
      if (!(XPX[at(c, c)] > TOL)) continue;
      p = 1;
      const std::string* cur = &ENAME[SDFL - 1];
      for (int j = SDFL;; --j) {
        const double x = XPX[at(c, j)];
        if (std::fabs(x) > TOL) r.coef[p - 1] += (j == c) ? x : x * x;
        if (j == c) break;
        if (ENAME[j - 2] != *cur) {
          ++p;
          cur = &ENAME[j - 2];
        }
      }
      ++r.df;
    }
    if (r.df > 0)
      for (int q = 0; q < p; ++q) r.coef[q] /= r.df;
    rows.push_back(std::move(r));
    i = last + 1;
  }
  return rows;
}

void EXPMSQ(rec::Io& io, Clock& clock, const std::vector<double>& XPX,
            const std::vector<std::string>& ENAME, int SDFL, double TOL) {
  static const rec::Format sdfl_line = rec::Format::compile("(' SDFL= ',I4)");
  static const rec::Format table_row =
      rec::Format::compile("('0',2X,A4,2X,I4,4X,8G12.7,/,(17X,8G12.7))");
  static const rec::Format effect_line = rec::Format::compile("(' ',2X,A4,2X,I4)");
  static const rec::Format done =
      rec::Format::compile("(' EMS matrix complete       ',2(I2.2,':'),I2.2,'.',I2.2)");

  io.say({});
  io.say({"Calculating the EMS coefficients . . ."});
  io.write(rec::kConsole, sdfl_line, {SDFL});
  const std::vector<EmsRow> rows = ems_coefficients(XPX.data(), ENAME, SDFL, TOL);
  std::vector<rec::Item> items;
  for (const EmsRow& r : rows) {
    items.clear();
    items.emplace_back(std::string_view(r.code));
    items.emplace_back(r.df);
    for (double c : r.coef) items.emplace_back(c);
    io.write(kReportUnit, table_row, items);
    io.write(rec::kConsole, effect_line, {std::string_view(r.code), r.df});
    rec::interchange::write_coefficients(io, kInterchangeUnit, r.code, r.df, r.coef);
  }
  stamp_line(io, clock, done);
}

}  // namespace korbal
