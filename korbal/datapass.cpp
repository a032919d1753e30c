// Data pass: data format, data file, the slot table of every line and the
// accumulation of the normal equations.
#include "korbal/datapass.h"

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
// Reading data lines

namespace {

// Yields one record already taken from `src`, then the rest of `src`.
class Replay : public rec::RecordSource {
 public:
  Replay(std::string_view first, rec::RecordSource& src) : first_(first), src_(src) {}
  bool next(std::string_view& record) override {
    if (!used_) {
      used_ = true;
      record = first_;
      return true;
    }
    return src_.next(record);
  }

 private:
  std::string_view first_;
  rec::RecordSource& src_;
  bool used_ = false;
};

constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                            1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// Integer field, blanks ignored. False when it holds anything but an optional sign
// and digits (the general reader then decides).
inline bool int_field(const char* p, const char* e, std::int32_t& out) {
  while (p < e && *p == ' ') ++p;
  bool neg = false;
  if (p < e && (*p == '-' || *p == '+')) {
    neg = *p == '-';
    ++p;
  }
  std::int64_t v = 0;
  int ndig = 0;
  for (; p < e; ++p) {
    const char ch = *p;
    if (ch >= '0' && ch <= '9') {
      v = v * 10 + (ch - '0');
      if (++ndig > 9) return false;
    } else if (ch != ' ') {
      return false;
    }
  }
  out = static_cast<std::int32_t>(neg ? -v : v);
  return true;
}

// Real field of Fw.d, blanks ignored, without exponent or scale factor.
inline bool real_field(const char* p, const char* e, int d, float& out) {
  while (p < e && *p == ' ') ++p;
  bool neg = false;
  if (p < e && (*p == '-' || *p == '+')) {
    neg = *p == '-';
    ++p;
  }
  std::int64_t mant = 0;
  int ndig = 0, frac = 0;
  bool point = false;
  for (; p < e; ++p) {
    const char ch = *p;
    if (ch >= '0' && ch <= '9') {
      mant = mant * 10 + (ch - '0');
      if (++ndig > 15) return false;
      if (point) ++frac;
    } else if (ch == '.' && !point) {
      point = true;
    } else if (ch != ' ') {
      return false;
    }
  }
  const int scale = point ? frac : d;
  // Mantissa and power of ten both exact in single precision: the quotient is the
  // correctly rounded single-precision value of the field. Others go the general way.
  if (scale > 10 || mant >= (std::int64_t{1} << 24)) return false;
  const float v = static_cast<float>(mant) / kPow10[scale];
  out = neg ? -v : v;
  return true;
}

}  // namespace

LineReader::LineReader(const rec::Format& fmt, int layout, int nv)
    : fmt_(fmt), nv_(nv), layout_(layout) {
  nids_ = layout == 3 ? 6 : (layout == 2 ? 4 : 5);
  fast_ = plan(fmt_);
}

// Works out the columns of every item when the format reads one data line from
// exactly one record with I and F/E/D/G fields only; false otherwise.
bool LineReader::plan(const rec::Format& fmt) {
  const auto& nodes = fmt.nodes();
  for (const auto& n : nodes)
    if (n.kind == rec::FormatNode::Slash || n.kind == rec::FormatNode::Scale ||
        n.kind == rec::FormatNode::BZ || n.kind == rec::FormatNode::Literal ||
        n.kind == rec::FormatNode::A)
      return false;
  const int nitems = nids_ + nv_;
  struct Open {
    int index;
    int left;
  };
  std::vector<Open> stack;
  std::int32_t col = 0;
  std::size_t i = 1;  // nodes[0] is the outer group
  while (static_cast<int>(fields_.size()) < nitems) {
    if (i + 1 >= nodes.size()) return false;  // would revert to a new record
    const auto& n = nodes[i];
    switch (n.kind) {
      case rec::FormatNode::GroupOpen:
        stack.push_back({static_cast<int>(i), n.repeat});
        ++i;
        break;
      case rec::FormatNode::GroupClose:
        if (stack.empty()) return false;
        if (--stack.back().left > 0) {
          i = static_cast<std::size_t>(stack.back().index) + 1;
        } else {
          stack.pop_back();
          ++i;
        }
        break;
      case rec::FormatNode::X:
      case rec::FormatNode::TR:
        col += n.width;
        ++i;
        break;
      case rec::FormatNode::TL:
        col = col > n.width ? col - n.width : 0;
        ++i;
        break;
      case rec::FormatNode::T:
        col = n.width > 1 ? n.width - 1 : 0;
        ++i;
        break;
      case rec::FormatNode::BN:
      case rec::FormatNode::Colon:
        ++i;
        break;
      case rec::FormatNode::I:
      case rec::FormatNode::F:
      case rec::FormatNode::E:
      case rec::FormatNode::D:
      case rec::FormatNode::G: {
        const bool real = n.kind != rec::FormatNode::I;
        for (int r = 0; r < n.repeat && static_cast<int>(fields_.size()) < nitems; ++r) {
          const bool want_real = static_cast<int>(fields_.size()) >= nids_;
          if (real != want_real || n.width <= 0) return false;
          fields_.push_back({col, n.width, n.digits < 0 ? 0 : n.digits, real, false});
          col += n.width;
        }
        ++i;
        break;
      }
      default:
        return false;
    }
    if (col > rec::kMaxRecordLength) return false;
  }
  return true;
}

