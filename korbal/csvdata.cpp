// CSV data files: the data record, the separator and the header, named levels, missing
// values, and the data lines handed to the accumulation loop.
//
// The records are read in one pass where they allow it: when every identifier column
// holds whole numbers and no record is refused, each record becomes a data line as it
// is read. Otherwise the file is read twice: a first pass over its records checks their
// shape and gathers the texts of the identifier columns, so that named levels can be
// numbered in sorted order before any line is accumulated; the second pass converts
// each record into the identifiers and responses of a data line. A line of plain fields
// is decoded in place; other records are split into views of the text (or of one reused
// buffer for quoted fields with doubled quotes), so that no pass allocates per line.
#include "korbal/csvdata.h"

#include <algorithm>
#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <unordered_map>


#include "records/csv_lines.h"
#include "records/csv_reader.h"
#include "records/editing.h"
#include "records/format.h"

namespace korbal {

namespace {

// A READ of the CSV data file; `line` names the line when it is 0 or more.
rec::ErrorSite read_site(int unit, std::string_view file, long line = -1) {
  rec::ErrorSite at{"READ", unit, std::string(file), line};
  at.record_word = "line";
  return at;
}

// Y1, Y2, ... for response v = 0, 1, ...
std::string response_label(int v) {
  std::string label(1, 'Y');
  label += std::to_string(v + 1);
  return label;
}

bool is_blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// An empty field, NA or "." stands for a value that was not observed.
inline bool is_missing(std::string_view v) {
  switch (v.size()) {
    case 0: return true;
    case 1: return v[0] == '.';
    case 2: return v[0] == 'N' && v[1] == 'A';
    default: return false;
  }
}

// Hash for string sets and maps looked up with string views.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The distinct texts of a column, numbered in the order they are first met. A few texts
// (the usual parents, locations or blocks) are searched in a list, many in a hash map.
class TextIndex {
 public:
  static constexpr std::size_t kList = 16;
  // Number of `v`, or -1 when it has not been met.
  std::int32_t find(std::string_view v) const {
    if (texts_.size() <= kList) {
      // Texts of at most 8 bytes by their bytes as one word and their length.
      if (v.size() <= 8) {
        const std::uint64_t w = word(v);
        for (std::size_t k = 0; k < texts_.size(); ++k)
          if (words_[k] == w && lengths_[k] == v.size()) return static_cast<std::int32_t>(k);
        return -1;
      }
      for (std::size_t k = 0; k < texts_.size(); ++k)
        if (same(texts_[k], v))
          return static_cast<std::int32_t>(k);
      return -1;
    }
    const auto it = map_.find(v);
    return it == map_.end() ? -1 : it->second;
  }
  void add(std::string_view v) {
    if (find(v) >= 0) return;
    if (texts_.size() < kList) {
      words_[texts_.size()] = v.size() <= 8 ? word(v) : 0;
      lengths_[texts_.size()] = v.size();
    }
    texts_.emplace_back(v);
    if (texts_.size() == kList + 1)
      for (std::size_t k = 0; k < texts_.size(); ++k)
        map_.emplace(texts_[k], static_cast<std::int32_t>(k));
    else if (texts_.size() > kList + 1)
      map_.emplace(texts_.back(), static_cast<std::int32_t>(texts_.size() - 1));
  }
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  static bool same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
      if (a[k] != b[k]) return false;
    return true;
  }
  static std::uint64_t word(std::string_view v) {
    std::uint64_t w = 0;
    for (std::size_t k = 0; k < v.size(); ++k) w |= std::uint64_t{static_cast<unsigned char>(v[k])} << (8 * k);
    return w;
  }
  std::vector<std::string> texts_;
  std::uint64_t words_[kList] = {};   // the first kList texts as words (those of 8 bytes or less)
  std::size_t lengths_[kList] = {};   // and their lengths
  std::unordered_map<std::string, std::int32_t, TextHash, std::equal_to<>> map_;
};

// The rest of a regular CSV data file in blocks. The window is the complete lines of the
// block in memory (all of it at the end of the file), so that a record is split only
// when it lies whole in it; a quoted record longer than a block grows the block. As
// read_rest does, the first reading of every line checks it against kMaxCsvLine and the
// file against kMaxCsvBytes, with the same messages.
class Blocks {
 public:
  Blocks(rec::Io& io, int unit, long first_line, std::size_t block)
      : io_(io), unit_(unit), buf_(std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(block, 1))),
        size_(std::max<std::size_t>(block, 1)), line_(first_line) {}

  std::string_view window() const { return {buf_.get(), window_}; }
  std::uint64_t base() const { return base_; }
  // Whether the window reaches the end of the file.
  bool at_end() const { return eof_; }

  // Reading starts again at `offset` of the rest.
  void seek(std::uint64_t offset) {
    io_.seek_rest(unit_, offset);
    base_ = offset;
    filled_ = window_ = 0;
    eof_ = false;
    advance(offset);
  }

