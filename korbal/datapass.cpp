// Data pass: data format, data file, the slot table of every line and the
// accumulation of the normal equations.
#include "korbal/datapass.h"

#include "korbal/csvdata.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace korbal {

// ---------------------------------------------------------------------------------
// Slot table and accumulation

bool check_ids(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON,
               const Ids& d, RangeFault& f) {
  auto bad = [&f](const char* field, std::int32_t value, std::int32_t high) {
    if (value >= 1 && value <= high) return false;
    f = RangeFault{field, value, high};
    return true;
  };
  if (m.has_loc && bad("ILOC", d.ILOC, m.NLOC)) return false;
  if (m.has_rep && bad("IREP", d.IREP, m.NREP)) return false;
  if (bad("ISET", d.ISET, NSETS)) return false;
  if (bad("IFEM", d.IFEM, NLINES)) return false;
  if (bad("IMALE", d.IMALE, NLINES)) return false;
  if (m.has_clon && bad("ICLONE", d.ICLONE, NCLON)) return false;
  return true;
}

void SLOTS(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON,
           const Ids& d, Slots& s) {
  // All sizes fit 32 bits here: the model has at most 550 columns and the
  // identifiers are within their ranges.
  const std::int32_t p = NLINES;
  const std::int32_t q = p * (p - 1);         // ordered crosses of a set
  const std::int32_t sq = NSETS * q;          // ordered crosses of all sets
  const std::int32_t low = d.IFEM < d.IMALE ? d.IFEM : d.IMALE;
  const std::int32_t high = d.IFEM < d.IMALE ? d.IMALE : d.IFEM;
  const float sgn = d.IFEM < d.IMALE ? 1.0f : -1.0f;
  const std::int32_t mpos = d.IMALE > d.IFEM ? d.IMALE - 1 : d.IMALE;
  const std::int32_t family = (d.ISET - 1) * q + (d.IFEM - 1) * (p - 1) + mpos;  // within all sets
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
  icol[m.KGCA] = static_cast<std::int32_t>(m.GCABAS) + lineoff + low;
  icol[m.KGCA + 1] = static_cast<std::int32_t>(m.GCABAS) + lineoff + high;
  const std::int32_t ipair =
      (d.ISET - 1) * (q / 2) + low * p - p + high - (low * low + low) / 2;
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

void ACCUMY(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
            double* XPY, double* YPY) {
  // Sums of squares and products of the responses, in analysis order.
  int k = 0;
  for (int v = 0; v < NV; ++v) {
    const double yv = Y[v];
    if (cross) {
      for (int w = v; w < NV; ++w) YPY[k++] += static_cast<double>(Y[w]) * yv;
    } else {
      YPY[k++] += yv * yv;
    }
  }
  for (int a = 0; a < nslots; ++a) {
    const double va = s.VX[a];
    double* xpy = XPY + (s.ICOL[a] - 1);
    for (int v = 0; v < NV; ++v) xpy[static_cast<std::ptrdiff_t>(v) * SDFL] += va * Y[v];
  }
}

void ACCUMX(const Slots& s, int nslots, double count, double* XPX) {
  // Element (i, j), i <= j, of the packed triangle is at 0-based index
  // i - 1 + j(j - 1)/2; slot columns increase with the slot number.
  for (int b = 0; b < nslots; ++b) {
    const std::int32_t j = s.ICOL[b];
    double* col = XPX + (j * (j - 1) / 2 - 1);
    const double vb = count * s.VX[b];
    for (int a = 0; a <= b; ++a) col[s.ICOL[a]] += vb * s.VX[a];
  }
}

void ACCUM(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
           double* XPX, double* XPY, double* YPY) {
  ACCUMY(s, nslots, Y, NV, SDFL, cross, XPY, YPY);
  ACCUMX(s, nslots, 1.0, XPX);
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
}

std::int64_t PatternIndex::of(const Ids& d) const {
  const Model& m = *model;
  std::int64_t k = m.has_loc ? d.ILOC - 1 : 0;
  k = k * nrep + (m.has_rep ? d.IREP - 1 : 0);
  k = k * nsets + (d.ISET - 1);
  k = k * nlines + (d.IFEM - 1);
  k = k * nlines + (d.IMALE - 1);
  return k * nclon + (m.has_clon ? d.ICLONE - 1 : 0);
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

void LineSource::report_bad(rec::Io& io, std::int32_t NREAD, const RangeFault& f) {
  static const rec::Format kBadLine =
      rec::Format::compile("('0 DATA LINE',I8,': ',A6,' =',I8,' IS OUTSIDE 1 TO',I6)");
  io.write(kReportUnit, kBadLine, {NREAD, f.field, f.value, f.high});
}

namespace {

// Data lines read with the user's format from the file open on a unit; the line with
// female and male line 0 ends the data.
class FormattedLines : public LineSource {
 public:
  FormattedLines(rec::Io& io, const Control& c, const rec::Format& datfmt, int unit)
      : io_(io), datfmt_(datfmt), unit_(unit) {
    // The item list of the layout, built once: identifiers, then the responses.
    if (c.LAYOUT == 3 || c.LAYOUT == 4) targets_[n_++] = rec::Target::of(d.ILOC);
    if (c.LAYOUT == 3 || c.LAYOUT == 1) targets_[n_++] = rec::Target::of(d.IREP);
    targets_[n_++] = rec::Target::of(d.ISET);
    targets_[n_++] = rec::Target::of(d.IFEM);
    targets_[n_++] = rec::Target::of(d.IMALE);
    targets_[n_++] = rec::Target::of(d.ICLONE);
    for (int v = 0; v < c.NV && v < MAXY; ++v) targets_[n_++] = rec::Target::of(Y[v]);
  }
  bool next() override {
    // A conversion error ends the run (RunError); the end of the file ends the pass.
    if (!io_.read(unit_, datfmt_, std::span<const rec::Target>(targets_, n_), true)) return false;
    return !(d.IFEM == 0 && d.IMALE == 0);
  }

 private:
  rec::Io& io_;
  const rec::Format& datfmt_;
  int unit_;
  rec::Target targets_[6 + MAXY];
  std::size_t n_ = 0;
};

}  // namespace

PassResult ACCUMULATE(rec::Io& io, const Control& c, const Model& m, Arrays& a,
                      const rec::Format& datfmt, int unit) {
  FormattedLines src(io, c, datfmt, unit);
  return ACCUMULATE(io, c, m, a, src);
}

PassResult ACCUMULATE(rec::Io& io, const Control& c, const Model& m, Arrays& a, LineSource& src) {
  static const rec::Format kListCols = rec::Format::compile("(' ',I5,I7,4X,15I4)");
  static const rec::Format kListVals = rec::Format::compile("('+',T63,15F4.0)");

  PassResult r;
  const bool cross = c.CROSS > 0;
  const bool listing = c.IPRINT < 0;
  const int nslots = m.KRXF;
  double* XPX = a.XPX.data();
  double* XPY = a.XPY.data();
  double* YPY = a.YPY.data();
  std::int32_t nobs = a.NOBS;
  std::vector<rec::Item> items;
  if (listing) items.reserve(16);
  // Lines per slot table, added into XPX once at the end of the pass.
  const PatternIndex index(m, c.NLINES, c.NSETS, c.NCLON);
  std::vector<std::int32_t> counts(static_cast<std::size_t>(index.size));

  const Ids& d = src.d;
  const float* Y = src.Y;
  Slots s;
  for (;;) {
    ++r.NREAD;
    if (!src.next()) break;
    if (src.missing()) {
      ++r.missing_lines;
      continue;
    }
    if (d.IFEM == d.IMALE) continue;
    RangeFault f;
    if (!check_ids(m, c.NLINES, c.NSETS, c.NCLON, d, f)) {
      if (++r.bad_lines <= kMaxBadLines) src.report_bad(io, r.NREAD, f);
      continue;
    }
    ++nobs;
    SLOTS(m, c.NLINES, c.NSETS, c.NCLON, d, s);
    if (listing) {
      items.clear();
      items.emplace_back(d.IFEM);
      items.emplace_back(d.IMALE);
      for (int k = 0; k < nslots; ++k) items.emplace_back(static_cast<int>(s.ICOL[k]));
      io.write(kReportUnit, kListCols, items);
      items.clear();
      for (int k = 0; k < nslots; ++k) items.emplace_back(s.VX[k]);
      io.write(kReportUnit, kListVals, items);
    }
    ACCUMY(s, nslots, Y, c.NV, m.SDFL, cross, XPY, YPY);
    if (index.size > 0)
      ++counts[static_cast<std::size_t>(index.of(d))];
    else
      ACCUMX(s, nslots, 1.0, XPX);
  }
  for (std::int64_t k = 0; k < index.size; ++k) {
    if (counts[static_cast<std::size_t>(k)] == 0) continue;
    SLOTS(m, c.NLINES, c.NSETS, c.NCLON, index.ids(k), s);
    ACCUMX(s, nslots, counts[static_cast<std::size_t>(k)], XPX);
  }
  a.NOBS = nobs;
  return r;
}

PassResult DATPAS(rec::Io& io, Clock& clock, const Control& c, const Model& m, Arrays& a) {
  static const rec::Format kWholeRecord = rec::Format::compile("(A)");
  static const rec::Format kReading = rec::Format::compile(
      "(' Reading problem dataset   ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const rec::Format kShowFormat = rec::Format::compile("(' Input data format: ',A80)");
  static const rec::Format kHeading = rec::Format::compile(
      "('1 FEMALE  MALE',/,'   LINE   LINE',/,'    NO.    NO.',6X,'C O L U M N  N U M B E R  "
      "I N  (X)  ',T67,'V A L U E  I N  C O L U M N  O F   (X) ',/)");
  static const rec::Format kCount = rec::Format::compile("(' Number of data lines read: ',I5)");
  static const rec::Format kComplete = rec::Format::compile(
      "(' Matrices are complete     ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const rec::Format kBadTotal = rec::Format::compile(
      "('0',I8,' DATA LINES HAVE IDENTIFIERS OUTSIDE THEIR RANGES ,JOB TERMINATED')");

  // The data record is read whole: a CSV record may be longer than the 80 columns of
  // a format, which are the record's first 80 columns.
  std::string record;
  io.read(kControlUnit, kWholeRecord, {rec::Target::of(record, rec::kMaxRecordLength)}, false);
  if (is_csv_record(record)) return DATPAS_CSV(io, clock, c, m, a, record);
  std::string DATFMT = record.substr(0, 80);
  rec::Format datfmt;
  try {
    datfmt = rec::Format::compile(DATFMT);
  } catch (const rec::FormatError& e) {
    std::string shown = DATFMT;
    while (!shown.empty() && shown.back() == ' ') shown.pop_back();
    throw rec::RunError("Run-time error: invalid data format " + shown + ": " + e.what() +
                        " (format position " + std::to_string(e.position + 1) + ")");
  }

  io.say({});
  io.say({"Please enter input data set name"});
  io.open(c.IDATA, "", rec::OpenMode::Input);
  int hh, mm, ss, cc;
  CLKHMS(clock, hh, mm, ss, cc);
  io.write(rec::kConsole, kReading, {hh, mm, ss, cc});
  io.write(rec::kConsole, kShowFormat, {DATFMT});
  if (c.IPRINT < 0) io.write(kReportUnit, kHeading, {});

  const PassResult r = ACCUMULATE(io, c, m, a, datfmt, c.IDATA);

  io.write(rec::kConsole, kCount, {r.NREAD});
  CLKHMS(clock, hh, mm, ss, cc);
  io.write(rec::kConsole, kComplete, {hh, mm, ss, cc});
  if (r.bad_lines > 0) {
    const int shown = static_cast<int>(
        std::min<std::int64_t>(r.bad_lines, std::numeric_limits<std::int32_t>::max()));
    io.write(kReportUnit, kBadTotal, {shown});
  }
  return r;
}

}  // namespace korbal
