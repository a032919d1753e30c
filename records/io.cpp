// Units, files and the console.
//
// Input files are read through a large buffer with memchr, and each record is handed
// out as a view into that buffer, so that a read statement allocates nothing. Output
// files get every record followed by CR LF. The console interprets the first
// character of each record as carriage control, with the line break before the text.
#include "records/io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>

namespace rec {

namespace {

constexpr std::size_t kBufferSize = 1u << 18;  // comfortably above kMaxRecordLength

// Records of an input file. A line longer than kMaxRecordLength, or a failing read,
// ends the file and is remembered in `trouble` for the error message.
class FileSource : public RecordSource {
 public:
  explicit FileSource(std::FILE* fp) : fp_(fp), buf_(new char[kBufferSize]) {}

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
        begin_ = end_;
        return deliver(start, avail, record);
      }
      if (avail > static_cast<std::size_t>(kMaxRecordLength) + 1) {
        trouble = "record longer than " + std::to_string(kMaxRecordLength) + " characters";
        return false;
      }
      // Move the unfinished line to the front and fill the rest of the buffer.
      if (begin_ > 0) {
        std::memmove(buf_.get(), start, avail);
        begin_ = 0;
        end_ = avail;
      }
      std::size_t got = std::fread(buf_.get() + end_, 1, kBufferSize - end_, fp_);
      end_ += got;
      if (got == 0) {
        if (std::ferror(fp_)) {
          trouble = "the file cannot be read";
          return false;
        }
        eof_ = true;
      }
    }
  }

  long records = 0;      // records handed out so far
  std::string trouble;   // why the file ended early, if it did

 private:
  bool deliver(const char* p, std::size_t len, std::string_view& record) {
    if (len > 0 && p[len - 1] == '\r') --len;
    if (len > static_cast<std::size_t>(kMaxRecordLength)) {
      trouble = "record longer than " + std::to_string(kMaxRecordLength) + " characters";
      return false;
    }
    record = std::string_view(p, len);
    ++records;
    return true;
  }

  std::FILE* fp_;
  std::unique_ptr<char[]> buf_;
  std::size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
};

// Records typed at the console.
class ConsoleSource : public RecordSource {
 public:
  explicit ConsoleSource(std::istream& in) : in_(in) {}
  bool next(std::string_view& record) override {
    if (!std::getline(in_, line_)) return false;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.size() > static_cast<std::size_t>(kMaxRecordLength)) line_.resize(kMaxRecordLength);
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
    std::fwrite(record.data(), 1, record.size(), fp_);
    std::fwrite("\r\n", 1, 2, fp_);
    ++records;
  }
  long records = 0;

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

}  // namespace

struct Io::Unit {
  int number = 0;
  std::string name;
  std::filesystem::path path;
  OpenMode mode = OpenMode::Input;
  std::FILE* fp = nullptr;
  std::unique_ptr<FileSource> source;
  std::unique_ptr<FileSink> sink;

  ~Unit() {
    if (fp) std::fclose(fp);
  }
  long record() const { return source ? source->records : sink ? sink->records : 0; }
};

Io::Io(std::vector<std::string> args, std::istream& console_in, std::ostream& console_out,
       std::filesystem::path dir)
    : args_(std::move(args)), in_(console_in), out_(console_out), dir_(std::move(dir)) {}

Io::~Io() {
  flush();
  units_.clear();
}

namespace {

std::string where(const char* statement, int unit, const std::string& name) {
  std::string s = std::string("Run-time error: ") + statement + " on unit ";
  s += unit == kConsole ? std::string("*") : std::to_string(unit);
  if (!name.empty()) s += ", file '" + name + "'";
  return s;
}

// The ANSI/UB-safe comparison of two paths naming the same file.
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

}  // namespace