  // Keeps the bytes from `from` (an offset of the rest within the block) on and reads on
  // until the window holds another complete line, or up to the end of the file.
  void advance(std::uint64_t from) {
    const std::size_t keep = static_cast<std::size_t>(from - base_);
    std::size_t scanned = window_ > keep ? window_ - keep : 0;  // no line end after the window
    std::memmove(buf_.get(), buf_.get() + keep, filled_ - keep);
    filled_ -= keep;
    base_ = from;
    for (;;) {
      if (filled_ == size_) grow();
      const std::size_t got = io_.read_rest_block(unit_, buf_.get() + filled_, size_ - filled_);
      check(filled_, got);
      filled_ += got;
      if (got == 0) {
        eof_ = true;
        window_ = filled_;
        if (!checked_to_end_) check_end();
        return;
      }
      const void* nl = memrchr(buf_.get() + scanned, '\n', filled_ - scanned);
      if (nl != nullptr) {
        window_ = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_.get()) + 1;
        return;
      }
      scanned = filled_;
    }
  }

  // Reads the file to its end for the checks of its lines and size: a record refused
  // before them is reported only when the file passes them, as when it is read whole.
  void drain() {
    if (failed_) return;
    while (!eof_) advance(base_ + filled_);
  }

  // Whether the last record lacks its line end (blanks after it aside), for a file whose
  // records begin at `body`.
  bool last_line_cut(std::uint64_t body) const {
    return last_mark_ != 0 && last_mark_ > body && last_char_ != '\n';
  }

 private:
  void grow() {
    auto bigger = std::make_unique_for_overwrite<char[]>(size_ * 2);
    std::memcpy(bigger.get(), buf_.get(), filled_);
    buf_ = std::move(bigger);
    size_ *= 2;
  }

  [[noreturn]] void fail(const std::string& what) {
    failed_ = true;
    io_.fail_read(unit_, what);
  }
  [[noreturn]] void long_line() {
    fail(", line " + std::to_string(line_) + ": a line longer than " + std::to_string(kMaxCsvLine) +
         " characters");
  }

  // The checks of the `n` bytes read at `at` of the block, those not checked before. A
  // line is too long when no line end follows within kMaxCsvLine bytes of its start (one
  // more for a CR before it): the line ends are looked for from the far end of that
  // reach, so that a search covers many lines, and counted in one sweep.
  void check(std::size_t at, std::size_t n) {
    const std::uint64_t first = base_ + at, end = first + n;
    if (end <= checked_) return;
    if (end > kMaxCsvBytes) fail(": the file is larger than " + std::to_string(kMaxCsvBytes) + " bytes");
    const std::size_t from = static_cast<std::size_t>(checked_ - base_);
    const char* t = buf_.get();
    const std::size_t stop = at + n;
    // The line of line_begin_, counted up to it.
    auto too_long = [&] {
      const std::uint64_t b = std::max<std::uint64_t>(line_begin_, base_ + from);
      line_ += static_cast<long>(count_line_ends(t + from, static_cast<std::size_t>(b - base_) - from));
      long_line();
    };
    for (std::size_t k = from;;) {
      // Bytes before `reach` may hold the end of the line of line_begin_, which began
      // at most kMaxCsvLine + 1 bytes before this check's start (see below).
      const std::size_t reach = static_cast<std::size_t>(line_begin_ + kMaxCsvLine + 1 - base_);
      const std::size_t upto = std::min(reach, stop);
      const void* nl = k < upto ? memrchr(t + k, '\n', upto - k) : nullptr;
      if (nl != nullptr) {
        const std::size_t e = static_cast<std::size_t>(static_cast<const char*>(nl) - t);
        line_begin_ = base_ + e + 1;
        k = e + 1;
        continue;
      }
      if (reach >= stop) break;
      // The line holds kMaxCsvLine + 1 characters at least: one too many but for a CR
      // right before its line end.
      if (t[reach] != '\n' || (reach > from ? t[reach - 1] : last_byte_) != '\r') too_long();
      line_begin_ = base_ + reach + 1;
      k = reach + 1;
    }
    // A line not yet ended may hold one more character, a CR before its line end.
    if (end - line_begin_ > kMaxCsvLine + 1) too_long();
    line_ += static_cast<long>(count_line_ends(t + from, stop - from));
    for (std::size_t k = stop; k > from; --k) {
      const char c = t[k - 1];
      if (c != ' ' && c != '\t' && c != '\r') {
        last_mark_ = base_ + k;
        last_char_ = c;
        break;
      }
    }
    last_byte_ = t[stop - 1];
    checked_ = end;
  }

  // The number of line ends of the `n` bytes at `p`.
  static std::size_t count_line_ends(const char* p, std::size_t n) {
    std::size_t total = 0, k = 0;
#if defined(__SSE2__)
    const __m128i nl = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
    while (n - k >= 16) {
      // Up to 255 rounds of 16 byte counters, then their sum.
      __m128i counts = zero;
      for (std::size_t r = std::min<std::size_t>((n - k) / 16, 255); r > 0; --r, k += 16)
        counts = _mm_sub_epi8(
            counts, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)), nl));
      const __m128i sums = _mm_sad_epu8(counts, zero);
      total += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
               static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; k < n; ++k) total += p[k] == '\n';
    return total;
  }
  // The last line, without its line end.
  void check_end() {
    checked_to_end_ = true;
    std::uint64_t len = checked_ - line_begin_;
    if (len > 0 && last_byte_ == '\r') --len;
    if (len > kMaxCsvLine) long_line();
  }

  rec::Io& io_;
  int unit_;
  std::unique_ptr<char[]> buf_;
  std::size_t size_, filled_ = 0, window_ = 0;
  std::uint64_t base_ = 0;  // offset in the rest of buf_[0]
  bool eof_ = false, failed_ = false, checked_to_end_ = false;
  // The checks: bytes checked, the line there and where it began, the last byte, and
  // the end and byte of the last character that is not a blank.
  std::uint64_t checked_ = 0, line_begin_ = 0, last_mark_ = 0;
  long line_;
  char last_byte_ = 0, last_char_ = 0;
};

// The records of a CSV text after its header row (RFC 4180, with blanks around fields
// allowed), read by the shared reader from the text in memory or from the blocks of the
// file; a record it cannot split ends the run with a message naming file and line.
class Scanner {
 public:
  // `plain`: lines without quotes are split from the marks of the window (next_plain),
  // else every record by the reader.
  Scanner(std::string_view text, Blocks* blocks, char sep, std::string_view file, int unit,
          bool plain)
      : reader_(blocks ? blocks->window() : text, sep), blocks_(blocks), file_(file), unit_(unit),
        sep_(sep), plain_(plain) {}

  // Reading goes on at offset `pos` of the text, which is on line `line`.
  void start(std::size_t pos, std::int64_t line) {
    ++window_;
    if (blocks_ == nullptr) return reader_.start(pos, line);
    // Every pass reads the file from `pos` anew.
    blocks_->seek(pos);
    reader_.reset(blocks_->window(), static_cast<std::size_t>(pos - blocks_->base()), line);
  }
  std::size_t position() const {
    return static_cast<std::size_t>((blocks_ ? blocks_->base() : 0) + reader_.position());
  }
  std::int64_t next_line() const { return reader_.next_line(); }
  // Line of the file where the record last read begins.
  std::int64_t line() const { return reader_.line(); }