bool LineReader::decode(std::string_view rec, Ids& d, float* Y) const {
  std::int32_t ids[6];
  const char* base = rec.data();
  const std::int32_t len = static_cast<std::int32_t>(rec.size());
  int k = 0;
  for (const Field& f : fields_) {
    const std::int32_t a = f.column < len ? f.column : len;
    const std::int32_t b = f.column + f.width < len ? f.column + f.width : len;
    if (f.real) {
      if (!real_field(base + a, base + b, f.digits, Y[k - nids_])) return false;
    } else {
      if (!int_field(base + a, base + b, ids[k])) return false;
    }
    ++k;
  }
  switch (layout_) {
    case 3: d.ILOC = ids[0]; d.IREP = ids[1]; d.ISET = ids[2]; d.IFEM = ids[3]; d.IMALE = ids[4]; d.ICLONE = ids[5]; break;
    case 1: d.IREP = ids[0]; d.ISET = ids[1]; d.IFEM = ids[2]; d.IMALE = ids[3]; d.ICLONE = ids[4]; break;
    case 4: d.ILOC = ids[0]; d.ISET = ids[1]; d.IFEM = ids[2]; d.IMALE = ids[3]; d.ICLONE = ids[4]; break;
    default: d.ISET = ids[0]; d.IFEM = ids[1]; d.IMALE = ids[2]; d.ICLONE = ids[3]; break;
  }
  return true;
}

rec::ReadStatus LineReader::slow(rec::RecordSource& src, std::string_view first, Ids& d,
                                 float* Y, rec::ReadError& err, int& records_used) {
  std::int32_t* idp[6];
  int k = 0;
  if (layout_ == 3 || layout_ == 4) idp[k++] = &d.ILOC;
  if (layout_ == 3 || layout_ == 1) idp[k++] = &d.IREP;
  idp[k++] = &d.ISET;
  idp[k++] = &d.IFEM;
  idp[k++] = &d.IMALE;
  idp[k++] = &d.ICLONE;
  rec::Target targets[6 + MAXY] = {};
  for (int j = 0; j < nids_; ++j) targets[j] = rec::Target::of(*idp[j]);
  for (int v = 0; v < nv_; ++v) targets[nids_ + v] = rec::Target::of(Y[v]);
  const std::span<const rec::Target> items(targets, static_cast<std::size_t>(nids_ + nv_));
  records_used = 0;
  if (first.data() != nullptr) {
    Replay replay(first, src);
    return rec::format_read(fmt_, replay, items, &err, &records_used);
  }
  return rec::format_read(fmt_, src, items, &err, &records_used);
}

rec::ReadStatus LineReader::read(rec::RecordSource& src, Ids& d, float* Y, rec::ReadError& err,
                                 int& records_used) {
  if (!fast_) return slow(src, std::string_view(), d, Y, err, records_used);
  std::string_view record;
  if (!src.next(record)) {
    records_used = 0;
    return rec::ReadStatus::End;
  }
  if (decode(record, d, Y)) {
    records_used = 1;
    return rec::ReadStatus::Ok;
  }
  // A field the direct decoder does not take: let the general reader judge it.
  if (record.data() == nullptr) record = std::string_view("", 0);
  return slow(src, record, d, Y, err, records_used);
}

// ---------------------------------------------------------------------------------
// Data file records

FileRecords::FileRecords(const std::filesystem::path& p) : buf_(std::size_t{1} << 20) {
  file_ = std::fopen(p.c_str(), "rb");
}

FileRecords::~FileRecords() {
  if (file_) std::fclose(file_);
}

bool FileRecords::refill() {
  if (eof_ || !file_) return false;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // a record longer than the buffer
  const std::size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, file_);
  if (got == 0) eof_ = true;
  end_ += got;
  return got > 0;
}

