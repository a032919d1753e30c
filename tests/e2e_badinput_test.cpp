// Bad input fed to the real executables. Every case runs build/korbal or build/meridox
// in a scratch directory with its console input from a given text (or empty), and
// checks the exit status (0 normal, 1 input error reported in the report, 2 run-time
// error), the exact message (a report line or a console line), and what is on disk
// afterwards: reports written up to the error and nothing else, no file created by a
// failed open.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::source_path;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

struct Outcome {
  int status = -1;      // exit status; -1 when the program did not exit normally
  std::string console;  // everything written to stdout and stderr
};

// Runs `exe` with `args` in `dir`, console input `input`. The console capture lives
// outside `dir`, so that the directory holds only what the program created.
Outcome run(const TempDir& dir, const std::string& exe, const std::vector<std::string>& args,
            const std::string& input = "") {
  TempDir io;
  write_file(io / "in.txt", input);
  std::string line = "cd '" + dir.path().string() + "' && '" + testsupport::program(exe) + "'";
  for (const auto& a : args) line += " '" + a + "'";
  line += " <'" + (io / "in.txt").string() + "' >'" + (io / "out.txt").string() + "' 2>&1";
  const int raw = std::system(line.c_str());
  Outcome o;
  if (raw != -1 && WIFEXITED(raw)) o.status = WEXITSTATUS(raw);
  o.console = read_file(io / "out.txt");
  return o;
}

std::set<std::string> files_in(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
  return names;
}

// Records of a report; every record must end in CR LF.
std::vector<std::string> records_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "record without CR LF at the end of the report: [" << text.substr(at) << "]";
      break;
    }
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

// The last console line (the console puts its line breaks before the text).
std::string last_console_line(const std::string& console) {
  std::string s = console;
  while (!s.empty() && s.back() == '\n') s.pop_back();
  const auto k = s.rfind('\n');
  return k == std::string::npos ? s : s.substr(k + 1);
}

const std::vector<std::string> kClosingPage = {
    "1", "", "", "0 * * * * T h a t 's  i t  f o l k s !  * * * *"};

// The records of the report before its closing page (which must be there).
std::vector<std::string> before_closing(const std::vector<std::string>& recs) {
  if (recs.size() < kClosingPage.size() ||
      !std::equal(kClosingPage.begin(), kClosingPage.end(), recs.end() - 4)) {
    ADD_FAILURE() << "the report does not end with the closing page";
    return recs;
  }
  return std::vector<std::string>(recs.begin(), recs.end() - 4);
}

// --------------------------------------------------------------------------------
// korbal

// A small problem without locations and replications (layout 2): 3 lines, one set.
const char* kPlainDims = "  3  1  0 -1  0  0  0  0  0  0  0  1";
const char* kPlainData =
    "  1  1  2  0   10.00\n  1  1  3  0   12.00\n  1  2  1  0   11.00\n  1  2  3  0    9.50\n"
    "  1  3  1  0    8.00\n  1  3  2  0   13.25\n  1  0  0  0\n";

struct Korbal {
  TempDir dir;
  Outcome out;
  std::vector<std::string> report() const { return records_of(read_file(dir / "r.out")); }
  std::string interchange() const { return read_file(dir / "MERIDOX_IN.DAT"); }
};

void korbal_files(const TempDir& dir, const std::string& control, const std::string& data) {
  write_file(dir / "c.ctl", control);
  write_file(dir / "d.dat", data);
}

std::string control_of(const std::string& dims, const std::string& fmt = "(4I3,F8.2)",
                       const std::string& names = "YIELD           \n") {
  return dims + "\nTRIAL OF BAD INPUT\n" + names + fmt + "\n";
}

void run_korbal(Korbal& k, const std::string& control, const std::string& data) {
  korbal_files(k.dir, control, data);
  k.out = run(k.dir, "korbal", {"c.ctl", "r.out", "d.dat"});
}

std::string total_line(int sdfl) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%6d", sdfl);
  std::string line = "0";
  line.append(40, ' ').append(" Total number of effects =  ").append(buf);
  return line;
}

const std::string kCrlfEmpty;

