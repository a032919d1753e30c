// Whole CSV lines of plain numbers decoded at once: the common data line of a large file
// (whole numbers for the identifiers, decimal numbers for the responses, no blanks
// around them, a minus sign before a response, any text in a column skipped, quotes only
// around a whole field) is classified 16 bytes at a time and its fields converted from the positions
// of its separators, with the values the field-by-field readers give (read_number,
// whole_number). A line it does not take is left for them.
//
// The positions of the separators and points of a line are its shape. The lines of a
// file have few shapes, and a line of a shape seen before is the record of a fixed-column
// statement (I for a whole number, F for a real, X for a column skipped and for each
// separator), which the whole-record decoder of that statement converts at once. The
// names of a column of names (the parents of a file that names them) are looked up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "records/format.h"

namespace rec::csv {

// The levels of a column of names: the level (1 and up) of the text of a field, or 0
// when the field is not a name the decoder may take.
class Levels {
 public:
  virtual ~Levels() = default;
  virtual std::int32_t level(std::string_view field) const = 0;
};

class NumberLines {
 public:
  // A column of the line: skipped, or a whole number (an Int target) or a real (a
  // Real32 target) stored at its target, in the first row; with `levels`, a name whose
  // level is stored at its Int target.
  struct Column {
    bool skip = true;
    Target target{};
    const Levels* levels = nullptr;
  };
  // A line is taken when it and the bytes read with it lie within kSpan bytes of its start.
  static constexpr std::size_t kSpan = 128;
  using Mask = unsigned __int128;  // a bit a byte of the kSpan

  NumberLines() = default;
  NumberLines(char sep, std::vector<Column> columns);
  // A line of skipped columns only might be a line of blanks, which is no record.
  bool usable() const { return read_ && columns_.size() <= 64; }

  // Decodes the lines at text[pos] on into rows `stride` bytes apart from the first, at
  // most `max`, while each is a line of plain numbers beginning kSpan bytes or more
  // before `limit`; `pos` moves past the lines taken. Returns how many it took.
  std::size_t decode(const char* text, std::size_t& pos, std::size_t limit, std::size_t stride,
                     std::size_t max);

  // One line at `p` (kSpan bytes readable) into the row `shift` bytes beyond the first:
  // its length with the line end, or 0 when it is not a line of plain numbers (the row
  // may then hold some of its values).
  std::size_t line(const char* p, std::ptrdiff_t shift);

 private:
  // A shape and the statement that reads its lines (null: field by field). A real
  // without a point is read as a whole number into the place of the real, and
  // `wholes` marks those columns, whose numbers are then made reals.
  // `negated` marks the reals with a minus sign before their digits.
  // `names` are the places of the fields of names, which the statement skips.
  struct Name {
    std::uint32_t column, from, length;
  };
  struct Shape {
    Mask seps = 0, points = 0, minus = 0, quotes = 0;
    int end = -1;
    std::unique_ptr<FieldPlan> plan;
    std::uint64_t wholes = 0, negated = 0;
    Mask skipped = 0;  // the bytes of the columns skipped and of the names
    std::vector<Name> names;
  };
  static constexpr int kMaxStatements = 512;  // statements built; further shapes field by field
  template <class M>
  std::size_t marked(const char* p, const M& marks, std::ptrdiff_t shift);
  template <class W>
  const Shape* shape_for(W seps, W points, W minus, W quotes, int end);
  void build(Shape& s) const;
  bool fields(const char* p, Mask seps, Mask other, int end, std::ptrdiff_t shift) const;

  char sep_ = ',';
  std::vector<Column> columns_;
  bool read_ = false;  // a column is not skipped
  std::array<Shape, 256> shapes_;
  int built_ = 0;
};

}  // namespace rec::csv
