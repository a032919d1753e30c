// The analysis of the run: reduction of the normal equations, the expected mean
// squares and one analysis per variable and (with cross products) per pair of
// variables, computed into a Results value with the console progress lines between
// the steps.
#include <cmath>

#include "korbal/analysis.h"
#include "korbal/design.h"
#include "records/format.h"

namespace korbal {

namespace {

// The unreduced X'Y vectors and X'X on the report (IPRINT < 0).
void write_unreduced(rec::Io& io, const Arrays& a, int NV, int SDFL) {
  using rec::Format;
  static const Format new_page = Format::compile("('1')");
  static const Format xpy_list =
      Format::compile("(/,'0',39X,'X PRIME Y VECTOR FOR ',3X,2A8,/,(' ',10G13.6))");
  static const Format xpx_list = Format::compile("(20F6.0)");
  io.write(kReportUnit, new_page, {});
  std::vector<rec::Item> items;
  for (int v = 0; v < NV; ++v) {
    std::string name = a.VNAME[v].substr(0, 16);
    name.resize(16, ' ');
    items.clear();
    items.emplace_back(std::string_view(name).substr(0, 8));
    items.emplace_back(std::string_view(name).substr(8, 8));
    for (int i = 0; i < SDFL; ++i)
      items.emplace_back(a.XPY[static_cast<std::size_t>(v) * SDFL + i]);
    io.write(kReportUnit, xpy_list, items);
  }
  const std::int64_t n = static_cast<std::int64_t>(SDFL) * (SDFL + 1) / 2;
  items.clear();
  for (std::int64_t p = 0; p < n; ++p) items.emplace_back(a.XPX[p]);
  io.write(kReportUnit, xpx_list, items);
}

}  // namespace

Results compute_results(rec::Io& io, Clock& clock, const Control& c,
                std::span<const EffectBlock> effects, Arrays& a) {
  using rec::Format;
  static const Format reducing =
      Format::compile("(/,' Performing reduction of XPX and XPY matrices . . .')");
  static const Format reduced =
      Format::compile("(' Reduction completed       ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const Format sdfl_line = Format::compile("(' SDFL= ',I4)");
  static const Format effect_line = Format::compile("(' ',2X,A4,2X,I4)");
  static const Format ems_done =
      Format::compile("(' EMS matrix complete       ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const Format anova_done =
      Format::compile("(' ANOVA table completed     ',2(I2.2,':'),I2.2,'.',I2.2)");

  Results r;
  r.NV = c.NV;
  r.SDFL = effects.empty() ? 0 : static_cast<int>(effects.back().last);
  r.NOBS = a.NOBS;
  r.cross = c.CROSS > 0;
  r.effects.assign(effects.begin(), effects.end());
  // Pivot tolerance: from the number of observations, XPX(1,1) before the reduction.
  const double TOL = pivot_tolerance(r.SDFL, a.XPX[0]);

  if (c.IPRINT < 0) write_unreduced(io, a, r.NV, r.SDFL);

  io.write(rec::kConsole, reducing, {});
  covred_reduce(a.XPX.data(), a.XPY.data(), TOL, r.SDFL, r.NV);
  stamp(io, clock, reduced);

  io.say({});
  io.say({"Calculating the EMS coefficients . . ."});
  io.write(rec::kConsole, sdfl_line, {r.SDFL});
  r.ems = ems_coefficients(a.XPX.data(), effects, TOL);
  for (const EmsRow& e : r.ems) io.write(rec::kConsole, effect_line, {std::string_view(e.code), e.df});
  stamp(io, clock, ems_done);

  const std::vector<char> accepted = accepted_columns(a.XPX.data(), r.SDFL, TOL);
  const Reduced red{a.XPX.data(), a.XPY.data(), a.YPY.data(), r.NV, r.SDFL, r.NOBS,
                    r.cross,      effects,      accepted};
  int k = 0;
  for (const auto& [va, vb] : analysis_order(r.NV, r.cross)) {
    io.say({});
    io.say({"Calculating the ANOVA table . . ."});
    r.analyses.push_back(analysis_of(red, va, vb, k++));
    stamp(io, clock, anova_done);
  }
  return r;
}

rec::interchange::Problem interchange_of(const Results& r, const std::vector<std::string>& VNAME) {
  rec::interchange::Problem p;
  p.nv = r.NV;
  p.cross = r.cross ? 1 : 0;
  for (const EmsRow& e : r.ems) p.groups.push_back({e.code, e.df, e.coef});
  auto name16 = [&](int v) {
    std::string s = VNAME[v].substr(0, 16);
    s.resize(16, ' ');
    return s;
  };
  for (const Analysis& an : r.analyses) {
    rec::interchange::Problem::Analysis x;
    x.name_a16 = name16(an.a);
    if (an.b != an.a) x.name_b16 = name16(an.b);
    x.offset_a = r.SDFL * an.a;
    x.offset_b = r.SDFL * an.b;
    for (const AnovaLine& l : an.effects.lines) x.ms.push_back(l.mean);
    x.error_df = an.error.df;
    x.error_ms = an.error.mean;
    p.analyses.push_back(std::move(x));
  }
  return p;
}

}  // namespace korbal