// Control records at their limits and beyond: the status, the one report line before
// the closing page, and the interchange file.
TEST(BadControl, LimitsAndBeyond) {
  const std::string too_many = "0The no. of response variables specified,";
  const struct Case {
    const char* name;
    std::string dims;
    int status;
    std::string last_line;  // the record before the closing page ("" = the report holds only it)
  } cases[] = {
      {"NV 0 ends at once", "  3  0  0 -1", 0, ""},
      {"blank dimension record", "", 0, ""},
      {"NV 11", "  3 11  0 -1", 1,
       too_many + "  11 ,is greater than the dimension of Y, which is  10 ,JOB TERMINATED"},
      {"NV 999", "  3999  0 -1", 1,
       too_many + " 999 ,is greater than the dimension of Y, which is  10 ,JOB TERMINATED"},
      {"NLINES negative", " -3  1  0 -1  0  0  0  0  0  0  0  1", 1,
       "0The value of NLINES specified,  -3 ,is negative, which is not allowed ,JOB TERMINATED"},
      {"NV negative", "  3 -1", 1,
       "0The value of NV specified,  -1 ,is negative, which is not allowed ,JOB TERMINATED"},
      {"NSETS negative", "  3  1  0 -1  0  0  0  0  0  0  0 -2", 1,
       "0The value of NSETS specified,  -2 ,is negative, which is not allowed ,JOB TERMINATED"},
      {"NLOC negative", "  3  1  0 -1  0  0  0 -5  0  0  0  1", 1,
       "0The value of NLOC specified,  -5 ,is negative, which is not allowed ,JOB TERMINATED"},
      {"NREP negative", "  3  1  0 -1  0  0-99  0  0  0  0  1", 1,
       "0The value of NREP specified, -99 ,is negative, which is not allowed ,JOB TERMINATED"},
      {"NCLON negative", "  3  1  0 -1  0  0  0  0  0  0  0  1 -1", 1,
       "0The value of NCLON specified,  -1 ,is negative, which is not allowed ,JOB TERMINATED"},
      {"SDFL 551", " 32  1  0 -1  0  0 21  0  0  0  0  1", 1,
       "0 More effects are initialized then provided for in the  dimension statements, SDFL =  "
       " 551 , and should be <= 550 , JOB TERMINATED"},
      {"999 everywhere", "999 10999999999999999999  0999999999999999", 1,
       "0 More effects are initialized then provided for in the  dimension statements, SDFL =  "
       "**** , and should be <= 550 , JOB TERMINATED"},
      {"IDATA on the report unit", "  3  1  0 -1  0  0  0  0  0  6  0  1", 1,
       "0The data unit specified, IDATA =   6 ,is already in use for the report or the MERIDOX "
       "file ,JOB TERMINATED"},
      {"IDATA on the interchange unit", "  3  1  0 -1  0  0  0  0  0  3  0  1", 1,
       "0The data unit specified, IDATA =   3 ,is already in use for the report or the MERIDOX "
       "file ,JOB TERMINATED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Korbal k;
    run_korbal(k, control_of(c.dims), kPlainData);
    EXPECT_EQ(k.out.status, c.status);
    const auto body = before_closing(k.report());
    if (c.last_line.empty()) {
      EXPECT_TRUE(body.empty());
    } else {
      ASSERT_FALSE(body.empty());
      EXPECT_EQ(body.back(), c.last_line);
    }
    if (c.last_line.rfind("0 More effects", 0) == 0 || c.status == 0 ||
        c.last_line.rfind("0The", 0) == 0) {
      // Nothing reaches the interchange file before the effects are numbered.
      EXPECT_EQ(k.interchange(), "");
    }
    EXPECT_NE(k.out.console.find("Stop - Program terminated."), std::string::npos);
    EXPECT_EQ(files_in(k.dir), (std::set<std::string>{"MERIDOX_IN.DAT", "c.ctl", "d.dat", "r.out"}));
  }
}

// The largest models that fit: 550 columns, and 10 variables with cross products.
TEST(BadControl, ExactlyAtTheLimitsRunsThrough) {
  {
    SCOPED_TRACE("SDFL 550");
    Korbal k;
    // MEAN + REPS 20 + SETS 1 + GCA 32 + SCA 496 = 550 columns (layout 1)
    run_korbal(k, control_of(" 32  1  0 -1  0  0 20  0  0  0  0  1", "(5I3,F8.2)"),
               "  1  1  1  2  0   10.00\n  2  1  3  4  0   11.00\n  1  1  0  0  0\n");
    EXPECT_EQ(k.out.status, 0);
    const auto recs = k.report();
    EXPECT_NE(std::find(recs.begin(), recs.end(), total_line(550)), recs.end());
    EXPECT_EQ(k.interchange().substr(0, 18), "   1   0   5   1\r\n");
  }
  {
    SCOPED_TRACE("NV 10 with cross products");
    std::string names, fmt = "(4I3,10F5.1)", data;
    for (int v = 1; v <= 10; ++v) {
      char b[24];
      std::snprintf(b, sizeof b, "V%-15d    ", v);
      names += b;
      if (v % 4 == 0 || v == 10) names += "\n";
    }
    for (int f = 1; f <= 3; ++f)
      for (int m = 1; m <= 3; ++m) {
        if (f == m) continue;
        char b[16];
        std::snprintf(b, sizeof b, "  1%3d%3d  0", f, m);
        data += b;
        for (int v = 1; v <= 10; ++v) {
          std::snprintf(b, sizeof b, "%5.1f", f * 3.0 + m + v * 0.5);
          data += b;
        }
        data += "\n";
      }
    Korbal k;
    run_korbal(k, control_of("  3 10  1 -1  0  0  0  0  0  0  0  1", fmt, names), data);
    EXPECT_EQ(k.out.status, 0);
    EXPECT_EQ(k.interchange().substr(0, 18), "  10   1   4   1\r\n");
    // 55 analyses, each closed by its error record
    const auto recs = records_of(k.interchange());
    EXPECT_EQ(std::count_if(recs.begin(), recs.end(),
                            [](const std::string& r) { return r.find(" - BY - ") != std::string::npos; }),
              45);
  }
}

// Control files that end early or hold text where numbers belong: a run-time error on
// the console (exit 2), no closing page, and the report as far as it was written.
TEST(BadControl, ShortOrUnreadableControlFile) {
  const struct Case {
    const char* name;
    std::string control;
    std::string message;
  } cases[] = {
      {"letters in the dimension record", "  3  a  0\n",
       "Run-time error: READ on unit 5, file 'c.ctl', record 1: invalid character in integer "
       "field 'a' (columns 4-6)"},
      {"title missing", "  3  1  0 -1  0  0  0  0  0  0  0  1\n",
       "Run-time error: READ on unit 5, file 'c.ctl': end of file after record 1"},
      {"names missing", "  3  1  0 -1  0  0  0  0  0  0  0  1\nTITLE\n",
       "Run-time error: READ on unit 5, file 'c.ctl': end of file after record 2"},
      {"data format missing", "  3  1  0 -1  0  0  0  0  0  0  0  1\nTITLE\nYIELD\n",
       "Run-time error: READ on unit 5, file 'c.ctl': end of file after record 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Korbal k;
    run_korbal(k, c.control, kPlainData);
    EXPECT_EQ(k.out.status, 2);
    EXPECT_EQ(last_console_line(k.out.console), c.message);
    EXPECT_EQ(k.out.console.find("Stop - Program terminated."), std::string::npos);
    const auto recs = k.report();
    EXPECT_EQ(std::find(recs.begin(), recs.end(), kClosingPage.back()), recs.end());
  }
}

// Data formats that cannot be used: exit 2 with the message, and no output at all.
TEST(BadDataFormat, RefusedWithARunTimeError) {
  const std::string nested17 = std::string(17, '(') + "I3" + std::string(17, ')');
  const std::string wide = "(4I3,F8.2" + std::string(72, ' ') + ",1X)";
  const struct Case {
    const char* name;
    std::string fmt;
    std::string message;
  } cases[] = {
      {"unbalanced", "(4I3,F8.2",
       "Run-time error: invalid data format (4I3,F8.2: invalid format: missing ')' (format "
       "position 1)"},
      {"empty", "",
       "Run-time error: invalid data format : invalid format: must begin with '(' (format "
       "position 81)"},
      {"not a format", "4I3,F8.2",
       "Run-time error: invalid data format 4I3,F8.2: invalid format: must begin with '(' "
       "(format position 1)"},
      {"unknown descriptor", "(4I3,Q8.2)",
       "Run-time error: invalid data format (4I3,Q8.2): invalid format: unknown edit descriptor "
       "'Q' (format position 6)"},
      {"nested 17 deep", nested17,
       "Run-time error: invalid data format " + nested17 +
           ": invalid format: parentheses nested deeper than 16 (format position 17)"},
      {"repeat count 0", "(0I3,F8.2)",
       "Run-time error: invalid data format (0I3,F8.2): invalid format: repeat count of zero "
       "(format position 2)"},
      {"repeat count 999999999", "(999999999I3,F8.2)",
       "Run-time error: invalid data format (999999999I3,F8.2): invalid format: repeat count "
       "larger than 32767 (format position 2)"},
      {"wider than 80 columns: cut at 80", wide,
       "Run-time error: invalid data format (4I3,F8.2: invalid format: missing ')' (format "
       "position 1)"},
      {"no data descriptor", "()",
       "Run-time error: READ on unit 1, file 'd.dat': items remain but the format has no data "
       "descriptor to take them (format position 2 of ()" + std::string(78, ' ') + ")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Korbal k;
    run_korbal(k, control_of(kPlainDims, c.fmt), kPlainData);
    EXPECT_EQ(k.out.status, 2);
    EXPECT_EQ(last_console_line(k.out.console), c.message);
    EXPECT_EQ(files_in(k.dir), (std::set<std::string>{"c.ctl", "d.dat"}));
  }
}

// Formats at their limits are accepted and read the data.
TEST(BadDataFormat, AtTheLimitsAccepted) {
  const std::string nested16 = std::string(15, '(') + "4I3,F8.2" + std::string(15, ')');
  const struct Case {
    const char* name;
    std::string fmt;
  } cases[] = {
      {"nested 16 deep", "(" + nested16 + ")"},
      {"80 columns", "(4I3," + std::string(66, ' ') + "F8.2)"},
      {"repeat count 32767 on X after the items", "(4I3,F8.2,32767X)"},
  };
  Korbal ref;
  run_korbal(ref, control_of(kPlainDims), kPlainData);
  ASSERT_EQ(ref.out.status, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Korbal k;
    run_korbal(k, control_of(kPlainDims, c.fmt), kPlainData);
    EXPECT_EQ(k.out.status, 0);
    EXPECT_EQ(k.interchange(), ref.interchange());
  }
}

// Data lines that cannot be read: exit 2, the console message, and no output at all.
TEST(BadDataLines, ConversionErrors) {
  std::string garbage = "\x7f" "ELF\x02\x01\x01";
  garbage += std::string("\0\0\xff\x10\n\x90\x91\x92\n", 10);
  const struct Case {
    const char* name;
    std::string data;
    std::string message;
  } cases[] = {
      {"letter in a real field", "  1  1  2  0   1O.00\n",
       "Run-time error: READ on unit 1, file 'd.dat', record 1: invalid character in real field "
       "'1O.00' (columns 13-20)"},
      {"letter in an identifier", "  1  1  2  0   10.00\n  1  x  3  0   12.00\n",
       "Run-time error: READ on unit 1, file 'd.dat', record 2: invalid character in integer "
       "field 'x' (columns 4-6)"},
      {"tab in a field", "  1\t 1  2  0   10.00\n",
       "Run-time error: READ on unit 1, file 'd.dat', record 1: invalid character in integer "
       "field '\\x09 1' (columns 4-6)"},
      {"binary garbage", garbage,
       "Run-time error: READ on unit 1, file 'd.dat', record 1: invalid character in integer "
       "field '\\x7FEL' (columns 1-3)"},
      {"a few megabytes on one line", std::string(3 << 20, '1'),
       "Run-time error: READ on unit 1, file 'd.dat', record 1: record longer than 65536 "
       "characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Korbal k;
    run_korbal(k, control_of(kPlainDims), c.data);
    EXPECT_EQ(k.out.status, 2);
    EXPECT_EQ(last_console_line(k.out.console), c.message);
    EXPECT_EQ(k.out.console.find("Number of data lines read"), std::string::npos);
    EXPECT_EQ(files_in(k.dir), (std::set<std::string>{"c.ctl", "d.dat"}));
  }
}

// Identifiers outside their ranges: each line reported, then JOB TERMINATED (exit 1);
// the analysis is skipped.
TEST(BadDataLines, IdentifiersOutOfRange) {
  // layout 3: ILOC IREP ISET IFEM IMALE ICLONE Y, 2 locations, 2 replications, 2 clones
  const std::string dims = "  3  1  0 -1  0  0  2  2  0  0  0  1  2";
  const std::string data =
      "  1  1  1  1  2  1   10.00\n"  // good
      "  3  1  1  1  2  1   10.00\n"  // ILOC 3
      "  1  0  1  1  2  1   10.00\n"  // IREP 0
      "  1  1  2  1  2  1   10.00\n"  // ISET 2
      "  1  1  1  4  2  1   10.00\n"  // IFEM 4
      "  1  1  1  2 -1  1   10.00\n"  // IMALE -1
      "  1  1  1  2  1  3   10.00\n"  // ICLONE 3
      "  1  1  1  0  2  1   10.00\n"  // only the female 0
      "  1  1  1  2  0  1   10.00\n"  // only the male 0
      "  1  1  1  2  2  1   10.00\n"  // a self: skipped, never checked
      "  1  1  1  0  0  0\n";
  Korbal k;
  run_korbal(k, control_of(dims, "(6I3,F8.2)"), data);
  EXPECT_EQ(k.out.status, 1);
  const auto body = before_closing(k.report());
  const std::vector<std::string> expected = {
      "0 DATA LINE       2:   ILOC =       3 IS OUTSIDE 1 TO     2",
      "0 DATA LINE       3:   IREP =       0 IS OUTSIDE 1 TO     2",
      "0 DATA LINE       4:   ISET =       2 IS OUTSIDE 1 TO     1",
      "0 DATA LINE       5:   IFEM =       4 IS OUTSIDE 1 TO     3",
      "0 DATA LINE       6:  IMALE =      -1 IS OUTSIDE 1 TO     3",
      "0 DATA LINE       7: ICLONE =       3 IS OUTSIDE 1 TO     2",
      "0 DATA LINE       8:   IFEM =       0 IS OUTSIDE 1 TO     3",
      "0 DATA LINE       9:  IMALE =       0 IS OUTSIDE 1 TO     3",
      "0       8 DATA LINES HAVE IDENTIFIERS OUTSIDE THEIR RANGES ,JOB TERMINATED",
  };
  ASSERT_GE(body.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(body.end() - static_cast<long>(expected.size()), body.end()),
            expected);
  EXPECT_NE(k.out.console.find("\nNumber of data lines read:    11\n"), std::string::npos);
}

// Line ends and short lines: CR LF, LF, a mix of both, a missing last line end, a line
// cut short by the end of the file, and self lines all give the same analysis as the
// clean file.
TEST(BadDataLines, LineEndsAndShortLinesGiveTheSameAnalysis) {
  Korbal ref;
  run_korbal(ref, control_of(kPlainDims), kPlainData);
  ASSERT_EQ(ref.out.status, 0);
  std::string crlf_all, mixed;
  {
    std::istringstream in(kPlainData);
    std::string l;
    int n = 0;
    while (std::getline(in, l)) {
      crlf_all += l + "\r\n";
      mixed += l + (n++ % 2 ? "\r\n" : "\n");
    }
  }
  std::string no_end = kPlainData;
  no_end.pop_back();
  const std::string body(kPlainData, std::string(kPlainData).rfind("  1  0  0  0"));
  const struct Case {
    const char* name;
    std::string data;
    std::string fmt;
  } cases[] = {
      {"CR LF", crlf_all, "(4I3,F8.2)"},
      {"CR LF and LF mixed", mixed, "(4I3,F8.2)"},
      {"no line end after the last line", no_end, "(4I3,F8.2)"},
      {"no terminating line", body, "(4I3,F8.2)"},
      {"self lines", "  1  1  1  0   99.00\n" + body + "  1  3  3  0   77.00\n", "(4I3,F8.2)"},
      {"a line cut short by the end of the file", body + "  1  1  2", "(4I3,/,F8.2)"},
  };
  // The two-record format reads the plain data pairwise: make its reference too.
  std::string paired;
  {
    std::istringstream in(body);
    std::string l;
    while (std::getline(in, l)) paired += l.substr(0, 12) + "\n" + l.substr(12) + "\n";
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Korbal k;
    const bool two = c.fmt == "(4I3,/,F8.2)";
    run_korbal(k, control_of(kPlainDims, c.fmt), two ? paired + "  1  1  2" : c.data);
    EXPECT_EQ(k.out.status, 0);
    EXPECT_EQ(k.interchange(), ref.interchange());
    if (!two) {
      EXPECT_EQ(read_file(k.dir / "r.out"), read_file(ref.dir / "r.out"));
    }
  }
}

// Missing files, files named twice, and the prompt for a name typed at the console.
TEST(BadFiles, KorbalMissingAndDoubledFiles) {
  const std::string control = control_of(kPlainDims);
  {
    SCOPED_TRACE("control file missing from the command line");
    TempDir dir;
    write_file(dir / "d.dat", kPlainData);
    const auto o = run(dir, "korbal", {"no.ctl", "r.out", "d.dat"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(last_console_line(o.console),
              "Run-time error: OPEN on unit 5, file 'no.ctl': file not found");
    EXPECT_EQ(files_in(dir), std::set<std::string>{"d.dat"});
  }
  {
    SCOPED_TRACE("data file missing from the command line");
    TempDir dir;
    write_file(dir / "c.ctl", control);
    const auto o = run(dir, "korbal", {"c.ctl", "r.out", "no.dat"});
    EXPECT_EQ(o.status, 2);
    // Every input named is looked for before any output is created.
    EXPECT_EQ(last_console_line(o.console),
              "Run-time error: OPEN of command-line argument 3, file 'no.dat': file not found");
    EXPECT_EQ(files_in(dir), std::set<std::string>{"c.ctl"});
  }
  {
    SCOPED_TRACE("names typed at the prompt: a missing one is asked for again");
    TempDir dir;
    korbal_files(dir, control, kPlainData);
    const auto o = run(dir, "korbal", {}, "no.ctl\nc.ctl\nr.out\nno.dat\nd.dat\n");
    EXPECT_EQ(o.status, 0);
    const std::string ask5 = "\nFile name missing or blank - please enter file name\nUNIT 5? ";
    const std::string ask1 = "\nFile name missing or blank - please enter file name\nUNIT 1? ";
    EXPECT_NE(o.console.find(ask5 + "\nFile 'no.ctl' for unit 5 was not found" + ask5),
              std::string::npos);
    EXPECT_NE(o.console.find(ask1 + "\nFile 'no.dat' for unit 1 was not found" + ask1),
              std::string::npos);
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"MERIDOX_IN.DAT", "c.ctl", "d.dat", "r.out"}));
  }
  {
    SCOPED_TRACE("the console input ends while a name is asked for");
    TempDir dir;
    const auto o = run(dir, "korbal", {}, "");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(last_console_line(o.console),
              "Run-time error: OPEN on unit 5: end of console input while asking for a file name");
    EXPECT_TRUE(files_in(dir).empty());
  }
  const struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string message;
    std::set<std::string> files;
  } doubled[] = {
      {"report named as the control file", {"c.ctl", "c.ctl", "d.dat"},
       "Run-time error: OPEN on unit 6, file 'c.ctl': the file is already open on unit 5",
       {"c.ctl", "d.dat"}},
      {"data file named as the report, before either exists", {"c.ctl", "r.out", "r.out"},
       "Run-time error: OPEN of command-line argument 3, file 'r.out': file not found",
       {"c.ctl", "d.dat"}},
      {"data file named as the interchange file, before either exists",
       {"c.ctl", "r.out", "MERIDOX_IN.DAT"},
       "Run-time error: OPEN of command-line argument 3, file 'MERIDOX_IN.DAT': file not found",
       {"c.ctl", "d.dat"}},
      {"data file named as the report", {"c.ctl", "d.dat", "d.dat"},
       "Run-time error: OPEN on unit 6, file 'd.dat': the file is the input named by "
       "command-line argument 3; it is left as it is",
       {"c.ctl", "d.dat"}},
      {"report named as the interchange file", {"c.ctl", "MERIDOX_IN.DAT", "d.dat"},
       "Run-time error: OPEN on unit 3, file 'MERIDOX_IN.DAT': the file is already open on "
       "unit 6",
       {"c.ctl", "d.dat"}},
  };
  for (const auto& c : doubled) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    korbal_files(dir, control, kPlainData);
    const auto o = run(dir, "korbal", c.args);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(last_console_line(o.console), c.message);
    EXPECT_EQ(files_in(dir), c.files);
    // The inputs are never overwritten.
    EXPECT_EQ(read_file(dir / "c.ctl"), control);
    EXPECT_EQ(read_file(dir / "d.dat"), kPlainData);
  }
}

// --------------------------------------------------------------------------------
// meridox

struct Meridox {
  TempDir dir;
  Outcome out;
  std::string report() const { return read_file(dir / "r.vc"); }
};

void run_meridox(Meridox& m, const std::string& input) {
  write_file(m.dir / "in.dat", input);
  m.out = run(m.dir, "meridox", {"in.dat", "r.vc"});
}

std::string small_interchange() { return read_file(source_path("examples/small/MERIDOX_IN.DAT")); }

// Splits a file into its records, each with its line end.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    out.push_back(text.substr(at, end - at));
    at = end;
  }
  return out;
}