  // The text where reading goes on, for a caller that splits a plain line itself: the
  // window (moved on first when it is used up), the reading position in it, the offset
  // after its last line end (0: none), before which every line is whole, and the marks
  // of the separators, line ends and quotes before it, a bit a byte in `words` words.
  struct Plain {
    const char* t;
    std::size_t pos, end;
    const std::uint64_t* marks;
    std::size_t words;
  };
  Plain plain() {
    const Plain w = lines();
    // The marks from the reading position on: reading moves only forward in a window.
    const std::size_t words = (w.end + 63) / 64;
    if (marked_window_ != window_) {
      marked_window_ = window_;
      marked_from_ = words;
      if (marks_.size() < words) marks_.resize(words);
    }
    if (w.pos / 64 < marked_from_) {
      mark(w.t, w.pos / 64, w.end);
      marked_from_ = w.pos / 64;
    }
    return {w.t, w.pos, w.end, marks_.data(), words};
  }
  // plain() without the marks.
  Plain lines() {
    if (blocks_ != nullptr && reader_.position() >= reader_.text().size() && !blocks_->at_end())
      more(reader_.position(), reader_.next_line());
    const std::string_view w = reader_.text();
    if (plain_window_ != window_) {
      plain_window_ = window_;
      const void* nl = w.empty() ? nullptr : memrchr(w.data(), '\n', w.size());
      plain_end_ = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - w.data()) + 1 : 0;
    }
    return {w.data(), reader_.position(), plain_end_, nullptr, 0};
  }

  // The fields of the record at the reading position when it is one line without
  // quotes, as the reader would split it; false (nothing read) for any other.
  bool next_plain(std::vector<std::string_view>& fields) {
    const Plain w = plain();
    if (w.pos >= w.end) return false;
    const char first = w.t[w.pos];
    if (first == ' ' || first == '\t' || first == '\r' || first == '\n') return false;
    fields.clear();
    std::size_t word = w.pos / 64, b = w.pos;
    std::uint64_t bits = w.marks[word] & (~std::uint64_t{0} << (w.pos % 64));
    for (;;) {
      while (bits == 0) {
        if (++word >= w.words) return false;
        bits = w.marks[word];
      }
      const std::size_t at = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      bits &= bits - 1;
      const char ch = w.t[at];
      if (ch == '"') return false;
      std::string_view f(w.t + b, at - b);
      if (!f.empty() && (is_blank(f.front()) || is_blank(f.back()))) f = trim(f);
      fields.push_back(f);
      b = at + 1;
      if (ch == '\n') break;
    }
    reader_.took_line(b);
    return true;
  }
  // The caller took the line at the reading position; the next begins at `end`.
  void took_line(std::size_t end) { reader_.took_line(end); }
  // The caller took `n` lines from the reading position on; the next begins at `end`.
  void took_lines(std::size_t end, std::int64_t n) { reader_.took_lines(end, n); }

  [[noreturn]] void fail(const std::string& what) const {
    throw rec::RunError(read_site(unit_, file_, static_cast<long>(line())), what);
  }

  // The fields of the next record, without quotes and surrounding blanks; false at the
  // end of the text. The views live until the next call.
  bool next(std::vector<std::string_view>& fields) {
    if (plain_ && next_plain(fields)) return true;
    for (;;) {
      const std::size_t pos = reader_.position();
      const std::int64_t line = reader_.next_line();
      try {
        if (reader_.next(fields)) return true;
      } catch (const rec::csv::Malformed& e) {
        // A quoted record may go on in the next block.
        if (blocks_ == nullptr || blocks_->at_end()) fail(e.what());
        more(pos, line);
        continue;
      }
      if (blocks_ == nullptr || blocks_->at_end()) return false;
      more(reader_.position(), reader_.next_line());
    }
  }

 private:
  // The window goes on from `pos` of the present one, on line `line`.
  void more(std::size_t pos, std::int64_t line) {
    ++window_;
    blocks_->advance(blocks_->base() + pos);
    reader_.reset(blocks_->window(), 0, line);
  }

  rec::csv::Reader reader_;
  Blocks* blocks_;
  std::string_view file_;
  int unit_;
  // Marks the separators, line ends and quotes of the bytes of `t` from word `from` of
  // the marks (64 bytes a word) up to `end`, as far as the words marked before.
  void mark(const char* text, std::size_t from, std::size_t end) {
    end = std::min(end, marked_from_ * 64);
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    const unsigned char sep = static_cast<unsigned char>(sep_);
    std::size_t k = from * 64;
#if defined(__SSE2__)
    const __m128i vsep = _mm_set1_epi8(sep_), vnl = _mm_set1_epi8('\n'), vq = _mm_set1_epi8('"');
    auto marks16 = [&](std::size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, vsep), _mm_cmpeq_epi8(v, vnl)),
                                       _mm_cmpeq_epi8(v, vq));
      return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)));
    };
    for (; k + 64 <= end; k += 64)
      marks_[k / 64] = marks16(k) | marks16(k + 16) << 16 | marks16(k + 32) << 32 | marks16(k + 48) << 48;
#endif
    for (; k < end; k += 64) {
      std::uint64_t m = 0;
      for (std::size_t j = 0; j < 64 && k + j < end; ++j) {
        const unsigned char ch = t[k + j];
        m |= static_cast<std::uint64_t>(ch == sep || ch == '\n' || ch == '"') << j;
      }
      marks_[k / 64] = m;
    }
  }

  char sep_;
  bool plain_;
  // The window read, and those of plain_end_ and of marks_.
  std::uint64_t window_ = 1, plain_window_ = 0, marked_window_ = 0;
  std::size_t plain_end_ = 0, marked_from_ = 0;  // the first word of marks_ marked
  std::vector<std::uint64_t> marks_;
};

// Whether `text` holds the end of its first line outside quotes, as far as
// rec::csv::find_separator reads to tell the separator.
bool header_ends(std::string_view text) {
  bool quoted = false;
  for (const char ch : text) {
    if (ch == '"') quoted = !quoted;
    if (!quoted && ch == '\n') return true;
  }
  return false;
}

using rec::csv::NumberStatus;
using rec::csv::read_number;
using rec::csv::whole_number;

}  // namespace

bool is_csv_record(std::string_view record) {
  record = trim(record);
  if (record.size() < 3) return false;
  for (int k = 0; k < 3; ++k)
    if ((record[k] & ~0x20) != "CSV"[k]) return false;
  return record.size() == 3 || record[3] == ' ' || record[3] == '\t';
}

std::vector<std::string> layout_items(Layout LAYOUT, int NV) {
  std::vector<std::string> items;
  for (int id = 0; id < 6; ++id)
    if (carries(LAYOUT, Factor(id))) items.emplace_back(kIdentifiers[id].code);
  for (int v = 1; v <= NV; ++v) items.push_back(response_label(v - 1));
  return items;
}

struct CsvData::Impl {
  // One item of the layout: identifier `id` (0..5) or response `v` (id == -1).
  struct Item {
    std::string label;  // ILOC .. ICLONE, Y1 ..
    std::string ref;    // the column as the data record names it; "-" for none
    int id = -1, v = -1;
    int col = -1;       // 0-based column, -1 for "-"
  };
  // An identifier column of the file: whole numbers throughout, or the texts met.
  struct Column {
    int col = -1;
    bool whole = true;
    std::int64_t collected_from = -1;  // first record whose text is in `texts` (-1: none)
    TextIndex texts;
  };
  // An identifier of the data line: its column (-1: fixed value) and named levels.
  struct Id {
    int col = -1;
    std::int32_t fixed = 0;
    bool named = false;
    std::vector<std::string> levels;   // sorted; level k is levels[k - 1]
    Column* column = nullptr;
    std::vector<std::int32_t> level_of;  // level of each text of `column`, in its numbering
  };

