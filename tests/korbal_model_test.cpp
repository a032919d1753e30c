// Column allocation of the effects model: blocks, labels, effect count and slots.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korbal/korbal.h"
#include "korbal/model.h"

namespace korbal {
namespace {

Control four_lines(int iself) {
  Control c;
  c.NLINES = 4;
  c.NSETS = 1;
  c.NV = 1;
  c.ISELF = iself;
  return c;
}

// Labels of columns 1..SDFL, one 4-character code per column, concatenated.
std::string labels(const Model& m) {
  std::vector<std::string> ename(MAXCOL, "xxxx");
  label_columns(m, ename);
  std::string s;
  for (int i = 0; i < m.SDFL; ++i) s += ename[i];
  for (int i = m.SDFL; i < MAXCOL; ++i) EXPECT_EQ(ename[i], "    ") << "column " << i + 1;
  return s;
}

std::string repeat(const std::string& code, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += code;
  return s;
}

TEST(Model, FourLinesWithoutSelfs) {
  const Model m = allocate_columns(four_lines(-1));
  EXPECT_EQ(m.SDFL, 12);
  EXPECT_EQ(m.NE, 4);
  EXPECT_EQ(labels(m), "MEANSETS" + repeat("GCA ", 4) + repeat("SCA ", 6));
  EXPECT_EQ(m.SETBAS, 1);
  EXPECT_EQ(m.GCABAS, 2);
  EXPECT_EQ(m.SCABAS, 6);
  EXPECT_EQ(m.SCAEND, 12);
  EXPECT_EQ(m.KREP, 1);
  EXPECT_EQ(m.KSET, 2);
  EXPECT_EQ(m.KGCA, 3);
  EXPECT_EQ(m.KSCA, 5);
  EXPECT_EQ(m.KRXF, 5);
}

TEST(Model, SelfColumnsInsideScaOrAsTheirOwnEffect) {
  const Model inside = allocate_columns(four_lines(0));
  EXPECT_EQ(inside.SDFL, 16);
  EXPECT_EQ(inside.NE, 4);
  EXPECT_EQ(labels(inside), "MEANSETS" + repeat("GCA ", 4) + repeat("SCA ", 10));
  EXPECT_EQ(inside.SCABAS, 10);  // pairs follow the four self columns 7..10
  EXPECT_EQ(inside.SCAEND, 16);
  EXPECT_EQ(inside.KRXF, 5);

  const Model own = allocate_columns(four_lines(1));
  EXPECT_EQ(own.SDFL, 16);
  EXPECT_EQ(own.NE, 5);
  EXPECT_EQ(labels(own), "MEANSETS" + repeat("GCA ", 4) + repeat("SELF", 4) + repeat("SCA ", 6));
  EXPECT_EQ(own.SCABAS, 10);
  EXPECT_EQ(own.KRXF, 5);  // SELF takes no slot
}

TEST(Model, MaternalAndReciprocal) {
  Control c = four_lines(-1);
  c.IMATR = 1;
  c.IRECP = 1;
  const Model m = allocate_columns(c);
  EXPECT_EQ(m.SDFL, 22);
  EXPECT_EQ(m.NE, 6);
  EXPECT_EQ(labels(m), "MEANSETS" + repeat("GCA ", 4) + repeat("SCA ", 6) + repeat("MATR", 4) +
                           repeat("RECP", 6));
  EXPECT_EQ(m.blocks[7].last, 16);
  EXPECT_EQ(m.RECBAS, 16);
  EXPECT_EQ(m.KMAT, 7);  // slots 6 and 7
  EXPECT_EQ(m.KREC, 8);
  EXPECT_EQ(m.KRXF, 8);
}

TEST(Model, LocationsAndReplicationsLocationMajor) {
  Control c = four_lines(-1);
  c.NLOC = 3;
  c.NREP = 2;
  const Model m = allocate_columns(c);
  EXPECT_EQ(labels(m).substr(0, 40), "MEAN" + repeat("LOC ", 3) + repeat("REPS", 6));
  EXPECT_EQ(m.LOCEND, 4);
  EXPECT_EQ(m.REPBAS, 4);
  EXPECT_EQ(m.blocks[2].last, 10);
  EXPECT_EQ(m.KREP, 3);
  EXPECT_EQ(m.KSET, 4);
  EXPECT_EQ(m.SDFL, 10 + 1 + 4 + 6);
}

TEST(Model, CountsOfOneAreNoEffectAndBecomeZero) {
  Control c = four_lines(-1);
  c.NLOC = 1;
  c.NREP = 1;
  c.IFXL = 1;
  c.ICXL = 1;
  c.IRXF = 1;
  c.NCLON = 2;
  const Model m = allocate_columns(c);
  EXPECT_EQ(m.NLOC, 0);
  EXPECT_EQ(m.NREP, 0);
  EXPECT_FALSE(m.has_loc || m.has_rep || m.has_fxl || m.has_cxl || m.has_rxf);
  EXPECT_TRUE(m.has_clon);
  EXPECT_EQ(labels(m), "MEANSETS" + repeat("GCA ", 4) + repeat("SCA ", 6) + repeat("CLON", 24));
  EXPECT_EQ(m.KCLN, 6);
  EXPECT_EQ(m.KRXF, 6);
}

TEST(Model, EffectsOutsideTheirPresenceConditionsAreLeftOut) {
  Control c = four_lines(-1);
  c.IRECP = -1;   // only a positive switch asks for RECP
  c.IFXL = -2;    // likewise FXL
  c.NLOC = 2;
  c.NCLON = 1;
  c.ICXL = 1;     // CXL needs two clones per cross
  c.IRXF = 1;     // RXF needs replications
  const Model m = allocate_columns(c);
  EXPECT_FALSE(m.has_recp);
  EXPECT_FALSE(m.has_fxl);
  EXPECT_FALSE(m.has_cxl);
  EXPECT_FALSE(m.has_rxf);
  EXPECT_TRUE(m.has_clon);
  EXPECT_EQ(m.KRXF, m.KCLN);
  EXPECT_EQ(m.KCLN, 7);  // MEAN, LOC, SETS, GCA x2, SCA, CLON
  EXPECT_EQ(m.NE, 6);
}

TEST(Model, EveryEffectFourteenSlots) {
  Control c;
  c.NLINES = 3;
  c.NSETS = 2;
  c.NV = 3;
  c.ISELF = 1;
  c.IMATR = 1;
  c.IRECP = 1;
  c.NLOC = 2;
  c.NREP = 2;
  c.IFXL = 1;
  c.NCLON = 2;
  c.ICXL = 1;
  c.IRXF = 1;
  const Model m = allocate_columns(c);
  // p = 3, s = 2: 6 ordered crosses and 3 pairs per set; no effects by location.
  const int sizes[kEffects] = {1, 2, 4, 2, 6, 6, 6, 6, 6, 0, 0, 0, 0, 24, 24, 48, 48};
  const char* codes[kEffects] = {"MEAN", "LOC ", "REPS", "SETS", "GCA ", "SELF",
                                 "SCA ", "MATR", "RECP", "GXL ", "SXL ", "MXL ",
                                 "RXL ", "FXL ", "CLON", "CXL ", "RXF "};
  std::string expect;
  int total = 0;
  for (std::size_t e = 0; e < kEffects; ++e) {
    expect += repeat(codes[e], sizes[e]);
    total += sizes[e];
    EXPECT_EQ(m.blocks[e].size(), sizes[e]) << codes[e];
  }
  EXPECT_EQ(m.SDFL, total);
  EXPECT_EQ(labels(m), expect);
  EXPECT_EQ(m.NE, 13);
  EXPECT_EQ(m.KREP, 3);
  EXPECT_EQ(m.KSET, 4);
  EXPECT_EQ(m.KGCA, 5);
  EXPECT_EQ(m.KSCA, 7);
  EXPECT_EQ(m.KMAT, 9);
  EXPECT_EQ(m.KREC, 10);
  EXPECT_EQ(m.KFXL, 11);
  EXPECT_EQ(m.KCLN, 12);
  EXPECT_EQ(m.KCXL, 13);
  EXPECT_EQ(m.KRXF, 14);
  // Block offsets of the data pass.
  EXPECT_EQ(m.SETBAS, m.blocks[3].first - 1);
  EXPECT_EQ(m.GCABAS, m.blocks[4].first - 1);
  EXPECT_EQ(m.SCABAS, m.blocks[6].first - 1);
  EXPECT_EQ(m.SCAEND, m.blocks[7].first - 1);
  EXPECT_EQ(m.RECBAS, m.blocks[8].first - 1);
  EXPECT_EQ(m.FXLBAS, m.blocks[13].first - 1);
  EXPECT_EQ(m.CLNBAS, m.blocks[14].first - 1);
  EXPECT_EQ(m.CXLBAS, m.blocks[15].first - 1);
  EXPECT_EQ(m.RXFBAS, m.blocks[16].first - 1);
  EXPECT_EQ(m.blocks[16].last, m.SDFL);
}

// The effects by location after RECP, before FXL: each its effect's block once per
// location (SXL with the self columns when ISELF = 0), with their slots in the same order.
TEST(Model, EffectsByLocation) {
  const struct {
    const char* name;
    int iself, gxl, sxl, mxl, rxl;
    int sizes[4];      // GXL, SXL, MXL, RXL
    int slots[4];      // KGXL, KSXL, KMXL, KRXL
  } cases[] = {
      // p = 3, s = 2, 2 locations: 6 lines and 6 pairs over the sets.
      {"all four", 1, 1, 1, 1, 1, {12, 12, 12, 12}, {12, 13, 15, 16}},
      {"SXL with the self columns", 0, 0, 1, 0, 0, {0, 24, 0, 0}, {10, 11, 11, 11}},
      {"GXL alone", 1, 1, 0, 0, 0, {12, 0, 0, 0}, {12, 12, 12, 12}},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    Control c;
    c.NLINES = 3;
    c.NSETS = 2;
    c.NV = 1;
    c.ISELF = t.iself;
    c.IMATR = 1;
    c.IRECP = 1;
    c.NLOC = 2;
    c.NREP = 2;
    c.IFXL = 1;
    c.IGXL = t.gxl;
    c.ISXL = t.sxl;
    c.IMXL = t.mxl;
    c.IRXL = t.rxl;
    const Model m = allocate_columns(c);
    for (int e = 0; e < 4; ++e) EXPECT_EQ(m.blocks[9 + e].size(), t.sizes[e]) << e;
    EXPECT_EQ(m.FXLBAS, m.blocks[8].last + t.sizes[0] + t.sizes[1] + t.sizes[2] + t.sizes[3]);
    EXPECT_EQ(m.KGXL, t.slots[0]);
    EXPECT_EQ(m.KSXL, t.slots[1]);
    EXPECT_EQ(m.KMXL, t.slots[2]);
    EXPECT_EQ(m.KRXL, t.slots[3]);
    EXPECT_EQ(m.KFXL, t.slots[3] + 1);
  }
}

TEST(Model, EmptyBlocksShowNowhere) {
  Control c = four_lines(-1);
  c.NLINES = 1;
  c.IRECP = 1;
  const Model m = allocate_columns(c);
  EXPECT_EQ(labels(m), "MEANSETSGCA ");
  EXPECT_EQ(m.NE, 3);
  std::vector<std::string> ename(MAXCOL);
  label_columns(m, ename);
  EXPECT_EQ(m.effects().size(), 3u);
  for (const EffectBlock& b : m.effects())
    for (std::int64_t col = b.first; col <= b.last; ++col) EXPECT_EQ(ename[col - 1], b.label);
}

TEST(Model, ColumnLimit) {
  // 1 + 52 locations + 1 set + 31 GCA + 465 SCA = 550.
  Control c;
  c.NLINES = 31;
  c.NSETS = 1;
  c.NV = 1;
  c.ISELF = -1;
  c.NLOC = 52;
  Model m = allocate_columns(c);
  EXPECT_TRUE(m.fits());
  EXPECT_EQ(m.SDFL, 550);
  c.NLOC = 53;
  m = allocate_columns(c);
  EXPECT_FALSE(m.fits());
  EXPECT_EQ(m.SDFL64, 551);
  std::vector<std::string> ename(MAXCOL, "xxxx");
  label_columns(m, ename);
  for (const auto& e : ename) ASSERT_EQ(e, "    ");
  // An effect by location raises the limit: 551 + 53 x 31 GXL columns = 2194 do not fit
  // 2000; 38 locations (1 + 38 + 1 + 31 + 465 + 38 x 31 = 1714) do, and label all columns.
  c.IGXL = 1;
  m = allocate_columns(c);
  EXPECT_EQ(m.limit(), kMaxColByLocation);
  EXPECT_FALSE(m.fits());
  c.NLOC = 38;
  m = allocate_columns(c);
  ASSERT_TRUE(m.fits());
  EXPECT_EQ(m.SDFL, 1714);
  label_columns(m, ename);
  ASSERT_EQ(ename.size(), 1714u);
  EXPECT_EQ(ename.back(), "GXL ");
}

TEST(Model, AbsurdSizesAreFormedWithoutOverflow) {
  Control c;
  c.NLINES = c.NSETS = c.NLOC = c.NREP = c.NCLON = 999;
  c.NV = 1;
  c.IRXF = c.ICXL = c.IFXL = 1;
  const Model m = allocate_columns(c);
  EXPECT_FALSE(m.fits());
  const std::int64_t families = std::int64_t{999} * 999 * 998;
  const std::int64_t rxf = std::int64_t{999} * 999 * families;
  EXPECT_GT(m.SDFL64, rxf);
  EXPECT_EQ(m.blocks[16].size(), rxf);
}

}  // namespace
}  // namespace korbal

