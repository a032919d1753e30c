// Units, files and the console: record ends, carriage control, the blank-name rule,
// missing files, end-of-file outcomes and the run-time error messages.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "records/format.h"
#include "records/io.h"
#include "records/program.h"
#include "support.h"

namespace {

using rec::Format;
using rec::Io;
using rec::Item;
using rec::OpenMode;
using rec::RunError;
using rec::Target;
using testsupport::crlf;
using testsupport::read_file;
using testsupport::TempDir;
using testsupport::write_file;

struct Console {
  std::istringstream in;
  std::ostringstream out;
  explicit Console(std::string typed = "") : in(std::move(typed)) {}
};

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(IoFiles, RecordsEndWithCrLfAndKeepCarriageControl) {
  TempDir dir;
  Console con;
  {
    Io io({}, con.in, con.out, dir.path());
    io.open(6, "report.out", OpenMode::Output);
    io.write(6, Format::compile("('1',/,' ',T42,' Title:   ',A4,/)"), {"ABCD"});
    io.write(6, Format::compile("('+over')"), {});
    io.stop();
  }
  EXPECT_EQ(read_file(dir / "report.out"),
            crlf({"1", " " + std::string(40, ' ') + " Title:   ABCD", "", "+over"}));
  EXPECT_EQ(con.out.str(), "\nStop - Program terminated.\n");
}

TEST(IoFiles, OutputFileIsTruncated) {
  TempDir dir;
  write_file(dir / "old.out", "a much longer former content\r\n");
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(6, "old.out", OpenMode::Output);
  io.write(6, Format::compile("('x')"), {});
  io.flush();
  EXPECT_EQ(read_file(dir / "old.out"), "x\r\n");
}

TEST(IoFiles, InputRecordsEndWithLfOrCrLf) {
  TempDir dir;
  write_file(dir / "in.dat", "  1\r\n  2\n  3");
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(5, "in.dat", OpenMode::Input);
  Format f = Format::compile("(I3)");
  std::int32_t v = 0;
  ASSERT_TRUE(io.read(5, f, {Target::of(v)}, true));
  EXPECT_EQ(v, 1);
  ASSERT_TRUE(io.read(5, f, {Target::of(v)}, true));
  EXPECT_EQ(v, 2);
  ASSERT_TRUE(io.read(5, f, {Target::of(v)}, true));  // last line without a line end
  EXPECT_EQ(v, 3);
  EXPECT_FALSE(io.read(5, f, {Target::of(v)}, true));
  EXPECT_FALSE(io.read(5, f, {Target::of(v)}, true));
  EXPECT_EQ(error_of([&] { io.read(5, f, {Target::of(v)}, false); }),
            "Run-time error: READ on unit 5, file 'in.dat': end of file after record 3");
}

TEST(IoFiles, ConversionErrorNamesUnitFileRecordAndField) {
  TempDir dir;
  std::string text;
  for (int i = 1; i <= 16; ++i) text += "  1  2\n";
  text += "  1 a1\n";
  write_file(dir / "trial.dat", text);
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(8, "trial.dat", OpenMode::Input);
  Format f = Format::compile("(2I3)");
  std::int32_t a = 0, b = 0;
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(io.read(8, f, {Target::of(a), Target::of(b)}, true));
  EXPECT_EQ(error_of([&] { io.read(8, f, {Target::of(a), Target::of(b)}, true); }),
            "Run-time error: READ on unit 8, file 'trial.dat', record 17: invalid character in integer "
            "field 'a1' (columns 4-6)");
}

// The error is a value: its site and detail, and the cause a caller may act on.
TEST(IoFiles, ReadErrorsCarryTheirSiteAndCause) {
  TempDir dir;
  write_file(dir / "t.dat", "  1 a1\n");
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(8, "t.dat", OpenMode::Input);
  std::int32_t a = 0, b = 0;
  const Format f = Format::compile("(2I3)");
  for (int k = 0; k < 2; ++k) {
    try {
      io.read(8, f, {Target::of(a), Target::of(b)}, false);
      ADD_FAILURE() << "no error";
    } catch (const rec::RunError& e) {
      EXPECT_EQ(e.site.statement, "READ");
      EXPECT_EQ(e.site.unit, 8);
      EXPECT_EQ(e.site.file, "t.dat");
      EXPECT_EQ(e.site.record, k == 0 ? 1 : -1);
      EXPECT_EQ(e.cause, k == 0 ? rec::RunError::Cause::Other : rec::RunError::Cause::EndOfFile);
      EXPECT_EQ(e.what(), rec::format_error(e.site, e.detail));
    }
  }
}

TEST(IoFiles, LongRecordIsAnErrorNotUnboundedMemory) {
  TempDir dir;
  write_file(dir / "long.dat", "  1\n" + std::string(rec::kMaxRecordLength + 10, '7') + "\n");
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(1, "long.dat", OpenMode::Input);
  Format f = Format::compile("(I3)");
  std::int32_t v = 0;
  ASSERT_TRUE(io.read(1, f, {Target::of(v)}, true));
  EXPECT_EQ(error_of([&] { io.read(1, f, {Target::of(v)}, true); }),
            "Run-time error: READ on unit 1, file 'long.dat', record 2: record longer than 65536 characters");
  // A record of exactly the limit is fine, also when it spans buffer refills.
  std::string ok;
  for (int i = 0; i < 10; ++i) ok += std::string(rec::kMaxRecordLength, 'x') + "\r\n";
  write_file(dir / "ok.dat", ok);
  io.open(2, "ok.dat", OpenMode::Input);
  std::string s;
  Format a = Format::compile("(A)");
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(io.read(2, a, {Target::of(s, 3)}, false));
  EXPECT_FALSE(io.read(2, a, {Target::of(s, 3)}, true));
}

TEST(IoFiles, WriteErrorsAreRunErrors) {
  TempDir dir;
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(6, "r.out", OpenMode::Output);
  io.write(6, Format::compile("('first')"), {});
  EXPECT_EQ(error_of([&] { io.write(6, Format::compile("(I4)"), {"text"}); }),
            "Run-time error: WRITE on unit 6, file 'r.out', record 2: edit descriptor I cannot write a "
            "character item (format position 2 of (I4))");
  // What was written before the error is on disk.
  EXPECT_EQ(read_file(dir / "r.out"), "first\r\n");
  EXPECT_EQ(error_of([&] { io.write(9, Format::compile("('x')"), {}); }),
            "Run-time error: WRITE on unit 9: the unit is not open");
}

TEST(IoFiles, ListReadAcrossRecords) {
  TempDir dir;
  write_file(dir / "h.dat", "   2   1\r\n   5   1\r\n");
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(5, "h.dat", OpenMode::Input);
  std::int32_t v[4] = {};
  std::int32_t* p[4] = {&v[0], &v[1], &v[2], &v[3]};
  ASSERT_TRUE(io.read_list(5, p, true));
  EXPECT_EQ(v[2], 5);
  EXPECT_FALSE(io.read_list(5, p, true));
}

TEST(IoOpen, BlankNamesComeFromTheCommandLineInOrder) {
  TempDir dir;
  write_file(dir / "a.ctl", "");
  Console con;
  Io io({"a.ctl", "b.out"}, con.in, con.out, dir.path());
  EXPECT_EQ(io.open(5, "", OpenMode::Input), "a.ctl");
  EXPECT_EQ(io.open(6, "  ", OpenMode::Output), "b.out");
  EXPECT_EQ(io.file_name(6), "b.out");
  EXPECT_TRUE(testsupport::file_exists(dir / "b.out"));
  EXPECT_EQ(con.out.str(), "");
}

TEST(IoOpen, BlankNameAsksOnTheConsoleAndRepeatsOnEmptyAnswer) {
  TempDir dir;
  Console con("\n   \nout.txt\n");
  Io io({}, con.in, con.out, dir.path());
  EXPECT_EQ(io.open(6, "", OpenMode::Output), "out.txt");
  const std::string q = "\nFile name missing or blank - please enter file name\nUNIT 6? ";
  EXPECT_EQ(con.out.str(), q + q + q);
}

TEST(IoOpen, MissingTypedInputIsAskedAgainAndNeverCreated) {
  TempDir dir;
  write_file(dir / "there.ctl", "");
  Console con("missing.ctl\nthere.ctl\n");
  Io io({}, con.in, con.out, dir.path());
  EXPECT_EQ(io.open(5, "", OpenMode::Input), "there.ctl");
  const std::string q = "\nFile name missing or blank - please enter file name\nUNIT 5? ";
  EXPECT_EQ(con.out.str(), q + "\nFile 'missing.ctl' for unit 5 was not found" + q);
  EXPECT_FALSE(testsupport::file_exists(dir / "missing.ctl"));
}

TEST(IoOpen, MissingInputFromCommandLineOrFixedNameIsARunError) {
  TempDir dir;
  Console con;
  Io io({"nothere.ctl"}, con.in, con.out, dir.path());
  EXPECT_EQ(error_of([&] { io.open(5, "", OpenMode::Input); }),
            "Run-time error: OPEN on unit 5, file 'nothere.ctl': file not found");
  EXPECT_EQ(con.out.str(), "\nFile 'nothere.ctl' for unit 5 was not found");
  EXPECT_EQ(error_of([&] { io.open(3, "fixed.dat", OpenMode::Input); }),
            "Run-time error: OPEN on unit 3, file 'fixed.dat': file not found");
  EXPECT_FALSE(testsupport::file_exists(dir / "nothere.ctl"));
  EXPECT_FALSE(testsupport::file_exists(dir / "fixed.dat"));
}

TEST(IoOpen, EndOfConsoleInputWhileAskingIsARunError) {
  TempDir dir;
  Console con("\n");
  Io io({}, con.in, con.out, dir.path());
  EXPECT_EQ(error_of([&] { io.open(5, "", OpenMode::Input); }),
            "Run-time error: OPEN on unit 5: end of console input while asking for a file name");
}

TEST(IoOpen, SameFileOnTwoUnitsIsARunError) {
  TempDir dir;
  write_file(dir / "x.ctl", "keep\r\n");
  Console con;
  Io io({"x.ctl", "./x.ctl"}, con.in, con.out, dir.path());
  io.open(5, "", OpenMode::Input);
  EXPECT_EQ(error_of([&] { io.open(6, "", OpenMode::Output); }),
            "Run-time error: OPEN on unit 6, file './x.ctl': the file is already open on unit 5");
  EXPECT_EQ(read_file(dir / "x.ctl"), "keep\r\n");  // not truncated
}

TEST(IoConsole, CarriageControlComesBeforeTheText) {
  Console con;
  Io io({}, con.in, con.out);
  io.write(rec::kConsole, Format::compile("(' Diallel analysis started ',2(I2.2,':'),I2.2,'.',I2.2,/)"),
           {9, 5, 7, 3});
  io.write(rec::kConsole, Format::compile("('0two',/,'1page',/,'+over',/,'xother')"), {});
  EXPECT_EQ(con.out.str(), "\nDiallel analysis started 09:05:07.03\n\n\ntwo\fpage\rover\nother");
}

TEST(IoConsole, SayWritesListDirectedLines) {
  Console con;
  Io io({}, con.in, con.out);
  io.say({"Opening data files:"});
  io.say({"F ratio for ", 3, ") is zero"});
  io.say({"   "});
  EXPECT_EQ(con.out.str(), "\nOpening data files:\nF ratio for           3) is zero\n   ");
}

// The work of a run: stopped when it returns; its error, whatever the kind, ends it with
// the message on the console and exit status 2, other exceptions only when asked.
TEST(IoConsole, RunToStopEndsEveryErrorWithItsMessage) {
  const struct Case {
    const char* name;
    std::function<int()> body;
    bool any_error;
    int status;
    std::string console;
  } cases[] = {
      {"done", [] { return 1; }, false, 1, "\nStop - Program terminated.\n"},
      {"run-time error", []() -> int { throw RunError("Run-time error: gone"); }, false, 2,
       "\nRun-time error: gone\n"},
      {"format error", []() -> int { throw rec::FormatError("bad edit", 3); }, false, 2,
       "\nFormat error: bad edit\n"},
      {"other error", []() -> int { throw std::invalid_argument("odd"); }, true, 2,
       "\nRun-time error: odd\n"},
  };
  for (const auto& c : cases) {
    Console con;
    Io io({}, con.in, con.out);
    EXPECT_EQ(rec::run_to_stop(io, c.body, c.any_error), c.status) << c.name;
    EXPECT_EQ(con.out.str(), c.console) << c.name;
  }
  Console con;
  Io io({}, con.in, con.out);
  EXPECT_THROW(rec::run_to_stop(io, []() -> int { throw std::invalid_argument("odd"); }),
               std::invalid_argument);
}

// A pause shows its message; only at an interactive console does it ask for Enter and
// read one line (bounded). Whatever is typed is never run, and a non-interactive pause
// leaves the console input to the reads that follow.
TEST(IoConsole, PauseNeverRunsWhatIsTyped) {
  TempDir dir;
  const std::string touch = "touch '" + (dir / "ran").string() + "'";
  const std::string long_line = std::string(100000, 'y') + "\n";
  const struct Case {
    const char* name;
    bool interactive;
    std::string typed;
    std::string console;  // after the two pauses
    std::string left;     // the next console line after them ("" = the input is used up)
  } cases[] = {
      {"piped lines are left alone", false, touch + "\nnext\n", "\n go\n\n again\n", touch},
      {"nothing to read", false, "", "\n go\n\n again\n", ""},
      {"a terminal: one line per pause", true, touch + "\n" + touch + "\nnext\n",
       "\n go\nPress Enter to continue\n again\nPress Enter to continue", "next"},
      {"a terminal: a long line is read to its end", true, long_line + "\nnext\n",
       "\n go\nPress Enter to continue\n again\nPress Enter to continue", "next"},
      {"a terminal at the end of its input", true, "", "\n go\nPress Enter to continue\n again\nPress Enter to continue", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Console con(c.typed);
    Io io({}, con.in, con.out);
    io.set_console_interactive(c.interactive);
    io.pause(" go");
    io.pause(" again");
    EXPECT_EQ(con.out.str(), c.console);
    std::string next;
    std::getline(con.in, next);
    EXPECT_EQ(next, c.left);
    EXPECT_FALSE(testsupport::file_exists(dir / "ran"));
  }
}

}  // namespace

// With line ends required, a last record without its line end is an error; without, it
// is read as it stands.
TEST(IoFiles, RequiredLineEndsRefuseACutLastRecord) {
  const struct Case {
    const char* name;
    std::string content;
    bool required;
    std::string outcome;  // the values read, then "end" or the error
  } cases[] = {
      {"complete", "  1\r\n  2\n", true, "1 2 end"},
      {"empty", "", true, "end"},
      {"cut, required", "  1\r\n  2", true,
       "1 Run-time error: READ on unit 5, file 'c.dat', record 2: the last record lacks its line "
       "end; the file is cut short"},
      {"cut after its CR, required", "  1\r\n  2\r", true,
       "1 Run-time error: READ on unit 5, file 'c.dat', record 2: the last record lacks its line "
       "end; the file is cut short"},
      {"cut, not required", "  1\r\n  2", false, "1 2 end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "c.dat", c.content);
    Console con;
    Io io({}, con.in, con.out, dir.path());
    io.open(5, "c.dat", OpenMode::Input);
    if (c.required) io.require_line_ends(5);
    std::string got;
    std::int32_t v = 0;
    try {
      while (io.read(5, Format::compile("(I3)"), {Target::of(v)}, true)) got += std::to_string(v) + " ";
      got += "end";
    } catch (const RunError& e) {
      got += e.what();
    }
    EXPECT_EQ(got, c.outcome);
  }
}

// Outputs replaced at close: nothing shows under the name until the close, which
// replaces the name (a link itself, never its target); a refused output replaces nothing.
TEST(IoOutputs, ReplacedAtCloseUnderTheirNamesOnly) {
  TempDir dir;
  write_file(dir / "target.txt", "target\n");
  write_file(dir / "old.out", "1\r\nold\r\n");
  std::filesystem::create_symlink("target.txt", dir / "link.dat");
  const Format line = Format::compile("('1new')");
  {
    Console con;
    Io io({}, con.in, con.out, dir.path());
    io.set_replace_at_close(true);
    io.set_report_units({6});
    io.open(6, "old.out", OpenMode::Output);
    io.open(3, "link.dat", OpenMode::Output);
    io.write(6, line, {});
    io.write(3, line, {});
    io.flush();
    EXPECT_EQ(read_file(dir / "old.out"), "1\r\nold\r\n");
    io.close();
  }
  EXPECT_EQ(read_file(dir / "old.out"), "1new\r\n");
  EXPECT_EQ(read_file(dir / "link.dat"), "1new\r\n");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "link.dat"));
  EXPECT_EQ(read_file(dir / "target.txt"), "target\n");
  {
    // A report unit refuses a file that is not a report, and the output opened
    // before it is not replaced either.
    Console con;
    Io io({}, con.in, con.out, dir.path());
    io.set_replace_at_close(true);
    io.set_report_units({6});
    io.open(3, "old.out", OpenMode::Output);
    io.write(3, line, {});
    EXPECT_EQ(error_of([&] { io.open(6, "target.txt", OpenMode::Output); }),
              "Run-time error: OPEN on unit 6, file 'target.txt': the file exists and is not a "
              "report of this program; it is left as it is");
    io.close();
  }
  EXPECT_EQ(read_file(dir / "old.out"), "1new\r\n");
  EXPECT_EQ(read_file(dir / "target.txt"), "target\n");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 3u);  // no temporary file left
}

