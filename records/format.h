// Compiled record formats and the editing of records by format.
//
// A format text such as "(' ',T42,' Number of locations = ',I4)" is compiled once
// into a flat list of nodes (Format) and then applied to any number of records,
// for output (format_write) and for input (format_read). Format control keeps a
// small stack of open groups for repeat counts and reverts to the last top-level
// group when items remain at the final parenthesis.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rec {

// Limits that keep a hostile format or record from costing unbounded memory or time.
inline constexpr int kMaxNesting = 16;          // open parentheses, the outer pair included
inline constexpr int kMaxRepeat = 32767;        // largest repeat count or field width
inline constexpr int kMaxRecordLength = 65536;  // longest record read or written
inline constexpr std::size_t kMaxFormatLength = 4096;  // longest format text, parentheses included
// Most control steps (texts, X, T, /, group ends...) one statement may take between two
// items; a format that goes round without transferring an item beyond this is an error.
inline constexpr long kMaxControlSteps = 1L << 20;

// An invalid format text. `position` is the 0-based offset of the offending character.
struct FormatError : std::runtime_error {
  FormatError(const std::string& what, std::size_t position)
      : std::runtime_error(what), position(position) {}
  std::size_t position;
};

// One compiled edit descriptor or control item.
struct FormatNode {
  enum Kind : std::uint8_t {
    Literal,   // text: output only
    I,         // Iw or Iw.m
    F,         // Fw.d
    E,         // Ew.d (Ew.dEe accepted, exponent digits ignored)
    D,         // Dw.d
    G,         // Gw.d
    A,         // Aw (width > 0) or A (width == 0: the item's own length)
    X,         // nX
    T,         // Tc
    TL,        // TLn
    TR,        // TRn
    Slash,     // /
    Colon,     // :  (stop here when the items are exhausted)
    Scale,     // kP
    BN,        // blanks ignored in numeric input
    BZ,        // blanks read as zeros in numeric input
    GroupOpen, // r( : `repeat` holds r, `match` the index of the GroupClose
    GroupClose // )  : `match` holds the index of its GroupOpen
  } kind;
  int repeat = 1;   // repeat count of a data descriptor or of a group
  int width = 0;    // w, n or c
  int digits = 0;   // d or m (-1 when Iw has no .m)
  int match = -1;   // partner index for groups
  std::string text; // Literal only
  std::size_t position = 0;  // offset of the descriptor in the format text, for messages

  bool is_data() const { return kind >= I && kind <= A; }  // I, F, E, D, G, A
};

// A data descriptor at a fixed place in the first record: the form a simple format
// such as "(6I3,3F8.2)" takes for fast reading (see Format::flat).
struct FlatField {
  FormatNode::Kind kind;
  int column;  // 0-based first column
  int width;   // w (0 for A without width)
  int digits;  // d
};

// A format compiled once and reused for every record it is applied to.
class Format {
 public:
  Format() = default;
  // Compiles `text` (with its outer parentheses; blanks between descriptors allowed).
  // Throws FormatError on an invalid format.
  static Format compile(std::string_view text);

  const std::string& text() const { return text_; }
  const std::vector<FormatNode>& nodes() const { return nodes_; }
  // Index of the GroupOpen where format reversion restarts: the last top-level
  // group, or the outer group (index 0) when there is no inner group.
  int reversion_start() const { return reversion_; }
  // For a format whose data descriptors all sit at fixed columns of one record (no
  // '/', no inner groups, texts, P, BN/BZ or ':'), those descriptors in order, one per
  // item; empty otherwise. Used by format_read to read such records directly.
  const std::vector<FlatField>& flat() const { return flat_; }

 private:
  std::string text_;
  std::vector<FormatNode> nodes_;  // nodes_[0] is the outer GroupOpen, back() its GroupClose
  int reversion_ = 0;
  std::vector<FlatField> flat_;
};

// A value written by a format: an integer, a real or a character string.
struct Item {
  enum Kind : std::uint8_t { Int, Real, Text } kind;
  std::int32_t i = 0;
  double r = 0.0;
  std::string_view s;
  Item(int v) : kind(Int), i(v) {}
  Item(double v) : kind(Real), r(v) {}
  Item(float v) : kind(Real), r(v) {}
  Item(std::string_view v) : kind(Text), s(v) {}
  Item(const char* v) : kind(Text), s(v) {}
  Item(const std::string& v) : kind(Text), s(v) {}
};

// A place that an item is read into.
struct Target {
  enum Kind : std::uint8_t { Int, Real32, Real64, Text } kind;
  void* p;
  int length;  // Text: number of characters of the item
  static Target of(std::int32_t& v) { return {Int, &v, 0}; }
  static Target of(float& v) { return {Real32, &v, 0}; }
  static Target of(double& v) { return {Real64, &v, 0}; }
  // A character item of `length` characters; the string is resized to it.
  static Target of(std::string& v, int length) { return {Text, &v, length}; }
};

// Receives the records a write statement produces, without line ends.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void put(std::string_view record) = 0;
};

// Supplies the records a read statement consumes, without line ends.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Next record, or false at the end of the file.
  virtual bool next(std::string_view& record) = 0;
};

// Writes `items` by `fmt`: every finished record goes to `sink`. A write with no items
// writes the format's texts up to its first data descriptor (or its end).
// Throws FormatError when the format cannot take an item of that kind (e.g. a
// string for I) or when items remain and the format has no data descriptor.
void format_write(const Format& fmt, std::span<const Item> items, RecordSink& sink);