#include <algorithm>
#include <cstring>

#include "korbal/datapass.h"
#include "korbal/design.h"

namespace korbal {
namespace {

// The meaning that columns() gives each column agrees with the columns select_columns selects
// for every data line a model can read, and every column but the self columns (all of
// them when self lines are analysed) is selected by some line: the data pass and the
// readers of the columns number alike. The slot columns of a line never decrease, as the
// packed accumulation of X'X requires.
TEST(Design, ColumnMeaningsAgreeWithTheSlotsOfEveryLine) {
  const struct {
    const char* name;
    int iself, nloc, nrep, nclon, matr, recp, fxl, cxl, rxf, by_location;
    bool selfs;
  } cases[] = {
      {"selfs inside SCA, sets only", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, false},
      {"every effect", 1, 2, 2, 2, 1, 1, 1, 1, 1, 1, false},
      {"replications without locations, clones", -1, 0, 3, 2, 1, 1, 0, 0, 0, 0, false},
      {"effects by location, selfs inside SCA and SXL", 0, 3, 0, 0, 1, 1, 0, 0, 0, 1, false},
      {"selfs analysed inside SCA, every family effect", 0, 2, 2, 2, 1, 1, 1, 1, 1, 0, true},
      {"selfs analysed in SELF, every effect", 1, 2, 2, 2, 1, 1, 1, 1, 1, 1, true},
      {"selfs analysed, clones without locations", 1, 0, 3, 2, 1, 1, 0, 0, 0, 0, true},
      {"selfs analysed inside SCA and SXL, effects by location", 0, 3, 2, 0, 1, 1, 1, 0, 1, 1, true},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    Control c;
    c.NLINES = 3;
    c.NSETS = 2;
    c.NV = 1;
    c.ISELF = t.iself;
    c.NLOC = t.nloc;
    c.NREP = t.nrep;
    c.NCLON = t.nclon;
    c.IMATR = t.matr;
    c.IRECP = t.recp;
    c.IFXL = t.fxl;
    c.ICXL = t.cxl;
    c.IRXF = t.rxf;
    c.IGXL = c.ISXL = c.IMXL = c.IRXL = t.by_location;
    c.selfs = t.selfs;
    const Model m = allocate_columns(c);
    ASSERT_TRUE(m.fits());
    ASSERT_EQ(m.has_gxl && m.has_sxl && m.has_mxl && m.has_rxl, t.by_location != 0);
    const std::vector<Column> cols = columns(c, m);
    ASSERT_EQ(cols.size(), static_cast<std::size_t>(m.SDFL));
    std::vector<char> reached(cols.size(), 0);
    for (int l = 1; l <= std::max(1, t.nloc); ++l)
      for (int r = 1; r <= std::max(1, t.nrep); ++r)
        for (int k = 1; k <= c.NSETS; ++k)
          for (int f = 1; f <= c.NLINES; ++f)
            for (int ml = 1; ml <= c.NLINES; ++ml)
              for (int cl = 1; cl <= std::max(1, t.nclon); ++cl) {
                if (f == ml && !t.selfs) continue;
                Ids d;
                d.ILOC = t.nloc ? l : 0;
                d.IREP = t.nrep ? r : 0;
                d.ISET = k;
                d.IFEM = f;
                d.IMALE = ml;
                d.ICLONE = t.nclon ? cl : 0;
                Slots s;
                select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
                for (int slot = 0; slot < m.KRXF; ++slot) {
                  ASSERT_TRUE(s.ICOL[slot] >= 1 && s.ICOL[slot] <= m.SDFL)
                      << "slot " << slot + 1 << " column " << s.ICOL[slot] << " line " << l << " "
                      << f << "x" << ml;
                  if (slot > 0) {
                    EXPECT_LE(s.ICOL[slot - 1], s.ICOL[slot]) << "slot " << slot;
                  }
                  if (s.VX[slot] == 0.0f) continue;  // a self line's slot that adds nothing
                  const Column& col = cols[static_cast<std::size_t>(s.ICOL[slot] - 1)];
                  reached[static_cast<std::size_t>(s.ICOL[slot] - 1)] = 1;
                  const std::string e = col.effect;
                  SCOPED_TRACE(e + " column " + std::to_string(s.ICOL[slot]));
                  EXPECT_TRUE(col.loc == 0 || col.loc == d.ILOC);
                  EXPECT_TRUE(col.rep == 0 || col.rep == d.IREP);
                  EXPECT_TRUE(col.set == 0 || col.set == d.ISET);
                  EXPECT_TRUE(col.clone == 0 || col.clone == d.ICLONE);
                  if (e == "GXL" || e == "SXL" || e == "MXL" || e == "RXL") {
                    EXPECT_EQ(col.loc, d.ILOC);
                  }
                  if (e == "GCA" || e == "MATR" || e == "SELF" || e == "GXL" || e == "MXL") {
                    EXPECT_TRUE(col.line_1 == f || col.line_1 == ml);
                  } else if (e == "SCA" || e == "RECP" || e == "SXL" || e == "RXL") {
                    EXPECT_EQ(col.line_1, std::min(f, ml));
                    EXPECT_EQ(col.line_2, std::max(f, ml));
                  } else if (e != "MEAN" && e != "LOC" && e != "REPS" && e != "SETS") {
                    EXPECT_EQ(col.line_1, f);
                    EXPECT_EQ(col.line_2, ml);
                  }
                }
              }
    for (std::size_t j = 0; j < cols.size(); ++j) {
      const bool self = std::strcmp(cols[j].effect, "SELF") == 0 ||
                        (cols[j].line_1 != 0 && cols[j].line_1 == cols[j].line_2);
      EXPECT_EQ(reached[j] != 0, !self || t.selfs) << "column " << j + 1 << " " << cols[j].effect;
    }
  }
}

// A self line of parent i in location l selects, in the effects by location: GXL +2 in
// (l, set, i), SXL the self column (l, set, i) when ISELF = 0 and nothing otherwise, MXL
// and RXL nothing (their slots add 0). Checked through X'X: the line's own products.
TEST(Design, SelfLineInTheEffectsByLocation) {
  const struct {
    const char* name;
    int iself;
    std::vector<std::pair<const char*, double>> diagonal;  // effect -> X'X diagonal it adds
  } cases[] = {
      {"self columns inside SCA", 0, {{"GXL", 4.0}, {"SXL", 1.0}}},
      {"SELF effect", 1, {{"GXL", 4.0}}},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    Control c;
    c.NLINES = 3;
    c.NSETS = 2;
    c.NV = 1;
    c.ISELF = t.iself;
    c.NLOC = 2;
    c.IMATR = c.IRECP = 1;
    c.IGXL = c.ISXL = c.IMXL = c.IRXL = 1;
    const Model m = allocate_columns(c);
    const std::vector<Column> cols = columns(c, m);
    Ids d;
    d.ILOC = 2;
    d.ISET = 2;
    d.IFEM = d.IMALE = 3;
    Slots s;
    select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
    std::vector<double> xpx(static_cast<std::size_t>(m.SDFL) * (m.SDFL + 1) / 2, 0.0);
    accumulate_xpx(s, m.KRXF, 1.0, xpx.data());
    for (std::int64_t i = m.blocks[9].first; i <= m.blocks[12].last; ++i)
      for (std::int64_t j = i; j <= m.blocks[12].last; ++j) {
        const double x = xpx[static_cast<std::size_t>(packed(i, j) - 1)];
        const Column& ci = cols[static_cast<std::size_t>(i - 1)];
        double want = 0.0;
        for (const auto& [code, value] : t.diagonal)
          if (i == j && ci.effect == std::string(code) && ci.loc == 2 && ci.set == 2 &&
              ci.line_1 == 3 && (ci.line_2 == 0 || ci.line_2 == 3))
            want = value;
        // GXL and SXL of the line meet once, off the diagonal.
        const Column& cj = cols[static_cast<std::size_t>(j - 1)];
        if (i != j && t.diagonal.size() == 2 && ci.effect == std::string("GXL") &&
            cj.effect == std::string("SXL") && ci.loc == 2 && cj.loc == 2 && ci.set == 2 &&
            cj.set == 2 && ci.line_1 == 3 && cj.line_1 == 3 && cj.line_2 == 3)
          want = 2.0;
        EXPECT_EQ(x, want) << ci.effect << " " << i << ", " << cj.effect << " " << j;
      }
  }
}

}  // namespace
}  // namespace korbal
