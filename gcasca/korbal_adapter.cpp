// gcasca's use of korbal: control records, model, column identities, data pass and the
// pivot test of the reduction.
#include "gcasca/korbal_adapter.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "korbal/analysis.h"
#include "korbal/control.h"
#include "korbal/datapass.h"
#include "records/format.h"

namespace gcasca {

Design design_of(const korbal::Control& c) {
  Design d;
  d.c = c;
  korbal::normalise(d.c);
  d.m = korbal::MODEL(d.c);
  return d;
}

ControlOutcome read_control(rec::Io& io, Design& d) {
  static const rec::Format kNames = rec::Format::compile("(4(2A8,4X))");
  static const rec::Format kLimit = rec::Format::compile(
      "('0 The model has',I11,' columns; at most',I4,' are provided for ,JOB TERMINATED')");
  korbal::Control c;
  if (!korbal::read_dimensions(io, c) || c.NV == 0) return ControlOutcome::Empty;
  std::string title;
  korbal::read_title(io, title);
  if (!korbal::check_dimensions(io, c)) return ControlOutcome::Refused;
  d = design_of(c);
  d.title = title;
  if (!d.m.fits()) {
    const int shown = static_cast<int>(
        std::min<std::int64_t>(d.m.SDFL64, std::numeric_limits<std::int32_t>::max()));
    io.write(kReportUnit, kLimit, {shown, korbal::MAXCOL});
    return ControlOutcome::Refused;
  }
  std::vector<std::string> halves(2 * static_cast<std::size_t>(c.NV));
  std::vector<rec::Target> targets;
  for (std::string& h : halves) targets.push_back(rec::Target::of(h, 8));
  io.read(kControlUnit, kNames, targets, false);
  for (int v = 0; v < c.NV; ++v) d.traits.push_back(halves[2 * v] + halves[2 * v + 1]);
  d.datfmt = korbal::read_data_record(io);
  return ControlOutcome::Ok;
}

std::vector<ColumnId> identify_columns(const Design& d) {
  const korbal::Model& m = d.m;
  const std::int32_t p = d.c.NLINES, s = d.c.NSETS, nloc = m.NLOC, nrep = m.NREP,
                     nclon = d.c.NCLON;
  const std::int32_t q = p * (p - 1), sq = s * q;
  std::vector<ColumnId> ids(static_cast<std::size_t>(m.SDFL));
  auto put = [&ids](std::int64_t col, ColumnId id, const char* code) {
    id.effect = code;
    id.fixed = is_fixed_effect(code);
    ids[static_cast<std::size_t>(col - 1)] = id;
  };
  // Column offsets as the data pass computes them (korbal::SLOTS).
  auto pair = [p, q](std::int32_t set, std::int32_t low, std::int32_t high) {
    return (set - 1) * (q / 2) + low * p - p + high - (low * low + low) / 2;
  };
  auto family = [p, q](std::int32_t set, std::int32_t fem, std::int32_t male) {
    return (set - 1) * q + (fem - 1) * (p - 1) + (male > fem ? male - 1 : male);
  };

  auto at = [](std::int32_t loc, std::int32_t rep, std::int32_t set, std::int32_t line_1,
               std::int32_t line_2) {
    ColumnId id;
    id.loc = loc;
    id.rep = rep;
    id.set = set;
    id.line_1 = line_1;
    id.line_2 = line_2;
    return id;
  };
  put(1, ColumnId{}, "MEAN");
  if (m.has_loc)
    for (std::int32_t l = 1; l <= nloc; ++l) put(1 + l, at(l, 0, 0, 0, 0), "LOC");
  if (m.has_rep) {
    for (std::int32_t l = 1; l <= (m.has_loc ? nloc : 1); ++l)
      for (std::int32_t r = 1; r <= nrep; ++r)
        put(m.REPBAS + (l - 1) * nrep + r, at(m.has_loc ? l : 0, r, 0, 0, 0), "REPS");
  }
  for (std::int32_t k = 1; k <= s; ++k) put(m.SETBAS + k, at(0, 0, k, 0, 0), "SETS");
  for (std::int32_t k = 1; k <= s; ++k)
    for (std::int32_t i = 1; i <= p; ++i) {
      const std::int32_t line = p * (k - 1) + i;
      put(m.GCABAS + line, at(0, 0, k, i, 0), "GCA");
      if (m.has_self) put(m.blocks[5].first - 1 + line, at(0, 0, k, i, 0), "SELF");
      if (d.c.ISELF == 0)
        put(m.blocks[6].first - 1 + line, at(0, 0, k, i, i), "SCA");
      if (m.has_matr) put(m.SCAEND + line, at(0, 0, k, i, 0), "MATR");
    }
  for (std::int32_t k = 1; k <= s; ++k)
    for (std::int32_t lo = 1; lo <= p; ++lo)
      for (std::int32_t hi = lo + 1; hi <= p; ++hi) {
        const ColumnId id = at(0, 0, k, lo, hi);
        put(m.SCABAS + pair(k, lo, hi), id, "SCA");
        if (m.has_recp) put(m.RECBAS + pair(k, lo, hi), id, "RECP");
      }
  for (std::int32_t k = 1; k <= s; ++k)
    for (std::int32_t f = 1; f <= p; ++f)
      for (std::int32_t ml = 1; ml <= p; ++ml) {
        if (f == ml) continue;
        const std::int32_t fam = family(k, f, ml);
        const ColumnId id = at(0, 0, k, f, ml);
        for (std::int32_t cl = 1; m.has_clon && cl <= nclon; ++cl) {
          ColumnId c = id;
          c.clone = cl;
          put(m.CLNBAS + (fam - 1) * nclon + cl, c, "CLON");
        }
        for (std::int32_t l = 1; l <= nloc; ++l) {
          ColumnId c = id;
          c.loc = l;
          if (m.has_fxl) put(m.FXLBAS + (l - 1) * sq + fam, c, "FXL");
          for (std::int32_t cl = 1; m.has_cxl && cl <= nclon; ++cl) {
            ColumnId x = c;
            x.clone = cl;
            put(m.CXLBAS + ((l - 1) * sq + fam - 1) * nclon + cl, x, "CXL");
          }
          for (std::int32_t r = 1; m.has_rxf && r <= nrep; ++r) {
            ColumnId x = c;
            x.rep = r;
            put(m.RXFBAS + (l - 1) * nrep * sq + (r - 1) * sq + fam, x, "RXF");
          }
        }
      }
  return ids;
}

Pass data_pass(rec::Io& io, const Design& d) {
  korbal::Control c = d.c;
  c.IPRINT = 0;  // no listing of the data lines on gcasca's report
  const auto a = std::make_unique<korbal::Arrays>();
  korbal::SystemClock clock;
  korbal::PassResult r = korbal::pass_data(io, clock, c, d.m, *a, d.datfmt, kDataUnit);
  Pass p;
  p.SDFL = d.m.SDFL;
  p.NV = c.NV;
  p.NOBS = a->NOBS;
  p.bad_lines = r.bad_lines;
  p.level_names = std::move(r.level_names);
  p.XPX.assign(a->XPX.begin(), a->XPX.begin() + static_cast<std::ptrdiff_t>(p.SDFL) *
                                                    (p.SDFL + 1) / 2);
  p.XPY.assign(a->XPY.begin(), a->XPY.begin() + static_cast<std::ptrdiff_t>(p.SDFL) * p.NV);
  return p;
}

std::vector<char> accepted_fixed(const std::vector<double>& XPX, int SDFL, int nfixed) {
  std::vector<char> keep(static_cast<std::size_t>(nfixed), 0);
  if (nfixed <= 0) return keep;
  const double TOL = static_cast<double>(SDFL) * XPX[0] * 1.0E-11;
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

}  // namespace gcasca
