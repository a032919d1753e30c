// Writer of korbal's CSV tables: the coefficients of the expected mean squares, the
// analyses, the data lines per cross and per level.
#include "korbal/analysis.h"
#include "korbal/datapass.h"
#include "records/csv.h"

namespace korbal {

namespace {

using rec::csv::Table;
using rec::csv::trimmed;

Table ems_table(const Results& r) {
  Table t{"effect", "df", "component", "coefficient"};
  const std::size_t ne = r.effects.size();
  for (const EmsRow& e : r.ems) {
    // Coefficients are held last effect first; the rows go in model order.
    for (std::size_t u = 0; u < ne; ++u)
      t.row().text(trimmed(e.code)).integer(e.df).text(trimmed(r.effects[u].label)).num(
          e.coef[ne - 1 - u]);
    t.row().text(trimmed(e.code)).integer(e.df).text("ERR").num(1.0);
  }
  return t;
}

Table anova_table(const Results& r, const std::vector<std::string>& VNAME) {
  Table t{"trait_1", "trait_2", "source", "df", "ss", "ms"};
  for (const Analysis& an : r.analyses) {
    const std::string_view t1 = trimmed(VNAME[an.a]), t2 = trimmed(VNAME[an.b]);
    for (const AnovaLine& l : an.effects.lines)
      t.row().text(t1).text(t2).text(trimmed(l.code)).integer(l.df).num(l.sum).num_or_na(
          l.mean, l.df > 0);
    t.row().text(t1).text(t2).text("Error").integer(an.error.df).num(an.error.sum).num_or_na(
        an.error.mean, an.error.df > 0);
    t.row().text(t1).text(t2).text("Total").integer(r.NOBS).num(an.total).na();
  }
  return t;
}

Table crosses_table(const Control& c, const PassResult& pass) {
  Table t{"set", "female", "male", "lines", "female_name", "male_name"};
  const std::int64_t p = c.NLINES;
  // The parents' names when the data name them (one list for both roles), else NA.
  const std::vector<std::string>& names = pass.level_names[kFemale];
  auto name = [&t, &names](std::int64_t line) {
    if (line >= 1 && static_cast<std::size_t>(line) <= names.size())
      t.text(names[static_cast<std::size_t>(line - 1)]);
    else
      t.na();
  };
  for (std::int64_t s = 1; s <= c.NSETS; ++s)
    for (std::int64_t f = 1; f <= p; ++f)
      for (std::int64_t m = 1; m <= p; ++m) {
        if (f == m && !c.selfs) continue;  // a self is a row when self lines are analysed
        const std::size_t k = static_cast<std::size_t>(((s - 1) * p + f - 1) * p + m - 1);
        t.row().integer(s).integer(f).integer(m).integer(
            k < pass.cross_lines.size() ? pass.cross_lines[k] : 0);
        name(f);
        name(m);
      }
  return t;
}

Table levels_table(const PassResult& pass) {
  Table t{"factor", "level", "name", "lines"};
  for (int f = 0; f < 6; ++f) {
    const std::vector<std::int64_t>& lines = pass.level_lines[f];
    const std::vector<std::string>& names = pass.level_names[f];
    for (std::size_t k = 0; k < lines.size(); ++k) {
      const std::string number = std::to_string(k + 1);
      t.row().text(kIdentifiers[f].name).integer(static_cast<std::int64_t>(k) + 1)
          .text(k < names.size() ? std::string_view(names[k]) : std::string_view(number))
          .integer(lines[k]);
    }
  }
  return t;
}

}  // namespace

void write_tables(rec::Io& io, const std::filesystem::path& dir, const Control& c,
                  const Results& r, const PassResult& pass, const std::vector<std::string>& VNAME) {
  io.add_table(dir / "ems.csv", ems_table(r).str());
  io.add_table(dir / "anova.csv", anova_table(r, VNAME).str());
  io.add_table(dir / "crosses.csv", crosses_table(c, pass).str());
  io.add_table(dir / "levels.csv", levels_table(pass).str());
}

}  // namespace korbal
