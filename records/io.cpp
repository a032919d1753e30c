// Units, files and the console.
//
// Input files are read through a large buffer with memchr, and each record is handed
// out as a view into that buffer, so that a read statement allocates nothing. Output
// files get every record followed by CR LF. The console interprets the first
// character of each record as carriage control, with the line break before the text.
#include "records/io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <istream>
#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records/cleanup.h"
#include "records/pending.h"

namespace rec {

namespace {

constexpr std::size_t kBufferSize = 1u << 18;  // comfortably above kMaxRecordLength
constexpr std::size_t kPadding = 256;          // loadable bytes beyond a buffer's end


// Records of an input file. A line longer than kMaxRecordLength, or a failing read,
// ends the file and is remembered in `trouble` for the error message.
class FileSource : public RecordSource {
 public:
  // The buffer has kPadding bytes beyond its end, so that a record near its end may be
  // loaded 16 bytes at a time.
  explicit FileSource(std::FILE* fp) : fp_(fp), buf_(new char[kBufferSize + kPadding]()) {}

  // The records the buffer holds beyond those handed out: their text and the bytes that
  // may be loaded from its start; false when the file is in trouble.
  bool buffered(const char*& text, std::size_t& size, std::size_t& readable) const {
    if (!trouble.empty()) return false;
    text = buf_.get() + begin_;
    size = end_ - begin_;
    readable = size + kPadding;
    return true;
  }
  // Takes the first `n` (at least 1) of those records; ends[i] is the offset after the
  // line end of record i, lengths[i] its length.
  void take(std::size_t n, const std::uint32_t* ends, const std::uint32_t* lengths) {
    begin_ += ends[n - 1];
    records += static_cast<long>(n);
    last_length = lengths[n - 1];
  }

  bool next(std::string_view& record) override {
    for (;;) {
      if (!trouble.empty()) return false;
      const char* start = buf_.get() + begin_;
      const std::size_t avail = end_ - begin_;
      const void* nl = avail ? std::memchr(start, '\n', avail) : nullptr;
      if (nl != nullptr) {
        std::size_t len = static_cast<const char*>(nl) - start;
        begin_ += len + 1;
        return deliver(start, len, record);
      }
      if (eof_) {
        if (avail == 0) return false;
        if (require_line_end) {
          trouble = "the last record lacks its line end; the file is cut short";
          return false;
        }
        begin_ = end_;
        return deliver(start, avail, record);
      }
      if (avail > static_cast<std::size_t>(kMaxRecordLength) + 1) {
        trouble = "record longer than " + std::to_string(kMaxRecordLength) + " characters";
        return false;
      }
      refill();
    }
  }

  // What the buffer holds beyond the records handed out; the buffer is emptied.
  std::string_view take_buffered() {
    const std::string_view rest(buf_.get() + begin_, end_ - begin_);
    begin_ = end_;
    return rest;
  }

