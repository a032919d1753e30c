// The data pass of korbal: reads the data lines with the user's format, turns each
// into its few nonzero entries of the design matrix (the slot table) and adds them
// into the normal equations XPX, XPY and the sums of squares and products YPY.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/format.h"
#include "records/io.h"

namespace korbal {

inline constexpr int kMaxSlots = 14;
inline constexpr int kMaxBadLines = 20;  // bad data lines reported before the rest go unlisted

// Identifiers of one data line; fields the layout does not carry stay 0.
struct Ids {
  std::int32_t ILOC = 0, IREP = 0, ISET = 0, IFEM = 0, IMALE = 0, ICLONE = 0;
};

// The slot table of one data line: model column and value of X in each slot.
struct Slots {
  std::array<std::int32_t, 16> ICOL{};
  std::array<float, 15> VX{};
};

// Computes ICOL(1..KRXF) and VX(1..KRXF) of a data line whose identifiers passed
// check_ids (and which is neither a self nor the terminating line).
void SLOTS(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON,
           const Ids& d, Slots& s);

// An identifier outside the range the model expects.
struct RangeFault {
  const char* field = "";
  std::int32_t value = 0;
  std::int32_t high = 0;  // allowed range 1..high
};

// Checks the identifiers that the model uses. Returns false and fills `f` with the
// first field out of range.
bool check_ids(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON,
               const Ids& d, RangeFault& f);

// Adds one data line into the accumulators: XPX (packed, 0-based vector of the
// 1-based layout), XPY (stride SDFL), YPY (analysis order). Y holds NV responses.
void ACCUM(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
           double* XPX, double* XPY, double* YPY);

// The two halves of ACCUM: the responses (XPY, YPY) of one line, and `count` lines
// with the same slot table into XPX. Every XPX entry is a sum of products of +1 and
// -1, so adding the lines of one slot table at once gives exactly the same sums.
void ACCUMY(const Slots& s, int nslots, const float* Y, int NV, int SDFL, bool cross,
            double* XPY, double* YPY);
void ACCUMX(const Slots& s, int nslots, double count, double* XPX);

// Numbering of the slot tables a model can produce, by the identifiers it uses: the
// data pass counts the lines of each and adds XPX once per table at the end.
struct PatternIndex {
  std::int64_t size = 0;  // number of possible tables; 0 when too many to count
  std::int32_t nloc = 1, nrep = 1, nsets = 1, nlines = 1, nclon = 1;
  PatternIndex(const Model& m, std::int32_t NLINES, std::int32_t NSETS, std::int32_t NCLON);
  // Index of a line whose identifiers passed check_ids.
  std::int64_t of(const Ids& d) const;
  // Identifiers of index k (fields the model does not use are 0).
  Ids ids(std::int64_t k) const;
  const Model* model;
};
inline constexpr std::int64_t kMaxPatterns = std::int64_t{1} << 20;

// Reads the data lines of one layout from a stream of records with a compiled format.
// Simple one-record formats (integer and real fields at fixed columns) are decoded
// directly; anything else goes through rec::format_read, which also produces the
// error details of a field that cannot be converted.
class LineReader {
 public:
  // `layout` selects the identifier items (3, 1, 4 or 2); `nv` responses follow.
  LineReader(const rec::Format& fmt, int layout, int nv);

  // Reads one data line. Returns Ok, End (the source ended during the statement) or
  // Error (with `err`). `records_used` gets the number of records the line took.
  rec::ReadStatus read(rec::RecordSource& src, Ids& d, float* Y, rec::ReadError& err,
                       int& records_used);

  bool fast() const { return fast_; }

 private:
  struct Field {
    std::int32_t column;  // 0-based first column
    std::int32_t width;
    std::int32_t digits;  // d of a real field
    bool real;
    bool blank_zero;      // BZ in effect
  };
  bool plan(const rec::Format& fmt);
  bool decode(std::string_view rec, Ids& d, float* Y) const;
  rec::ReadStatus slow(rec::RecordSource& src, std::string_view first, Ids& d, float* Y,
                       rec::ReadError& err, int& records_used);

  rec::Format fmt_;  // own copy: the reader may outlive the caller's format
  int nids_;
  int nv_;
  std::array<std::int32_t*, 6> idptr_{};  // filled per call
  std::vector<Field> fields_;
  bool fast_ = false;
  int layout_;
};

// A buffered record source over a whole file read in large blocks; records are
// handed out as views into the buffer (LF or CR LF ends, the CR dropped).
class FileRecords : public rec::RecordSource {
 public:
  explicit FileRecords(const std::filesystem::path& p);
  ~FileRecords() override;
  FileRecords(const FileRecords&) = delete;
  FileRecords& operator=(const FileRecords&) = delete;
  bool next(std::string_view& record) override;
  bool ok() const { return file_ != nullptr; }
  std::int64_t records() const { return count_; }

 private:
  bool refill();
  std::FILE* file_ = nullptr;
  std::vector<char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
  std::int64_t count_ = 0;
};

// Result of the data pass.
struct PassResult {
  std::int32_t NREAD = 0;
  std::int64_t bad_lines = 0;  // data lines with identifiers out of range
};

// The data pass proper over a record source: reads data lines until the terminating
// line or the end, skips selfs, checks identifiers (reporting up to kMaxBadLines bad
// lines on the report), lists accumulated lines when IPRINT < 0, and accumulates.
// `unit` and `file` name the data file in run-time error messages.
PassResult ACCUMULATE(rec::Io& io, const Control& c, const Model& m, Arrays& a,
                      const rec::Format& datfmt, rec::RecordSource& src, int unit,
                      const std::string& file);

// The whole data pass of the run: data format, data file, progress lines.
PassResult DATPAS(rec::Io& io, Clock& clock, const Control& c, const Model& m, Arrays& a);

}  // namespace korbal
