// Slot table, identifier checks and accumulation of the data pass, checked against
// design rows built directly from the column orders of the effect blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/format.h"
#include "support.h"

namespace korbal {
namespace {

Control base(int p, int s) {
  Control c;
  c.NLINES = p;
  c.NSETS = s;
  c.NV = 1;
  c.ISELF = -1;
  return c;
}

Ids cross(int fem, int male, int set = 1) {
  Ids d;
  d.ISET = set;
  d.IFEM = fem;
  d.IMALE = male;
  return d;
}

std::vector<int> cols(const Slots& s, int n) { return {s.ICOL.begin(), s.ICOL.begin() + n}; }
std::vector<float> vals(const Slots& s, int n) { return {s.VX.begin(), s.VX.begin() + n}; }

TEST(Slots, MaternalAndReciprocalSigns) {
  Control c = base(4, 1);
  c.IMATR = 1;
  c.IRECP = 1;
  const Model m = allocate_columns(c);
  Slots s;
  select_columns(m, c.NLINES, c.NSETS, c.NCLON, cross(3, 1), s);
  // MEAN, SETS, GCA lines 1 and 3, SCA pair {1,3} (rank 2), MATR lines 1 and 3, RECP.
  EXPECT_EQ(cols(s, 8), (std::vector<int>{1, 2, 3, 5, 8, 13, 15, 18}));
  EXPECT_EQ(vals(s, 8), (std::vector<float>{1, 1, 1, 1, 1, -1, 1, -1}));
  select_columns(m, c.NLINES, c.NSETS, c.NCLON, cross(1, 3), s);
  EXPECT_EQ(cols(s, 8), (std::vector<int>{1, 2, 3, 5, 8, 13, 15, 18}));
  EXPECT_EQ(vals(s, 8), (std::vector<float>{1, 1, 1, 1, 1, 1, -1, 1}));
}

TEST(Slots, PairAndFamilyNumbering) {
  Control c = base(4, 2);
  c.NCLON = 1;
  const Model m = allocate_columns(c);
  Slots s;
  const int pairs[6][2] = {{1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
  for (int k = 0; k < 6; ++k) {
    select_columns(m, c.NLINES, c.NSETS, c.NCLON, cross(pairs[k][1], pairs[k][0], 2), s);
    EXPECT_EQ(s.ICOL[m.KSCA - 1], m.SCABAS + 6 + k + 1);
  }
  // Family rank through the CLON slot with one clone per cross.
  const std::map<std::pair<int, int>, int> ranks = {{{1, 2}, 1}, {{2, 1}, 4}, {{4, 3}, 12},
                                                    {{1, 4}, 3}, {{3, 1}, 7}};
  for (const auto& [fm, rank] : ranks) {
    Ids d = cross(fm.first, fm.second);
    d.ICLONE = 1;
    select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
    EXPECT_EQ(s.ICOL[m.KCLN - 1], m.CLNBAS + rank) << fm.first << "x" << fm.second;
  }
}

TEST(Slots, ReplicationColumnIgnoresLocationFieldWithoutLocationEffect) {
  // NLOC = 1: the lines carry a location field, but the REPS block has NREP columns.
  Control c = base(3, 1);
  c.NLOC = 1;
  c.NREP = 2;
  const Model m = allocate_columns(c);
  Ids d = cross(1, 2);
  d.ILOC = 2;
  d.IREP = 2;
  RangeFault f;
  ASSERT_TRUE(check_ids(m, c.NLINES, c.NSETS, c.NCLON, d, f));
  Slots s;
  select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
  EXPECT_EQ(s.ICOL[m.KREP - 1], m.REPBAS + 2);
  EXPECT_LE(s.ICOL[m.KREP - 1], m.blocks[2].last);
}

TEST(CheckIds, EveryFieldAgainstItsRange) {
  Control c = base(4, 2);
  c.NLOC = 3;
  c.NREP = 2;
  c.NCLON = 2;
  const Model m = allocate_columns(c);
  Ids good = cross(1, 2, 2);
  good.ILOC = 3;
  good.IREP = 2;
  good.ICLONE = 2;
  RangeFault f;
  EXPECT_TRUE(check_ids(m, c.NLINES, c.NSETS, c.NCLON, good, f));
  struct Case {
    std::int32_t Ids::*field;
    std::int32_t value;
    const char* name;
    std::int32_t high;
  } cases[] = {{&Ids::ILOC, 4, "ILOC", 3},     {&Ids::ILOC, 0, "ILOC", 3},
               {&Ids::IREP, 3, "IREP", 2},     {&Ids::ISET, 0, "ISET", 2},
               {&Ids::ISET, 3, "ISET", 2},     {&Ids::IFEM, 5, "IFEM", 4},
               {&Ids::IFEM, 0, "IFEM", 4},     {&Ids::IMALE, 0, "IMALE", 4},
               {&Ids::IMALE, -1, "IMALE", 4},  {&Ids::ICLONE, 3, "ICLONE", 2},
               {&Ids::ICLONE, 0, "ICLONE", 2}};
  for (const Case& k : cases) {
    Ids d = good;
    d.*k.field = k.value;
    ASSERT_FALSE(check_ids(m, c.NLINES, c.NSETS, c.NCLON, d, f)) << k.name;
    EXPECT_STREQ(f.field, k.name);
    EXPECT_EQ(f.value, k.value);
    EXPECT_EQ(f.high, k.high);
  }
  // Fields the model does not use are not checked.
  Control plain = base(4, 1);
  const Model pm = allocate_columns(plain);
  Ids d = cross(1, 2);
  d.ILOC = 77;
  d.IREP = -5;
  d.ICLONE = 9;
  EXPECT_TRUE(check_ids(pm, plain.NLINES, plain.NSETS, plain.NCLON, d, f));
}

TEST(Accum, ResponseSumsInAnalysisOrder) {
  Control c = base(3, 1);
  const Model m = allocate_columns(c);
  Slots s;
  select_columns(m, c.NLINES, c.NSETS, c.NCLON, cross(1, 2), s);
  std::vector<double> xpx(MAXCOL * (MAXCOL + 1) / 2), xpy(MAXCOL * MAXY), ypy(55);
  const float y[3] = {1, 2, 3};
  accumulate_line(s, m.KRXF, y, 3, m.SDFL, true, xpx.data(), xpy.data(), ypy.data());
  EXPECT_EQ(std::vector<double>(ypy.begin(), ypy.begin() + 7),
            (std::vector<double>{1, 2, 3, 4, 6, 9, 0}));
  std::fill(ypy.begin(), ypy.end(), 0.0);
  accumulate_line(s, m.KRXF, y, 3, m.SDFL, false, xpx.data(), xpy.data(), ypy.data());
  EXPECT_EQ(std::vector<double>(ypy.begin(), ypy.begin() + 4),
            (std::vector<double>{1, 4, 9, 0}));
  // The product of two single-precision values is kept exactly.
  std::fill(ypy.begin(), ypy.end(), 0.0);
  const float z[1] = {16777215.0f};
  accumulate_line(s, m.KRXF, z, 1, m.SDFL, false, xpx.data(), xpy.data(), ypy.data());
  EXPECT_EQ(ypy[0], 16777215.0 * 16777215.0);
}

// The design row of a line built from the column order of every block.
std::vector<double> dense_row(const Control& c, const Model& m, const Ids& d) {
  std::vector<double> x(static_cast<std::size_t>(m.SDFL) + 1, 0.0);
  const int p = c.NLINES, s = c.NSETS, q = p * (p - 1), npairs = p * (p - 1) / 2;
  auto at = [&](int block, std::int64_t offset, double v) {
    const std::int64_t col = m.blocks[block].first + offset;
    ASSERT_LE(col, m.blocks[block].last) << m.blocks[block].label;
    x[static_cast<std::size_t>(col)] += v;
  };
  int pair = 0, rank = 0, k = 0;
  for (int i = 1; i <= p; ++i)
    for (int j = i + 1; j <= p; ++j)
      if (++k, (i == std::min(d.IFEM, d.IMALE) && j == std::max(d.IFEM, d.IMALE))) pair = k;
  k = 0;
  for (int f = 1; f <= p; ++f)
    for (int g = 1; g <= p; ++g)
      if (f != g && (++k, f == d.IFEM && g == d.IMALE)) rank = k;
  const int set = d.ISET - 1, fam = (set * q) + rank - 1;
  at(0, 0, 1);
  if (m.has_loc) at(1, d.ILOC - 1, 1);
  if (m.has_rep) at(2, (m.has_loc ? (d.ILOC - 1) * m.NREP : 0) + d.IREP - 1, 1);
  at(3, set, 1);
  at(4, set * p + d.IFEM - 1, 1);
  at(4, set * p + d.IMALE - 1, 1);
  at(6, (c.ISELF == 0 ? p * s : 0) + set * npairs + pair - 1, 1);
  if (m.has_matr) {
    at(7, set * p + d.IFEM - 1, 1);
    at(7, set * p + d.IMALE - 1, -1);
  }
  if (m.has_recp) at(8, set * npairs + pair - 1, d.IFEM < d.IMALE ? 1 : -1);
  // The effects by location: their effect's columns once per location.
  const int loc = d.ILOC - 1, sca = (c.ISELF == 0 ? p * s : 0) + s * npairs;
  if (m.has_gxl) {
    at(9, loc * p * s + set * p + d.IFEM - 1, 1);
    at(9, loc * p * s + set * p + d.IMALE - 1, 1);
  }
  if (m.has_sxl) at(10, loc * sca + (c.ISELF == 0 ? p * s : 0) + set * npairs + pair - 1, 1);
  if (m.has_mxl) {
    at(11, loc * p * s + set * p + d.IFEM - 1, 1);
    at(11, loc * p * s + set * p + d.IMALE - 1, -1);
  }
  if (m.has_rxl) at(12, loc * s * npairs + set * npairs + pair - 1, d.IFEM < d.IMALE ? 1 : -1);
  if (m.has_fxl) at(13, (d.ILOC - 1) * s * q + fam, 1);
  if (m.has_clon) at(14, fam * c.NCLON + d.ICLONE - 1, 1);
  if (m.has_cxl) at(15, ((d.ILOC - 1) * s * q + fam) * c.NCLON + d.ICLONE - 1, 1);
  if (m.has_rxf) at(16, (d.ILOC - 1) * m.NREP * s * q + (d.IREP - 1) * s * q + fam, 1);
  return x;
}

TEST(Accum, MatchesDenseNormalEquationsForRandomDesigns) {
  std::mt19937 rng(12345);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 60; ++trial) {
    Control c;
    c.NLINES = pick(2, 5);
    c.NSETS = pick(1, 2);
    c.NV = pick(1, 3);
    c.CROSS = pick(0, 1);
    c.ISELF = pick(-1, 1);
    c.IMATR = pick(0, 1);
    c.IRECP = pick(-1, 1);
    c.NLOC = pick(0, 3);
    c.NREP = pick(0, 2);
    c.IFXL = pick(0, 1);
    c.NCLON = pick(0, 2);
    c.ICXL = pick(0, 1);
    c.IRXF = pick(0, 1);
    if (c.NLOC >= 2) {
      c.IGXL = pick(0, 1);
      c.ISXL = pick(0, 1);
      c.IMXL = c.IMATR >= 1 ? pick(0, 1) : 0;
      c.IRXL = c.IRECP >= 1 ? pick(0, 1) : 0;
    }
    const Model m = allocate_columns(c);
    if (!m.fits()) continue;
    const int n = m.SDFL;
    std::vector<double> xpx(MAXCOL * (MAXCOL + 1) / 2), xpy(MAXCOL * MAXY), ypy(55);
    std::vector<double> dxx(static_cast<std::size_t>(n + 1) * (n + 1)), dxy((n + 1) * MAXY);
    for (int line = 0; line < 40; ++line) {
      Ids d;
      d.ILOC = m.has_loc ? pick(1, m.NLOC) : 0;
      d.IREP = m.has_rep ? pick(1, m.NREP) : 0;
      d.ISET = pick(1, c.NSETS);
      d.IFEM = pick(1, c.NLINES);
      do d.IMALE = pick(1, c.NLINES); while (d.IMALE == d.IFEM);
      d.ICLONE = m.has_clon ? pick(1, c.NCLON) : 0;
      float y[3];
      for (float& v : y) v = static_cast<float>(pick(-50, 50)) / 4.0f;
      RangeFault f;
      ASSERT_TRUE(check_ids(m, c.NLINES, c.NSETS, c.NCLON, d, f));
      Slots s;
      select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
      for (int k = 1; k < m.KRXF; ++k) ASSERT_LT(s.ICOL[k - 1], s.ICOL[k]);
      accumulate_line(s, m.KRXF, y, c.NV, n, c.CROSS > 0, xpx.data(), xpy.data(), ypy.data());
      const std::vector<double> x = dense_row(c, m, d);
      for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) dxx[i * (n + 1) + j] += x[i] * x[j];
        for (int v = 0; v < c.NV; ++v) dxy[v * (n + 1) + i] += x[i] * y[v];
      }
    }
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= j; ++i)
        ASSERT_EQ(xpx[packed(i, j) - 1], dxx[i * (n + 1) + j]) << "trial " << trial;
    for (std::size_t k = static_cast<std::size_t>(n) * (n + 1) / 2; k < xpx.size(); ++k)
      ASSERT_EQ(xpx[k], 0.0);
    for (int v = 0; v < c.NV; ++v)
      for (int i = 1; i <= n; ++i) ASSERT_EQ(xpy[i - 1 + n * v], dxy[v * (n + 1) + i]);
  }
}

}  // namespace
}  // namespace korbal