  // Whether nothing but blanks and line ends follows the last record handed out, up to
  // the end of the file. Looks ahead at most one buffer; the records stay unread.
  bool only_blanks_follow() {
    std::size_t i = begin_;
    for (;;) {
      for (; i < end_; ++i) {
        const char c = buf_[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
      }
      if (eof_) return true;
      if (!trouble.empty() || (begin_ == 0 && end_ == kBufferSize)) return false;
      i -= refill();
    }
  }

  long records = 0;      // records handed out so far
  std::size_t last_length = 0;  // characters of the last record handed out
  std::string trouble;   // why the file ended early, if it did
  bool require_line_end = false;  // a last record without its line end is trouble

 private:
  // Moves the unread part of the buffer to its front and reads more of the file after
  // it; returns how far the unread part moved. The end of the file sets eof_, a failed
  // read `trouble`. The buffer must have room (the unread part is shorter than it).
  std::size_t refill() {
    const std::size_t moved = begin_;
    if (begin_ > 0) {
      std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    const std::size_t got = std::fread(buf_.get() + end_, 1, kBufferSize - end_, fp_);
    end_ += got;
    if (got == 0) {
      if (std::ferror(fp_))
        trouble = "the file cannot be read";
      else
        eof_ = true;
    }
    return moved;
  }

  bool deliver(const char* p, std::size_t len, std::string_view& record) {
    if (len > 0 && p[len - 1] == '\r') --len;
    if (len > static_cast<std::size_t>(kMaxRecordLength)) {
      trouble = "record longer than " + std::to_string(kMaxRecordLength) + " characters";
      return false;
    }
    record = std::string_view(p, len);
    ++records;
    last_length = len;
    return true;
  }

  std::FILE* fp_;
  std::unique_ptr<char[]> buf_;
  std::size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
};

// Reads one console line, keeping at most `bound` characters of it (the rest of a
// longer line is read and dropped, and `cut` says so); a CR before the line end goes.
// False at the end of the input when nothing was read.
bool console_line(std::istream& in, std::string& line, std::size_t bound, bool* cut = nullptr) {
  line.clear();
  if (cut) *cut = false;
  std::streambuf* sb = in.rdbuf();
  if (!in.good() || sb == nullptr) {
    in.setstate(std::ios::eofbit | std::ios::failbit);
    return false;
  }
  bool any = false;
  for (;;) {
    const int ch = sb->sbumpc();
    if (ch == std::char_traits<char>::eof()) {
      in.setstate(any ? std::ios::eofbit : std::ios::eofbit | std::ios::failbit);
      break;
    }
    any = true;
    if (ch == '\n') break;
    if (line.size() < bound + 1) {  // one more, for a CR before the line end
      line += static_cast<char>(ch);
    } else if (cut) {
      *cut = true;
    }
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > bound) {
    line.resize(bound);
    if (cut) *cut = true;
  }
  return any;
}

// Records typed at the console.
class ConsoleSource : public RecordSource {
 public:
  explicit ConsoleSource(std::istream& in) : in_(in) {}
  bool next(std::string_view& record) override {
    if (!console_line(in_, line_, static_cast<std::size_t>(kMaxRecordLength))) return false;
    record = line_;
    ++records;
    return true;
  }
  long records = 0;

 private:
  std::istream& in_;
  std::string line_;
};

class FileSink : public RecordSink {
 public:
  explicit FileSink(std::FILE* fp) : fp_(fp) {}
  void put(std::string_view record) override {
    if (std::fwrite(record.data(), 1, record.size(), fp_) != record.size() ||
        std::fwrite("\r\n", 1, 2, fp_) != 2)
      fail(errno);
    ++records;
  }
  // Remembers the first failure of a write, flush or close.
  void fail(int err) {
    if (error == 0) error = err != 0 ? err : EIO;
  }
  long records = 0;
  int error = 0;          // errno of the first failure, 0 while all went well
  bool reported = false;  // the failure was reported by a RunError

 private:
  std::FILE* fp_;
};

class ConsoleSink : public RecordSink {
 public:
  explicit ConsoleSink(std::ostream& out) : out_(out) {}
  void put(std::string_view record) override {
    if (record.empty()) {
      out_ << '\n';
      return;
    }
    switch (record[0]) {
      case '0': out_ << "\n\n"; break;
      case '1': out_ << '\f'; break;
      case '+': out_ << '\r'; break;
      default: out_ << '\n'; break;  // blank, and any other character taken as blank
    }
    out_ << record.substr(1);
  }

 private:
  std::ostream& out_;
};

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  std::size_t b = s.find_first_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b);
}

bool blank(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

// Text as the console may show it: control characters and bytes outside ASCII (binary
// garbage in a data file, odd bytes in a file name) become \xNN.
std::string shown(std::string_view field) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char ch : field) {
    if (ch >= 0x20 && ch < 0x7F) {
      s += static_cast<char>(ch);
    } else {
      s += "\\x";
      s += kHex[ch >> 4];
      s += kHex[ch & 0xF];
    }
  }
  return s;
}

// The site part of a statement's error: "Run-time error: READ on unit 5, file 'x'"
// and ", record n" when a record is named.
std::string site_text(const ErrorSite& at) {
  if (at.statement.empty()) return "Run-time error";  // an error of no statement
  std::string s = "Run-time error: " + at.statement;
  if (!at.subject.empty())
    s += " " + at.subject;
  else
    s += " on unit " + (at.unit == kConsole ? std::string("*") : std::to_string(at.unit));
  if (!at.file.empty()) s += ", file '" + shown(at.file) + "'";
  if (at.record >= 0) s += std::string(", ") + at.record_word + " " + std::to_string(at.record);
  return s;
}

std::string where(const char* statement, int unit, const std::string& name) {
  return site_text({statement, unit, name});
}

// Whether two paths name the same file (links followed), or the same name when
// neither exists yet.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec1, ec2;
  if (std::filesystem::exists(a, ec1) && std::filesystem::exists(b, ec2)) {
    std::error_code ec;
    bool eq = std::filesystem::equivalent(a, b, ec);
    if (!ec) return eq;
  }
  std::error_code ec3, ec4;
  return std::filesystem::weakly_canonical(a, ec3) == std::filesystem::weakly_canonical(b, ec4);
}