// The banner that every meridox report begins with: the report of a header refused with
// JOB TERMINATED, without its one line.
std::string meridox_banner() {
  Meridox m;
  run_meridox(m, "   1   0   0   1\n");
  EXPECT_EQ(m.out.status, 1);
  const std::string r = m.report();
  return r.substr(0, r.rfind("1 THE NUMBER OF EFFECTS"));
}

// An interchange file cut short after every record, and in the middle of every
// record: a run-time error (exit 2) whose message names the record, and no report (a
// failed run replaces no file).
TEST(BadInterchange, CutShortAnywhere) {
  const auto lines = lines_of(small_interchange());
  ASSERT_EQ(lines.size(), 11u);
  std::string prefix;
  for (std::size_t k = 0; k + 1 < lines.size(); ++k) {
    prefix += lines[k];
    {
      SCOPED_TRACE("cut after record " + std::to_string(k + 1));
      Meridox m;
      run_meridox(m, prefix);
      EXPECT_EQ(m.out.status, 2);
      EXPECT_EQ(last_console_line(m.out.console),
                "Run-time error: READ on unit 5, file 'in.dat': end of file after record " +
                    std::to_string(k + 1));
      EXPECT_EQ(files_in(m.dir), std::set<std::string>{"in.dat"});
    }
    if (k + 2 < lines.size()) {
      // Half of the next record, without its line end: the cut record is read with
      // blanks for its missing columns, and the file ends before the records that
      // follow. (A last record without its line end is refused as well: see
      // SafeFiles.InterruptedInterchangeFileIsRefused.)
      SCOPED_TRACE("cut inside record " + std::to_string(k + 2));
      Meridox m;
      run_meridox(m, prefix + lines[k + 1].substr(0, lines[k + 1].size() / 2));
      EXPECT_EQ(m.out.status, 2);
      EXPECT_EQ(files_in(m.dir), std::set<std::string>{"in.dat"});
    }
  }
  {
    SCOPED_TRACE("a header cut short");
    Meridox m;
    run_meridox(m, "   1   0\r\n");
    EXPECT_EQ(m.out.status, 2);
    EXPECT_EQ(last_console_line(m.out.console),
              "Run-time error: READ on unit 5, file 'in.dat': end of file after record 1, with 2 "
              "of the 4 values of the list read");
  }
}