std::string Io::open(int unit, std::string_view name, OpenMode mode) {
  auto fail = [&](const std::string& file, const std::string& what) -> void {
    flush();
    throw RunError(where("OPEN", unit, file) + ": " + what);
  };
  if (unit == kConsole) fail("", "the console cannot be opened");
  // Reopening a unit closes what it had.
  units_.erase(unit);

  enum class From { Fixed, CommandLine, Console } from = From::Fixed;
  std::string chosen(trim(std::string(name)));
  const bool ask = blank(name);
  if (ask && next_arg_ < args_.size()) {
    chosen = trim(args_[next_arg_++]);
    from = From::CommandLine;
    if (chosen.empty()) fail("", "the file name given on the command line is blank");
  }
  const bool prompt = ask && from != From::CommandLine;
  for (;;) {
    if (prompt) {
      from = From::Console;
      chosen.clear();
      while (chosen.empty()) {
        out_ << "\nFile name missing or blank - please enter file name\nUNIT " << unit << "? ";
        out_.flush();
        std::string line;
        if (!std::getline(in_, line)) fail("", "end of console input while asking for a file name");
        chosen = trim(line);
      }
    }
    std::filesystem::path p(chosen);
    if (p.is_relative() && !dir_.empty()) p = dir_ / p;

    for (const auto& [n, u] : units_)
      if (same_file(u->path, p))
        fail(chosen, "the file is already open on unit " + std::to_string(n));

    std::error_code ec;
    const bool exists = std::filesystem::exists(p, ec);
    if (mode == OpenMode::Input && !exists) {
      out_ << "\nFile '" << chosen << "' for unit " << unit << " was not found";
      out_.flush();
      if (from == From::Console) continue;
      fail(chosen, "file not found");
    }
    if (exists && std::filesystem::is_directory(p, ec)) {
      if (from == From::Console) {
        out_ << "\nFile '" << chosen << "' for unit " << unit << " is a directory";
        continue;
      }
      fail(chosen, "the name is a directory");
    }
    std::FILE* fp = std::fopen(p.c_str(), mode == OpenMode::Input ? "rb" : "wb");
    if (fp == nullptr) {
      if (from == From::Console) {
        out_ << "\nFile '" << chosen << "' for unit " << unit << " cannot be opened";
        continue;
      }
      fail(chosen, std::string("the file cannot be opened: ") + std::strerror(errno));
    }
    auto u = std::make_unique<Unit>();
    u->number = unit;
    u->name = chosen;
    u->path = p;
    u->mode = mode;
    u->fp = fp;
    if (mode == OpenMode::Input) {
      u->source = std::make_unique<FileSource>(fp);
    } else {
      std::setvbuf(fp, nullptr, _IOFBF, 1u << 16);
      u->sink = std::make_unique<FileSink>(fp);
    }
    units_[unit] = std::move(u);
    return chosen;
  }
}

bool Io::is_open(int unit) const { return unit == kConsole || units_.count(unit) != 0; }

std::string Io::file_name(int unit) const {
  auto it = units_.find(unit);
  return it == units_.end() ? std::string() : it->second->name;
}

Io::Unit& Io::unit_for(int unit, const char* statement) {
  auto it = units_.find(unit);
  if (it == units_.end()) {
    flush();
    throw RunError(where(statement, unit, "") + ": the unit is not open");
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
      throw RunError(where("WRITE", unit, "") + ": " + e.what() + " (format position " +
                     std::to_string(e.position + 1) + " of " + fmt.text() + ")");
    }
    return;
  }
  Unit& u = unit_for(unit, "WRITE");
  if (!u.sink) {
    flush();
    throw RunError(where("WRITE", unit, u.name) + ": the file is open for input");
  }
  try {
    format_write(fmt, items, *u.sink);
  } catch (const FormatError& e) {
    flush();
    throw RunError(where("WRITE", unit, u.name) + ", record " + std::to_string(u.sink->records + 1) +
                   ": " + e.what() + " (format position " + std::to_string(e.position + 1) + " of " +
                   fmt.text() + ")");
  }
}