// Whether an existing file is a report of the program: its first record is "1" (the
// first page), or it begins with a carriage control of a new page or a skipped line
// ("1", "0") in a record of printable text with the reports' CR LF end, and its last
// record holds one of the texts `ends` with which the program closes every report it
// writes (the closing page, or a "JOB TERMINATED" message). Anything else is somebody's
// other file.
bool is_report_of(const std::filesystem::path& p, const std::vector<std::string>& ends) {
  std::FILE* fp = std::fopen(p.c_str(), "rb");
  if (fp == nullptr) return false;
  char head[256];
  const std::size_t got = std::fread(head, 1, sizeof head, fp);
  const std::string_view h(head, got);
  if (h.starts_with("1\r\n") || h.starts_with("1\n")) {
    std::fclose(fp);
    return true;
  }
  char tail[256];
  std::size_t tail_got = 0;
  if (std::fseek(fp, -static_cast<long>(sizeof tail), SEEK_END) != 0) std::rewind(fp);
  tail_got = std::fread(tail, 1, sizeof tail, fp);
  std::fclose(fp);
  const std::size_t first_end = h.find("\r\n");
  if (h.empty() || (h[0] != '0' && h[0] != '1') || first_end == std::string_view::npos) return false;
  for (char ch : h.substr(0, first_end))
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7F) return false;
  std::string_view t(tail, tail_got);
  if (!t.ends_with("\r\n")) return false;
  t.remove_suffix(2);
  const std::size_t last = t.rfind('\n');
  const std::string_view record = last == std::string_view::npos ? t : t.substr(last + 1);
  for (const std::string& e : ends)
    if (record.find(e) != std::string_view::npos) return true;
  return false;
}

using cleanup::SignalsHeld;

const std::string kNoName;

}  // namespace

struct Io::Unit {
  int number = 0;
  std::string name;
  std::filesystem::path path;
  OpenMode mode = OpenMode::Input;
  std::FILE* fp = nullptr;  // owned by `pending` while the output is a temporary file
  std::unique_ptr<FileSource> source;
  std::unique_ptr<FileSink> sink;
  PendingFile pending;  // the temporary file written in place of `path`, while there is one
  off_t rest_start = -1;  // file offset where the rest read in blocks begins (start_rest)

  ~Unit() {
    if (pending.pending()) {
      pending.abort();
    } else if (fp) {
      std::fclose(fp);
    }
  }
  long record() const { return source ? source->records : sink ? sink->records : 0; }
};

// A table written whole into its temporary file, renamed with the run's other outputs.
struct Io::Table {
  std::string name;  // as the messages show it
  PendingFile file;
};

// An input named on the command line, opened before any output.
struct Io::Held {
  std::FILE* fp = nullptr;
  dev_t dev = 0;
  ino_t ino = 0;
  ~Held() {
    if (fp) std::fclose(fp);
  }
};

Io::Io(std::vector<std::string> args, std::istream& console_in, std::ostream& console_out,
       std::filesystem::path dir)
    : args_(std::move(args)), in_(console_in), out_(console_out), dir_(std::move(dir)) {
  interactive_ = &console_in == &std::cin && ::isatty(0) == 1;
}

Io::~Io() {
  // A run that ends without close() did not finish: it replaces nothing.
  discard_outputs_ = true;
  try {
    close();
  } catch (...) {
    // The program ends without close(): nothing is left to report the failure to.
  }
}

void Io::open_input_arguments(std::initializer_list<InputArgument> inputs) {
  for (const InputArgument& in : inputs) {
    if (in.index >= args_.size() || held_.count(in.index)) continue;
    const std::string& name = args_[in.index];
    auto fail = [&](const std::string& what) {
      flush();
      ErrorSite at{"OPEN", in.unit, name};
      if (in.unit <= 0) at.subject = "of command-line argument " + std::to_string(in.index + 1);
      throw RunError(at, what);
    };
    if (blank(name)) continue;  // refused by the open that takes it
    std::filesystem::path p(name);
    if (p.is_relative() && !dir_.empty()) p = dir_ / p;
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) fail("file not found");
      fail(std::string("the file cannot be opened: ") + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) fail("the name is a directory");
    auto h = std::make_unique<Held>();
    h->fp = std::fopen(p.c_str(), "rb");
    if (h->fp == nullptr) fail(std::string("the file cannot be opened: ") + std::strerror(errno));
    struct stat opened {};
    if (::fstat(::fileno(h->fp), &opened) == 0) st = opened;
    h->dev = st.st_dev;
    h->ino = st.st_ino;
    held_[in.index] = std::move(h);
  }
}

void Io::refuse_if_input(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;  // a new file reads nothing
  std::string input;
  for (const auto& [index, h] : held_)
    if (h->dev == st.st_dev && h->ino == st.st_ino) input = args_[index];
  for (const auto& [n, u] : units_) {
    struct stat ust {};
    if (u->source && ::stat(u->path.c_str(), &ust) == 0 && ust.st_dev == st.st_dev &&
        ust.st_ino == st.st_ino)
      input = u->name;
  }
  if (input.empty()) return;
  discard_outputs_ = true;
  flush();
  throw RunError(ErrorSite{}, "the table '" + shown(path.string()) + "' is the input file '" +
                 shown(input) + "'; it is left as it is");
}