const char* kOneEffect =
    "   1   0   2   1\n"
    "MEAN   1  10.00000    40.00000    \n"
    "GCA    3  10.00000    \n"
    "            YIELD           \n"
    "          120.0000    5.000000    \n"
    "      36  1.000000    \n";

// Headers and records the arrays cannot hold or that are not numbers.
TEST(BadInterchange, RefusedHeadersAndFields) {
  const std::string banner = meridox_banner();
  const struct Case {
    const char* name;
    std::string input;
    int status;
    std::string tail;  // what follows the banner on the report
    std::string console;  // the last console line ("" = not checked)
  } cases[] = {
      {"NE 0", "   1   0   0   1\n", 1,
       "1 THE NUMBER OF EFFECTS IS 0; IT MUST BE AT LEAST 1.   JOB TERMINATED\r\n", ""},
      {"NE 20", "   1   0  20   1\n", 1,
       "1 THE NUMBER OF EFFECTS IS 20; THE LIMIT IS 19.   JOB TERMINATED\r\n", ""},
      {"NV 0", "   0   0   2   1\n", 1,
       "1 THE NUMBER OF VARIABLES IS 0; IT MUST BE AT LEAST 1.   JOB TERMINATED\r\n", ""},
      {"66 analyses", "  11   1   2   1\n", 1,
       "1 THE NUMBER OF ANALYSES IS 66; THE LIMIT IS 55.   JOB TERMINATED\r\n", ""},
      {"999 everywhere", " 999 999 999 999\n", 1,
       "1 THE NUMBER OF EFFECTS IS 999; THE LIMIT IS 19.   JOB TERMINATED\r\n", ""},
      {"a field of asterisks",
       "   1   0   2   1\nMEAN   1  10.00000    ************\nGCA    3  10.00000    \n", 2, "",
       "Run-time error: READ on unit 5, file 'in.dat', record 2: invalid character in real "
       "field '************' (columns 23-34)"},
      {"letters in the header", "   1   0   X   1\n", 2, "",
       "Run-time error: READ on unit 5, file 'in.dat', record 1: invalid character in integer "
       "value 'X' (columns 12-12)"},
      {"binary garbage", std::string("\x01\x02\xfe\xff\n\x80\n", 7), 2, "",
       "Run-time error: READ on unit 5, file 'in.dat', record 1: invalid character in integer "
       "value '\\x01\\x02\\xFE\\xFF' (columns 1-4)"},
      {"unequal error degrees of freedom",
       "   2   0   2   1\nMEAN   1  10.00000    40.00000    \nGCA    3  10.00000    \n"
       "            YIELD           \n          120.0000    5.000000    \n      36  1.000000    \n"
       "            HEIGHT          \n          120.0000    5.000000    \n      35  1.000000    \n",
       1,
       "1 ERROR DEGREES OF FREEDOM ARE NOT THE SAME; LAST ANALYSIS HAD   36 D.F. AND THIS ONE,\r\n"
       "0                                HEIGHT                      , HAS   35 D.F.;\r\n"
       "0 JOB TERMINATED; CHECK ANALYSES GIVEN BY KORBAL\r\n",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Meridox m;
    run_meridox(m, c.input);
    EXPECT_EQ(m.out.status, c.status);
    if (!c.console.empty()) {
      EXPECT_EQ(last_console_line(m.out.console), c.console);
    }
    if (c.status == 2) {  // a run-time error leaves no report
      EXPECT_EQ(files_in(m.dir), std::set<std::string>{"in.dat"});
      continue;
    }
    EXPECT_EQ(m.report(), banner + c.tail);
    EXPECT_EQ(files_in(m.dir), (std::set<std::string>{"in.dat", "r.vc"}));
  }
}

// Two problems in one file: the banner once, each problem as it prints alone.
TEST(BadInterchange, TwoProblemsInOneFile) {
  const std::string banner = meridox_banner();
  const std::string done = "1\r\n\r\n\r\n     * * * AND ALL IS DONE * * *\r\n";
  Meridox a, b, both;
  run_meridox(a, small_interchange());
  run_meridox(b, kOneEffect);
  run_meridox(both, small_interchange() + kOneEffect);
  ASSERT_EQ(a.out.status, 0);
  ASSERT_EQ(b.out.status, 0);
  EXPECT_EQ(both.out.status, 0);
  auto body = [&](const std::string& r) {
    return r.substr(banner.size(), r.size() - banner.size() - done.size());
  };
  EXPECT_EQ(both.report(), banner + body(a.report()) + body(b.report()) + done);
}

TEST(BadFiles, MeridoxMissingAndDoubledFiles) {
  {
    SCOPED_TRACE("input missing from the command line");
    TempDir dir;
    const auto o = run(dir, "meridox", {"no.dat", "r.vc"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(last_console_line(o.console),
              "Run-time error: OPEN on unit 5, file 'no.dat': file not found");
    EXPECT_TRUE(files_in(dir).empty());
  }
  {
    SCOPED_TRACE("input typed at the prompt: asked again");
    TempDir dir;
    write_file(dir / "in.dat", kOneEffect);
    const auto o = run(dir, "meridox", {}, "no.dat\nin.dat\nr.vc\n");
    EXPECT_EQ(o.status, 0);
    const std::string ask = "\nFile name missing or blank - please enter file name\nUNIT 5? ";
    EXPECT_NE(o.console.find(ask + "\nFile 'no.dat' for unit 5 was not found" + ask),
              std::string::npos);
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"in.dat", "r.vc"}));
  }
  {
    SCOPED_TRACE("report named as the input");
    TempDir dir;
    write_file(dir / "in.dat", kOneEffect);
    const auto o = run(dir, "meridox", {"in.dat", "in.dat"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(last_console_line(o.console),
              "Run-time error: OPEN on unit 6, file 'in.dat': the file is already open on unit 5");
    EXPECT_EQ(read_file(dir / "in.dat"), kOneEffect);
    EXPECT_EQ(files_in(dir), std::set<std::string>{"in.dat"});
  }
  {
    SCOPED_TRACE("input is a directory");
    TempDir dir;
    fs::create_directory(dir / "sub");
    const auto o = run(dir, "meridox", {"sub", "r.vc"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(last_console_line(o.console),
              "Run-time error: OPEN on unit 5, file 'sub': the name is a directory");
    EXPECT_EQ(files_in(dir), std::set<std::string>{"sub"});
  }
}

// --------------------------------------------------------------------------------
// The user's files

// What a directory holds: each name with its content, a link with its target, a FIFO
// or device as such (never opened).
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (e.is_symlink())
      m[name] = "link to " + fs::read_symlink(e.path()).string();
    else if (e.is_directory())
      m[name] = "folder";
    else if (!e.is_regular_file())
      m[name] = "special";
    else
      m[name] = read_file(e.path());
  }
  return m;
}

const std::string kEarlierReport = "1\r\n earlier report\r\n";
const std::string kEarlierInterchange = "   1   0   9   1\r\n";

// A folder with korbal's inputs, meridox's input and the files of an earlier run.
void user_files(const TempDir& dir) {
  korbal_files(dir, control_of(kPlainDims), kPlainData);
  write_file(dir / "in.dat", kOneEffect);
  write_file(dir / "r.out", kEarlierReport);
  write_file(dir / "r.vc", kEarlierReport);
  write_file(dir / "MERIDOX_IN.DAT", kEarlierInterchange);
  fs::create_directory(dir / "keep");
  write_file(dir / "keep" / "other.txt", "somebody's notes\n");
  write_file(dir / "keep" / "old.out", kEarlierReport);
}

// Names that would destroy an input or a file that is not a report: the run stops with
// exit 2 and a message naming the file, before anything is created or replaced.
TEST(SafeFiles, RefusedOutputsReplaceNothing) {
  const struct Case {
    const char* name;
    const char* program;
    std::vector<std::string> args;
    std::string typed;                                    // console input
    std::vector<std::pair<std::string, std::string>> links;  // name, target ('=' : hard link)
    std::string message;
  } cases[] = {
      {"korbal: report and data swapped", "korbal", {"c.ctl", "d.dat", "r.out"}, "", {},
       "Run-time error: OPEN on unit 6, file 'd.dat': the file exists and is not a report of "
       "this program; it is left as it is"},
      {"korbal: control and report swapped", "korbal", {"d.dat", "c.ctl", "r.out"}, "", {},
       "Run-time error: OPEN on unit 6, file 'c.ctl': the file exists and is not a report of "
       "this program; it is left as it is"},
      {"korbal: a typed report name", "korbal", {}, "c.ctl\nd.dat\n", {},
       "Run-time error: OPEN on unit 6, file 'd.dat': the file exists and is not a report of "
       "this program; it is left as it is"},
      {"korbal: a report named by a link to another file", "korbal", {"c.ctl", "x.out", "d.dat"},
       "", {{"x.out", "keep/other.txt"}},
       "Run-time error: OPEN on unit 6, file 'x.out': the file exists and is not a report of "
       "this program; it is left as it is"},
      {"korbal: data file named as the interchange file", "korbal",
       {"c.ctl", "r.out", "MERIDOX_IN.DAT"}, "", {},
       "Run-time error: OPEN on unit 3, file 'MERIDOX_IN.DAT': the file is the input named by "
       "command-line argument 3; it is left as it is"},
      {"korbal: MERIDOX_IN.DAT a symbolic link to the data", "korbal", {"c.ctl", "n.out", "d.dat"},
       "", {{"MERIDOX_IN.DAT", "d.dat"}},
       "Run-time error: OPEN on unit 3, file 'MERIDOX_IN.DAT': the file is the input named by "
       "command-line argument 3; it is left as it is"},
      {"korbal: MERIDOX_IN.DAT a hard link to the data", "korbal", {"c.ctl", "n.out", "d.dat"},
       "", {{"MERIDOX_IN.DAT", "=d.dat"}},
       "Run-time error: OPEN on unit 3, file 'MERIDOX_IN.DAT': the file is the input named by "
       "command-line argument 3; it is left as it is"},
      {"korbal: the report a link to the control file", "korbal", {"c.ctl", "n.out", "d.dat"},
       "", {{"n.out", "c.ctl"}},
       "Run-time error: OPEN on unit 6, file 'n.out': the file is already open on unit 5"},
      {"meridox: report and interchange swapped", "meridox", {"r.vc", "MERIDOX_IN.DAT"}, "", {},
       "Run-time error: OPEN on unit 6, file 'MERIDOX_IN.DAT': the file exists and is not a "
       "report of this program; it is left as it is"},
      {"meridox: the report a hard link to the input", "meridox", {"in.dat", "n.vc"}, "",
       {{"n.vc", "=in.dat"}},
       "Run-time error: OPEN on unit 6, file 'n.vc': the file is already open on unit 5"},
      {"korbal: a CSV table a link to the data", "korbal", {"--csv", ".", "c.ctl", "n.out", "d.dat"},
       "", {{"anova.csv", "d.dat"}},
       "Run-time error: the table './anova.csv' is the input file 'd.dat'; it is left as it is"},
      {"meridox: a CSV table a hard link to the input", "meridox",
       {"--csv", ".", "in.dat", "n.vc"}, "", {{"components.csv", "=in.dat"}},
       "Run-time error: the table './components.csv' is the input file 'in.dat'; it is left as "
       "it is"},
      {"a name taken exactly as given", "korbal", {" c.ctl", "n.out", "d.dat"}, "", {},
       "Run-time error: OPEN on unit 5, file ' c.ctl': file not found"},
      {"odd bytes of a name shown escaped", "meridox", {"in\x1b[2J\xff.dat", "n.vc"}, "", {},
       "Run-time error: OPEN on unit 5, file 'in\\x1B[2J\\xFF.dat': file not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    user_files(dir);
    for (const auto& [name, target] : c.links) {
      fs::remove(dir / name);
      if (target[0] == '=')
        fs::create_hard_link(dir / target.substr(1), dir / name);
      else
        fs::create_symlink(target, dir / name);
    }
    const auto before = snapshot(dir.path());
    const auto o = run(dir, c.program, c.args, c.typed);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(last_console_line(o.console), c.message);
    EXPECT_EQ(snapshot(dir.path()), before);
  }
}

// An output named by a link: the finished run replaces the link with its file and leaves
// the link's target as it was.
TEST(SafeFiles, LinksAreReplacedNeverTheirTargets) {
  const struct Case {
    const char* name;
    std::string link, target;  // target '=' : hard link
  } cases[] = {
      {"MERIDOX_IN.DAT a symbolic link", "MERIDOX_IN.DAT", "keep/other.txt"},
      {"MERIDOX_IN.DAT a hard link", "MERIDOX_IN.DAT", "=keep/other.txt"},
      {"MERIDOX_IN.DAT a dangling link", "MERIDOX_IN.DAT", "keep/none.dat"},
      {"the report a symbolic link to an earlier report", "n.out", "keep/old.out"},
      {"the report a hard link to an earlier report", "n.out", "=keep/old.out"},
  };
  Korbal ref;
  run_korbal(ref, control_of(kPlainDims), kPlainData);
  ASSERT_EQ(ref.out.status, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    user_files(dir);
    fs::remove(dir / c.link);
    if (c.target[0] == '=')
      fs::create_hard_link(dir / c.target.substr(1), dir / c.link);
    else
      fs::create_symlink(c.target, dir / c.link);
    auto keep_before = snapshot(dir / "keep");
    const auto o = run(dir, "korbal", {"c.ctl", "n.out", "d.dat"});
    EXPECT_EQ(o.status, 0);
    EXPECT_FALSE(fs::is_symlink(dir / c.link));
    EXPECT_EQ(read_file(dir / "MERIDOX_IN.DAT"), ref.interchange());
    EXPECT_EQ(read_file(dir / "n.out").size(), read_file(ref.dir / "r.out").size());
    EXPECT_EQ(snapshot(dir / "keep"), keep_before);
  }
}

// A full disk or a file-size limit is a run-time error: exit 2, never a cut file left
// as if all went well; the earlier report stays when its replacement failed.
TEST(SafeFiles, FailedWritesAreRunTimeErrors) {
  const struct Case {
    const char* name;
    const char* program;
    std::vector<std::string> args;
    std::string limit;    // shell command before the program
    std::string message;  // the start of the last console line
    std::string reason;   // its end
  } cases[] = {
      {"korbal report on /dev/full", "korbal", {"c.ctl", "/dev/full", "d.dat"}, "",
       "Run-time error: WRITE on unit 6, file '/dev/full', record ",
       ": the file cannot be written: No space left on device"},
      {"meridox report on /dev/full", "meridox", {"in.dat", "/dev/full"}, "",
       "Run-time error: CLOSE on unit 6, file '/dev/full'",
       ": the file cannot be written: No space left on device"},
      {"korbal report past the file-size limit", "korbal", {"c.ctl", "r.out", "d.dat"},
       "ulimit -f 1", "Run-time error: WRITE on unit 6, file 'r.out', record ",
       ": the file cannot be written: File too large; the earlier file is left as it was"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    user_files(dir);
    Outcome o;
    if (c.limit.empty()) {
      o = run(dir, c.program, c.args);
    } else {
      // The limit holds for the program alone, not for the capture of its console.
      TempDir io;
      std::string line = "cd '" + dir.path().string() + "' && (" + c.limit + " && '" +
                         testsupport::program(c.program) + "'";
      for (const auto& a : c.args) line += " '" + a + "'";
      line += " </dev/null 2>&1; echo $? >'" + (io / "rc").string() + "') | cat >'" +
              (io / "out.txt").string() + "'";
      ASSERT_EQ(std::system(line.c_str()), 0);
      o.status = std::stoi(read_file(io / "rc"));
      o.console = read_file(io / "out.txt");
    }
    EXPECT_EQ(o.status, 2);
    const std::string said = last_console_line(o.console);
    EXPECT_EQ(said.substr(0, c.message.size()), c.message) << said;
    EXPECT_TRUE(said.ends_with(c.reason)) << said;
    EXPECT_EQ(read_file(dir / "r.out"), kEarlierReport);
    EXPECT_EQ(read_file(dir / "r.vc"), kEarlierReport);
    // The interchange file of a run whose report failed does not replace the earlier one.
    EXPECT_EQ(read_file(dir / "MERIDOX_IN.DAT"), kEarlierInterchange);
    for (const auto& name : files_in(dir)) EXPECT_NE(name[0], '.') << name;
  }
}

// Starts `exe` in `dir` with the console on /dev/null and `console`, the signals that end
// a run at their default action.
pid_t spawn(const TempDir& dir, const std::string& exe, const std::vector<std::string>& args,
            const fs::path& console) {
  const std::string path = testsupport::program(exe);
  std::vector<std::string> all = {path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int sig : {SIGINT, SIGTERM, SIGPIPE}) std::signal(sig, SIG_DFL);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::chdir(dir.path().c_str()) != 0 || in < 0 || out < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// A run killed while it reads its data slowly from a FIFO: the signal ends it, its
// temporary files go, and the files of the earlier run stay as they were.
TEST(SafeFiles, KilledRunLeavesTheEarlierFiles) {
  for (int sig : {SIGTERM, SIGINT, SIGPIPE}) {
    SCOPED_TRACE("signal " + std::to_string(sig));
    TempDir dir, io;
    user_files(dir);
    fs::remove(dir / "d.dat");
    ASSERT_EQ(::mkfifo((dir / "d.dat").c_str(), 0600), 0);
    const auto before = snapshot(dir.path());
    const pid_t pid = spawn(dir, "korbal", {"c.ctl", "r.out", "d.dat"}, io / "console.txt");
    ASSERT_GT(pid, 0);
    const int fifo = ::open((dir / "d.dat").c_str(), O_WRONLY);  // waits for korbal
    ASSERT_GE(fifo, 0);
    const std::string first = "  1  1  2  0   10.00\n";
    ASSERT_EQ(::write(fifo, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    // Wait until both outputs are being written (their temporary files exist).
    int temps = 0;
    for (int i = 0; i < 500 && temps < 2; ++i) {
      ::usleep(10000);
      temps = 0;
      for (const auto& name : files_in(dir)) temps += name[0] == '.';
    }
    EXPECT_EQ(temps, 2);
    ::kill(pid, sig);
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    ::close(fifo);
    EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == sig) << raw;
    EXPECT_EQ(snapshot(dir.path()), before);
  }
}

// An interchange file whose last record lacks its line end was cut short while it was
// written: meridox refuses it.
TEST(SafeFiles, InterruptedInterchangeFileIsRefused) {
  std::string cut = small_interchange();
  ASSERT_EQ(cut.substr(cut.size() - 2), "\r\n");
  const struct Case {
    const char* name;
    std::string input;
    std::string message;
  } cases[] = {
      {"without the last line end", cut.substr(0, cut.size() - 2),
       "Run-time error: READ on unit 5, file 'in.dat', record 11: the last record lacks its line "
       "end; the file is cut short"},
      {"without the last LF", cut.substr(0, cut.size() - 1),
       "Run-time error: READ on unit 5, file 'in.dat', record 11: the last record lacks its line "
       "end; the file is cut short"},
      {"a header without its line end", "   1   0   2",
       "Run-time error: READ on unit 5, file 'in.dat', record 1: the last record lacks its line "
       "end; the file is cut short"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Meridox m;
    run_meridox(m, c.input);
    EXPECT_EQ(m.out.status, 2);
    EXPECT_EQ(last_console_line(m.out.console), c.message);
  }
}

// Lines piped to a program that pauses (the realistic example has negative F ratios)
// are never run, and the run goes on to its end.
TEST(SafeFiles, PausesNeverRunPipedLines) {
  const std::string touch = "touch ran\nyes\n";
  const struct Case {
    const char* name;
    std::string typed;
  } cases[] = {
      {"commands", touch + touch + touch},
      {"a line far longer than a pause line", std::string(1 << 20, 'y') + "\n" + touch},
      {"nothing", ""},
  };
  const std::string expected = read_file(source_path("examples/realistic/realistic.vc"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "MERIDOX_IN.DAT", read_file(source_path("examples/realistic/MERIDOX_IN.DAT")));
    const auto o = run(dir, "meridox", {"MERIDOX_IN.DAT", "r.vc"}, c.typed);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.console.find("\nBad argument X in BETAI\n"), std::string::npos);
    EXPECT_EQ(o.console.find("Press Enter"), std::string::npos);
    EXPECT_EQ(read_file(dir / "r.vc"), expected);
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"MERIDOX_IN.DAT", "r.vc"}));
  }
}

}  // namespace
