// Data pass: data format, data file, the slot table of every line and the
// accumulation of the normal equations.
#include "korbal/datapass.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "korbal/control.h"
#include "korbal/design.h"

namespace korbal {

// ---------------------------------------------------------------------------------
// Slot table and accumulation

namespace {

// The slots of GXL, SXL, MXL and RXL: each block holds its effect's columns once per
// location, so a line selects the column its effect selects, in the block of its
// location. `icol` and `vx` are 1-based.
void select_by_location(const Model& m, std::int32_t p, std::int32_t NSETS, const Ids& d,
                        std::int32_t low, std::int32_t high, float sgn, std::int32_t* icol,
                        float* vx) {
  const bool self = low == high;
  const std::int32_t lines = p * NSETS;                   // parents of all sets
  const std::int32_t pairs = NSETS * (p * (p - 1) / 2);   // pairs of all sets
  const std::int32_t lineoff = p * (d.ISET - 1) + (d.ILOC - 1) * lines;
  // A self has no pair; its slots of RXL (and of SXL without self columns) hold the
  // location's first column with the value 0.
  const std::int32_t ipair = self ? 1 : pair_index(p, d.ISET, low, high);
  if (m.has_gxl) {
    const std::int32_t base = static_cast<std::int32_t>(m.GXLBAS) + lineoff;
    icol[m.KGXL - 1] = base + low;
    icol[m.KGXL] = base + high;
    if (self) {
      vx[m.KGXL - 1] = 2.0f;
      vx[m.KGXL] = 0.0f;
    }
  }
  if (m.has_sxl) {
    // Per location, the columns of the SCA block: with ISELF = 0 its self columns
    // first, then the pairs.
    const std::int32_t head = static_cast<std::int32_t>(m.SCABAS - (m.blocks[6].first - 1));
    const std::int32_t base = static_cast<std::int32_t>(m.SXLBAS) + (d.ILOC - 1) * (head + pairs);
    if (!self)
      icol[m.KSXL] = base + head + ipair;
    else if (head > 0)
      icol[m.KSXL] = base + p * (d.ISET - 1) + low;
    else {
      icol[m.KSXL] = base + 1;
      vx[m.KSXL] = 0.0f;
    }
  }
  if (m.has_mxl) {
    const std::int32_t base = static_cast<std::int32_t>(m.MXLBAS) + lineoff;
    icol[m.KMXL - 1] = base + low;
    icol[m.KMXL] = base + high;
    vx[m.KMXL - 1] = self ? 0.0f : sgn;
    vx[m.KMXL] = self ? 0.0f : -sgn;
  }
  if (m.has_rxl) {
    icol[m.KRXL] = static_cast<std::int32_t>(m.RXLBAS) + (d.ILOC - 1) * pairs + ipair;
    vx[m.KRXL] = self ? 0.0f : sgn;
  }
}

}  // namespace

void select_columns(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON,
           const Ids& d, Slots& s) {
  // All sizes fit 32 bits here: the model fits the column limit and the identifiers
  // are within their ranges.
  const std::int32_t p = NLINES;
  const std::int32_t sq = NSETS * families_per_set(p, m.selfs);  // families of all sets
  const std::int32_t low = d.IFEM < d.IMALE ? d.IFEM : d.IMALE;
  const std::int32_t high = d.IFEM < d.IMALE ? d.IMALE : d.IFEM;
  const float sgn = d.IFEM < d.IMALE ? 1.0f : -1.0f;
  // Family of the line within all sets (a self family after the crosses of its set).
  const std::int32_t family = family_index(p, d.ISET, d.IFEM, d.IMALE, m.selfs);
  const std::int32_t lineoff = p * (d.ISET - 1);

  std::int32_t* icol = s.ICOL.data() - 1;  // 1-based views
  float* vx = s.VX.data() - 1;
  for (int k = 1; k <= m.KRXF; ++k) vx[k] = 1.0f;

  icol[1] = 1;
  if (m.has_loc) icol[2] = 1 + d.ILOC;
  if (m.has_rep) {
    std::int32_t col = static_cast<std::int32_t>(m.REPBAS) + d.IREP;
    // The location offset applies only when the REPS block is laid out by location.
    if (m.has_loc && d.ILOC > 1) col += (d.ILOC - 1) * m.NREP;
    icol[m.KREP] = col;
  }
  icol[m.KSET] = static_cast<std::int32_t>(m.SETBAS) + d.ISET;
  if (low == high) {
    // A self line of parent i: GCA of i with 2 (the second GCA slot stands on the same
    // column with 0, so that the slot columns still increase and X'X gets 4, not 2 x 2
    // + 2 x 2), its self column with 1, MATR +1 - 1 = 0 and no RECP (slots of value 0
    // on columns that keep the order).
    icol[m.KGCA] = static_cast<std::int32_t>(m.GCABAS) + lineoff + low;
    icol[m.KGCA + 1] = icol[m.KGCA];
    vx[m.KGCA] = 2.0f;
    vx[m.KGCA + 1] = 0.0f;
    icol[m.KSCA] = static_cast<std::int32_t>(m.SLFBAS) + lineoff + low;
    if (m.has_matr) {
      icol[m.KMAT - 1] = icol[m.KMAT] = static_cast<std::int32_t>(m.SCAEND) + lineoff + low;
      vx[m.KMAT - 1] = vx[m.KMAT] = 0.0f;
    }
    if (m.has_recp) {
      icol[m.KREC] = static_cast<std::int32_t>(m.RECBAS) + 1;
      vx[m.KREC] = 0.0f;
    }
  } else {
    icol[m.KGCA] = static_cast<std::int32_t>(m.GCABAS) + lineoff + low;
    icol[m.KGCA + 1] = static_cast<std::int32_t>(m.GCABAS) + lineoff + high;
    const std::int32_t ipair = pair_index(p, d.ISET, low, high);
    icol[m.KSCA] = static_cast<std::int32_t>(m.SCABAS) + ipair;
    if (m.has_matr) {
      icol[m.KMAT - 1] = static_cast<std::int32_t>(m.SCAEND) + lineoff + low;
      icol[m.KMAT] = static_cast<std::int32_t>(m.SCAEND) + lineoff + high;
      vx[m.KMAT - 1] = sgn;
      vx[m.KMAT] = -sgn;
    }
    if (m.has_recp) {
      icol[m.KREC] = static_cast<std::int32_t>(m.RECBAS) + ipair;
      vx[m.KREC] = sgn;
    }
  }
  if (m.has_gxl || m.has_sxl || m.has_mxl || m.has_rxl)
    select_by_location(m, p, NSETS, d, low, high, sgn, icol, vx);
  if (m.has_fxl) icol[m.KFXL] = static_cast<std::int32_t>(m.FXLBAS) + (d.ILOC - 1) * sq + family;
  if (m.has_clon)
    icol[m.KCLN] = static_cast<std::int32_t>(m.CLNBAS) + (family - 1) * NCLON + d.ICLONE;
  if (m.has_cxl)
    icol[m.KCXL] = static_cast<std::int32_t>(m.CXLBAS) +
                   ((d.ILOC - 1) * sq + family - 1) * NCLON + d.ICLONE;
  if (m.has_rxf)
    icol[m.KRXF] = static_cast<std::int32_t>(m.RXFBAS) + (d.ILOC - 1) * m.NREP * sq +
                   (d.IREP - 1) * sq + family;
}

namespace {

// Sums of squares and products of the responses of one line, in analysis order.
[[gnu::always_inline]] inline void accumulate_ypy(const float* Y, int NV, bool cross, double* YPY) {
  int k = 0;
  for (int v = 0; v < NV; ++v) {
    const double yv = Y[v];
    if (cross) {
      for (int w = v; w < NV; ++w) YPY[k++] += static_cast<double>(Y[w]) * yv;
    } else {
      YPY[k++] += yv * yv;
    }
  }
}

// X'Y of the lines of one slot table whose responses sum to `ysum` (NV values): every
// value of X is 0, +1, -1 or 2, so each product is exact and X'Y sums the same terms as
// line by line, only grouped by table (which may move the last bits of a long sum).
void accumulate_xpy_sums(const Slots& s, int nslots, const double* ysum, int NV, int SDFL,
                         double* XPY) {
  for (int a = 0; a < nslots; ++a) {
    const double va = s.VX[a];
    double* xpy = XPY + (s.ICOL[a] - 1);
    for (int v = 0; v < NV; ++v) xpy[static_cast<std::ptrdiff_t>(v) * SDFL] += va * ysum[v];
  }
}

}  // namespace

void accumulate_responses(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
            double* XPY, double* YPY) {
  accumulate_ypy(Y, NV, cross, YPY);
  for (int a = 0; a < nslots; ++a) {
    const double va = s.VX[a];
    double* xpy = XPY + (s.ICOL[a] - 1);
    for (int v = 0; v < NV; ++v) xpy[static_cast<std::ptrdiff_t>(v) * SDFL] += va * Y[v];
  }
}

void accumulate_xpx(const Slots& s, int nslots, double count, double* XPX) {
  // Element (i, j), i <= j, of the packed triangle is at 0-based index
  // i - 1 + j(j - 1)/2; slot columns increase with the slot number.
  for (int b = 0; b < nslots; ++b) {
    const std::int32_t j = s.ICOL[b];
    double* col = XPX + (j * (j - 1) / 2 - 1);
    const double vb = count * s.VX[b];
    for (int a = 0; a <= b; ++a) col[s.ICOL[a]] += vb * s.VX[a];
  }
}

void accumulate_line(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
           double* XPX, double* XPY, double* YPY) {
  accumulate_responses(s, nslots, Y, NV, SDFL, cross, XPY, YPY);
  accumulate_xpx(s, nslots, 1.0, XPX);
}

PatternIndex::PatternIndex(const Model& m, std::int32_t NLINES, std::int32_t NSETS,
                           std::int32_t NCLON)
    : model(&m) {
  if (m.has_loc) nloc = m.NLOC;
  if (m.has_rep) nrep = m.NREP;
  if (m.has_clon) nclon = NCLON;
  nsets = NSETS;
  nlines = NLINES;
  std::int64_t n = 1;
  for (std::int64_t f : {std::int64_t{nloc}, std::int64_t{nrep}, std::int64_t{nsets},
                         std::int64_t{nlines}, std::int64_t{nlines}, std::int64_t{nclon}}) {
    if (f <= 0 || n > kMaxPatterns) return;
    n *= f;
  }
  size = n <= kMaxPatterns ? n : 0;
  // The strides of the index, the clone varying fastest.
  stride[5] = m.has_clon ? 1 : 0;
  stride[4] = nclon;
  stride[3] = std::int64_t{nlines} * nclon;
  stride[2] = stride[3] * nlines;
  stride[1] = m.has_rep ? stride[2] * nsets : 0;
  stride[0] = m.has_loc ? std::int64_t{nrep} * nsets * stride[3] * nlines : 0;
  for (const std::int64_t st : stride) base += st;
}

Ids PatternIndex::ids(std::int64_t k) const {
  const Model& m = *model;
  Ids d;
  if (m.has_clon) d.ICLONE = static_cast<std::int32_t>(k % nclon) + 1;
  k /= nclon;
  d.IMALE = static_cast<std::int32_t>(k % nlines) + 1;
  k /= nlines;
  d.IFEM = static_cast<std::int32_t>(k % nlines) + 1;
  k /= nlines;
  d.ISET = static_cast<std::int32_t>(k % nsets) + 1;
  k /= nsets;
  if (m.has_rep) d.IREP = static_cast<std::int32_t>(k % nrep) + 1;
  k /= nrep;
  if (m.has_loc) d.ILOC = static_cast<std::int32_t>(k) + 1;
  return d;
}

// ---------------------------------------------------------------------------------
// The pass

namespace {

// Counts the non-blank lines left on `unit` after the end of the data.
std::int64_t lines_left(rec::Io& io, int unit) {
  static const rec::Format kLine = rec::Format::compile("(A256)");
  std::string line;
  std::int64_t n = 0;
  while (io.read(unit, kLine, {rec::Target::of(line, 256)}, true))
    if (line.find_first_not_of(" \t\r") != std::string::npos) ++n;
  return n;
}

// Adds n lines of identifiers `id` to the lines per cross and per level (out of line:
// the data pass calls it per line only when the slot-table counts cannot give them).
[[gnu::noinline]] void count_lines(PassResult& r, const std::array<std::int32_t, 6>& nlevels,
                                   const Ids& id, std::int64_t n) {
  const std::int64_t p = nlevels[kFemale];
  if (!r.cross_lines.empty())
    r.cross_lines[static_cast<std::size_t>(((id.ISET - 1) * p + id.IFEM - 1) * p + id.IMALE - 1)] += n;
  for (int f = 0; f < 6; ++f) {
    const std::int32_t level = id.*kIdentifiers[f].member;
    if (level >= 1 && level <= nlevels[f]) r.level_lines[f][static_cast<std::size_t>(level - 1)] += n;
  }
}

[[noreturn, gnu::cold, gnu::noinline]] void too_many_lines() {
  throw rec::RunError(rec::ErrorSite{}, "more than 2147483647 data lines to accumulate, "
                      "more than the count of observations holds");
}

}  // namespace

void LineSource::report_bad(rec::Io& io, std::int32_t NREAD, std::size_t, const RangeFault& f) {
  static const rec::Format kBadLine =
      rec::Format::compile("('0 DATA LINE',I8,': ',A6,' =',I8,' IS OUTSIDE 1 TO',I6)");
  report_and_console(io, kBadLine, {NREAD, f.field, f.value, f.high});
}

namespace {

// Data lines read with the user's format from the file open on a unit; the line with
// female and male line 0 ends the data.
class FormattedLines : public LineSource {
 public:
  FormattedLines(rec::Io& io, const Control& c, const rec::Format& datfmt, int unit)
      : io_(io), datfmt_(datfmt), unit_(unit) {
    // The item list of the layout, built once: identifiers, then the responses, into the
    // first row; a batch fills the rows after it alike.
    Line& row = rows_[0];
    for (int f = 0; f < 6; ++f)
      if (carries(c.LAYOUT, Factor(f))) targets_[n_++] = rec::Target::of(row.d.*kIdentifiers[f].member);
    for (int v = 0; v < c.NV && v < MAXY; ++v) targets_[n_++] = rec::Target::of(row.Y[v]);
    plan_ = rec::FieldPlan(datfmt, std::span<const rec::Target>(targets_, n_));
  }
  bool next() override {
    if (!read_first_row()) return false;
    d = rows_[0].d;
    std::copy(rows_[0].Y, rows_[0].Y + MAXY, Y);
    return true;
  }
  void each(const Lines& lines) override {
    if (plan_.usable() && plan_.one_record()) {
      // Lines in batches; the terminating line is taken, the lines after it are not.
      auto batch = [&](std::size_t n) -> rec::Taken {
        for (std::size_t i = 0; i < n; ++i)
          if (rows_[i].d.IFEM == 0 && rows_[i].d.IMALE == 0) {
            ended_by_line_ = true;
            if (i > 0) lines(rows_, i);
            return {i + 1, false};
          }
        const std::size_t used = lines(rows_, n);
        return {used, used == n};
      };
      io_.read_rows(unit_, datfmt_, plan_, true, kRows, sizeof(Line), batch);
      return;
    }
    while (read_first_row())
      if (lines(rows_, 1) < 1) return;
  }
  bool can_miss() const override { return false; }
  // The data end at a terminating (or blank) line: the non-blank lines after it.
  std::int64_t lines_after_end() override { return ended_by_line_ ? lines_left(io_, unit_) : 0; }