std::filesystem::path Io::resolve(const std::filesystem::path& p) const {
  return p.is_relative() && !dir_.empty() ? dir_ / p : p;
}

// Refuses `p` when it is an output the run has written or declared already: two outputs
// of one run under one name would leave only the one renamed last.
void Io::refuse_same_output(const std::filesystem::path& p, const std::string& shown_as, int unit) {
  const std::filesystem::path* other = nullptr;
  for (const auto& t : tables_)
    if (same_file(t->file.target(), p)) other = &t->file.target();
  for (const auto& r : reserved_)
    if (same_file(r, p)) other = &r;
  for (const auto& u : retired_)
    if (same_file(u->path, p)) other = &u->path;
  if (other == nullptr) return;
  discard_outputs_ = true;
  flush();
  const std::string what = "the file is also the output '" + shown(other->string()) +
                           "' of this run; two outputs cannot have one name";
  if (unit == 0) throw RunError(ErrorSite{}, "the table '" + shown(shown_as) + "': " + what);
  throw RunError({"OPEN", unit, shown_as}, what);
}

// Refuses the table `p` when it is an input of the run or another of its outputs.
void Io::refuse_table_clash(const std::filesystem::path& p) {
  refuse_if_input(p);
  for (const auto& [n, u] : units_)
    if (same_file(u->path, p)) {
      discard_outputs_ = true;
      flush();
      throw RunError(ErrorSite{}, "the table '" + shown(p.string()) +
                     "' is also the file open on unit " + std::to_string(n) +
                     "; two outputs cannot have one name");
    }
  refuse_same_output(p, p.string(), 0);
}

void Io::reserve_output(const std::filesystem::path& path) {
  const std::filesystem::path p = resolve(path);
  refuse_table_clash(p);
  reserved_.push_back(p);
}

void Io::add_table(const std::filesystem::path& path, std::string_view content) {
  const std::filesystem::path p = resolve(path);
  std::erase_if(reserved_, [&](const std::filesystem::path& r) { return r == p; });
  refuse_table_clash(p);
  auto t = std::make_unique<Table>();
  t->name = p.string();
  auto fail = [&](const char* what) {
    const std::string why = std::strerror(errno);
    discard_outputs_ = true;
    flush();
    throw RunError(ErrorSite{}, "CSV file '" + shown(t->name) + "' " + what + ": " + why);
  };
  if (!t->file.create(p)) fail("cannot be created");
  if (std::fwrite(content.data(), 1, content.size(), t->file.file()) != content.size())
    fail("cannot be written");
  if (!t->file.finish()) fail("cannot be written");
  tables_.push_back(std::move(t));
}

void Io::require_line_ends(int unit) {
  auto it = units_.find(unit);
  if (it != units_.end() && it->second->source) it->second->source->require_line_end = true;
}

void Io::require_record_length(int unit, std::size_t columns) {
  auto it = units_.find(unit);
  if (it == units_.end() || !it->second->source) return;
  FileSource& src = *it->second->source;
  if (src.records == 0 || src.last_length >= columns || !src.only_blanks_follow()) return;
  flush();
  throw RunError({"READ", unit, it->second->name, src.records},
                 "the record holds " + std::to_string(src.last_length) + " of the " +
                     std::to_string(columns) + " columns its fields take; the file is cut short");
}

// Opens the file of output unit `u` (its path is set): a temporary file next to it when
// outputs are replaced at close and the name is a regular file or free, else the file
// itself. Returns null with errno set on failure.
std::FILE* Io::open_output(Unit& u, int unit, const std::string& chosen) {
  struct stat st {};
  const bool exists = ::stat(u.path.c_str(), &st) == 0;
  if (exists) {
    for (const auto& [index, h] : held_)
      if (h->dev == st.st_dev && h->ino == st.st_ino) {
        discard_outputs_ = true;
        flush();
        throw RunError({"OPEN", unit, chosen}, "the file is the input named by command-line argument " +
                                                    std::to_string(index + 1) + "; it is left as it is");
      }
  }
  const bool report = std::find(report_units_.begin(), report_units_.end(), unit) != report_units_.end();
  if (report && exists && S_ISREG(st.st_mode) && st.st_size > 0 && !is_report_of(u.path, report_ends_)) {
    discard_outputs_ = true;
    flush();
    throw RunError({"OPEN", unit, chosen},
                   "the file exists and is not a report of this program; it is left as it is");
  }
  if (!replace_at_close_ || (exists && !S_ISREG(st.st_mode))) return std::fopen(u.path.c_str(), "wb");
  // The temporary file is only renamed at the end: an existing file that may not be
  // written is refused now, as opening it for writing would be.
  if (exists && ::access(u.path.c_str(), W_OK) != 0) return nullptr;
  if (!u.pending.create(u.path)) return nullptr;
  return u.pending.file();
}

void Io::fail_open(int unit, const std::string& file, const std::string& what) {
  flush();
  throw RunError({"OPEN", unit, file}, what);
}

