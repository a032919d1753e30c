// Writer of the report's analysis pages: the table of expected mean squares and one
// table per analysis with its Error, Total and summary lines.
#include <string_view>

#include "korbal/analysis.h"
#include "records/format.h"

namespace korbal {

void write_report(rec::Io& io, const Results& r, const std::vector<std::string>& VNAME) {
  using rec::Format;
  using rec::Item;
  static const Format ems_title = Format::compile(
      "('1',/,'0',37X,'E X P E C T A T I O N S  O F  M E A N  S Q U A R E S')");
  static const Format ems_products = Format::compile("(' ',48X,'A N D  M E A N  P R O D U C T S')");
  static const Format ems_names = Format::compile(
      "('0',50X,'F O R  C H A R A C T E R S',/,'0',55X,2A8,/,(' ',55X,2A8))");
  static const Format ems_columns = Format::compile("('0 Source   DF',10X,'Coefficients',/)");
  static const Format ems_row = Format::compile("('0',2X,A4,2X,I4,4X,8G12.7,/,(17X,8G12.7))");
  static const Format anova_title = Format::compile(
      "('1',/,/,'0',46X,'A N A L Y S I S  O F  V A R I A N C E',/,'0',57X,2A8,/,'0',38X,"
      "'Source    DF      Sum of Squares       Mean Squares',/)");
  static const Format cross_title = Format::compile(
      "('1',/,/,'0',39X,'A N A L Y S I S  O F  C R O S S  P R O D U C T S',/,'0',45X,2A8,"
      "' - BY -  ',2A8,/,'0',38X,'Source    DF      Sum of Products      Mean Products',/)");
  static const Format effect_line = Format::compile("(39X,A5,2X,I5,4X,2G20.12)");
  static const Format error_total =
      Format::compile("('0',39X,'Error ',A,4X,2G20.12,/,' ',39X,'Total ',A,4X,G20.12)");
  static const Format summary = Format::compile(
      "(/,'0',57X,'S U M M A R Y',/,'0',51X,I5,' effects',I8,' DF',/,' ',51X,I8,"
      "' dependencies',/,' ',41X,'Total SS accounted for by effects',G20.12)");

  // Variable names as 16 characters, printed as two A8 halves.
  std::vector<std::string> names(r.NV);
  for (int v = 0; v < r.NV; ++v) {
    names[v] = VNAME[v].substr(0, 16);
    names[v].resize(16, ' ');
  }
  auto lo = [&](int v) { return std::string_view(names[v]).substr(0, 8); };
  auto hi = [&](int v) { return std::string_view(names[v]).substr(8, 8); };

  std::vector<Item> items;
  io.write(kReportUnit, ems_title, {});
  if (r.cross) io.write(kReportUnit, ems_products, {});
  for (int v = 0; v < r.NV; ++v) {
    items.emplace_back(lo(v));
    items.emplace_back(hi(v));
  }
  io.write(kReportUnit, ems_names, items);
  io.write(kReportUnit, ems_columns, {});
  for (const EmsRow& e : r.ems) {
    items.clear();
    items.emplace_back(std::string_view(e.code));
    items.emplace_back(e.df);
    for (double c : e.coef) items.emplace_back(c);
    io.write(kReportUnit, ems_row, items);
  }

  for (const Analysis& an : r.analyses) {
    if (an.a == an.b)
      io.write(kReportUnit, anova_title, {lo(an.a), hi(an.a)});
    else
      io.write(kReportUnit, cross_title, {lo(an.a), hi(an.a), lo(an.b), hi(an.b)});
    for (const AnovaLine& l : an.effects.lines)
      io.write(kReportUnit, effect_line, {std::string_view(l.code), l.df, l.sum, l.mean});
    const ErrorLine& e = an.error;
    // Counts of data lines may pass the five columns: they are then printed whole.
    const std::string error_df = rec::edit_count(e.df, 5), total_df = rec::edit_count(r.NOBS, 5);
    io.write(kReportUnit, error_total, {error_df, e.sum, e.mean, total_df, an.total});
    io.write(kReportUnit, summary, {r.SDFL, an.effects.df, an.effects.dependencies,
                                    an.effects.accounted});
  }
}

}  // namespace korbal
