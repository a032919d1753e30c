// gcasca's use of korbal: control records, model, column identities, data pass and the
// pivot test of the reduction.
#include "gcasca/korbal_adapter.h"

#include "korbal/analysis.h"
#include "korbal/control.h"
#include "korbal/design.h"
#include "records/csv.h"

namespace gcasca {

Design design_of(const korbal::Control& c, bool selfs) {
  Design d;
  d.c = c;
  korbal::normalise(d.c);
  d.c.selfs = selfs;
  d.m = korbal::allocate_columns(d.c);
  return d;
}

ControlOutcome read_control(rec::Io& io, Design& d, bool selfs) {
  korbal::Control c;
  if (!korbal::read_dimensions(io, c) || c.NV == 0) return ControlOutcome::Empty;
  c.selfs = selfs;
  korbal::check_selfs(c);
  std::string title;
  korbal::read_title(io, title);
  if (!korbal::check_dimensions(io, c)) return ControlOutcome::Refused;
  d = design_of(c, selfs);
  d.title = title;
  if (!korbal::check_column_limit(io, d.m, korbal::LimitWording::Reader))
    return ControlOutcome::Refused;
  d.traits = korbal::read_variable_names(io, c.NV);
  d.datfmt = korbal::read_data_record(io);
  return ControlOutcome::Ok;
}

std::vector<ColumnId> identify_columns(const Design& d) {
  std::vector<ColumnId> ids;
  for (const korbal::Column& col : korbal::columns(d.c, d.m)) {
    ColumnId id;
    id.effect = col.effect;
    id.fixed = is_fixed_effect(id.effect);
    id.loc = col.loc;
    id.rep = col.rep;
    id.set = col.set;
    id.line_1 = col.line_1;
    id.line_2 = col.line_2;
    id.clone = col.clone;
    ids.push_back(std::move(id));
  }
  return ids;
}

korbal::NormalEquations data_pass(rec::Io& io, korbal::Clock& clock, const Design& d) {
  korbal::Control c = d.c;
  c.IPRINT = 0;  // no listing of the data lines on gcasca's report
  return korbal::normal_equations(io, clock, c, d.m, d.datfmt, kDataUnit);
}

std::vector<char> accepted_fixed(const std::vector<double>& XPX, int SDFL, int nfixed) {
  std::vector<char> keep(static_cast<std::size_t>(nfixed), 0);
  if (nfixed <= 0) return keep;
  const double TOL = korbal::pivot_tolerance(SDFL, XPX[0]);
  // The fixed columns come first, so korbal's reduction decides them before it reaches
  // any other column: reduce their leading block of the packed triangle.
  std::vector<double> block(XPX.begin(),
                            XPX.begin() + static_cast<std::ptrdiff_t>(nfixed) * (nfixed + 1) / 2);
  std::vector<double> rhs(static_cast<std::size_t>(nfixed), 0.0);
  korbal::covred_reduce(block.data(), rhs.data(), TOL, nfixed, 1);
  for (int i = 1; i <= nfixed; ++i)
    keep[static_cast<std::size_t>(i - 1)] = block[korbal::packed(i, i) - 1] > TOL;
  return keep;
}

Reduction reduce(const Design& d, const korbal::NormalEquations& p) {
  Reduction r;
  r.XPX = p.XPX;
  r.XPY = p.XPY;
  const double TOL = korbal::pivot_tolerance(p.SDFL, p.XPX[0]);
  korbal::covred_reduce(r.XPX.data(), r.XPY.data(), TOL, p.SDFL, p.NV);
  r.accepted = korbal::accepted_columns(r.XPX.data(), p.SDFL, TOL);
  const std::vector<korbal::EffectBlock> effects = d.m.effects();
  const bool cross = d.c.CROSS > 0;
  const korbal::Reduced red{r.XPX.data(), r.XPY.data(), p.YPY.data(), p.NV, p.SDFL, p.NOBS,
                            cross,        effects,      r.accepted};
  int k = 0;
  r.errors.resize(static_cast<std::size_t>(p.NV));
  r.traits.resize(static_cast<std::size_t>(p.NV));
  for (const auto& [a, b] : korbal::analysis_order(p.NV, cross)) {
    if (a == b) {
      r.traits[static_cast<std::size_t>(a)] = korbal::analysis_of(red, a, b, k);
      r.errors[static_cast<std::size_t>(a)] = r.traits[static_cast<std::size_t>(a)].error;
    }
    ++k;
  }
  return r;
}

Moments moment_components(const Design& d, const korbal::NormalEquations& p) {
  const Reduction r = reduce(d, p);
  const double TOL = korbal::pivot_tolerance(p.SDFL, p.XPX[0]);
  const std::vector<korbal::EffectBlock> effects = d.m.effects();
  const std::vector<korbal::EmsRow> ems = korbal::ems_coefficients(r.XPX.data(), effects, TOL);
  const int ne = static_cast<int>(effects.size());
  Moments m;
  for (const korbal::EmsRow& row : ems) {
    const std::string code(rec::csv::trimmed(row.code));
    if (!is_fixed_effect(code) && row.df == 0) m.no_df.insert(code);
  }
  m.components.resize(static_cast<std::size_t>(p.NV));
  for (int a = 0; a < p.NV; ++a) {
    const korbal::Analysis& an = r.traits[static_cast<std::size_t>(a)];
    if (an.error.df <= 0) continue;
    auto& comps = m.components[static_cast<std::size_t>(a)];
    const double s2e = an.error.mean;
    comps["ERR"] = s2e;
    std::vector<double> vc(static_cast<std::size_t>(ne), 0.0);
    for (int e = ne - 1; e >= 0; --e) {
      const korbal::EmsRow& row = ems[static_cast<std::size_t>(e)];
      const std::string code(rec::csv::trimmed(row.code));
      const double own = row.coef[static_cast<std::size_t>(ne - 1 - e)];
      if (is_fixed_effect(code) || row.df == 0 || !(own > 0.0)) continue;
      double rest = an.effects.lines[static_cast<std::size_t>(e)].mean - s2e;
      for (int j = e + 1; j < ne; ++j)
        rest -= row.coef[static_cast<std::size_t>(ne - 1 - j)] * vc[static_cast<std::size_t>(j)];
      vc[static_cast<std::size_t>(e)] = rest / own;
      comps[code] = vc[static_cast<std::size_t>(e)];
    }
  }
  return m;
}

}  // namespace gcasca
