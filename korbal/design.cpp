// The meaning of every column of the model.
#include "korbal/design.h"

namespace korbal {

bool carries(Layout layout, Factor f) {
  if (f == kLocation) return layout == Layout::LocRep || layout == Layout::Loc;
  if (f == kReplication) return layout == Layout::LocRep || layout == Layout::Rep;
  return true;
}

std::array<std::int32_t, 6> level_counts(const Control& c) {
  // A count of 1 is still a level the line carries; a record built without
  // normalise has only NLOC and NREP.
  const std::int32_t nloc = c.NLOC_READ > 0 ? c.NLOC_READ : c.NLOC;
  const std::int32_t nrep = c.NREP_READ > 0 ? c.NREP_READ : c.NREP;
  const std::int32_t n[6] = {nloc, nrep, c.NSETS, c.NLINES, c.NLINES, c.NCLON};
  std::array<std::int32_t, 6> counts{};
  for (int f = 0; f < 6; ++f) counts[f] = carries(c.LAYOUT, Factor(f)) && n[f] > 0 ? n[f] : 0;
  return counts;
}

std::vector<Column> columns(const Control& c, const Model& m) {
  const std::int32_t p = c.NLINES, s = c.NSETS, nloc = m.NLOC, nrep = m.NREP, nclon = c.NCLON;
  const std::int32_t sq = s * families_per_set(p, m.selfs);  // families of all sets
  const std::int32_t pairs = s * (p * (p - 1) / 2);
  // The SCA block's columns (its self columns first with ISELF = 0), once per location in SXL.
  const std::int32_t head = c.ISELF == 0 ? p * s : 0, sxl = head + pairs;
  std::vector<Column> cols(static_cast<std::size_t>(m.SDFL));
  auto put = [&cols](std::int64_t col, Column id, const char* code) {
    id.effect = code;
    cols[static_cast<std::size_t>(col - 1)] = id;
  };
  auto at = [](std::int32_t loc, std::int32_t rep, std::int32_t set, std::int32_t line_1,
               std::int32_t line_2) {
    Column id;
    id.loc = loc;
    id.rep = rep;
    id.set = set;
    id.line_1 = line_1;
    id.line_2 = line_2;
    return id;
  };
  put(1, Column{}, "MEAN");
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
      // With ISELF = 0 the self columns stand at the head of the SCA block.
      if (c.ISELF == 0) put(m.blocks[6].first - 1 + line, at(0, 0, k, i, i), "SCA");
      if (m.has_matr) put(m.SCAEND + line, at(0, 0, k, i, 0), "MATR");
      for (std::int32_t l = 1; l <= nloc; ++l) {
        if (m.has_gxl) put(m.GXLBAS + (l - 1) * p * s + line, at(l, 0, k, i, 0), "GXL");
        if (m.has_sxl && c.ISELF == 0) put(m.SXLBAS + (l - 1) * sxl + line, at(l, 0, k, i, i), "SXL");
        if (m.has_mxl) put(m.MXLBAS + (l - 1) * p * s + line, at(l, 0, k, i, 0), "MXL");
      }
    }
  for (std::int32_t k = 1; k <= s; ++k)
    for (std::int32_t lo = 1; lo <= p; ++lo)
      for (std::int32_t hi = lo + 1; hi <= p; ++hi) {
        const Column id = at(0, 0, k, lo, hi);
        put(m.SCABAS + pair_index(p, k, lo, hi), id, "SCA");
        if (m.has_recp) put(m.RECBAS + pair_index(p, k, lo, hi), id, "RECP");
        for (std::int32_t l = 1; l <= nloc; ++l) {
          const Column y = at(l, 0, k, lo, hi);
          if (m.has_sxl) put(m.SXLBAS + (l - 1) * sxl + head + pair_index(p, k, lo, hi), y, "SXL");
          if (m.has_rxl) put(m.RXLBAS + (l - 1) * pairs + pair_index(p, k, lo, hi), y, "RXL");
        }
      }
  for (std::int32_t k = 1; k <= s; ++k)
    for (std::int32_t f = 1; f <= p; ++f)
      for (std::int32_t ml = 1; ml <= p; ++ml) {
        // A self family (line_1 = line_2) has columns only when self lines are analysed.
        if (f == ml && !m.selfs) continue;
        const std::int32_t fam = family_index(p, k, f, ml, m.selfs);
        const Column id = at(0, 0, k, f, ml);
        for (std::int32_t cl = 1; m.has_clon && cl <= nclon; ++cl) {
          Column x = id;
          x.clone = cl;
          put(m.CLNBAS + (fam - 1) * nclon + cl, x, "CLON");
        }
        for (std::int32_t l = 1; l <= nloc; ++l) {
          Column y = id;
          y.loc = l;
          if (m.has_fxl) put(m.FXLBAS + (l - 1) * sq + fam, y, "FXL");
          for (std::int32_t cl = 1; m.has_cxl && cl <= nclon; ++cl) {
            Column x = y;
            x.clone = cl;
            put(m.CXLBAS + ((l - 1) * sq + fam - 1) * nclon + cl, x, "CXL");
          }
          for (std::int32_t r = 1; m.has_rxf && r <= nrep; ++r) {
            Column x = y;
            x.rep = r;
            put(m.RXFBAS + (l - 1) * nrep * sq + (r - 1) * sq + fam, x, "RXF");
          }
        }
      }
  return cols;
}

}  // namespace korbal