// A name typed at the console is read with a bound: a longer one is asked for again.
TEST(IoOpen, OverlongTypedNameIsAskedAgain) {
  TempDir dir;
  Console con(std::string(rec::kMaxNameLength + 1, 'n') + "\nshort.out\n");
  Io io({}, con.in, con.out, dir.path());
  EXPECT_EQ(io.open(6, "", OpenMode::Output), "short.out");
  const std::string q = "\nFile name missing or blank - please enter file name\nUNIT 6? ";
  EXPECT_EQ(con.out.str(), q + "\nThe name is longer than 4096 characters" + q);
}

// A list cut short by the end of the file is not the end the statement tests: the
// file ends inside the records the list belongs to.
TEST(IoReadList, EndOfFileInsideTheListIsARunTimeError) {
  TempDir dir;
  write_file(dir / "h.dat", "   2   1\r\n   5\r\n");
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(5, "h.dat", OpenMode::Input);
  std::int32_t v[4] = {};
  std::int32_t* p[4] = {&v[0], &v[1], &v[2], &v[3]};
  try {
    io.read_list(5, p, true);
    FAIL() << "no error";
  } catch (const rec::RunError& e) {
    EXPECT_STREQ(e.what(),
                 "Run-time error: READ on unit 5, file 'h.dat': end of file after record 2, "
                 "with 3 of the 4 values of the list read");
  }
}

// Binary garbage in a field is shown escaped, never written raw to the console.
TEST(IoFiles, ConversionErrorShowsControlAndNonAsciiBytesEscaped) {
  TempDir dir;
  write_file(dir / "g.dat", std::string("\x1b[2J\t\xff", 6) + "\n");
  Console con;
  Io io({}, con.in, con.out, dir.path());
  io.open(1, "g.dat", OpenMode::Input);
  std::int32_t v = 0;
  try {
    io.read(1, Format::compile("(I6)"), {Target::of(v)}, true);
    FAIL() << "no error";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(),
                 "Run-time error: READ on unit 1, file 'g.dat', record 1: invalid character in "
                 "integer field '\\x1B[2J\\x09\\xFF' (columns 1-6)");
  }
}