// Outcome of a read statement.
enum class ReadStatus { Ok, End, Error };

// Details of a failed conversion.
struct ReadError {
  int record = 0;         // 1-based record of this statement where it happened
  int column = 0;         // 1-based first column of the field
  std::string field;      // the offending field text
  std::string message;    // what is wrong
  int width = 0;          // number of columns of the field
};

// Reads `targets` by `fmt`, taking records from `source` (each statement begins at a
// new record). Returns End when the source ends before the statement is complete,
// Error with `err` filled on a conversion error. `records_used` (optional) gets
// the number of records the statement took.
ReadStatus format_read(const Format& fmt, RecordSource& source, std::span<const Target> targets,
                       ReadError* err = nullptr, int* records_used = nullptr);

// A read statement laid out once: for a format made only of I, F, X, T, TL, TR and '/'
// edits and one fixed item list, every field of the statement as (record, column,
// width, kind, digits), so that each record is decoded at fixed offsets without the
// walk over the format. read() gives exactly what format_read gives for the same format,
// records and targets: the same values, the same status and the same ReadError.
class FieldPlan {
 public:
  FieldPlan() = default;
  // The plan of reading `targets` (whose places it keeps) by `fmt`; not usable() when the
  // format holds any other edit (A, E, D, G, texts, P, BN, BZ), when an item does not
  // match its descriptor, or when the statement is too long to lay out.
  FieldPlan(const Format& fmt, std::span<const Target> targets);
  bool usable() const { return !record_ends_.empty(); }
  // format_read(fmt, source, targets, err, records_used) for a usable plan.
  ReadStatus read(RecordSource& source, ReadError* err = nullptr, int* records_used = nullptr) const;

  // Whether a statement of this plan reads one record (its format has no '/').
  bool one_record() const { return record_ends_.size() == 1; }
  // The statement of a one-record plan on the record `record` of `length` characters
  // (line end dropped), of which `readable` bytes from its start may be loaded (the
  // record and what follows it in its buffer). Stores every field and returns true when
  // each is plain (blanks, digits, a point for F) and lies whole in the record, giving
  // exactly read()'s values; returns false, the targets then undefined, for a record that
  // needs read()'s way (signs, embedded blanks, short records, errors). With `shift` the
  // values go `shift` bytes beyond the targets' places (a later row of the same layout).
  bool decode(const char* record, std::size_t length, std::size_t readable,
              std::ptrdiff_t shift = 0) const;
  // decode() of the records of a text, one after another: the records of the `size`
  // bytes at `text` (of which, and of what follows, `readable` bytes may be loaded), the
  // i-th into the row i * `stride` bytes beyond the targets, at most `rows` of them, as
  // long as each has its line end in the text, holds at most kMaxRecordLength characters
  // (a CR before the line end dropped) and decode() takes it. Returns how many it took;
  // ends[i] is the offset in `text` after the line end of record i, lengths[i] its length.
  std::size_t decode_records(const char* text, std::size_t size, std::size_t readable,
                             std::size_t rows, std::ptrdiff_t stride, std::uint32_t* ends,
                             std::uint32_t* lengths) const;

  // Whether decode_plain() stores this plan's fields: a one-record plan of fields the
  // whole-record decoder takes, on a machine that has its instructions.
  bool decodes_plain() const;
  // The statement on a record known to be plain: every column of every field a digit,
  // but the point of each F field, which stands where its decimals put it. 16 bytes
  // before the last field's end (and at least 16) may be loaded. Stores what decode() stores.
  void decode_plain(const char* record, std::ptrdiff_t shift = 0) const;

  struct Step {
    std::int32_t column;  // 0-based first column (beyond any record when far out)
    std::int32_t width;
    std::int32_t digits;  // F: implied decimals
    Target::Kind kind;    // Int for I, Real32 or Real64 for F
    bool word;            // read as one word when whole in the record (see there)
    std::int32_t shift;   // bits the record's first word moves up, for a field before column 8
    std::uint64_t before; // the bytes of that word before the field
    void* p;
  };

  struct Fast;  // the whole-record decoder of a one-record plan (format_control.cpp)

 private:
  std::vector<Step> steps_;
  std::vector<std::uint32_t> record_ends_;  // end in steps_ of the fields of each record
  std::shared_ptr<const Fast> fast_;        // null when the record is decoded field by field
};

// Free-format (list-directed) input of integers: values separated by blanks or commas,
// from as many records as needed. Returns End at the end of the file, Error on a
// value that is not an integer. `values_read` (optional) gets the number of values
// stored, so that a caller can tell an end of file before the list from one inside it.
ReadStatus list_read_ints(RecordSource& source, std::span<std::int32_t*> values,
                          ReadError* err = nullptr, int* records_used = nullptr,
                          int* values_read = nullptr);

// Single-field editing, exposed for tests and for the interchange file.
std::string edit_int(std::int32_t v, int w, int m = -1);   // Iw / Iw.m
std::string edit_fixed(double v, int w, int d);            // Fw.d
std::string edit_exp(double v, int w, int d);              // Ew.d
std::string edit_general(double v, int w, int d);          // Gw.d

// A count right-justified in `w` columns as Iw edits it, or the whole number in as many
// columns as it needs where Iw would fill the field with asterisks.
std::string edit_count(std::int64_t v, int w);

// A count as a 32-bit item of a record, held at the largest 32-bit value above it.
inline std::int32_t clamped_int(std::int64_t v) {
  return static_cast<std::int32_t>(v > INT32_MAX ? std::int64_t{INT32_MAX} : v);
}

}  // namespace rec