void Io::close_for_reopen(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return;
  const std::string trouble = close_unit(*it->second);
  if (it->second->pending.pending()) retired_.push_back(std::move(it->second));
  units_.erase(it);
  if (!trouble.empty()) {
    flush();
    throw RunError(trouble);
  }
}

std::string Io::ask_name(int unit) {
  std::string chosen;
  while (chosen.empty()) {
    out_ << "\nFile name missing or blank - please enter file name\nUNIT " << unit << "? ";
    out_.flush();
    std::string line;
    bool cut = false;
    if (!console_line(in_, line, kMaxNameLength, &cut))
      fail_open(unit, "", "end of console input while asking for a file name");
    if (cut) {
      out_ << "\nThe name is longer than " << kMaxNameLength << " characters";
      continue;
    }
    chosen = trim(line);
  }
  return chosen;
}

void Io::refuse_open_clash(int unit, const std::filesystem::path& p, const std::string& chosen) {
  for (const auto& [n, u] : units_)
    if (same_file(u->path, p)) {
      discard_outputs_ = true;  // one of the two is an output: it replaces nothing
      fail_open(unit, chosen, "the file is already open on unit " + std::to_string(n));
    }
  refuse_same_output(p, chosen, unit);
}

std::FILE* Io::open_file(Unit& u, std::size_t arg, bool typed) {
  const int unit = u.number;
  const std::string& chosen = u.name;
  const std::filesystem::path& p = u.path;
  if (auto h = held_.find(arg); u.mode == OpenMode::Input && h != held_.end()) {
    std::FILE* fp = h->second->fp;  // opened before any output
    h->second->fp = nullptr;
    held_.erase(h);
    return fp;
  }
  if (arg < args_.size()) held_.erase(arg);
  std::error_code ec;
  const bool exists = std::filesystem::exists(p, ec);
  if (u.mode == OpenMode::Input && !exists) {
    out_ << "\nFile '" << shown(chosen) << "' for unit " << unit << " was not found";
    out_.flush();
    if (typed) return nullptr;
    fail_open(unit, chosen, "file not found");
  }
  if (exists && std::filesystem::is_directory(p, ec)) {
    if (typed) {
      out_ << "\nFile '" << shown(chosen) << "' for unit " << unit << " is a directory";
      return nullptr;
    }
    fail_open(unit, chosen, "the name is a directory");
  }
  std::FILE* fp = u.mode == OpenMode::Input ? std::fopen(p.c_str(), "rb") : open_output(u, unit, chosen);
  if (fp == nullptr) {
    if (typed) {
      out_ << "\nFile '" << shown(chosen) << "' for unit " << unit << " cannot be opened";
      return nullptr;
    }
    fail_open(unit, chosen, std::string("the file cannot be opened: ") + std::strerror(errno));
  }
  return fp;
}

void Io::attach(std::unique_ptr<Unit> u, std::FILE* fp) {
  u->fp = fp;
  if (u->mode == OpenMode::Input) {
    u->source = std::make_unique<FileSource>(fp);
  } else {
    std::setvbuf(fp, nullptr, _IOFBF, 1u << 16);
    u->sink = std::make_unique<FileSink>(fp);
  }
  const int unit = u->number;
  units_[unit] = std::move(u);
}

std::string Io::open(int unit, std::string_view name, OpenMode mode) {
  if (unit == kConsole) fail_open(unit, "", "the console cannot be opened");
  close_for_reopen(unit);  // reopening a unit closes what it had

  // The name: as given, else the next command-line argument (exactly as given), else
  // typed on the console, asked again while a typed name cannot be opened.
  std::string chosen(trim(std::string(name)));
  std::size_t arg = args_.size();
  bool typed = false;
  if (blank(name)) {
    if (next_arg_ < args_.size()) {
      arg = next_arg_++;
      chosen = args_[arg];
      if (blank(chosen)) fail_open(unit, "", "the file name given on the command line is blank");
    } else {
      typed = true;
    }
  }
  for (;;) {
    if (typed) chosen = ask_name(unit);
    std::filesystem::path p(chosen);
    if (p.is_relative() && !dir_.empty()) p = dir_ / p;
    refuse_open_clash(unit, p, chosen);

    auto u = std::make_unique<Unit>();
    u->number = unit;
    u->name = chosen;
    u->path = p;
    u->mode = mode;
    std::FILE* fp = open_file(*u, arg, typed);
    if (fp == nullptr) continue;  // a typed name that cannot be opened: ask again
    attach(std::move(u), fp);
    return chosen;
  }
}

std::string Io::file_name(int unit) const {
  auto it = units_.find(unit);
  return it == units_.end() ? std::string() : it->second->name;
}