  std::vector<Item> items;
  std::array<Id, 6> ids;
  std::vector<Column> columns;
  std::array<std::vector<std::string>, 6> names;  // level names handed to the result
  int NV = 0;
  std::unique_ptr<char[]> buffer;  // the whole file, read (load_buffer)
  std::string owned;               // the whole file, read (load)
  std::unique_ptr<Blocks> blocks;  // a regular file, read in blocks (load_unit)
  std::string_view text;
  std::string file;
  int unit = 0;
  char sep = ',';
  std::vector<std::string> header;
  std::size_t body = 0;  // offset of the first record after the header
  std::int64_t body_line = 2;
  std::int64_t records = 0;
  bool loaded = true;  // the records were read as well as the header (see open_unit)
  bool once = false;   // accumulate() read them in one pass
  bool plain_lines = true;  // plain lines decoded in place (else all by the general path)

  [[noreturn]] void refuse(const std::string& what) const {
    throw rec::RunError(rec::ErrorSite{}, "invalid CSV data record: " + what);
  }
  // The header row: the column names, and where the records after it begin.
  void read_header(Scanner& scan, std::vector<std::string_view>& fields) {
    Impl& s = *this;
    if (!scan.next(fields))
      throw rec::RunError(read_site(s.unit, s.file), "the file has no header row");
    // A first line of numbers only is data: without a header the columns have no names,
    // and the first plot would be lost as the header.
    bool all_numbers = true;
    for (const std::string_view f : fields) {
      float x;
      all_numbers = all_numbers && read_number(f, x) != NumberStatus::Invalid;
    }
    if (all_numbers)
      scan.fail("every field is a number, as in a data line: a header line naming the columns "
                "is required");
    s.header.assign(fields.begin(), fields.end());
    s.body = scan.position();
    s.body_line = scan.next_line();
  }

  // The column of every item of the data record, by position or by name.
  void resolve_columns() {
    Impl& s = *this;
    const int ncols = static_cast<int>(s.header.size());
    const std::string shown_file = rec::echo(s.file, '\'', std::string_view::npos);
    auto header_list = [&] {
      std::string list;
      for (const auto& h : s.header) list += (list.empty() ? "" : ", ") + rec::echo(h, 0);
      return list;
    };
    for (Impl::Item& it : s.items) {
      if (it.ref == "-") continue;
      std::int32_t number = 0;
      if (it.ref.find_first_not_of("0123456789") == std::string::npos &&
          whole_number(it.ref, number)) {
        // A number is always a column position; a header column of that name (other than
        // the column at that position) makes the reference mean two columns.
        const auto named = std::find(s.header.begin(), s.header.end(), it.ref);
        const int named_col = static_cast<int>(named - s.header.begin()) + 1;
        if (number < 1 || number > ncols)
          s.refuse("column " + it.ref + " for " + it.label + ", but the header of " + shown_file +
                   " has " + std::to_string(ncols) + " columns" +
                   (named == s.header.end()
                        ? std::string()
                        : " (a number is a column position, not the column named " +
                              rec::echo(it.ref) + ", column " + std::to_string(named_col) + ")"));
        if (named != s.header.end() && named_col != number)
          s.refuse(rec::echo(it.ref) + " for " + it.label + " is both a column number (column " +
                   it.ref + ", " + rec::echo(s.header[static_cast<std::size_t>(number - 1)]) +
                   ") and the name of column " + std::to_string(named_col) + " of the header of " +
                   shown_file + "; a number means a column position: rename column " +
                   std::to_string(named_col) + " of the file");
        it.col = number - 1;
      } else {
        const auto first = std::find(s.header.begin(), s.header.end(), it.ref);
        if (first == s.header.end())
          s.refuse("no column " + rec::echo(it.ref) + " for " + it.label + " in the header of " +
                   shown_file + " (its columns: " + header_list() + ")");
        if (std::find(first + 1, s.header.end(), it.ref) != s.header.end())
          s.refuse("the header of " + shown_file + " has more than one column " + rec::echo(it.ref));
        it.col = static_cast<int>(first - s.header.begin());
      }
      if (it.id >= 0) s.ids[it.id].col = it.col;
    }
  }

  // The first pass over the records: the shape of every record and the texts of the
  // identifier columns.
  void scan_records(Scanner& scan, std::vector<std::string_view>& fields) {
    Impl& s = *this;
    const int ncols = static_cast<int>(s.header.size());
    // A column is taken for whole numbers until a text turns up; only then are its texts
    // gathered (those of the records before are gathered afterwards, when needed).
    s.columns.clear();
    for (const Impl::Id& id : s.ids) {
      if (id.col < 0) continue;
      bool seen = false;
      for (const Impl::Column& col : s.columns) seen = seen || col.col == id.col;
      if (!seen) s.columns.emplace_back().col = id.col;
    }
    scan.start(s.body, s.body_line);
    s.records = 0;
    while (scan.next(fields)) {
      if (static_cast<int>(fields.size()) != ncols)
        scan.fail(std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields") +
                  " where the header has " + std::to_string(ncols));
      for (Impl::Column& col : s.columns) {
        const std::string_view v = fields[static_cast<std::size_t>(col.col)];
        if (is_missing(v)) continue;
        std::int32_t number;
        if (col.whole) {
          if (whole_number(v, number)) continue;
          col.whole = false;
          col.collected_from = s.records;
        }
        // A level name is printed in the key of the report and in messages, one per line.
        if (std::any_of(v.begin(), v.end(), [](char ch) { return ch == '\r' || ch == '\n' || ch == '\0'; }))
          scan.fail("column " + std::to_string(col.col + 1) + " (" +
                    rec::echo(s.header[static_cast<std::size_t>(col.col)], 0) +
                    "): a level name may not hold a line end or NUL: " + rec::echo(v));
        col.texts.add(v);
      }
      ++s.records;
    }
    if (s.records == 0)
      throw rec::RunError(read_site(s.unit, s.file), "the file has no data after its header row");
  }

