// The data pass of korbal: reads the data lines with the user's format, turns each
// into its few nonzero entries of the design matrix (the slot table) and adds them
// into the normal equations XPX, XPY and the sums of squares and products YPY.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "korbal/clock.h"
#include "korbal/design.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/format.h"
#include "records/io.h"

namespace korbal {

inline constexpr int kMaxBadLines = 20;  // bad data lines reported before the rest go unlisted

// Where a data pass adds up the normal equations: packed X'X (SDFL(SDFL+1)/2 values),
// X'Y (stride SDFL), Y'Y (analysis order) and the count of observations. The run's
// fixed Arrays or arrays sized to the model (normal_equations); the pass writes only
// the part the model uses.
struct Accumulators {
  double* XPX = nullptr;
  double* XPY = nullptr;
  double* YPY = nullptr;
  std::int32_t* NOBS = nullptr;
  Accumulators(double* xpx, double* xpy, double* ypy, std::int32_t* nobs)
      : XPX(xpx), XPY(xpy), YPY(ypy), NOBS(nobs) {}
  // The run's fixed arrays (implicit: korbal's run hands its Arrays to the pass).
  Accumulators(Arrays& a) : XPX(a.XPX.data()), XPY(a.XPY.data()), YPY(a.YPY.data()), NOBS(&a.NOBS) {}
};

// The slot table of one data line: model column and value of X in each slot.
// The slots of one data line: at most 20 (every effect, the by-location ones included).
inline constexpr int kMaxSlots = 20;
struct Slots {
  std::array<std::int32_t, kMaxSlots> ICOL{};
  std::array<float, kMaxSlots> VX{};
};

// Computes ICOL(1..KRXF) and VX(1..KRXF) of a data line whose identifiers passed
// check_ids (and which is not the terminating line, nor a self unless m.selfs). The
// effects by location code a self line (IFEM = IMALE) too: GXL +2 in the parent's column,
// SXL its self column when ISELF = 0, MXL and RXL nothing; a slot that selects nothing
// holds a column of its block with the value 0, which adds nothing to the equations.
void select_columns(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON,
           const Ids& d, Slots& s);

// An identifier outside the range the model expects.
struct RangeFault {
  const char* field = "";
  std::int32_t value = 0;
  std::int32_t high = 0;  // allowed range 1..high
};

// Checks the identifiers that the model uses. Returns false and fills `f` with the
// first field out of range.
inline bool check_ids(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON,
                      const Ids& d, RangeFault& f) {
  const auto out = [](std::int32_t value, std::int32_t high) { return !(value >= 1 && value <= high); };
  // All in range, the common case, by one test (of bits, not of conditions one by one).
  const auto bit = [](bool b) { return static_cast<unsigned>(b); };
  if (!(bit(m.has_loc && out(d.ILOC, m.NLOC)) | bit(m.has_rep && out(d.IREP, m.NREP)) |
        bit(out(d.ISET, NSETS)) | bit(out(d.IFEM, NLINES)) | bit(out(d.IMALE, NLINES)) |
        bit(m.has_clon && out(d.ICLONE, NCLON))))
    return true;
  // The first field out of range.
  const auto bad = [&](const char* field, std::int32_t value, std::int32_t high) {
    if (!out(value, high)) return false;
    f = RangeFault{field, value, high};
    return true;
  };
  if (m.has_loc && bad("ILOC", d.ILOC, m.NLOC)) return false;
  if (m.has_rep && bad("IREP", d.IREP, m.NREP)) return false;
  if (bad("ISET", d.ISET, NSETS)) return false;
  if (bad("IFEM", d.IFEM, NLINES)) return false;
  if (bad("IMALE", d.IMALE, NLINES)) return false;
  bad("ICLONE", d.ICLONE, NCLON);
  return false;
}

// Adds one data line into the accumulators: XPX (packed, 0-based vector of the
// 1-based layout), XPY (stride SDFL), YPY (analysis order). Y holds NV responses.
void accumulate_line(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
           double* XPX, double* XPY, double* YPY);

// The two halves of accumulate_line: the responses (XPY, YPY) of one line, and `count` lines
// with the same slot table into XPX. Every XPX entry is a sum of products of +1 and
// -1, so adding the lines of one slot table at once gives exactly the same sums.
void accumulate_responses(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
            double* XPY, double* YPY);
void accumulate_xpx(const Slots& s, int nslots, double count, double* XPX);

// Numbering of the slot tables a model can produce, by the identifiers it uses: the
// data pass counts the lines of each and adds XPX once per table at the end.
struct PatternIndex {
  std::int64_t size = 0;  // number of possible tables; 0 when too many to count
  std::int32_t nloc = 1, nrep = 1, nsets = 1, nlines = 1, nclon = 1;
  PatternIndex(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON);
  // Index of a line whose identifiers passed check_ids: the identifiers' sum over the
  // strides (0 for an identifier the model does not use), less the strides' sum.
  std::int64_t of(const Ids& d) const {
    return d.ILOC * stride[0] + d.IREP * stride[1] + d.ISET * stride[2] + d.IFEM * stride[3] +
           d.IMALE * stride[4] + d.ICLONE * stride[5] - base;
  }
  // Identifiers of index k (fields the model does not use are 0).
  Ids ids(std::int64_t k) const;
  const Model* model;
  std::int64_t stride[6] = {};
  std::int64_t base = 0;
};
inline constexpr std::int64_t kMaxPatterns = std::int64_t{1} << 20;
// Most sums of responses per slot table (tables times responses) the pass keeps (8 MiB);
// beyond it X'Y is added line by line.
inline constexpr std::int64_t kMaxPatternSums = std::int64_t{1} << 20;

// Result of the data pass.
struct PassResult {
  std::int64_t NREAD = 0;      // lines read, the terminating line (or the end) included
  std::int64_t bad_lines = 0;  // data lines with identifiers out of range
  std::int64_t self_lines = 0;  // self lines skipped, or analysed when selfs_analysed
  bool selfs_analysed = false;  // self lines entered the equations (--selfs)
  std::int64_t missing_lines = 0;  // data lines left out for a missing value (CSV data)
  bool last_line_cut = false;  // the last record of a CSV data file lacks its line end
  // Non-blank lines after the end of the data (a blank or terminating line): how many,
  // and the number of that end line.
  std::int64_t lines_after_end = 0, end_line = 0;
  // Accumulated lines per ordered cross: index ((ISET-1) NLINES + IFEM-1) NLINES + IMALE-1.
  std::vector<std::int64_t> cross_lines;
  // With self lines analysed (and cross_lines sized): the sum of each response over the
  // accumulated lines of each cross and self, index (cross index) NV + v; else empty.
  std::vector<double> cross_sums;
  // Accumulated lines per level of each identifier the layout reads (indexed by
  // Factor, level 1 at index 0); empty for an identifier the layout does not read.
  std::array<std::vector<std::int64_t>, 6> level_lines;
  // Names of the levels when the data name them (IFEM and IMALE then hold the same
  // list); an empty vector means numbered levels.
  std::array<std::vector<std::string>, 6> level_names;
};

// The data lines of a data file, for the accumulation loop: one at a time by next(), or
// in batches by each().
class LineSource {
 public:
  virtual ~LineSource() = default;
  // One data line: its identifiers (fields a layout lacks stay 0) and its responses.
  struct Line {
    Ids d;
    float Y[MAXY] = {};
  };
  // Takes a batch of lines and returns how many of them it used.
  using Lines = std::function<std::size_t(const Line* rows, std::size_t n)>;

