// GOTOIT: the analysis driver. Prints the optional unreduced matrices, reduces the
// normal equations, prints the table of expected mean squares and one analysis per
// variable and (with cross products) per pair of variables, and writes the analysis
// records of the interchange file.
#include <cmath>
#include <string_view>

#include "korbal/analysis.h"
#include "records/format.h"
#include "records/interchange.h"

namespace korbal {

void stamp_line(rec::Io& io, Clock& clock, const rec::Format& fmt) {
  int h = 0, m = 0, s = 0, hs = 0;
  CLKHMS(clock, h, m, s, hs);
  io.write(rec::kConsole, fmt, {h, m, s, hs});
}

ErrorLine error_line(double ypy, double S, int D, int NOBS, double TOL) {
  ErrorLine e;
  if (NOBS > D) {
    e.df = NOBS - D;
    e.sum = ypy - S;
    if (std::abs(e.sum) >= TOL) {
      e.mean = e.sum / (NOBS - D);
    } else {
      e.sum = 0.0;
      e.mean = 0.0;
    }
  }
  return e;
}

namespace {

// A variable name as 16 characters (blank-padded) for its two A8 halves.
std::string name16(const std::string& n) {
  std::string s = n.substr(0, 16);
  s.resize(16, ' ');
  return s;
}

}  // namespace

void GOTOIT(rec::Io& io, Clock& clock, std::vector<double>& XPX, std::vector<double>& XPY,
            const std::vector<double>& YPY, const std::vector<std::string>& ENAME, int NV,
            int SDFL, int CROSS, double TOL, int NOBS, int IPRINT,
            const std::vector<std::string>& VNAME) {
  using rec::Format;
  using rec::Item;
  static const Format new_page = Format::compile("('1')");
  static const Format xpy_list =
      Format::compile("(/,'0',39X,'X PRIME Y VECTOR FOR ',3X,2A8,/,(' ',10G13.6))");
  static const Format xpx_list = Format::compile("(20F6.0)");
  static const Format ems_title = Format::compile(
      "('1',/,'0',37X,'E X P E C T A T I O N S  O F  M E A N  S Q U A R E S')");
  static const Format ems_products = Format::compile("(' ',48X,'A N D  M E A N  P R O D U C T S')");
  static const Format ems_names = Format::compile(
      "('0',50X,'F O R  C H A R A C T E R S',/,'0',55X,2A8,/,(' ',55X,2A8))");
  static const Format ems_columns = Format::compile("('0 Source   DF',10X,'Coefficients',/)");
  static const Format anova_title = Format::compile(
      "('1',/,/,'0',46X,'A N A L Y S I S  O F  V A R I A N C E',/,'0',57X,2A8,/,'0',38X,"
      "'Source    DF      Sum of Squares       Mean Squares',/)");
  static const Format cross_title = Format::compile(
      "('1',/,/,'0',39X,'A N A L Y S I S  O F  C R O S S  P R O D U C T S',/,'0',45X,2A8,"
      "' - BY -  ',2A8,/,'0',38X,'Source    DF      Sum of Products      Mean Products',/)");
  static const Format error_total =
      Format::compile("('0',39X,'Error ',I5,4X,2G20.12,/,' ',39X,'Total ',I5,4X,G20.12)");
  static const Format summary = Format::compile(
      "(/,'0',57X,'S U M M A R Y',/,'0',51X,I5,' effects',I8,' DF',/,' ',51X,I8,"
      "' dependencies',/,' ',41X,'Total SS accounted for by effects',G20.12)");

  std::vector<std::string> names(NV);
  for (int v = 0; v < NV; ++v) names[v] = name16(VNAME[v]);
  auto lo = [&](int v) { return std::string_view(names[v]).substr(0, 8); };
  auto hi = [&](int v) { return std::string_view(names[v]).substr(8, 8); };

  std::vector<Item> items;

  // Unreduced X'Y vectors and X'X.
  if (IPRINT < 0) {
    io.write(kReportUnit, new_page, {});
    for (int v = 0; v < NV; ++v) {
      items.clear();
      items.emplace_back(lo(v));
      items.emplace_back(hi(v));
      for (int i = 0; i < SDFL; ++i) items.emplace_back(XPY[static_cast<std::size_t>(v) * SDFL + i]);
      io.write(kReportUnit, xpy_list, items);
    }
    const std::int64_t n = static_cast<std::int64_t>(SDFL) * (SDFL + 1) / 2;
    items.clear();
    for (std::int64_t p = 0; p < n; ++p) items.emplace_back(XPX[p]);
    io.write(kReportUnit, xpx_list, items);
  }

  COVRED(io, clock, XPX, XPY, TOL, SDFL, NV);

  // Table of expected mean squares.
  io.write(kReportUnit, ems_title, {});
  if (CROSS > 0) io.write(kReportUnit, ems_products, {});
  items.clear();
  for (int v = 0; v < NV; ++v) {
    items.emplace_back(lo(v));
    items.emplace_back(hi(v));
  }
  io.write(kReportUnit, ems_names, items);
  io.write(kReportUnit, ems_columns, {});
  EXPMSQ(io, clock, XPX, ENAME, SDFL, TOL);

  // One analysis per variable, and per pair of variables with cross products.
  int k = 0;
  auto analysis = [&](int first, int second) {
    double S = 0.0;
    int D = 0, NDEP = 0;
    ANOVSS(io, clock, XPY, first, second, ENAME, SDFL, S, D, NDEP, TOL);
    ++k;
    const double ypy = YPY[k - 1];
    const ErrorLine e = error_line(ypy, S, D, NOBS, TOL);
    io.write(kReportUnit, error_total, {e.df, e.sum, e.mean, NOBS, ypy});
    rec::interchange::write_error(io, kInterchangeUnit, e.df, e.mean);
    io.write(kReportUnit, summary, {SDFL, D, NDEP, S});
  };
  for (int a = 0; a < NV; ++a) {
    const int first = SDFL * a;
    io.write(kReportUnit, anova_title, {lo(a), hi(a)});
    rec::interchange::write_variance_label(io, kInterchangeUnit, names[a]);
    analysis(first, first);
    if (CROSS > 0) {
      for (int b = a + 1; b < NV; ++b) {
        const int second = SDFL * b;
        io.write(kReportUnit, cross_title, {lo(a), hi(a), lo(b), hi(b)});
        rec::interchange::write_cross_label(io, kInterchangeUnit, names[a], names[b]);
        analysis(first, second);
      }
    }
  }
}

}  // namespace korbal