namespace {

// The offending text of a field as the console may show it: control characters and
// bytes outside ASCII (binary garbage in a data file) become \xNN.
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

// Turns the outcome of a read statement into a RunError, or into false for an end of
// file that the statement tests.
bool read_outcome(ReadStatus st, const ReadError& err, int unit, const std::string& name, long record,
                  const std::string* trouble, bool end_tested) {
  if (st == ReadStatus::Ok) return true;
  if (st == ReadStatus::End) {
    if (trouble)
      throw RunError(where("READ", unit, name) + ", record " + std::to_string(record + 1) + ": " + *trouble);
    if (end_tested) return false;
    throw RunError(where("READ", unit, name) + ": end of file after record " + std::to_string(record));
  }
  throw RunError(where("READ", unit, name) + ", record " + std::to_string(record) + ": " + err.message + " '" +
                 shown(err.field) + "' (columns " + std::to_string(err.column) + "-" +
                 std::to_string(err.column + err.width - 1) + ")");
}

const std::string kNoName;


}  // namespace

bool Io::read(int unit, const Format& fmt, std::span<const Target> targets, bool end_tested) {
  ReadError err;
  ReadStatus st;
  const std::string* name = &kNoName;
  long record = 0;
  const std::string* trouble = nullptr;
  try {
    if (unit == kConsole) {
      ConsoleSource src(in_);
      st = format_read(fmt, src, targets, &err);
      record = src.records;
    } else {
      Unit& u = unit_for(unit, "READ");
      name = &u.name;
      if (!u.source) {
        flush();
        throw RunError(where("READ", unit, u.name) + ": the file is open for output");
      }
      st = format_read(fmt, *u.source, targets, &err);
      if (st == ReadStatus::Ok) return true;
      record = u.source->records;
      if (!u.source->trouble.empty()) trouble = &u.source->trouble;
    }
  } catch (const FormatError& e) {
    flush();
    throw RunError(where("READ", unit, *name) + ": " + e.what() + " (format position " +
                   std::to_string(e.position + 1) + " of " + fmt.text() + ")");
  }
  if (st != ReadStatus::Ok && !(st == ReadStatus::End && end_tested && !trouble)) flush();
  return read_outcome(st, err, unit, *name, record, trouble, end_tested);
}

bool Io::read_list(int unit, std::span<std::int32_t*> values, bool end_tested) {
  ReadError err;
  ReadStatus st;
  const std::string* name = &kNoName;
  long record = 0;
  const std::string* trouble = nullptr;
  if (unit == kConsole) {
    ConsoleSource src(in_);
    st = list_read_ints(src, values, &err);
    record = src.records;
  } else {
    Unit& u = unit_for(unit, "READ");
    name = &u.name;
    if (!u.source) {
      flush();
      throw RunError(where("READ", unit, u.name) + ": the file is open for output");
    }
    int got = 0;
    st = list_read_ints(*u.source, values, &err, nullptr, &got);
    record = u.source->records;
    if (!u.source->trouble.empty()) trouble = &u.source->trouble;
    // The end of the file after some of the values is a list cut short, not the end
    // that the statement tests: the file ends inside the records it belongs to.
    if (st == ReadStatus::End && got > 0 && !trouble) {
      flush();
      throw RunError(where("READ", unit, *name) + ": end of file after record " +
                     std::to_string(record) + ", with " + std::to_string(got) + " of the " +
                     std::to_string(values.size()) + " values of the list read");
    }
  }
  if (st != ReadStatus::Ok && !(st == ReadStatus::End && end_tested && !trouble)) flush();
  return read_outcome(st, err, unit, *name, record, trouble, end_tested);
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
  out_.flush();
  std::string line;
  if (!std::getline(in_, line)) return;
  if (line.size() > 128) line.resize(128);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
  if (line.size() >= 2 && pause_runs_commands_) {
    int rc = std::system(line.c_str());
    (void)rc;
  }
}

void Io::stop() {
  out_ << "\nStop - Program terminated.\n";
  out_.flush();
  flush();
  units_.clear();
}

void Io::flush() {
  for (auto& [n, u] : units_)
    if (u->fp && u->sink) std::fflush(u->fp);
  out_.flush();
}

}  // namespace rec
