// Tables as CSV text, the way R's read.csv, pandas and spreadsheets take them without
// options: UTF-8, one header row, comma separated, LF line ends, a field quoted when
// it holds a comma, a quote, a line end or a blank at either end, numbers in full
// double precision as the shortest text that reads back to the same double, and "NA"
// where a value is undefined.
//
// A table is written whole or not at all: into a temporary file in the target folder,
// then renamed over its name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace rec {
class Io;
}

namespace rec::csv {

inline constexpr std::string_view kNA = "NA";

// One text field, quoted (with doubled quotes inside) when it needs to be.
std::string field(std::string_view text);

// A finite number as the shortest text that reads back to the same double; "NA" for a
// NaN or an infinity.
std::string number(double v);

// Text without its trailing blanks (effect codes and trait names are held padded).
std::string_view trimmed(std::string_view s);

// A table built row by row: the header, then rows of fields added in column order.
class Table {
 public:
  explicit Table(std::initializer_list<std::string_view> header);

  Table& row();                       // starts a new row
  Table& text(std::string_view s);    // a text field (quoted when needed)
  Table& num(double v);               // a number (NA when not finite)
  Table& num_or_na(double v, bool defined);
  Table& integer(std::int64_t v);
  Table& na();

  std::size_t rows() const { return rows_; }
  // The whole text; every row must have exactly as many fields as the header.
  const std::string& str() const;

 private:
  void sep();
  mutable std::string text_;  // the last row's line end is added when it is complete
  std::size_t columns_ = 0, rows_ = 0, in_row_ = 0;
};

// Creates the folder `dir` (with its parents) when missing and checks that a file can be
// created in it. Throws rec::RunError naming the folder when it cannot.
void prepare_dir(const std::filesystem::path& dir);

// Prepares the folder `dir` (resolved in io.dir()) for the run's tables `names` before any
// output exists: the folder is made, and each table is declared to `io` as an output of
// the run (Io::reserve_output), so that a table that is an input of the run, or that
// another output of the run would also write, ends the run before anything is written.
// The tables themselves go through Io::add_table and are renamed with the run's other
// outputs, all of them or none.
void prepare_tables(Io& io, const std::filesystem::path& dir,
                    std::initializer_list<std::string_view> names);

// Parses CSV text (RFC 4180: quoted fields may hold separators, quotes and line ends;
// CR LF or LF) into records of fields, taken byte for byte (csv::Reader, Dialect::Exact).
// A UTF-8 byte order mark at the start is skipped. Throws std::runtime_error on a quote
// that is never closed.
std::vector<std::vector<std::string>> parse(std::string_view text, char sep = ',');

}  // namespace rec::csv
