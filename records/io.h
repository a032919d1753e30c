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

// A run-time error that ends the run with exit status 2: a conversion error, an invalid
// format, an end of file the statement does not test, a file that cannot be opened.
struct RunError : std::runtime_error {
  explicit RunError(const std::string& message) : std::runtime_error(message) {}
};

// How a unit is opened.
enum class OpenMode {
  Input,   // the file must exist; it is read from its start
  Output,  // created, or emptied when it exists
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
  // it came from the command line (or a fixed name) a RunError is thrown.
  // Returns the name used.
  std::string open(int unit, std::string_view name, OpenMode mode);
  bool is_open(int unit) const;
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
  // Free-format read of integers (false at the end of the file when `end_tested`).
  bool read_list(int unit, std::span<std::int32_t*> values, bool end_tested);

  // List-directed console line: a blank, then the items; integers right-justified in
  // 11 columns, texts as they are.
  void say(std::initializer_list<Item> items);

  // Shows `message` on the console, reads one line (at most 128 characters) and runs
  // it with the system's command interpreter when, without trailing blanks and tabs,
  // it has two or more characters. At the end of console input it goes on at once.
  void pause(std::string_view message);

  // Shows "Stop - Program terminated." on the console, flushes and closes every file.
  void stop();

  // Flushes every open file (what was written stays on disk whatever follows).
  void flush();

  // Whether the pause may run commands (tests switch it off).
  void set_pause_runs_commands(bool on) { pause_runs_commands_ = on; }

  std::ostream& console_out() { return out_; }

  // Directory in which relative file names are resolved (empty: the current one).
  const std::filesystem::path& dir() const { return dir_; }

 private:
  struct Unit;
  Unit& unit_for(int unit, const char* statement);
  void console_record(std::string_view record);

  std::vector<std::string> args_;
  std::size_t next_arg_ = 0;
  std::istream& in_;
  std::ostream& out_;
  std::filesystem::path dir_;
  std::map<int, std::unique_ptr<Unit>> units_;
  bool pause_runs_commands_ = true;
};

}  // namespace rec