  // The levels of the named identifiers.
  void number_levels(Scanner& scan, std::vector<std::string_view>& fields) {
    Impl& s = *this;
    // Texts in byte order; the parents share one numbering.
    auto column_of = [&](int col) -> Impl::Column& {
      for (Impl::Column& c : s.columns)
        if (c.col == col) return c;
      return s.columns.front();  // not reached: every identifier column has its entry
    };
    for (int id = 0; id < 6; ++id) {
      Impl::Id& d = s.ids[id];
      d.named = false;
      d.levels.clear();
      d.level_of.clear();
      d.column = d.col >= 0 ? &column_of(d.col) : nullptr;
      s.names[id].clear();
    }
    const bool parents = s.ids[kFemale].col >= 0 && s.ids[kMale].col >= 0;
    for (int id = 0; id < 6; ++id) {
      Impl::Id& d = s.ids[id];
      if (d.col < 0) continue;
      d.named = !d.column->whole;
      if (parents && (id == kFemale || id == kMale))
        d.named = !s.ids[kFemale].column->whole || !s.ids[kMale].column->whole;
    }
    // The texts of the records before a named column's first text, in one more pass.
    std::int64_t until = 0;
    for (const Impl::Id& d : s.ids)
      if (d.named) until = std::max(until, d.column->collected_from < 0 ? s.records
                                                                        : d.column->collected_from);
    scan.start(s.body, s.body_line);
    for (std::int64_t r = 0; r < until && scan.next(fields); ++r) {
      for (Impl::Id& d : s.ids) {
        if (!d.named) continue;
        Impl::Column& col = *d.column;
        const std::int64_t from = col.collected_from < 0 ? s.records : col.collected_from;
        const std::string_view v = fields[static_cast<std::size_t>(col.col)];
        if (r < from && !is_missing(v)) col.texts.add(v);
      }
    }
    for (int id = 0; id < 6; ++id) {
      Impl::Id& d = s.ids[id];
      if (!d.named) continue;
      std::set<std::string> texts(d.column->texts.texts().begin(), d.column->texts.texts().end());
      if (parents && (id == kFemale || id == kMale)) {
        const Impl::Column& other = *s.ids[id == kFemale ? kMale : kFemale].column;
        texts.insert(other.texts.texts().begin(), other.texts.texts().end());
      }
      d.levels.assign(texts.begin(), texts.end());
      for (const std::string& t : d.column->texts.texts()) {
        const auto at = std::lower_bound(d.levels.begin(), d.levels.end(), t) - d.levels.begin();
        d.level_of.push_back(rec::clamped_int(at + 1));
      }
      s.names[id] = d.levels;
    }
  }
};

CsvData::CsvData(const Control& c, const Model& m, std::string_view record)
    : impl_(std::make_unique<Impl>()) {
  Impl& s = *impl_;
  s.NV = c.NV;
  // The words after "CSV": blank separated; a name holding blanks may be quoted.
  std::vector<std::string> words;
  if (!is_csv_record(record)) s.refuse("the record does not begin with the word CSV");
  record = trim(record).substr(3);
  std::size_t k = 0;
  while (k < record.size()) {
    if (is_blank(record[k])) {
      ++k;
      continue;
    }
    if (record[k] == '"') {
      const std::size_t close = record.find('"', k + 1);
      if (close == std::string_view::npos) s.refuse("a quoted column name is not closed");
      words.emplace_back(trim(record.substr(k + 1, close - k - 1)));
      k = close + 1;
    } else {
      std::size_t end = k;
      while (end < record.size() && !is_blank(record[end])) ++end;
      words.emplace_back(record.substr(k, end - k));
      k = end;
    }
  }
  const std::vector<std::string> labels = layout_items(c.LAYOUT, c.NV);
  if (words.size() != labels.size()) {
    std::string list;
    for (const auto& l : labels) list += " " + l;
    s.refuse(std::to_string(words.size()) + " columns given for the " +
             std::to_string(labels.size()) + " items of the layout:" + list);
  }
  const bool may_lack[6] = {!m.has_loc, !m.has_rep, true, false, false, !m.has_clon};
  const std::int32_t fixed[6] = {0, 0, 1, 0, 0, 0};
  std::size_t w = 0;
  for (int id = 0; id < 6; ++id) {
    if (!carries(c.LAYOUT, Factor(id))) continue;
    Impl::Item it;
    it.label = kIdentifiers[id].code;
    it.ref = words[w++];
    it.id = id;
    if (it.ref == "-" && !may_lack[id])
      s.refuse(std::string("'-' for ") + kIdentifiers[id].code +
               ", which the model needs from every data line");
    s.ids[id].fixed = fixed[id];
    s.items.push_back(it);
  }
  for (int v = 0; v < c.NV; ++v) {
    Impl::Item it;
    it.label = response_label(v);
    it.ref = words[w++];
    it.v = v;
    if (it.ref == "-") s.refuse("'-' for " + it.label + ", a response variable");
    s.items.push_back(it);
  }
}

CsvData::~CsvData() = default;

void CsvData::load_unit(rec::Io& io, int unit, std::size_t block) {
  open_unit(io, unit, block);
  load_records();
}

void CsvData::open_unit(rec::Io& io, int unit, std::size_t block) {
  // The file is read through the handle the run opened it with, rather than mapped: a
  // file that another program cuts short while it is mapped would end the run with a
  // bus error instead of a message. A regular file is read in blocks, once for each
  // pass; a FIFO or a device, which can be read only once, is held whole.
  long first_line = 1;
  if (!io.start_rest(unit, first_line)) {
    impl_->blocks.reset();
    impl_->buffer.reset();
    impl_->owned = io.read_rest(unit, kMaxCsvBytes, kMaxCsvLine);
    load_head(impl_->owned, io.file_name(unit), unit);
    return;
  }
  impl_->buffer.reset();
  impl_->owned.clear();
  impl_->blocks = std::make_unique<Blocks>(io, unit, first_line, block);
  try {
    // The first block reaches past the header row's end, where the separator is told.
    Blocks& b = *impl_->blocks;
    b.seek(0);
    while (!b.at_end() && !header_ends(b.window())) b.advance(0);
    load_head(b.window(), io.file_name(unit), unit);
  } catch (const rec::RunError&) {
    // The checks of every line and of the size come first, as for a file read whole.
    impl_->blocks->drain();
    throw;
  }
}

void CsvData::load(std::string text, std::string_view name, int unit) {
  impl_->blocks.reset();
  impl_->buffer.reset();
  impl_->owned = std::move(text);
  load_head(impl_->owned, name, unit);
  load_records();
}

void CsvData::load_buffer(std::unique_ptr<char[]> buffer, std::size_t size, std::string_view name,
                          int unit) {
  impl_->blocks.reset();
  impl_->buffer = std::move(buffer);
  load_head(std::string_view(impl_->buffer.get(), size), name, unit);
  load_records();
}

void CsvData::load_head(std::string_view text, std::string_view name, int unit) {
  Impl& s = *impl_;
  // `text` is the whole file, or the first block of the file read in blocks.
  s.text = s.blocks ? std::string_view() : text;
  s.file = std::string(name);
  s.unit = unit;
  s.loaded = false;
  s.once = false;
  const std::size_t start = rec::csv::bom_length(text);
  s.sep = rec::csv::find_separator(text.substr(start));
  Scanner scan(s.text, s.blocks.get(), s.sep, s.file, s.unit, s.plain_lines);
  scan.start(start, 1);
  std::vector<std::string_view> fields;
  s.read_header(scan, fields);
  s.resolve_columns();
}