 private:
  // One statement into the first row; false at the end of the data. A conversion error
  // ends the run (RunError); the end of the file ends the pass. A format of fixed fields
  // is read by its laid-out form, any other by the walk.
  bool read_first_row() {
    const bool got = plan_.usable()
                         ? io_.read(unit_, datfmt_, plan_, true)
                         : io_.read(unit_, datfmt_, std::span<const rec::Target>(targets_, n_), true);
    if (!got) return false;
    ended_by_line_ = rows_[0].d.IFEM == 0 && rows_[0].d.IMALE == 0;
    return !ended_by_line_;
  }

  static constexpr std::size_t kRows = 256;  // lines of a batch
  rec::Io& io_;
  const rec::Format& datfmt_;
  int unit_;
  bool ended_by_line_ = false;
  rec::Target targets_[6 + MAXY];
  std::size_t n_ = 0;
  rec::FieldPlan plan_;
  Line rows_[kRows];
};

}  // namespace

void LineSource::each(const Lines& lines) {
  Line line;
  while (next()) {
    line.d = d;
    std::copy(Y, Y + MAXY, line.Y);
    if (lines(&line, 1) < 1) return;
  }
}

PassResult accumulate(rec::Io& io, const Control& c, const Model& m, Accumulators a,
                      const rec::Format& datfmt, int unit) {
  FormattedLines src(io, c, datfmt, unit);
  return accumulate(io, c, m, a, src);
}

namespace {

// Sizes the lines per cross and per level of `r` once. Returns whether each line is to
// be counted as it is accumulated: when every identifier with levels is one the slot
// tables are counted by, the counts come from the slot-table counts after the pass.
bool size_line_counts(PassResult& r, const Control& c, const Model& m, const PatternIndex& index,
                      const std::array<std::int32_t, 6>& nlevels) {
  const std::int64_t p = c.NLINES;
  const std::int64_t ncross = std::int64_t{c.NSETS} * p * p;
  if (m.fits() && ncross > 0 && ncross <= kMaxPatterns)
    r.cross_lines.assign(static_cast<std::size_t>(ncross), 0);
  for (int f = 0; f < 6; ++f) r.level_lines[f].assign(static_cast<std::size_t>(nlevels[f]), 0);
  return index.size == 0 || (nlevels[kLocation] > 0 && !m.has_loc) ||
         (nlevels[kReplication] > 0 && !m.has_rep) || (nlevels[kClone] > 0 && !m.has_clon);
}

// Whether the line just read from `src` (the r.NREAD-th) enters the equations: a line
// with a missing value, and a self unless self lines are analysed, are counted and
// skipped; a line with an identifier out of range is counted, reported (the first
// kMaxBadLines of them) and skipped. An analysed self line is counted as well.
[[gnu::always_inline]] inline bool admitted(rec::Io& io, const Control& c, const Model& m,
                                            LineSource& src, bool can_miss, const Ids& d,
                                            std::size_t row, PassResult& r) {
  if (can_miss && src.missing()) {
    ++r.missing_lines;
    return false;
  }
  if (d.IFEM == d.IMALE) {
    if (!c.selfs) {
      ++r.self_lines;
      return false;
    }
    // Both parents 0 (a CSV record; in fixed columns it ends the data) is no self line.
    if (d.IFEM == 0) return false;
  }
  RangeFault f;
  if (!check_ids(m, c.NLINES, c.NSETS, c.NCLON, d, f)) {
    if (++r.bad_lines <= kMaxBadLines) src.report_bad(io, rec::clamped_int(r.NREAD), row, f);
    return false;
  }
  if (d.IFEM == d.IMALE) ++r.self_lines;
  return true;
}

// The listing of an accumulated line (IPRINT < 0): its parents and slot columns, then
// over them the values of X. `items` is reserved by the caller.
[[gnu::noinline]] void list_line(rec::Io& io, const Ids& d, const Slots& s, int nslots,
                                 std::vector<rec::Item>& items) {
  static const rec::Format kListCols = rec::Format::compile("(' ',I5,I7,4X,20I4)");
  static const rec::Format kListVals = rec::Format::compile("('+',T63,20F4.0)");
  items.clear();
  items.emplace_back(d.IFEM);
  items.emplace_back(d.IMALE);
  for (int k = 0; k < nslots; ++k) items.emplace_back(static_cast<int>(s.ICOL[k]));
  io.write(kReportUnit, kListCols, items);
  items.clear();
  for (int k = 0; k < nslots; ++k) items.emplace_back(s.VX[k]);
  io.write(kReportUnit, kListVals, items);
}

// The per-pattern end of the pass: every slot table that lines were counted for adds
// its count of lines into XPX at once, the sums of its responses (`ysums`, NV a table,
// when kept) into XPY, and its lines into the lines per cross and per level when these
// were not counted per line.
void add_counted_patterns(const Control& c, const Model& m, const PatternIndex& index,
                          const std::vector<std::int32_t>& counts, const std::vector<double>& ysums,
                          bool per_line, const std::array<std::int32_t, 6>& nlevels, Slots& s,
                          double* XPX, double* XPY, PassResult& r) {
  for (std::int64_t k = 0; k < index.size; ++k) {
    if (counts[static_cast<std::size_t>(k)] == 0) continue;
    const Ids id = index.ids(k);
    select_columns(m, c.NLINES, c.NSETS, c.NCLON, id, s);
    accumulate_xpx(s, m.KRXF, counts[static_cast<std::size_t>(k)], XPX);
    if (!ysums.empty())
      accumulate_xpy_sums(s, m.KRXF, ysums.data() + k * c.NV, c.NV, m.SDFL, XPY);
    if (!per_line) count_lines(r, nlevels, id, counts[static_cast<std::size_t>(k)]);
  }
}

}  // namespace

// The lines of a batch in the common case, from its first: each a cross whose
// identifiers are in range, summed per slot table, with no listing and no counts per
// line. Y'Y is summed in locals, in the order of the lines, which gives the sums of
// accumulate_ypy. Returns the lines taken: it stops before the first line that is not
// such a cross, which the caller takes its own way.
template <int NV, bool CROSS>
std::size_t plain_rows(const LineSource::Line* rows, std::size_t n, const Control& c, const Model& m,
                       const PatternIndex& index, std::int32_t* count, double* ysums, double* YPY) {
  constexpr int K = CROSS ? NV * (NV + 1) / 2 : NV;
  double acc[K];
#pragma GCC unroll 64
  for (int k = 0; k < K; ++k) acc[k] = YPY[k];
  // The ranges of check_ids in locals, which no store of the sums can touch: an
  // identifier is in range when its value less 1, unsigned, is at most its limit.
  constexpr std::uint32_t kAny = std::numeric_limits<std::uint32_t>::max();
  const std::int32_t high[6] = {m.has_loc ? m.NLOC : 0, m.has_rep ? m.NREP : 0, c.NSETS,
                                c.NLINES, c.NLINES, m.has_clon ? c.NCLON : 0};
  const bool checked[6] = {m.has_loc, m.has_rep, true, true, true, m.has_clon};
  std::uint32_t limit[6];
  for (int k = 0; k < 6; ++k) {
    if (checked[k] && high[k] < 1) return 0;  // no line is in range
    limit[k] = checked[k] ? static_cast<std::uint32_t>(high[k] - 1) : kAny;
  }
  const auto below = [](std::int32_t v, std::uint32_t lim) {
    return static_cast<unsigned>(static_cast<std::uint32_t>(v) - 1u <= lim);
  };
  std::size_t i = 0;
  for (; i < n; ++i) {
    const Ids& d = rows[i].d;
    if (d.IFEM == d.IMALE ||
        !(below(d.ILOC, limit[0]) & below(d.IREP, limit[1]) & below(d.ISET, limit[2]) &
          below(d.IFEM, limit[3]) & below(d.IMALE, limit[4]) & below(d.ICLONE, limit[5])))
      break;
    const float* Y = rows[i].Y;
    int k = 0;
#pragma GCC unroll 16
    for (int v = 0; v < NV; ++v) {
      const double yv = Y[v];
      if constexpr (CROSS) {
#pragma GCC unroll 16
        for (int w = v; w < NV; ++w) acc[k++] += static_cast<double>(Y[w]) * yv;
      } else {
        acc[k++] += yv * yv;
      }
    }
    const std::int64_t j = index.of(d);
    ++count[j];
    double* ysum = ysums + j * NV;
#pragma GCC unroll 16
    for (int v = 0; v < NV; ++v) ysum[v] += Y[v];
  }
#pragma GCC unroll 64
  for (int k = 0; k < K; ++k) YPY[k] = acc[k];
  return i;
}

using PlainRows = std::size_t (*)(const LineSource::Line*, std::size_t, const Control&, const Model&,
                                  const PatternIndex&, std::int32_t*, double*, double*);

// plain_rows for NV responses, with or without cross products.
template <int... N>
PlainRows plain_rows_for(int NV, bool cross, std::integer_sequence<int, N...>) {
  PlainRows f = nullptr;
  ((NV == N + 1 ? (f = cross ? plain_rows<N + 1, true> : plain_rows<N + 1, false>) : f), ...);
  return f;
}

PassResult accumulate(rec::Io& io, const Control& c, const Model& m, Accumulators a,
                      LineSource& src) {
  PassResult r;
  r.selfs_analysed = c.selfs;
  const bool cross = c.CROSS > 0;
  const bool listing = c.IPRINT < 0;
  const int nslots = m.KRXF;
  double* XPX = a.XPX;
  double* XPY = a.XPY;
  double* YPY = a.YPY;
  std::int32_t nobs = *a.NOBS;
  std::vector<rec::Item> items;
  if (listing) items.reserve(16);
  // Lines per slot table, added into XPX once at the end of the pass.
  const PatternIndex index(m, c.NLINES, c.NSETS, c.NCLON);
  std::vector<std::int32_t> counts(static_cast<std::size_t>(index.size));
  // The responses summed per slot table too, when the sums fit kMaxPatternSums: X'Y is
  // then added once per table at the end, and a line costs its identifiers and sums.
  const bool by_table = index.size > 0 && index.size * c.NV <= kMaxPatternSums;
  std::vector<double> ysums(by_table ? static_cast<std::size_t>(index.size * c.NV) : 0);
  const std::array<std::int32_t, 6> nlevels = level_counts(c);
  const bool per_line = size_line_counts(r, c, m, index, nlevels);
  // The sums per cross of the means of heterosis, sized once.
  if (c.selfs && !r.cross_lines.empty())
    r.cross_sums.assign(r.cross_lines.size() * static_cast<std::size_t>(c.NV), 0.0);
  double* const sums = r.cross_sums.empty() ? nullptr : r.cross_sums.data();
  const std::int64_t p = c.NLINES;

  Slots s;
  const bool can_miss = src.can_miss();
  std::int32_t* const count = counts.data();
  double* const ysum0 = ysums.data();
  const int NV = c.NV;
  // The common case by its own loop, where the pass has nothing per line but sums.
  const PlainRows plain_for = by_table && !listing && !per_line && !sums
                                  ? plain_rows_for(NV, cross, std::make_integer_sequence<int, MAXY>{})
                                  : nullptr;
  auto lines = [&](const LineSource::Line* rows, std::size_t n) -> std::size_t {
    // The counts of the batch in locals, which no store of the sums can touch.
    std::int64_t nread = r.NREAD;
    std::int32_t accumulated = nobs;
    // Only the line of a batch of one can lack a value.
    const bool may_miss = can_miss && n == 1;
    const PlainRows plain = may_miss ? nullptr : plain_for;
    for (std::size_t i = 0; i < n; ++i) {
      if (plain) {
        const std::size_t room = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - accumulated);
        const std::size_t took = plain(rows + i, std::min(n - i, room), c, m, index, count, ysum0, YPY);
        nread += static_cast<std::int64_t>(took);
        accumulated += static_cast<std::int32_t>(took);
        i += took;
        if (i == n) break;
      }
      const Ids& d = rows[i].d;
      const float* Y = rows[i].Y;
      r.NREAD = ++nread;
      if (!admitted(io, c, m, src, may_miss, d, i, r)) continue;
      if (accumulated == std::numeric_limits<std::int32_t>::max()) too_many_lines();
      ++accumulated;
      if (by_table) {
        // Y'Y now; X'X and X'Y by the line's slot table at the end.
        if (listing) {
          select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
          list_line(io, d, s, nslots, items);
        }
        accumulate_ypy(Y, NV, cross, YPY);
        const std::int64_t k = index.of(d);
        ++count[k];
        double* ysum = ysum0 + k * NV;
        for (int v = 0; v < NV; ++v) ysum[v] += Y[v];
      } else {
        select_columns(m, c.NLINES, c.NSETS, c.NCLON, d, s);
        if (listing) list_line(io, d, s, nslots, items);
        // The responses now; XPX by the line's slot table at the end, or now when the
        // tables are too many to count.
        accumulate_responses(s, nslots, Y, NV, m.SDFL, cross, XPY, YPY);
        if (index.size > 0)
          ++count[index.of(d)];
        else
          accumulate_xpx(s, nslots, 1.0, XPX);
      }
      if (per_line) count_lines(r, nlevels, d, 1);
      if (sums) {
        double* sum = sums + (((d.ISET - 1) * p + d.IFEM - 1) * p + d.IMALE - 1) * NV;
        for (int v = 0; v < NV; ++v) sum[v] += Y[v];
      }
    }
    r.NREAD = nread;
    nobs = accumulated;
    return n;
  };
  src.each(lines);
  // The read that ended the data: a terminating line or the end of the file.
  ++r.NREAD;
  r.lines_after_end = src.lines_after_end();
  if (r.lines_after_end > 0) r.end_line = r.NREAD;
  add_counted_patterns(c, m, index, counts, ysums, per_line, nlevels, s, XPX, XPY, r);
  *a.NOBS = nobs;
  return r;
}