Io::Unit& Io::unit_for(int unit, const char* statement) {
  auto it = units_.find(unit);
  if (it == units_.end()) {
    flush();
    throw RunError({statement, unit, "", -1}, "the unit is not open");
  }
  return *it->second;
}

void Io::write(int unit, const Format& fmt, std::span<const Item> items) {
  if (unit == kConsole) {
    ConsoleSink sink(out_);
    try {
      format_write(fmt, items, sink);
    } catch (const FormatError& e) {
      flush();
      throw RunError({"WRITE", unit, "", -1}, std::string(e.what()) + " (format position " +
                                          std::to_string(e.position + 1) + " of " + fmt.text() + ")");
    }
    return;
  }
  Unit& u = unit_for(unit, "WRITE");
  if (!u.sink) {
    flush();
    throw RunError({"WRITE", unit, u.name}, "the file is open for input");
  }
  try {
    format_write(fmt, items, *u.sink);
  } catch (const FormatError& e) {
    flush();
    throw RunError({"WRITE", unit, u.name, u.sink->records + 1},
                   std::string(e.what()) + " (format position " + std::to_string(e.position + 1) +
                       " of " + fmt.text() + ")");
  }
  if (u.sink->error != 0 && !u.sink->reported) {
    u.sink->reported = true;
    flush();
    throw RunError({"WRITE", unit, u.name, u.sink->records},
                   std::string("the file cannot be written: ") + std::strerror(u.sink->error) +
                       (u.pending.pending() ? "; the earlier file is left as it was" : ""));
  }
}

namespace {

// Turns the outcome of a read statement into a RunError, or into false for an end of
// file that the statement tests. `got` values of a list of `wanted` were read before
// the end of a file.
bool read_outcome(ReadStatus st, const ReadError& err, int unit, const std::string& name, long record,
                  const std::string* trouble, int got, std::size_t wanted, bool end_tested) {
  if (st == ReadStatus::Ok) return true;
  if (st == ReadStatus::End) {
    if (trouble)
      throw RunError({"READ", unit, name, record + 1}, *trouble);
    // The end of the file after some of the values is a list cut short, not the end
    // that the statement tests: the file ends inside the records it belongs to.
    if (got > 0)
      throw RunError({"READ", unit, name},
                     "end of file after record " + std::to_string(record) + ", with " +
                         std::to_string(got) + " of the " + std::to_string(wanted) +
                         " values of the list read",
                     RunError::Cause::EndOfFile);
    if (end_tested) return false;
    throw RunError({"READ", unit, name}, "end of file after record " + std::to_string(record),
                   RunError::Cause::EndOfFile);
  }
  throw RunError({"READ", unit, name, record},
                 err.message + " '" + shown(err.field) + "' (columns " + std::to_string(err.column) +
                     "-" + std::to_string(err.column + err.width - 1) + ")");
}

}  // namespace

// The part that every read statement shares: the console or the unit's records, the
// transfer itself (`transfer(source, err, got)` returns the status), and the outcome.
// `fmt` names the format in the message of an invalid format (null for list input).
// Inlined into each statement kind so that the common case (a record read from a file)
// costs no more than a call of the transfer.
template <class Transfer>
[[gnu::always_inline]] inline bool Io::read_with(int unit, bool end_tested, const Format* fmt, std::size_t wanted, Transfer&& transfer) {
  ReadError err;
  ReadStatus st;
  const std::string* name = &kNoName;
  long record = 0;
  const std::string* trouble = nullptr;
  int got = 0;
  try {
    if (unit == kConsole) {
      ConsoleSource src(in_);
      int ignored = 0;  // the console reads a list as far as it goes
      st = transfer(src, err, ignored);
      record = src.records;
    } else {
      Unit& u = unit_for(unit, "READ");
      name = &u.name;
      if (!u.source) {
        flush();
        throw RunError({"READ", unit, u.name}, "the file is open for output");
      }
      st = transfer(*u.source, err, got);
      if (st == ReadStatus::Ok) return true;
      record = u.source->records;
      if (!u.source->trouble.empty()) trouble = &u.source->trouble;
    }
  } catch (const FormatError& e) {
    if (fmt == nullptr) throw;
    flush();
    throw RunError({"READ", unit, *name}, std::string(e.what()) + " (format position " +
                                             std::to_string(e.position + 1) + " of " + fmt->text() + ")");
  }
  if (trouble) got = 0;
  if (st != ReadStatus::Ok && !(st == ReadStatus::End && end_tested && !trouble && got == 0)) flush();
  return read_outcome(st, err, unit, *name, record, trouble, got, wanted, end_tested);
}

bool Io::read(int unit, const Format& fmt, std::span<const Target> targets, bool end_tested) {
  return read_with(unit, end_tested, &fmt, 0, [&](RecordSource& src, ReadError& err, int&) {
    return format_read(fmt, src, targets, &err);
  });
}