void CsvData::load_records() {
  Impl& s = *impl_;
  Scanner scan(s.text, s.blocks.get(), s.sep, s.file, s.unit, s.plain_lines);
  std::vector<std::string_view> fields;
  try {
    s.scan_records(scan, fields);
    s.number_levels(scan, fields);
  } catch (const rec::RunError&) {
    if (s.blocks) s.blocks->drain();
    throw;
  }
  s.loaded = true;
}

bool CsvData::read_once() const { return impl_->once; }

void CsvData::decode_plain_lines(bool on) { impl_->plain_lines = on; }

bool CsvData::last_line_cut() const {
  if (impl_->blocks) return impl_->blocks->last_line_cut(impl_->body);
  const std::string_view t = impl_->text;
  std::size_t e = t.size();
  while (e > impl_->body && is_blank(t[e - 1])) --e;
  return e > impl_->body && t[e - 1] != '\n';
}

const std::array<std::vector<std::string>, 6>& CsvData::level_names() const {
  return impl_->names;
}

void CsvData::print_key(rec::Io& io) const {
  static const rec::Format kHead =
      rec::Format::compile("('0',T42,' Named levels of the data file :')");
  static const rec::Format kWhich = rec::Format::compile("('0',T42,'   ',A,' (',A,')')");
  static const rec::Format kLevel = rec::Format::compile("(' ',T42,I9,' = ',A)");
  const Impl& s = *impl_;
  bool any = false;
  for (int id = 0; id < 6; ++id) any = any || s.ids[id].named;
  if (!any) return;
  io.write(kReportUnit, kHead, {});
  for (int id = 0; id < 6; ++id) {
    const Impl::Id& d = s.ids[id];
    if (!d.named || id == kMale) continue;
    std::string which = kIdentifiers[id].code, columns = s.header[static_cast<std::size_t>(d.col)];
    if (id == kFemale && s.ids[kMale].col >= 0) {
      which += " and IMALE";
      columns += ", " + s.header[static_cast<std::size_t>(s.ids[kMale].col)];
    }
    io.write(kReportUnit, kWhich, {which, columns});
    for (std::size_t k = 0; k < d.levels.size(); ++k)
      io.write(kReportUnit, kLevel, {static_cast<int>(k + 1), d.levels[k]});
  }
}

namespace {

// Thrown by the lines of a one-pass reading at a record that needs the reading in two
// passes: a level that is not a whole number, no record at all, or any record the
// two passes would refuse or might report after another fault.
struct TwoPasses {};

// The records of the loaded file as data lines. A line of plain fields (no quotes, no
// blanks around them, numbers of the common form) is decoded in place column by column;
// any other record is split by the shared reader and its fields converted one by one.
//
// One pass (`one_pass`): the records were not read before, so every identifier column
// is taken for whole numbers; a record that needs the first of two passes throws
// TwoPasses before it is handed out. The bad lines' report lines are held back until
// the pass is complete, so that a pass begun again in two writes them once.
class CsvLines : public LineSource {
 public:
  CsvLines(const CsvData::Impl& s, bool one_pass)
      : s_(s), scan_(s.text, s.blocks.get(), s.sep, s.file, s.unit, s.plain_lines),
        one_pass_(one_pass) {
    scan_.start(s.body, s.body_line);
    for (int id = 0; id < 6; ++id) d.*kIdentifiers[id].member = s.ids[id].fixed;
    fields_.reserve(s.header.size());
    // What each column is to a plain line; a column given for two items takes the
    // general path.
    roles_.assign(s.header.size(), Role{});
    auto take = [&](int col, Role r) {
      Role& at = roles_[static_cast<std::size_t>(col)];
      plain_ = plain_ && at.kind == kSkip;
      at = r;
    };
    for (int id = 0; id < 6; ++id) {
      const CsvData::Impl::Id& in = s.ids[id];
      if (in.col >= 0) take(in.col, {in.named ? kNamed : kWhole, id, &(d.*kIdentifiers[id].member), nullptr});
    }
    for (const CsvData::Impl::Item& it : s.items)
      if (it.v >= 0) take(it.col, {kReal, -1, nullptr, &Y[it.v]});
    plain_ = plain_ && !roles_.empty() && s.plain_lines;
    if (one_pass_) held_.reserve(kMaxBadLines);
    // The rows of a batch: the identifiers the file does not give hold their fixed
    // values, as d does; the columns are decoded into them at their offsets.
    for (Line& row : rows_) row.d = d;
    std::vector<rec::csv::NumberLines::Column> columns;
    for (const Role& r : roles_) {
      if (r.kind == kNamed) {
        levels_[r.id].in = &s.ids[r.id];
        columns.push_back({false, rec::Target::of(rows_[0].d.*kIdentifiers[r.id].member), &levels_[r.id]});
      } else if (r.kind == kWhole)
        columns.push_back({false, rec::Target::of(rows_[0].d.*kIdentifiers[r.id].member)});
      else if (r.kind == kReal)
        columns.push_back({false, rec::Target::of(rows_[0].Y[r.y - Y])});
      else
        columns.push_back({});
    }
    if (plain_) lines_ = rec::csv::NumberLines(s.sep, std::move(columns));
  }

  // Plain lines of numbers in batches, each decoded whole; any other record alone.
  void each(const Lines& lines) override {
    if (!lines_.usable()) return LineSource::each(lines);
    for (;;) {
      const Scanner::Plain w = scan_.lines();
      std::size_t pos = w.pos, room = kRows;
      // A file read again holds no more records than the first pass counted.
      if (!one_pass_) room = static_cast<std::size_t>(std::clamp<std::int64_t>(s_.records - records_, 0, kRows));
      const std::size_t n = lines_.decode(w.t, pos, w.end, sizeof(Line), room);
      if (n > 0) {
        batch_line_ = scan_.next_line();
        scan_.took_lines(pos, static_cast<std::int64_t>(n));
        records_ += static_cast<std::int64_t>(n);
        missing_ = false;
        in_batch_ = true;
        const std::size_t used = lines(rows_, n);
        in_batch_ = false;
        if (used < n) return;
        continue;
      }
      if (!next()) return;
      Line& row = rows_[0];
      row.d = d;
      std::copy(Y, Y + MAXY, row.Y);
      if (lines(&row, 1) < 1) return;
    }
  }

  bool next() override {
    if (!one_pass_) return next_record();
    try {
      return next_record();
    } catch (const rec::RunError&) {
      // As the first of two passes does: the checks of every line and of the size
      // come first.
      if (s_.blocks) s_.blocks->drain();
      throw;
    }
  }

  bool missing() const override { return missing_; }