void finish_pass(rec::Io& io, Clock& clock, std::int32_t NOBS, const PassResult& r,
                 std::int64_t lines_read) {
  static const rec::Format kCount = rec::Format::compile("(' Number of data lines read: ',A)");
  static const rec::Format kSelfs = rec::Format::compile("(' Self lines skipped:        ',A)");
  static const rec::Format kSelfsAnalysed =
      rec::Format::compile("(' Self lines analysed:       ',A)");
  static const rec::Format kMissingReport =
      rec::Format::compile("('0',I8,' DATA LINES WITH A MISSING VALUE WERE LEFT OUT')");
  static const rec::Format kMissingConsole =
      rec::Format::compile("(' ',A,' DATA LINES WITH A MISSING VALUE WERE LEFT OUT')");
  static const rec::Format kCutReport = rec::Format::compile(
      "('0 THE LAST LINE OF THE DATA FILE HAS NO LINE END; WAS THE FILE CUT?')");
  static const rec::Format kCutConsole = rec::Format::compile(
      "(' THE LAST LINE OF THE DATA FILE HAS NO LINE END; WAS THE FILE CUT?')");
  static const rec::Format kComplete = rec::Format::compile(
      "(' Matrices are complete     ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const rec::Format kBadTotal = rec::Format::compile(
      "('0',I8,' DATA LINES HAVE IDENTIFIERS OUTSIDE THEIR RANGES ,JOB TERMINATED')");
  static const rec::Format kNoLines =
      rec::Format::compile("('0',I8,' DATA LINES ACCUMULATED ,JOB TERMINATED')");
  static const rec::Format kAfterEnd =
      rec::Format::compile("('0',I8,' DATA LINES AFTER LINE ',A,' WERE NOT READ')");

  io.write(rec::kConsole, kCount, {rec::edit_count(lines_read, 5)});
  io.write(rec::kConsole, r.selfs_analysed ? kSelfsAnalysed : kSelfs,
           {rec::edit_count(r.self_lines, 5)});
  if (r.missing_lines > 0) {
    io.write(rec::kConsole, kMissingConsole, {std::to_string(r.missing_lines)});
    io.write(kReportUnit, kMissingReport, {rec::clamped_int(r.missing_lines)});
  }
  if (r.last_line_cut) {
    io.write(rec::kConsole, kCutConsole, {});
    io.write(kReportUnit, kCutReport, {});
  }
  stamp(io, clock, kComplete);
  if (r.lines_after_end > 0) {
    const std::string end_line = std::to_string(r.end_line);
    report_and_console(io, kAfterEnd, {rec::clamped_int(r.lines_after_end), end_line});
  }
  if (r.bad_lines > 0)
    report_and_console(io, kBadTotal, {rec::clamped_int(r.bad_lines)});
  else if (NOBS == 0)
    report_and_console(io, kNoLines, {0});
}

}  // namespace korbal
