// Units, files and the console for formatted records.
//
// An Io object is the run's whole I/O state: the console (input and output
// streams that tests can replace), the command-line arguments consumed by
// opens with a blank name, the directory in which relative names are resolved,
// and the open units. Report files get their records with carriage control
// written through unchanged and CR LF line ends; on the console the first
// character of every record is taken as carriage control.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/format.h"

namespace rec {

inline constexpr int kConsole = -1;  // the console unit, written '*' in format statements
inline constexpr std::size_t kMaxNameLength = 4096;  // longest file name typed at the console
inline constexpr std::size_t kMaxPauseLine = 128;    // characters of a line typed at a pause

// A run-time error that ends the run with exit status 2: a conversion error, an invalid
// format, an end of file the statement does not test, a file that cannot be opened.
//
// Where a statement failed: its kind, its unit, the unit's file and the record. The
// message of every such error has one form (format_error): "Run-time error: READ on
// unit 5, file 'c.ctl', record 2: <detail>".
struct ErrorSite {
  ErrorSite() = default;
  ErrorSite(std::string what, int on_unit = 0, std::string file_name = {}, long at_record = -1)
      : statement(std::move(what)), unit(on_unit), file(std::move(file_name)), record(at_record) {}

  std::string statement;  // READ, WRITE, OPEN, CLOSE; empty for an error of no statement
  int unit = 0;           // kConsole for the console
  std::string file;       // as the unit names it; empty when none
  long record = -1;       // the record the statement was at; -1 when none is named
  // What the statement read when it is not a unit: "of command-line argument 2", "of the
  // error file 'e.csv' (option --error)"; it stands in place of "on unit n".
  std::string subject;
  const char* record_word = "record";  // "line" for the lines of a CSV file
};

// The one form of a run-time error: "Run-time error", the site of a statement when
// there is one, then the detail.
std::string format_error(const ErrorSite& at, std::string_view detail);

struct RunError : std::runtime_error {
  // What ended the run, for a caller that handles one cause in its own way.
  enum class Cause {
    Other,
    EndOfFile,  // a read statement met the end of its file where it needed records
  };
  // An error worded whole by its caller.
  explicit RunError(const std::string& message, Cause why = Cause::Other)
      : std::runtime_error(message), cause(why) {}
  // A statement's error: the site and the detail, in the form of format_error.
  RunError(ErrorSite at, const std::string& what, Cause why = Cause::Other)
      : std::runtime_error(format_error(at, what)), cause(why), site(std::move(at)), detail(what) {}
  Cause cause;
  ErrorSite site;      // statement empty for an error worded whole
  std::string detail;  // the detail of a statement's error
};

// How a unit is opened.
enum class OpenMode {
  Input,   // the file must exist; it is read from its start
  Output,  // created, or emptied when it exists
};

// What the receiver of a batch of records did with it: the records it took (the first
// `taken`), and whether the reading is to go on after them.
struct Taken {
  std::size_t taken = 0;
  bool more = true;
};

// A callable held by reference for a call per batch of records, without owning or
// copying it: it takes the number of records and says what it took.
class BatchCall {
 public:
  template <class F>
  BatchCall(F& f) : object_(&f), call_([](void* o, std::size_t n) { return Taken((*static_cast<F*>(o))(n)); }) {}
  Taken operator()(std::size_t n) const { return call_(object_, n); }

 private:
  void* object_;
  Taken (*call_)(void*, std::size_t);
};

class Io {
 public:
  // `args` are the command-line arguments after the program name; `dir` is where
  // relative file names are resolved (the current directory by default).
  Io(std::vector<std::string> args, std::istream& console_in, std::ostream& console_out,
     std::filesystem::path dir = {});
  ~Io();
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;

  // Opens `unit` on the file `name`. A blank name takes the next command-line
  // argument, or, when they are used up, asks on the console:
  //   "File name missing or blank - please enter file name" / "UNIT <n>? "
  // repeating the question on an empty answer. An Input file that does not exist is
  // never created: when its name was typed the console says so and asks again; when
  // it came from the command line (or a fixed name) a RunError is thrown. A name from
  // the command line is taken exactly as given; a typed one without surrounding blanks
  // (at most 4096 characters). A file that is open on another unit, or that an output
  // would overwrite while it is an input, is refused with a RunError.
  // Returns the name used.
  std::string open(int unit, std::string_view name, OpenMode mode);
  std::string file_name(int unit) const;

  // One write statement: the records go to the unit's file (or the console).
  void write(int unit, const Format& fmt, std::span<const Item> items);
  void write(int unit, const Format& fmt, std::initializer_list<Item> items) {
    write(unit, fmt, std::span<const Item>(items.begin(), items.size()));
  }