  // A text the first pass did not see: the file was changed while it was being read.
  [[noreturn]] void changed() const { scan_.fail("the file changed while it was being read"); }

  void report_bad(rec::Io& io, std::int32_t, std::size_t row, const RangeFault& f) override {
    // The lines of a batch are consecutive lines of the file.
    const std::int32_t line =
        rec::clamped_int(in_batch_ ? batch_line_ + static_cast<std::int64_t>(row) : scan_.line());
    if (one_pass_)
      held_.push_back({line, f});
    else
      write_bad(io, line, f);
  }

  // The report lines held back, in the order of their lines.
  void write_held(rec::Io& io) {
    for (const Held& h : held_) write_bad(io, h.line, h.fault);
    held_.clear();
  }

 private:
  enum Kind : unsigned char { kSkip, kWhole, kNamed, kReal };
  struct Role {
    Kind kind = kSkip;
    int id = -1;                  // kWhole, kNamed: the identifier
    std::int32_t* out = nullptr;  // kWhole, kNamed
    float* y = nullptr;           // kReal
  };
  struct Held {
    std::int32_t line;
    RangeFault fault;
  };

  bool next_record() {
    if (plain_ && plain_line()) {
      if (++records_ > s_.records && !one_pass_) changed();
      missing_ = false;
      return true;
    }
    return general_record();
  }

  // The record at the reading position when it is one line of plain fields, decoded;
  // false (the line read by nothing) for any other. What it writes into the data line
  // before it gives up is written again by the general path.
  //
  // The line's fields are found from the marks of the window (Scanner::plain) and each
  // converted by its length, so that no field's conversion waits for the one before.
  bool plain_line() {
    const Scanner::Plain w = scan_.plain();
    if (w.pos >= w.end) return false;
    const char* const t = w.t;
    const char first = t[w.pos];
    if (first == ' ' || first == '\t' || first == '\r' || first == '\n') return false;
    const std::size_t ncols = roles_.size();
    const char sep = s_.sep;
    // The end of each field (a separator, the line end after the last), and the field
    // converted, read eight bytes at a time: nine must remain after its end.
    std::size_t word = w.pos / 64, b = w.pos;
    std::uint64_t bits = w.marks[word] & (~std::uint64_t{0} << (w.pos % 64));
    for (std::size_t c = 0; c < ncols; ++c) {
      while (bits == 0) {
        if (++word >= w.words) return false;
        bits = w.marks[word];
      }
      const std::size_t at = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      bits &= bits - 1;
      const bool last = c + 1 == ncols;
      if (t[at] != (last ? '\n' : sep)) return false;  // a quote, or ragged
      if (w.end - at < 9) return plain_line_bytes(w);
      std::size_t e = at;
      if (last && e > b && t[e - 1] == '\r') --e;  // a blank after the field
      const Role& r = roles_[c];
      switch (r.kind) {
        case kWhole:
          if (!rec::csv::plain_whole_field(t + b, e - b, *r.out)) return false;
          break;
        case kReal:
          if (!rec::csv::plain_number_field(t + b, e - b, *r.y)) return false;
          break;
        case kNamed:
          if (plain_name(t + b, r) != t + e) return false;
          break;
        default: break;
      }
      b = at + 1;
    }
    scan_.took_line(b);
    return true;
  }

  // plain_line for a line near the end of the window, byte by byte.
  bool plain_line_bytes(const Scanner::Plain& w) {
    const char* const t = w.t;
    const char sep = s_.sep;
    const std::size_t last = roles_.size() - 1;
    const char* q = t + w.pos;
    // Every field stops at the line end at the latest, which lies before w.end.
    for (std::size_t k = 0;; ++k) {
      const Role& r = roles_[k];
      const char* e;
      switch (r.kind) {
        case kWhole: e = rec::csv::plain_whole(q, *r.out); break;
        case kReal: e = rec::csv::plain_number(q, *r.y); break;
        case kNamed: e = plain_name(q, r); break;
        default:
          e = q;
          while (*e != sep && *e != '\n' && *e != '"') ++e;
          if (*e == '"') return false;
          break;
      }
      if (e == nullptr) return false;
      if (k == last) {
        if (*e == '\r') ++e;  // a CR before the line end is a blank after the field
        if (*e != '\n') return false;
        scan_.took_line(static_cast<std::size_t>(e + 1 - t));
        return true;
      }
      if (*e != sep) return false;
      q = e + 1;
    }
  }

  // A named level at `q` without blanks around it: its number in the data line.
  const char* plain_name(const char* q, const Role& r) const {
    const char sep = s_.sep;
    const char* e = q;
    while (*e != sep && *e != '\n' && *e != '"' && *e != '\r') ++e;
    if (*e == '"' || e == q) return nullptr;
    const std::string_view v(q, static_cast<std::size_t>(e - q));
    if (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t' ||
        is_missing(v))
      return nullptr;
    const CsvData::Impl::Id& in = s_.ids[r.id];
    const std::int32_t k = in.column->texts.find(v);
    if (k < 0) return nullptr;  // the general path refuses it, naming its line
    *r.out = in.level_of[static_cast<std::size_t>(k)];
    return e;
  }

  bool general_record() {
    // A file read again from the disk holds the records the first pass counted, or it
    // changed in between.
    if (!scan_.next(fields_)) {
      if (one_pass_) {
        if (records_ == 0) throw TwoPasses{};
      } else if (records_ != s_.records) {
        changed();
      }
      return false;
    }
    ++records_;
    if (one_pass_) {
      if (fields_.size() != s_.header.size()) throw TwoPasses{};
    } else if (records_ > s_.records || fields_.size() != s_.header.size()) {
      changed();
    }
    missing_ = false;
    for (int id = 0; id < 6; ++id) {
      const CsvData::Impl::Id& in = s_.ids[id];
      if (in.col < 0) continue;
      const std::string_view v = field(in.col);
      std::int32_t& out = d.*kIdentifiers[id].member;
      if (is_missing(v)) {
        missing_ = true;
        out = 0;
      } else if (in.named) {
        const std::int32_t k = in.column->texts.find(v);
        if (k < 0) changed();
        out = in.level_of[static_cast<std::size_t>(k)];
      } else if (!whole_number(v, out)) {
        if (one_pass_) throw TwoPasses{};  // a named level: the levels are numbered first
        changed();  // the first pass found every value whole
      }
    }
    for (const CsvData::Impl::Item& it : s_.items) {
      if (it.v < 0) continue;
      const std::string_view v = field(it.col);
      if (is_missing(v)) {
        missing_ = true;
        Y[it.v] = 0.0f;
        continue;
      }
      const NumberStatus st = read_number(v, Y[it.v]);
      if (st == NumberStatus::Ok) continue;
      // The first of two passes might refuse a later record first.
      if (one_pass_) throw TwoPasses{};
      scan_.fail("column " + std::to_string(it.col + 1) + " (" +
                 rec::echo(s_.header[static_cast<std::size_t>(it.col)], 0) + "): " +
                 (st == NumberStatus::Range ? "number out of range " : "not a number ") +
                 rec::echo(v));
    }
    return true;
  }