namespace korbal {
namespace {

TEST(Accumulate, CountingSlotTablesGivesTheSameSumsAsLineByLine) {
  Control c;
  c.NLINES = 5;
  c.NSETS = 2;
  c.NV = 3;
  c.CROSS = 1;
  c.ISELF = -1;
  c.IMATR = 1;
  c.IRECP = 1;
  c.NLOC = 2;
  c.NREP = 2;
  c.IFXL = 1;
  c.NCLON = 2;
  c.ICXL = 1;
  c.IRXF = 1;
  c.LAYOUT = Layout::LocRep;
  const Model m = allocate_columns(c);
  ASSERT_TRUE(m.fits());
  const PatternIndex index(m, c.NLINES, c.NSETS, c.NCLON);
  ASSERT_GT(index.size, 0);
  for (std::int64_t k = 0; k < index.size; ++k) ASSERT_EQ(index.of(index.ids(k)), k);

  std::mt19937 rng(5);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::string> lines;
  auto expect = std::make_unique<Arrays>();
  for (int n = 0; n < 3000; ++n) {
    Ids d;
    d.ILOC = pick(1, 2);
    d.IREP = pick(1, 2);
    d.ISET = pick(1, 2);
    d.IFEM = pick(1, 5);
    do d.IMALE = pick(1, 5); while (d.IMALE == d.IFEM);
    d.ICLONE = pick(1, 2);
    float y[3];
    char buf[64];
    const int raw[3] = {pick(-99999, 99999), pick(0, 999), pick(-500, 500)};
    std::snprintf(buf, sizeof buf, "%3d%3d%3d%3d%3d%3d%8d%8d%8d", d.ILOC, d.IREP, d.ISET,
                  d.IFEM, d.IMALE, d.ICLONE, raw[0], raw[1], raw[2]);
    lines.push_back(buf);
    for (int v = 0; v < 3; ++v) y[v] = static_cast<float>(raw[v]) / 100.0f;
    Slots s;
    select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
    accumulate_line(s, m.KRXF, y, 3, m.SDFL, true, expect->XPX.data(), expect->XPY.data(),
          expect->YPY.data());
  }
  auto got = std::make_unique<Arrays>();
  testsupport::TempDir tmp;
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  testsupport::write_file(tmp / "lines.dat", text);
  std::istringstream in;
  std::ostringstream out;
  rec::Io io({}, in, out, tmp.path());
  io.open(1, "lines.dat", rec::OpenMode::Input);
  Control run = c;
  run.NLOC = m.NLOC;
  run.NREP = m.NREP;
  const PassResult r = accumulate(io, run, m, *got, rec::Format::compile("(6I3,3F8.2)"), 1);
  EXPECT_EQ(r.NREAD, 3001);
  EXPECT_EQ(r.bad_lines, 0);
  EXPECT_EQ(got->NOBS, 3000);
  EXPECT_EQ(got->XPX, expect->XPX);
  EXPECT_EQ(got->XPY, expect->XPY);
  EXPECT_EQ(got->YPY, expect->YPY);
}

}  // namespace
}  // namespace korbal