bool Io::read(int unit, const Format& fmt, const FieldPlan& plan, bool end_tested) {
  return read_with(unit, end_tested, &fmt, 0, [&](RecordSource& src, ReadError& err, int&) {
    return plan.read(src, &err);
  });
}

bool Io::read_rows(int unit, const Format& fmt, const FieldPlan& plan, bool end_tested,
                   std::size_t rows, std::ptrdiff_t stride, BatchCall each) {
  rows = std::clamp<std::size_t>(rows, 1, kMaxBatchRows);
  std::uint32_t ends[kMaxBatchRows], lengths[kMaxBatchRows];
  for (;;) {
    FileSource* src = nullptr;
    if (unit != kConsole && plan.one_record()) {
      auto it = units_.find(unit);
      if (it != units_.end()) src = it->second->source.get();
    }
    const char* text;
    std::size_t size, readable, n = 0;
    if (src != nullptr && src->buffered(text, size, readable))
      n = plan.decode_records(text, size, readable, rows, stride, ends, lengths);
    if (n > 0) {
      const Taken t = each(n);
      if (t.taken > 0) src->take(t.taken, ends, lengths);
      if (!t.more) return true;
      continue;
    }
    if (!read(unit, fmt, plan, end_tested)) return false;
    if (!each(1).more) return true;
  }
}

bool Io::read_list(int unit, std::span<std::int32_t*> values, bool end_tested) {
  return read_with(unit, end_tested, nullptr, values.size(), [&](RecordSource& src, ReadError& err, int& got) {
    return list_read_ints(src, values, &err, nullptr, &got);
  });
}

void Io::console_record(std::string_view record) {
  ConsoleSink sink(out_);
  sink.put(record);
}

void Io::say(std::initializer_list<Item> items) {
  std::string line = " ";
  for (const Item& it : items) {
    switch (it.kind) {
      case Item::Int: line += edit_int(it.i, 11); break;
      case Item::Real: line += edit_general(it.r, 15, 7); break;
      case Item::Text: line += it.s; break;
    }
  }
  console_record(line);
}

void Io::pause(std::string_view message) {
  out_ << '\n' << message << '\n';
  if (interactive_) {
    out_ << "Press Enter to continue";
    out_.flush();
    std::string line;
    console_line(in_, line, kMaxPauseLine);
  }
  out_.flush();
}

void Io::stop() {
  out_ << "\nStop - Program terminated.\n";
  out_.flush();
  close();
}

void Io::flush() {
  for (auto& [n, u] : units_)
    if (u->fp && u->sink && std::fflush(u->fp) != 0) u->sink->fail(errno);
  out_.flush();
}

// Closes one unit's file; returns the message of a failure not reported yet ("" when
// none). A temporary output stays pending: close() commits or removes it with the rest.
std::string Io::close_unit(Unit& u) {
  if (u.fp) {
    if (u.pending.pending()) {
      if (!u.pending.finish() && u.sink) u.sink->fail(errno);
    } else {
      if (u.sink && std::fflush(u.fp) != 0) u.sink->fail(errno);
      if (std::fclose(u.fp) != 0 && u.sink) u.sink->fail(errno);
    }
    u.fp = nullptr;
  }
  if (!u.sink || u.sink->error == 0 || u.sink->reported) return {};
  u.sink->reported = true;
  return format_error({"CLOSE", u.number, u.name},
                      std::string("the file cannot be written: ") + std::strerror(u.sink->error) +
                          (u.pending.pending() ? "; the earlier file is left as it was" : ""));
}

void Io::discard_outputs() { discard_outputs_ = true; }

void Io::close() {
  std::string first;
  for (auto& [n, u] : units_) {
    const std::string trouble = close_unit(*u);
    if (first.empty()) first = trouble;
  }
  // An output that could not be written makes the run's outputs a set that does not
  // belong together (a report cut short beside a complete interchange file, or the
  // reverse): none of them replaces an earlier file. Otherwise all are renamed into
  // place together, with the fatal signals held back, so that a killed run leaves
  // either the earlier files or the new ones.
  std::vector<Unit*> outputs;
  for (auto& u : retired_) outputs.push_back(u.get());
  for (auto& [n, u] : units_) outputs.push_back(u.get());
  bool failed = !first.empty() || discard_outputs_;
  for (Unit* u : outputs)
    if (u->sink && u->sink->error != 0) failed = true;
  {
    SignalsHeld held;
    for (Unit* u : outputs) {
      if (!u->pending.pending()) continue;
      if (failed) {
        u->pending.abort();
      } else if (!u->pending.commit()) {
        if (first.empty())
          first = format_error({"CLOSE", u->number, u->name},
                               std::string("the file cannot be replaced: ") + std::strerror(errno));
        failed = true;
      }
    }
    for (auto& t : tables_) {
      if (failed) {
        t->file.abort();
      } else if (!t->file.commit()) {
        if (first.empty())
          first = "Run-time error: CSV file '" + shown(t->name) + "' cannot be replaced: " +
                  std::strerror(errno);
        failed = true;
      }
    }
  }
  units_.clear();
  retired_.clear();
  tables_.clear();
  reserved_.clear();
  held_.clear();
  out_.flush();
  if (!first.empty()) throw RunError(first);
}

