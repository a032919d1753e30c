// Data files in CSV form: a header row naming the columns, one record per plot.
//
// The data record of the control file then reads "CSV" followed by one column for
// each item of the layout (identifiers, then the responses): a name of the header
// row, a column number, or "-" for an identifier the file does not have. Identifier
// columns hold either whole numbers (the levels themselves) or texts, which are
// numbered 1, 2, ... in byte order (female and male parents share one numbering).
// A line with an empty, "NA" or "." field is left out of the analysis and counted.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "korbal/clock.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/io.h"

namespace korbal {

// Bounds of a CSV data file read into memory: its size in bytes (a trial of millions of
// plots takes well under this), and the characters of one line before its line end.
inline constexpr std::size_t kMaxCsvBytes = std::size_t{2} << 30;  // 2 GiB
inline constexpr std::size_t kMaxCsvLine = rec::kMaxRecordLength;  // 65536
// The block in which a regular CSV data file is read.
inline constexpr std::size_t kCsvBlock = std::size_t{1} << 20;

// Whether the data record asks for CSV data: its first word is "CSV" (any case).
bool is_csv_record(std::string_view record);

// Names of the items of a layout, in data-line order: ILOC IREP ISET IFEM IMALE
// ICLONE (those the layout has), then Y1 .. Y<NV>.
std::vector<std::string> layout_items(Layout LAYOUT, int NV);

// A CSV data file loaded whole, its columns resolved and its named levels numbered.
class CsvData {
 public:
  // Checks the CSV data record against the layout (one column per item, "-" only for
  // identifiers the model does without). Throws rec::RunError naming what is wrong.
  CsvData(const Control& c, const Model& m, std::string_view record);
  ~CsvData();
  CsvData(const CsvData&) = delete;
  CsvData& operator=(const CsvData&) = delete;

  // Takes the data file's text (`name` and `unit` are for messages): finds the
  // separator and the header, resolves the columns and numbers the named levels.
  // Throws rec::RunError on a column the header does not have, a ragged or badly
  // quoted record, a file without header or without data.
  void load(std::string text, std::string_view name, int unit);

  // Reads what remains of the file open on `unit` of `io` through its handle and loads
  // it; a file above kMaxCsvBytes or a line above kMaxCsvLine is a rec::RunError. A
  // regular file is read in blocks of `block` bytes (grown where a record needs more),
  // once for the load and once for the accumulation; any other file is held whole.
  void load_unit(rec::Io& io, int unit, std::size_t block = kCsvBlock);

  // load_unit() as far as the header: the records are read by accumulate(), in one pass
  // over the file where every identifier column holds whole numbers and no record is
  // refused (else in the two of load_unit, with the same results, messages and report
  // lines; always in two when lines are listed, IPRINT < 0, or the model has more than
  // about 720 columns). The key of named levels is then written by accumulate(), before
  // the first line is accumulated; level_names() is known after accumulate().
  void open_unit(rec::Io& io, int unit, std::size_t block = kCsvBlock);

  // The records after open_unit(): their shape and the numbering of named levels, as
  // load_unit() reads them.
  void load_records();

  // Whether accumulate() read the records in one pass.
  bool read_once() const;

  // Whether lines without quotes are split from marks of their separators and lines of
  // plain fields decoded in place (the default), or every record is split by the shared
  // reader and converted field by field: the reference the fast paths are checked
  // against. Set before the file is loaded.
  void decode_plain_lines(bool on);

  // load() for a text already in a buffer of `size` characters, which it takes over.
  void load_buffer(std::unique_ptr<char[]> buffer, std::size_t size, std::string_view name,
                   int unit);

  // Whether the last record of the file lacks its line end (blanks after it aside):
  // the file may have been cut inside its last field.
  bool last_line_cut() const;

  // Names of the levels of each identifier (see PassResult::level_names).
  const std::array<std::vector<std::string>, 6>& level_names() const;

  // Writes the key of the named levels (number = name) on the report; nothing when
  // every identifier is numbered in the file.
  void print_key(rec::Io& io) const;

  // The accumulation of every data record; the level names go into the result.
  // A response that is not a number throws rec::RunError naming record, column and
  // text.
  PassResult accumulate(rec::Io& io, const Control& c, const Model& m, Accumulators a);

  struct Impl;  // the loaded file; opaque outside csvdata.cpp

 private:
  // The separator, the header and the columns of `text` (which stays put).
  void load_head(std::string_view text, std::string_view name, int unit);

  std::unique_ptr<Impl> impl_;
};

// The data pass for a CSV data record: opens the data file, prints the progress lines,
// the key of named levels and the count of lines left out for a missing value.
PassResult pass_csv_data(rec::Io& io, Clock& clock, const Control& c, const Model& m,
                         Accumulators a, std::string_view record, int unit = 0);

}  // namespace korbal