  // One read statement. Returns true on success, false at the end of the file when
  // `end_tested` (the statement has an end-of-file branch). An end of file that is not
  // tested, and every conversion error, throw a RunError that names the statement
  // kind, the unit, the file, the record number and the offending text.
  bool read(int unit, const Format& fmt, std::span<const Target> targets, bool end_tested);
  bool read(int unit, const Format& fmt, std::initializer_list<Target> targets, bool end_tested) {
    return read(unit, fmt, std::span<const Target>(targets.begin(), targets.size()), end_tested);
  }
  // The same read statement by its laid-out form (a usable FieldPlan of `fmt` and the
  // targets): the same values, ends and errors, without the walk over the format.
  bool read(int unit, const Format& fmt, const FieldPlan& plan, bool end_tested);
  // Read statements by `plan` one after another into rows: the i-th statement of a batch
  // puts its values i * `stride` bytes beyond the plan's targets (row 0). After each
  // batch of at most `rows` statements (at most kMaxBatchRows) it calls `each(n)`, which
  // says how many of the n rows it took and whether to go on; the statements of the rows
  // not taken stay unread on the unit. Records that lie whole in
  // the unit's buffer and that plan.decode() takes are read in batches; any other goes
  // through read(unit, fmt, plan, end_tested), with its ends and errors, as a batch of
  // one in row 0. Returns false at the end of the file (as read() at a tested end), true
  // when each() ended the reading. each() may write but not open or close units.
  static constexpr std::size_t kMaxBatchRows = 256;
  bool read_rows(int unit, const Format& fmt, const FieldPlan& plan, bool end_tested,
                 std::size_t rows, std::ptrdiff_t stride, BatchCall each);
  // Free-format read of integers (false at the end of the file when `end_tested`).
  bool read_list(int unit, std::span<std::int32_t*> values, bool end_tested);

  // List-directed console line: a blank, then the items; integers right-justified in
  // 11 columns, texts as they are.
  void say(std::initializer_list<Item> items);

  // Shows `message` on the console. When the console input is interactive it adds
  // "Press Enter to continue" and waits for one line (at most 128 characters are kept,
  // the rest of the line is read and dropped); otherwise it goes on at once without
  // reading. Nothing that is typed is ever run.
  void pause(std::string_view message);

  // Shows "Stop - Program terminated." on the console, then closes every file (close()).
  void stop();

  // Flushes every open file. A failure is remembered and reported by close().
  void flush();

  // Closes every file. Outputs written to temporary files (units and tables alike) are
  // renamed over their names together, only when every write, flush and close of the
  // run succeeded and no output was refused or discarded; otherwise they are all removed
  // and every earlier file stays as it was. Throws a RunError for the first write, flush,
  // close or rename that failed and has not been reported yet; the units are closed
  // either way.
  void close();

  // The run failed: close() (and the destructor) replace no earlier file.
  void discard_outputs();

  // Writes `content` as the table file `path` (resolved like a unit's name), into a
  // temporary file that close() renames with the run's other outputs. The path must not
  // be an input of the run nor another output of it (RunError, and the run replaces no
  // output); a failed write throws a RunError naming the table.
  void add_table(const std::filesystem::path& path, std::string_view content);

  // Declares an output that the run will write later (a table), so that an output opened
  // before it under the same name is refused, and refuses it now when it is an input.
  void reserve_output(const std::filesystem::path& path);

  // `p` resolved in dir() when it is relative.
  std::filesystem::path resolve(const std::filesystem::path& p) const;

  // Whether the console input is a person at a terminal: only then does a pause wait.
  // By default, when the console input is std::cin and standard input is a terminal.
  void set_console_interactive(bool on) { interactive_ = on; }

  // Command-line arguments that name input files: their index in `args` (from 0) and the
  // unit that will read them (0 when the program learns the unit later). Each is opened
  // now, before any output is created, and held for the open that takes the argument.
  // A missing, unreadable or directory name throws a RunError. An output that resolves
  // to one of them (same device and inode, links followed) is refused.
  struct InputArgument {
    std::size_t index;
    int unit;
  };
  void open_input_arguments(std::initializer_list<InputArgument> inputs);

  // Units that hold reports, and the texts of which one is in the last record of every
  // report the program writes. An existing regular file that is not empty and is not a
  // report of the program (its first record "1", or a first record "0..." or "1..." of
  // printable text with the last record holding one of `ends`) is never opened as a
  // report: the open throws a RunError and the run replaces no output.
  void set_report_units(std::initializer_list<int> units,
                        std::initializer_list<std::string_view> ends = {}) {
    report_units_.assign(units);
    report_ends_.assign(ends.begin(), ends.end());
  }