  // Reads the next data line into `d` and `Y`; false at the end of the data.
  virtual bool next() = 0;
  // Reads the data lines in batches, calling lines(rows, n) after each, until the end
  // of the data (where next() gives false) or until lines() uses fewer than it got. By
  // default the lines of next(), one to a batch.
  virtual void each(const Lines& lines);
  // Whether the line just read lacks a value: it is then left out and counted. Asked
  // of the one line of a batch of one: a batch of more lacks no value.
  virtual bool missing() const { return false; }
  // Whether a line of this source can lack a value at all (missing() is then asked).
  virtual bool can_miss() const { return true; }
  // After the data: the non-blank lines that follow the end of the data (a terminating
  // or blank line) and so were not read.
  virtual std::int64_t lines_after_end() { return 0; }
  // Writes the report line of the `NREAD`th line read, row `row` of the batch last
  // handed out, whose identifier `f` is out of range.
  virtual void report_bad(rec::Io& io, std::int32_t NREAD, std::size_t row, const RangeFault& f);

  Ids d;                // identifiers of the line; fields a layout lacks stay 0
  float Y[MAXY] = {};   // its responses
};

// The accumulation loop over the lines of `src`: skips lines with a missing value and
// selfs, checks identifiers (reporting up to kMaxBadLines bad lines on the report),
// lists accumulated lines when IPRINT < 0, and accumulates.
PassResult accumulate(rec::Io& io, const Control& c, const Model& m, Accumulators a,
                      LineSource& src);

// The data pass proper over the data file open on `unit`: reads data lines with the
// compiled data format until the terminating line or the end of the file, skips
// selfs, checks identifiers (reporting up to kMaxBadLines bad lines on the report and
// the console), lists accumulated lines when IPRINT < 0, accumulates and counts the
// lines per cross and per level. After a terminating line it counts the non-blank
// lines that follow. More accumulated lines than NOBS can count is a run-time error.
PassResult accumulate(rec::Io& io, const Control& c, const Model& m, Accumulators a,
                      const rec::Format& datfmt, int unit);

// The closing lines of a data pass: lines read (`lines_read`), self lines skipped, lines
// with a missing value, a last line without its line end, and on the report and the
// console the lines after the end, the bad lines' total or a pass that accumulated
// nothing (NOBS 0).
void finish_pass(rec::Io& io, Clock& clock, std::int32_t NOBS, const PassResult& r,
                 std::int64_t lines_read);

// The data record of the control file (its fourth kind), read whole: a format, or the
// word CSV and the columns of a CSV data file.
std::string read_data_record(rec::Io& io);

// The data file's unit: `unit` when the caller opened the file; 0 asks for the file
// ("Please enter input data set name") and opens it on IDATA.
int open_data(rec::Io& io, const Control& c, int unit);

// The data pass over the data file for the data record `record`, on `unit` when the
// caller opened the file (0: as open_data), with its progress and closing lines.
PassResult pass_data(rec::Io& io, Clock& clock, const Control& c, const Model& m,
                     Accumulators a, const std::string& record, int unit);

// The normal equations of a model, sized to it, and what the data pass found.
struct NormalEquations {
  int SDFL = 0, NV = 0;
  std::vector<double> XPX;  // packed, SDFL(SDFL+1)/2 values
  std::vector<double> XPY;  // stride SDFL, SDFL x NV values
  std::vector<double> YPY;  // analysis order, NV(NV+1)/2 values (NV used without CROSS)
  std::int32_t NOBS = 0;
  PassResult pass;
};

// The data pass of pass_data into normal equations sized to the model `m` (which must
// fit the column limit) of the normalised control record `c`: for a program that reads
// korbal's equations without korbal's fixed arrays.
NormalEquations normal_equations(rec::Io& io, Clock& clock, const Control& c, const Model& m,
                                 const std::string& record, int unit);

// The whole data pass of the run: data format, data file, progress lines, and the
// closing messages (bad lines, no line accumulated, lines after the end).
PassResult run_data_pass(rec::Io& io, Clock& clock, const Control& c, const Model& m, Arrays& a);

}  // namespace korbal