  void write_bad(rec::Io& io, std::int32_t line, const RangeFault& f) {
    static const rec::Format kBadName = rec::Format::compile(
        "('0 DATA LINE',I8,': ',A6,' = ',A,' (LEVEL',I6,') IS OUTSIDE 1 TO',I6)");
    for (int id = 0; id < 6; ++id) {
      const CsvData::Impl::Id& in = s_.ids[id];
      if (std::strcmp(f.field, kIdentifiers[id].code) != 0) continue;
      if (in.named && f.value >= 1 && static_cast<std::size_t>(f.value) <= in.levels.size()) {
        io.write(kReportUnit, kBadName,
                 {line, f.field, rec::echo(in.levels[static_cast<std::size_t>(f.value - 1)], 0),
                  f.value, f.high});
        return;
      }
    }
    LineSource::report_bad(io, line, 0, f);
  }

  std::string_view field(int col) const { return fields_[static_cast<std::size_t>(col)]; }

  const CsvData::Impl& s_;
  Scanner scan_;
  const bool one_pass_;
  bool plain_ = true;
  std::vector<Role> roles_;
  std::vector<std::string_view> fields_;
  std::vector<Held> held_;
  bool missing_ = false;
  std::int64_t records_ = 0;
  // The levels of a named identifier, as plain_name takes them.
  struct NamedLevels : rec::csv::Levels {
    const CsvData::Impl::Id* in = nullptr;
    std::int32_t level(std::string_view v) const override {
      if (v.empty() || is_blank(v.front()) || is_blank(v.back()) || is_missing(v)) return 0;
      for (const char ch : v)
        if (ch == '\r') return 0;
      const std::int32_t k = in->column->texts.find(v);
      return k < 0 ? 0 : in->level_of[static_cast<std::size_t>(k)];
    }
  };
  // Plain lines of numbers decoded whole, a batch at a time, and the batch's first line.
  static constexpr std::size_t kRows = 256;
  NamedLevels levels_[6];
  rec::csv::NumberLines lines_;
  Line rows_[kRows];
  std::int64_t batch_line_ = 0;
  bool in_batch_ = false;
};

// The part of the accumulators that a pass of model `m` writes, kept to be put back.
class Saved {
 public:
  // Whether the copy stays within kMaxSaved values: the equations of korbal's column
  // limit fit, those of the largest models with effects by location are read in two
  // passes rather than kept twice.
  static constexpr std::size_t kMaxSaved = std::size_t{1} << 18;
  static bool fits(const Model& m) {
    const std::size_t sdfl = static_cast<std::size_t>(std::max(m.SDFL, 0));
    return sdfl * (sdfl + 1) / 2 <= kMaxSaved;
  }
  Saved(const Control& c, const Model& m, Accumulators a) : a_(a) {
    const std::size_t sdfl = static_cast<std::size_t>(std::max(m.SDFL, 0));
    const std::size_t nv = static_cast<std::size_t>(std::max(c.NV, 0));
    xpx_.assign(a.XPX, a.XPX + sdfl * (sdfl + 1) / 2);
    xpy_.assign(a.XPY, a.XPY + sdfl * nv);
    ypy_.assign(a.YPY, a.YPY + nv * (nv + 1) / 2);
    nobs_ = *a.NOBS;
  }
  void restore() const {
    std::copy(xpx_.begin(), xpx_.end(), a_.XPX);
    std::copy(xpy_.begin(), xpy_.end(), a_.XPY);
    std::copy(ypy_.begin(), ypy_.end(), a_.YPY);
    *a_.NOBS = nobs_;
  }

 private:
  Accumulators a_;
  std::vector<double> xpx_, xpy_, ypy_;
  std::int32_t nobs_ = 0;
};

}  // namespace

PassResult CsvData::accumulate(rec::Io& io, const Control& c, const Model& m, Accumulators a) {
  Impl& s = *impl_;
  if (!s.loaded) {
    // Only the header was read (open_unit). Unless lines are listed as they are read
    // (or the equations are too large to keep a copy of), the records are read once,
    // taken for whole-number levels; a record that needs two passes puts the equations
    // back as they were and the records are read in two.
    if (c.IPRINT >= 0 && Saved::fits(m)) {
      const Saved saved(c, m, a);
      try {
        CsvLines src(s, true);
        PassResult r = korbal::accumulate(io, c, m, a, src);
        src.write_held(io);
        r.level_names = s.names;
        s.once = true;
        return r;
      } catch (const TwoPasses&) {
        saved.restore();
      } catch (const rec::RunError&) {
        // Refused before the first of two passes would have let a line through.
        saved.restore();
        throw;
      }
    }
    load_records();
    print_key(io);
  }
  CsvLines src(s, false);
  PassResult r = korbal::accumulate(io, c, m, a, src);
  r.level_names = s.names;
  return r;
}

PassResult pass_csv_data(rec::Io& io, Clock& clock, const Control& c, const Model& m,
                         Accumulators a, std::string_view record, int unit) {
  static const rec::Format kReading = rec::Format::compile(
      "(' Reading problem dataset   ',2(I2.2,':'),I2.2,'.',I2.2)");
  static const rec::Format kShowRecord = rec::Format::compile("(' Input data format: ',A)");
  static const rec::Format kHeading = rec::Format::compile(
      "('1 FEMALE  MALE',/,'   LINE   LINE',/,'    NO.    NO.',6X,'C O L U M N  N U M B E R  "
      "I N  (X)  ',T67,'V A L U E  I N  C O L U M N  O F   (X) ',/)");

  const std::string_view shown = trim(record);
  CsvData data(c, m, shown);  // refuses a record that does not fit the layout
  unit = open_data(io, c, unit);
  stamp(io, clock, kReading);
  io.write(rec::kConsole, kShowRecord, {rec::echo(shown, 0, std::string_view::npos)});
  // The records are read with the accumulation, once where they allow it; the key of
  // named levels is then written before the first line is accumulated.
  data.open_unit(io, unit);
  if (c.IPRINT < 0) {
    data.load_records();
    data.print_key(io);
    io.write(kReportUnit, kHeading, {});
  }

  PassResult r = data.accumulate(io, c, m, a);
  r.last_line_cut = data.last_line_cut();

  finish_pass(io, clock, *a.NOBS, r, r.NREAD - 1);  // the data records, header not counted
  return r;
}

}  // namespace korbal