bool FileRecords::next(std::string_view& record) {
  for (;;) {
    const char* start = buf_.data() + pos_;
    const void* nl = std::memchr(start, '\n', end_ - pos_);
    if (nl != nullptr) {
      const char* e = static_cast<const char*>(nl);
      const std::size_t n = static_cast<std::size_t>(e - start);
      pos_ += n + 1;
      record = std::string_view(start, n > 0 && e[-1] == '\r' ? n - 1 : n);
      ++count_;
      return true;
    }
    if (!refill()) {
      if (pos_ == end_) return false;
      // Last record without a line end.
      start = buf_.data() + pos_;
      std::size_t n = end_ - pos_;
      pos_ = end_;
      if (n > 0 && start[n - 1] == '\r') --n;
      record = std::string_view(start, n);
      ++count_;
      return true;
    }
  }
}

// ---------------------------------------------------------------------------------
// The pass

namespace {

[[noreturn]] void read_failure(int unit, const std::string& file, std::int64_t record,
                               const rec::ReadError& err) {
  throw rec::RunError("Run-time error: READ on unit " + std::to_string(unit) + ", file '" +
                      file + "', record " + std::to_string(record) + ": " + err.message +
                      " '" + err.field + "' (columns " + std::to_string(err.column) + "-" +
                      std::to_string(err.column + err.width - 1) + ")");
}

}  // namespace

PassResult ACCUMULATE(rec::Io& io, const Control& c, const Model& m, Arrays& a,
                      const rec::Format& datfmt, rec::RecordSource& src, int unit,
                      const std::string& file) {
  static const rec::Format kListCols = rec::Format::compile("(' ',I5,I7,4X,15I4)");
  static const rec::Format kListVals = rec::Format::compile("('+',T63,15F4.0)");
  static const rec::Format kBadLine =
      rec::Format::compile("('0 DATA LINE',I8,': ',A6,' =',I8,' IS OUTSIDE 1 TO',I6)");

  PassResult r;
  LineReader reader(datfmt, c.LAYOUT, c.NV);
  const bool cross = c.CROSS > 0;
  const bool listing = c.IPRINT < 0;
  const int nslots = m.KRXF;
  double* XPX = a.XPX.data();
  double* XPY = a.XPY.data();
  double* YPY = a.YPY.data();
  std::int64_t records = 0;
  std::int32_t nobs = a.NOBS;
  std::vector<rec::Item> items;
  if (listing) items.reserve(16);
  // Lines per slot table, added into XPX once at the end of the pass.
  const PatternIndex index(m, c.NLINES, c.NSETS, c.NCLON);
  std::vector<std::int32_t> counts(static_cast<std::size_t>(index.size));

  Ids d;  // fields the layout does not carry keep their initial 0
  float Y[MAXY] = {};
  Slots s;
  rec::ReadError err;
  for (;;) {
    ++r.NREAD;
    int used = 0;
    const rec::ReadStatus st = reader.read(src, d, Y, err, used);
    if (st == rec::ReadStatus::End) break;
    if (st == rec::ReadStatus::Error) read_failure(unit, file, records + err.record, err);
    records += used;
    if (d.IFEM == 0 && d.IMALE == 0) break;
    if (d.IFEM == d.IMALE) continue;
    RangeFault f;
    if (!check_ids(m, c.NLINES, c.NSETS, c.NCLON, d, f)) {
      if (++r.bad_lines <= kMaxBadLines)
        io.write(kReportUnit, kBadLine, {r.NREAD, f.field, f.value, f.high});
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
  static const rec::Format kA80 = rec::Format::compile("(A80)");
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

  std::string DATFMT;
  io.read(kControlUnit, kA80, {rec::Target::of(DATFMT, 80)}, false);
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
  const std::string name = io.open(c.IDATA, "", rec::OpenMode::Input);
  int hh, mm, ss, cc;
  CLKHMS(clock, hh, mm, ss, cc);
  io.write(rec::kConsole, kReading, {hh, mm, ss, cc});
  io.write(rec::kConsole, kShowFormat, {DATFMT});
  if (c.IPRINT < 0) io.write(kReportUnit, kHeading, {});

  PassResult r;
  {
    std::filesystem::path path(name);
    if (path.is_relative() && !io.dir().empty()) path = io.dir() / path;
    FileRecords src(path);
    if (!src.ok())
      throw rec::RunError("Run-time error: OPEN on unit " + std::to_string(c.IDATA) +
                          ", file '" + name + "': the file cannot be read");
    r = ACCUMULATE(io, c, m, a, datfmt, src, c.IDATA, name);
  }

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