  // Whether outputs are written into a temporary file in the same folder and renamed
  // over their name by close(), so that an output replaces a link, never its target, and
  // a killed run leaves the earlier file (see records/cleanup.h). An output that exists
  // and is not a regular file (a device, a FIFO) is written directly.
  void set_replace_at_close(bool on) { replace_at_close_ = on; }

  // From now on, a last record of the input file on `unit` that lacks its line end is a
  // run-time error: the file was cut short while it was written.
  void require_line_ends(int unit);

  // Throws a RunError when the last record read from the input file on `unit` is shorter
  // than `columns`, the extent of the fields its read statement took from it, and only
  // blank records follow it: the file was cut inside that record and given a line end
  // again, and the blank padding would read the cut field as another number.
  void require_record_length(int unit, std::size_t columns);

  // Throws a RunError when `path` is a file that the run reads: an input unit still open,
  // or an input named on the command line (same device and inode, links followed). A
  // table written beside the reports must never replace an input; the run then replaces
  // no output at all.
  void refuse_if_input(const std::filesystem::path& path);

  // What remains of the input file on `unit`, read through its open handle (a FIFO or
  // a device is read once, and the file is never opened again by its name). A file of
  // more than `bound` bytes, or a line of more than `line_bound` characters before its
  // line end, throws a RunError naming the file (and the line).
  std::string read_rest(int unit, std::size_t bound, std::size_t line_bound);

  // What remains of the input file on `unit` in blocks, through its open handle, for a
  // reader that passes over it more than once without holding it whole. start_rest
  // returns whether the file is a regular one (a FIFO or a device is for read_rest),
  // and the line of the file where the rest begins. read_rest_block reads up to `n`
  // bytes of the rest into `dst` (0 at its end); seek_rest goes back to `offset` bytes
  // after its start. A failing read throws read_rest's RunError.
  bool start_rest(int unit, long& first_line);
  std::size_t read_rest_block(int unit, char* dst, std::size_t n);
  void seek_rest(int unit, std::uint64_t offset);
  // Ends the run with a RunError on reading `unit`, as read_rest words it ("READ on unit
  // 1, file 'f.csv'" followed by `what`).
  [[noreturn]] void fail_read(int unit, const std::string& what);

  std::ostream& console_out() { return out_; }

  // Directory in which relative file names are resolved (empty: the current one).
  const std::filesystem::path& dir() const { return dir_; }

 private:
  struct Unit;
  struct Held;
  struct Table;
  void refuse_same_output(const std::filesystem::path& p, const std::string& shown_as, int unit);
  void refuse_table_clash(const std::filesystem::path& p);
  Unit& unit_for(int unit, const char* statement);
  void console_record(std::string_view record);
  std::string close_unit(Unit& u);
  std::FILE* open_output(Unit& u, int unit, const std::string& chosen);
  // The parts of open(): the RunError of a refused open (after a flush); closing what a
  // reopened unit had; the name typed on the console; the refusal of a file that is open
  // on another unit or that an output would overwrite; the file opened for `u` (its
  // number, name, path and mode set), null when a typed name is refused and is to be
  // asked again; the unit's record source or sink, and the unit entered as open.
  [[noreturn]] void fail_open(int unit, const std::string& file, const std::string& what);
  void close_for_reopen(int unit);
  std::string ask_name(int unit);
  void refuse_open_clash(int unit, const std::filesystem::path& p, const std::string& chosen);
  std::FILE* open_file(Unit& u, std::size_t arg, bool typed);
  void attach(std::unique_ptr<Unit> u, std::FILE* fp);
  template <class Transfer>
  bool read_with(int unit, bool end_tested, const Format* fmt, std::size_t wanted, Transfer&& transfer);

  std::vector<std::string> args_;
  std::size_t next_arg_ = 0;
  std::istream& in_;
  std::ostream& out_;
  std::filesystem::path dir_;
  std::map<int, std::unique_ptr<Unit>> units_;
  std::vector<std::unique_ptr<Unit>> retired_;          // outputs closed by a reopen, not yet committed
  std::vector<std::unique_ptr<Table>> tables_;         // tables waiting for close()
  std::vector<std::filesystem::path> reserved_;        // outputs declared, not yet written
  std::map<std::size_t, std::unique_ptr<Held>> held_;  // pre-opened input arguments
  std::vector<int> report_units_;
  std::vector<std::string> report_ends_;
  bool interactive_ = false;
  bool replace_at_close_ = false;
  bool discard_outputs_ = false;  // an output was refused: close() replaces nothing
};

// User text (a field, a column name, a level name, a file name) as a message shows it:
// printable ASCII as it is, every other byte as \xNN, between `quote` characters (none
// when `quote` is 0). A text longer than `cut` bytes is cut there and followed by its
// length: 'ABC...' (123 characters).
std::string echo(std::string_view text, char quote = '\'', std::size_t cut = 80);

}  // namespace rec