// The rest of an input file in one piece: what the record buffer holds, then the rest
// through the same handle, so that a FIFO or a device is read once and a file is never
// opened again by its name. The bounds keep a device without end (/dev/zero) or a file
// of the wrong kind from filling the memory.
std::string Io::read_rest(int unit, std::size_t bound, std::size_t line_bound) {
  Unit& u = unit_for(unit, "READ");
  auto fail = [&](const std::string& what) {
    flush();
    throw RunError(where("READ", unit, u.name) + what);
  };
  if (!u.source) fail(": the file is open for output");
  std::string text;
  struct stat st {};
  if (::fstat(::fileno(u.fp), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    text.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), bound) + 1);
  const long first_line = u.source->records + 1;
  long line = first_line;  // line of the file at `line_begin`
  std::size_t line_begin = 0, scanned = 0;
  // Checks the lines of text[scanned..]; at the end also the last line without line end.
  auto check_lines = [&](bool at_end) {
    for (;;) {
      const void* nl = scanned < text.size()
                           ? std::memchr(text.data() + scanned, '\n', text.size() - scanned)
                           : nullptr;
      const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data())
                                 : text.size();
      std::size_t len = end - line_begin;
      if (len > 0 && text[end - 1] == '\r' && (nl || at_end)) --len;
      if (len > line_bound + (nl || at_end ? 0 : 1))
        fail(", line " + std::to_string(line) + ": a line longer than " + std::to_string(line_bound) +
             " characters");
      if (!nl) {
        scanned = text.size();
        return;
      }
      scanned = line_begin = end + 1;
      ++line;
    }
  };
  const std::string_view buffered = u.source->take_buffered();
  text.append(buffered.substr(0, bound + 1));
  const std::size_t chunk_size = std::size_t{1} << 20;
  const auto chunk = std::make_unique_for_overwrite<char[]>(chunk_size);
  for (;;) {
    if (text.size() > bound) fail(": the file is larger than " + std::to_string(bound) + " bytes");
    check_lines(false);
    const std::size_t got = std::fread(chunk.get(), 1, std::min(chunk_size, bound + 1 - text.size()), u.fp);
    if (got == 0) break;
    text.append(chunk.get(), got);
  }
  if (std::ferror(u.fp)) fail(": the file cannot be read");
  check_lines(true);
  return text;
}

void Io::fail_read(int unit, const std::string& what) {
  const auto it = units_.find(unit);
  flush();
  throw RunError(where("READ", unit, it == units_.end() ? kNoName : it->second->name) + what);
}

bool Io::start_rest(int unit, long& first_line) {
  Unit& u = unit_for(unit, "READ");
  if (!u.source) fail_read(unit, ": the file is open for output");
  struct stat st {};
  if (::fstat(::fileno(u.fp), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // The records read ahead are read again from the file: the rest begins where the
  // records handed out end.
  const off_t at = ::ftello(u.fp);
  if (at < 0) return false;
  const std::string_view buffered = u.source->take_buffered();
  u.rest_start = at - static_cast<off_t>(buffered.size());
  first_line = u.source->records + 1;
  seek_rest(unit, 0);
  return true;
}

std::size_t Io::read_rest_block(int unit, char* dst, std::size_t n) {
  Unit& u = unit_for(unit, "READ");
  const std::size_t got = std::fread(dst, 1, n, u.fp);
  if (got == 0 && std::ferror(u.fp)) fail_read(unit, ": the file cannot be read");
  return got;
}

void Io::seek_rest(int unit, std::uint64_t offset) {
  Unit& u = unit_for(unit, "READ");
  // The handle's buffer is dropped first, so that the bytes are read from the file
  // again rather than taken from what it still holds.
  if (u.rest_start < 0 || std::fflush(u.fp) != 0 ||
      ::fseeko(u.fp, u.rest_start + static_cast<off_t>(offset), SEEK_SET) != 0)
    fail_read(unit, ": the file cannot be read");
}

std::string format_error(const ErrorSite& at, std::string_view detail) {
  return site_text(at) + ": " + std::string(detail);
}

std::string echo(std::string_view text, char quote, std::size_t cut) {
  const bool cut_here = text.size() > cut;
  std::string s;
  if (quote != 0) s += quote;
  s += shown(cut_here ? text.substr(0, cut) : text);
  if (cut_here) s += "...";
  if (quote != 0) s += quote;
  if (cut_here) s += " (" + std::to_string(text.size()) + " characters)";
  return s;
}

}  // namespace rec
