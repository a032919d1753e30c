// Bad input fed to the real executables. Every case runs build/korbal or build/meridox
// in a scratch directory with its console input from a given text (or empty), and
// checks the exit status (0 normal, 1 input error reported in the report, 2 run-time
// error), the exact message (a report line or a console line), and what is on disk
// afterwards: reports written up to the error and nothing else, no file created by a
// failed open. The cases are rows of tables, all run by expect_run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;
using testsupport::last_console_line;
using testsupport::Ran;
using testsupport::read_file;
using testsupport::source_path;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

using Lines = std::vector<std::string>;
using Names = std::set<std::string>;
using Files = std::vector<std::pair<std::string, std::string>>;  // name (may hold a folder), content

std::set<std::string> files_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

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

// Records of a report; every record must end in CR LF.
Lines records_of(const std::string& text) {
  Lines out;
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

const Lines kClosingPage = {"1", "", "", "0 * * * * T h a t 's  i t  f o l k s !  * * * *"};

// The records of the report before its closing page (which must be there).
Lines before_closing(const Lines& recs) {
  if (recs.size() < kClosingPage.size() ||
      !std::equal(kClosingPage.begin(), kClosingPage.end(), recs.end() - 4)) {
    ADD_FAILURE() << "the report does not end with the closing page";
    return recs;
  }
  return Lines(recs.begin(), recs.end() - 4);
}

// One run of a program and what must hold after it. Fields left at their defaults are
// not checked.
struct Case {
  std::string name{};
  std::string program = "korbal";
  // The command-line arguments; by default korbal c.ctl r.out d.dat, meridox in.dat r.vc.
  std::optional<Lines> args{};
  Files files{};      // written into the folder before the run
  Files links{};      // name, target ('=' before it: a hard link), replacing the name
  std::string input{};// console input
  std::string limit{};// shell command that limits the program (ulimit)
  std::function<void(const fs::path&)> prepare{};

  int status = 0;
  std::string last_line{};                     // the exact last console line
  std::string last_starts{}, last_ends{};        // the start and the end of it
  Lines said{}, unsaid{};                        // texts the console holds, and never holds
  std::optional<Lines> report_end{};           // the report's last records before its closing
                                               // page ({}: it holds the closing page alone)
  bool no_closing_page = false;                // the report lacks the closing page
  std::map<std::string, std::string> contents{};  // files and their exact bytes after the run
  std::optional<Names> files_after{};          // the folder holds exactly these
  std::string unchanged{};  // a folder ("." the run's own) that the run leaves as it was
  std::function<void(const fs::path&, const Ran&)> check{};
};

// What a run left: the console and every file of the folder.
struct Result {
  int status = -1;
  std::string console;
  std::map<std::string, std::string> files;
};

// Runs one case in a fresh folder and checks everything the case expects, and that no
// temporary file is left.
Result expect_run(const Case& c) {
  SCOPED_TRACE(c.name);
  TempDir dir;
  for (const auto& [name, content] : c.files) {
    fs::create_directories((dir / name).parent_path());
    write_file(dir / name, content);
  }
  for (const auto& [name, target] : c.links) {
    fs::remove(dir / name);
    if (target[0] == '=')
      fs::create_hard_link(dir / target.substr(1), dir / name);
    else
      fs::create_symlink(target, dir / name);
  }
  if (c.prepare) c.prepare(dir.path());
  const std::string report = c.program == "korbal" ? "r.out" : "r.vc";
  const Lines args = c.args ? *c.args
                            : c.program == "korbal" ? Lines{"c.ctl", "r.out", "d.dat"}
                                                    : Lines{"in.dat", "r.vc"};
  const auto before = c.unchanged.empty() ? decltype(snapshot(dir.path())){}
                                          : snapshot(dir / c.unchanged);
  const Ran o = testsupport::run_program(dir.path(), c.program, args, c.input, c.limit);
  EXPECT_EQ(o.status, c.status);
  const std::string said = last_console_line(o.console);
  if (!c.last_line.empty()) { EXPECT_EQ(said, c.last_line); }
  EXPECT_EQ(said.substr(0, c.last_starts.size()), c.last_starts) << said;
  EXPECT_TRUE(said.ends_with(c.last_ends)) << said;
  for (const auto& s : c.said) EXPECT_NE(o.console.find(s), std::string::npos) << s;
  for (const auto& s : c.unsaid) EXPECT_EQ(o.console.find(s), std::string::npos) << s;
  if (c.report_end) {
    const Lines body = before_closing(records_of(read_file(dir / report)));
    if (c.report_end->empty()) {
      EXPECT_TRUE(body.empty());
    } else if (body.size() < c.report_end->size()) {
      ADD_FAILURE() << "the report holds only " << body.size() << " records";
    } else {
      EXPECT_EQ(Lines(body.end() - static_cast<long>(c.report_end->size()), body.end()),
                *c.report_end);
    }
  }
  if (c.no_closing_page) {
    const Lines recs = records_of(read_file(dir / report));
    EXPECT_EQ(std::find(recs.begin(), recs.end(), kClosingPage.back()), recs.end());
  }
  for (const auto& [name, content] : c.contents) EXPECT_EQ(read_file(dir / name), content) << name;
  if (c.files_after) { EXPECT_EQ(files_in(dir.path()), *c.files_after); }
  if (!c.unchanged.empty()) { EXPECT_EQ(snapshot(dir / c.unchanged), before); }
  for (const auto& name : files_in(dir.path())) EXPECT_NE(name[0], '.') << name;
  if (c.check) c.check(dir.path(), o);
  return {o.status, o.console, snapshot(dir.path())};
}

// --------------------------------------------------------------------------------
// korbal

// A small problem without locations and replications (layout 2): 3 lines, one set.
const char* kPlainDims = "  3  1  0 -1  0  0  0  0  0  0  0  1";
const std::string kPlainData =
    "  1  1  2  0   10.00\n  1  1  3  0   12.00\n  1  2  1  0   11.00\n  1  2  3  0    9.50\n"
    "  1  3  1  0    8.00\n  1  3  2  0   13.25\n  1  0  0  0\n";

std::string control_of(const std::string& dims, const std::string& fmt = "(4I3,F8.2)",
                       const std::string& names = "YIELD           \n") {
  return dims + "\nTRIAL OF BAD INPUT\n" + names + fmt + "\n";
}

Files korbal_files(const std::string& control, const std::string& data = kPlainData) {
  return {{"c.ctl", control}, {"d.dat", data}};
}

const Names kKorbalInputs = {"c.ctl", "d.dat"};
const Names kKorbalOutputs = {"MERIDOX_IN.DAT", "c.ctl", "d.dat", "r.out"};

// The plain problem run through: the reference of the runs that must analyse it alike.
const Result& plain_run() {
  static const Result r =
      expect_run({.name = "the plain problem", .files = korbal_files(control_of(kPlainDims))});
  return r;
}

// The messages of the console and the report.
std::string read_error(int unit, const std::string& file, const std::string& what) {
  return "Run-time error: READ on unit " + std::to_string(unit) + ", file '" + file + "'" + what;
}
std::string open_error(int unit, const std::string& file, const std::string& what) {
  return "Run-time error: OPEN on unit " + std::to_string(unit) + ", file '" + file + "': " + what;
}
std::string format_error(const std::string& fmt, const std::string& what) {
  return "Run-time error: invalid data format " + fmt + ": invalid format: " + what;
}
const std::string kNotAReport =
    "the file exists and is not a report of this program; it is left as it is";
const std::string kTheData =
    "the file is the input named by command-line argument 3; it is left as it is";
std::string negative(const std::string& name, const std::string& value) {
  return "0The value of " + name + " specified," + value +
         " ,is negative, which is not allowed ,JOB TERMINATED";
}
std::string too_many_effects(const std::string& sdfl, const std::string& limit = " 550") {
  return "0 More effects are initialized then provided for in the  dimension statements, SDFL =  " +
         sdfl + " , and should be <=" + limit + " , JOB TERMINATED";
}
std::string unit_in_use(const std::string& unit) {
  return "0The data unit specified, IDATA = " + unit +
         " ,is already in use for the report or the MERIDOX file ,JOB TERMINATED";
}
std::string needs(const std::string& sw, const std::string& code, const std::string& what) {
  return "0The switch " + sw + " =   1 asks for the effect " + code + ", which needs " + what +
         " ,JOB TERMINATED";
}
const std::string kLocations = "two locations or more (NLOC >= 2)";
std::string too_many_variables(const std::string& nv) {
  return "0The no. of response variables specified," + nv +
         " ,is greater than the dimension of Y, which is  10 ,JOB TERMINATED";
}

std::string total_line(int sdfl) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%6d", sdfl);
  std::string line = "0";
  line.append(40, ' ').append(" Total number of effects =  ").append(buf);
  return line;
}

// Control records at their limits and beyond: the status, the one report line before
// the closing page, and the interchange file, to which nothing is written before the
// effects are numbered.
TEST(BadControl, LimitsAndBeyond) {
  const struct Row {
    const char* name;
    std::string dims;
    int status;
    std::string last_line;  // the record before the closing page ("" = the report holds only it)
  } rows[] = {
      {"NV 0 ends at once", "  3  0  0 -1", 0, ""},
      {"blank dimension record", "", 0, ""},
      {"NV 11", "  3 11  0 -1", 1, too_many_variables("  11")},
      {"NV 999", "  3999  0 -1", 1, too_many_variables(" 999")},
      {"NLINES negative", " -3  1  0 -1  0  0  0  0  0  0  0  1", 1, negative("NLINES", "  -3")},
      {"NV negative", "  3 -1", 1, negative("NV", "  -1")},
      {"NSETS negative", "  3  1  0 -1  0  0  0  0  0  0  0 -2", 1, negative("NSETS", "  -2")},
      {"NLOC negative", "  3  1  0 -1  0  0  0 -5  0  0  0  1", 1, negative("NLOC", "  -5")},
      {"NREP negative", "  3  1  0 -1  0  0-99  0  0  0  0  1", 1, negative("NREP", " -99")},
      {"NCLON negative", "  3  1  0 -1  0  0  0  0  0  0  0  1 -1", 1, negative("NCLON", "  -1")},
      {"SDFL 551", " 32  1  0 -1  0  0 21  0  0  0  0  1", 1, too_many_effects(" 551")},
      {"SDFL 2001 with GCA and SCA by location", " 31  1  0 -1  0  0  4  3  0  1  0  1  0  0  0  1  1",
       1, too_many_effects("2001", "2000")},
      {"999 everywhere", "999 10999999999999999999  0999999999999999", 1, too_many_effects("****")},
      {"IGXL without locations", "  3  1  0 -1  0  0  2  0  0  1  0  1  0  0  0  1", 1,
       needs("IGXL", "GXL", kLocations)},
      {"ISXL with one location", "  3  1  0 -1  0  0  2  1  0  1  0  1  0  0  0  0  1", 1,
       needs("ISXL", "SXL", kLocations)},
      {"IMXL without IMATR", "  3  1  0 -1  0  1  2  2  0  1  0  1  0  0  0  0  0  1", 1,
       needs("IMXL", "MXL", "maternal effects (IMATR >= 1)")},
      {"IRXL without IRECP", "  3  1  0 -1  1  0  2  2  0  1  0  1  0  0  0  0  0  0  1", 1,
       needs("IRXL", "RXL", "reciprocal effects (IRECP >= 1)")},
      {"IMXL and IRXL without locations", "  3  1  0 -1  1  1  2  0  0  1  0  1  0  0  0  0  0  1  1",
       1, needs("IMXL", "MXL", kLocations)},
      {"IDATA on the report unit", "  3  1  0 -1  0  0  0  0  0  6  0  1", 1, unit_in_use("  6")},
      {"IDATA on the interchange unit", "  3  1  0 -1  0  0  0  0  0  3  0  1", 1,
       unit_in_use("  3")},
  };
  for (const auto& r : rows)
    expect_run({.name = r.name, .files = korbal_files(control_of(r.dims)), .status = r.status,
                .said = {"Stop - Program terminated."},
                .report_end = r.last_line.empty() ? Lines{} : Lines{r.last_line},
                .contents = {{"MERIDOX_IN.DAT", ""}}, .files_after = kKorbalOutputs});
}

// The largest models that fit: 550 columns, and 10 variables with cross products.
TEST(BadControl, ExactlyAtTheLimitsRunsThrough) {
  // MEAN + REPS 20 + SETS 1 + GCA 32 + SCA 496 = 550 columns (layout 1)
  expect_run({.name = "SDFL 550",
              .files = korbal_files(control_of(" 32  1  0 -1  0  0 20  0  0  0  0  1", "(5I3,F8.2)"),
                                    "  1  1  1  2  0   10.00\n  2  1  3  4  0   11.00\n"
                                    "  1  1  0  0  0\n"),
              .check = [](const fs::path& dir, const Ran&) {
                const auto recs = records_of(read_file(dir / "r.out"));
                EXPECT_NE(std::find(recs.begin(), recs.end(), total_line(550)), recs.end());
                EXPECT_EQ(read_file(dir / "MERIDOX_IN.DAT").substr(0, 18), "   1   0   5   1\r\n");
              }});
  // With GCA and SCA by location the limit is 2000: MEAN + LOC 28 + REPS 56 + SETS 1 +
  // GCA 11 + SCA 55 + GXL 308 + SXL 1540 (layout 3).
  expect_run({.name = "SDFL 2000 with GCA and SCA by location",
              .files = korbal_files(control_of(" 11  1  0 -1  0  0  2 28  0  1  0  1  0  0  0  1  1",
                                               "(6I3,F8.2)"),
                                    "  1  1  1  1  2  0   10.00\n 28  2  1  3  4  0   11.00\n"),
              .check = [](const fs::path& dir, const Ran&) {
                const auto recs = records_of(read_file(dir / "r.out"));
                EXPECT_NE(std::find(recs.begin(), recs.end(), total_line(2000)), recs.end());
              }});
  std::string names, data;
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
  expect_run(
      {.name = "NV 10 with cross products",
       .files = korbal_files(
           control_of("  3 10  1 -1  0  0  0  0  0  0  0  1", "(4I3,10F5.1)", names), data),
       .check = [](const fs::path& dir, const Ran&) {
         const std::string inter = read_file(dir / "MERIDOX_IN.DAT");
         EXPECT_EQ(inter.substr(0, 18), "  10   1   4   1\r\n");
         // 55 analyses, each closed by its error record
         const auto recs = records_of(inter);
         EXPECT_EQ(std::count_if(recs.begin(), recs.end(),
                                 [](const std::string& r) { return r.find(" - BY - ") != r.npos; }),
                   45);
       }});
}

// Control files that end early or hold text where numbers belong: a run-time error on
// the console (exit 2), no closing page, and the report as far as it was written.
TEST(BadControl, ShortOrUnreadableControlFile) {
  const std::string dims = "  3  1  0 -1  0  0  0  0  0  0  0  1\n";
  for (const auto& [name, control, message] : std::vector<std::array<std::string, 3>>{
           {"letters in the dimension record", "  3  a  0\n",
            ", record 1: invalid character in integer field 'a' (columns 4-6)"},
           {"title missing", dims, ": end of file after record 1"},
           {"names missing", dims + "TITLE\n", ": end of file after record 2"},
           {"data format missing", dims + "TITLE\nYIELD\n", ": end of file after record 3"}})
    expect_run({.name = name, .files = korbal_files(control), .status = 2,
                .last_line = read_error(5, "c.ctl", message),
                .unsaid = {"Stop - Program terminated."}, .no_closing_page = true});
}

// Data formats that cannot be used: exit 2 with the message, and no output at all.
TEST(BadDataFormat, RefusedWithARunTimeError) {
  const std::string nested17 = std::string(17, '(') + "I3" + std::string(17, ')');
  const std::string unbalanced = format_error("(4I3,F8.2", "missing ')' (format position 1)");
  for (const auto& [name, fmt, message] : std::vector<std::array<std::string, 3>>{
           {"unbalanced", "(4I3,F8.2", unbalanced},
           {"empty", "", format_error("", "must begin with '(' (format position 81)")},
           {"not a format", "4I3,F8.2",
            format_error("4I3,F8.2", "must begin with '(' (format position 1)")},
           {"unknown descriptor", "(4I3,Q8.2)",
            format_error("(4I3,Q8.2)", "unknown edit descriptor 'Q' (format position 6)")},
           {"nested 17 deep", nested17,
            format_error(nested17, "parentheses nested deeper than 16 (format position 17)")},
           {"repeat count 0", "(0I3,F8.2)",
            format_error("(0I3,F8.2)", "repeat count of zero (format position 2)")},
           {"repeat count 999999999", "(999999999I3,F8.2)",
            format_error("(999999999I3,F8.2)", "repeat count larger than 32767 (format position 2)")},
           {"wider than 80 columns: cut at 80", "(4I3,F8.2" + std::string(72, ' ') + ",1X)",
            unbalanced},
           {"no data descriptor", "()",
            read_error(1, "d.dat",
                       ": items remain but the format has no data descriptor to take them (format "
                       "position 2 of ()" + std::string(78, ' ') + ")")}})
    expect_run({.name = name, .files = korbal_files(control_of(kPlainDims, fmt)), .status = 2,
                .last_line = message, .files_after = kKorbalInputs});
}

// Formats at their limits are accepted and read the data.
TEST(BadDataFormat, AtTheLimitsAccepted) {
  const std::string nested16 = std::string(15, '(') + "4I3,F8.2" + std::string(15, ')');
  ASSERT_EQ(plain_run().status, 0);
  for (const auto& [name, fmt] : Files{{"nested 16 deep", "(" + nested16 + ")"},
                                       {"80 columns", "(4I3," + std::string(66, ' ') + "F8.2)"},
                                       {"repeat count 32767 on X after the items", "(4I3,F8.2,32767X)"}})
    expect_run({.name = name, .files = korbal_files(control_of(kPlainDims, fmt)),
                .contents = {{"MERIDOX_IN.DAT", plain_run().files.at("MERIDOX_IN.DAT")}}});
}

// Data lines that cannot be read: exit 2, the console message, and no output at all.
TEST(BadDataLines, ConversionErrors) {
  std::string garbage = "\x7f" "ELF\x02\x01\x01";
  garbage += std::string("\0\0\xff\x10\n\x90\x91\x92\n", 10);
  const std::string in_record = ", record 1: invalid character in ";
  for (const auto& [name, data, message] : std::vector<std::array<std::string, 3>>{
           {"letter in a real field", "  1  1  2  0   1O.00\n",
            in_record + "real field '1O.00' (columns 13-20)"},
           {"letter in an identifier", "  1  1  2  0   10.00\n  1  x  3  0   12.00\n",
            ", record 2: invalid character in integer field 'x' (columns 4-6)"},
           {"tab in a field", "  1\t 1  2  0   10.00\n",
            in_record + "integer field '\\x09 1' (columns 4-6)"},
           {"binary garbage", garbage, in_record + "integer field '\\x7FEL' (columns 1-3)"},
           {"a few megabytes on one line", std::string(3 << 20, '1'),
            ", record 1: record longer than 65536 characters"}})
    expect_run({.name = name, .files = korbal_files(control_of(kPlainDims), data), .status = 2,
                .last_line = read_error(1, "d.dat", message),
                .unsaid = {"Number of data lines read"}, .files_after = kKorbalInputs});
}

// Identifiers outside their ranges: each line reported, then JOB TERMINATED (exit 1);
// the analysis is skipped.
TEST(BadDataLines, IdentifiersOutOfRange) {
  // layout 3: ILOC IREP ISET IFEM IMALE ICLONE Y, 2 locations, 2 replications, 2 clones
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
  expect_run(
      {.name = "identifiers out of range",
       .files = korbal_files(control_of("  3  1  0 -1  0  0  2  2  0  0  0  1  2", "(6I3,F8.2)"),
                             data),
       .status = 1, .said = {"\nNumber of data lines read:    11\n"},
       .report_end = Lines{
           "0 DATA LINE       2:   ILOC =       3 IS OUTSIDE 1 TO     2",
           "0 DATA LINE       3:   IREP =       0 IS OUTSIDE 1 TO     2",
           "0 DATA LINE       4:   ISET =       2 IS OUTSIDE 1 TO     1",
           "0 DATA LINE       5:   IFEM =       4 IS OUTSIDE 1 TO     3",
           "0 DATA LINE       6:  IMALE =      -1 IS OUTSIDE 1 TO     3",
           "0 DATA LINE       7: ICLONE =       3 IS OUTSIDE 1 TO     2",
           "0 DATA LINE       8:   IFEM =       0 IS OUTSIDE 1 TO     3",
           "0 DATA LINE       9:  IMALE =       0 IS OUTSIDE 1 TO     3",
           "0       8 DATA LINES HAVE IDENTIFIERS OUTSIDE THEIR RANGES ,JOB TERMINATED"}});
}

// Line ends and short lines: CR LF, LF, a mix of both, a missing last line end, a line
// cut short by the end of the file, and self lines all give the same analysis as the
// clean file.
TEST(BadDataLines, LineEndsAndShortLinesGiveTheSameAnalysis) {
  const Result& ref = plain_run();
  ASSERT_EQ(ref.status, 0);
  const std::string body = kPlainData.substr(0, kPlainData.rfind("  1  0  0  0"));
  std::string crlf_all, mixed, paired;  // paired: for a format of two records
  {
    std::istringstream in(kPlainData);
    int n = 0;
    for (std::string l; std::getline(in, l);) {
      crlf_all += l + "\r\n";
      mixed += l + (n++ % 2 ? "\r\n" : "\n");
      if (l.size() > 12) paired += l.substr(0, 12) + "\n" + l.substr(12) + "\n";
    }
  }
  const std::string inter = ref.files.at("MERIDOX_IN.DAT");
  for (const auto& [name, data] :
       Files{{"CR LF", crlf_all},
             {"CR LF and LF mixed", mixed},
             {"no line end after the last line", kPlainData.substr(0, kPlainData.size() - 1)},
             {"no terminating line", body},
             {"self lines", "  1  1  1  0   99.00\n" + body + "  1  3  3  0   77.00\n"}})
    expect_run({.name = name, .files = korbal_files(control_of(kPlainDims), data),
                .contents = {{"MERIDOX_IN.DAT", inter}, {"r.out", ref.files.at("r.out")}}});
  expect_run({.name = "a line cut short by the end of the file",
              .files = korbal_files(control_of(kPlainDims, "(4I3,/,F8.2)"), paired + "  1  1  2"),
              .contents = {{"MERIDOX_IN.DAT", inter}}});
}

// Missing files, files named twice, and the prompt for a name typed at the console.
TEST(BadFiles, KorbalMissingAndDoubledFiles) {
  const std::string control = control_of(kPlainDims);
  const std::string ask = "\nFile name missing or blank - please enter file name\nUNIT ";
  const Case cases[] = {
      {.name = "control file missing from the command line",
       .args = Lines{"no.ctl", "r.out", "d.dat"}, .files = {{"d.dat", kPlainData}}, .status = 2,
       .last_line = open_error(5, "no.ctl", "file not found"), .files_after = Names{"d.dat"}},
      // Every input named is looked for before any output is created.
      {.name = "data file missing from the command line",
       .args = Lines{"c.ctl", "r.out", "no.dat"}, .files = {{"c.ctl", control}}, .status = 2,
       .last_line = "Run-time error: OPEN of command-line argument 3, file 'no.dat': file not found",
       .files_after = Names{"c.ctl"}},
      {.name = "names typed at the prompt: a missing one is asked for again",
       .args = Lines{}, .files = korbal_files(control),
       .input = "no.ctl\nc.ctl\nr.out\nno.dat\nd.dat\n",
       .said = {ask + "5? \nFile 'no.ctl' for unit 5 was not found" + ask + "5? ",
                ask + "1? \nFile 'no.dat' for unit 1 was not found" + ask + "1? "},
       .files_after = kKorbalOutputs},
      {.name = "the console input ends while a name is asked for", .args = Lines{}, .status = 2,
       .last_line = "Run-time error: OPEN on unit 5: end of console input while asking for a "
                    "file name",
       .files_after = Names{}},
  };
  for (const auto& c : cases) expect_run(c);
  const std::string not_found = "Run-time error: OPEN of command-line argument 3, file '";
  const struct Row {
    const char* name;
    Lines args;
    std::string message;
  } doubled[] = {
      {"report named as the control file", {"c.ctl", "c.ctl", "d.dat"},
       open_error(6, "c.ctl", "the file is already open on unit 5")},
      {"data file named as the report, before either exists", {"c.ctl", "r.out", "r.out"},
       not_found + "r.out': file not found"},
      {"data file named as the interchange file, before either exists",
       {"c.ctl", "r.out", "MERIDOX_IN.DAT"}, not_found + "MERIDOX_IN.DAT': file not found"},
      {"data file named as the report", {"c.ctl", "d.dat", "d.dat"},
       open_error(6, "d.dat", kTheData)},
      {"report named as the interchange file", {"c.ctl", "MERIDOX_IN.DAT", "d.dat"},
       open_error(3, "MERIDOX_IN.DAT", "the file is already open on unit 6")},
  };
  // The inputs are never overwritten.
  for (const auto& r : doubled)
    expect_run({.name = r.name, .args = r.args, .files = korbal_files(control), .status = 2,
                .last_line = r.message, .contents = {{"c.ctl", control}, {"d.dat", kPlainData}},
                .files_after = kKorbalInputs});
}

// --------------------------------------------------------------------------------
// meridox

std::string small_interchange() { return read_file(source_path("examples/small/MERIDOX_IN.DAT")); }

const std::string kOneEffect =
    "   1   0   2   1\n"
    "MEAN   1  10.00000    40.00000    \n"
    "GCA    3  10.00000    \n"
    "            YIELD           \n"
    "          120.0000    5.000000    \n"
    "      36  1.000000    \n";

const Names kMeridoxInput = {"in.dat"};
const Names kMeridoxOutputs = {"in.dat", "r.vc"};

// meridox in.dat r.vc on `input`, and its report.
std::string meridox_report(const std::string& name, const std::string& input, int status = 0) {
  return expect_run({.name = name, .program = "meridox", .files = {{"in.dat", input}}, .status = status})
      .files["r.vc"];
}

// The banner that every meridox report begins with: the report of a header refused with
// JOB TERMINATED, without its one line.
std::string meridox_banner() {
  const std::string r = meridox_report("the banner", "   1   0   0   1\n", 1);
  return r.substr(0, r.rfind("1 THE NUMBER OF EFFECTS"));
}

// An interchange file cut short after every record, and in the middle of every
// record: a run-time error (exit 2) whose message names the record, and no report (a
// failed run replaces no file).
TEST(BadInterchange, CutShortAnywhere) {
  Lines lines;  // the records, each with its line end
  const std::string text = small_interchange();
  for (std::size_t at = 0, end; at < text.size(); at = end) {
    end = std::min(text.find('\n', at), text.size() - 1) + 1;
    lines.push_back(text.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 11u);
  std::vector<Case> cases;
  std::string prefix;
  for (std::size_t k = 0; k + 1 < lines.size(); ++k) {
    prefix += lines[k];
    cases.push_back({.name = "cut after record " + std::to_string(k + 1), .program = "meridox",
                     .files = {{"in.dat", prefix}}, .status = 2,
                     .last_line = read_error(5, "in.dat", ": end of file after record " +
                                                              std::to_string(k + 1)),
                     .files_after = kMeridoxInput});
    // Half of the next record, without its line end: the cut record is read with
    // blanks for its missing columns, and the file ends before the records that
    // follow. (A last record without its line end is refused as well: see
    // SafeFiles.InterruptedInterchangeFileIsRefused.)
    if (k + 2 < lines.size())
      cases.push_back({.name = "cut inside record " + std::to_string(k + 2), .program = "meridox",
                       .files = {{"in.dat", prefix + lines[k + 1].substr(0, lines[k + 1].size() / 2)}},
                       .status = 2, .files_after = kMeridoxInput});
  }
  cases.push_back({.name = "a header cut short", .program = "meridox",
                   .files = {{"in.dat", "   1   0\r\n"}}, .status = 2,
                   .last_line = read_error(5, "in.dat", ": end of file after record 1, with 2 of "
                                                        "the 4 values of the list read")});
  for (const auto& c : cases) expect_run(c);
}

// Headers and records the arrays cannot hold or that are not numbers: JOB TERMINATED on
// the report after its banner (exit 1), or a run-time error and no report (exit 2).
TEST(BadInterchange, RefusedHeadersAndFields) {
  const std::string banner = meridox_banner();
  const std::string one_error =
      "   2   0   2   1\nMEAN   1  10.00000    40.00000    \nGCA    3  10.00000    \n"
      "            YIELD           \n          120.0000    5.000000    \n      36  1.000000    \n"
      "            HEIGHT          \n          120.0000    5.000000    \n      35  1.000000    \n";
  for (const auto& [name, input, tail] : std::vector<std::array<std::string, 3>>{
           {"NE 0", "   1   0   0   1\n", "1 THE NUMBER OF EFFECTS IS 0; IT MUST BE AT LEAST 1."},
           {"NE 20", "   1   0  20   1\n", "1 THE NUMBER OF EFFECTS IS 20; THE LIMIT IS 19."},
           {"NV 0", "   0   0   2   1\n", "1 THE NUMBER OF VARIABLES IS 0; IT MUST BE AT LEAST 1."},
           {"66 analyses", "  11   1   2   1\n", "1 THE NUMBER OF ANALYSES IS 66; THE LIMIT IS 55."},
           {"999 everywhere", " 999 999 999 999\n",
            "1 THE NUMBER OF EFFECTS IS 999; THE LIMIT IS 19."}})
    expect_run({.name = name, .program = "meridox", .files = {{"in.dat", input}}, .status = 1,
                .contents = {{"r.vc", banner + tail + "   JOB TERMINATED\r\n"}},
                .files_after = kMeridoxOutputs});
  expect_run({.name = "unequal error degrees of freedom", .program = "meridox",
              .files = {{"in.dat", one_error}}, .status = 1,
              .contents = {{"r.vc", banner + testsupport::crlf({
                  "1 ERROR DEGREES OF FREEDOM ARE NOT THE SAME; LAST ANALYSIS HAD   36 D.F. AND "
                  "THIS ONE,",
                  "0                                HEIGHT                      , HAS   35 D.F.;",
                  "0 JOB TERMINATED; CHECK ANALYSES GIVEN BY KORBAL"})}},
              .files_after = kMeridoxOutputs});
  const std::string invalid = ": invalid character in integer value '";
  for (const auto& [name, input, message] : std::vector<std::array<std::string, 3>>{
           {"a field of asterisks",
            "   1   0   2   1\nMEAN   1  10.00000    ************\nGCA    3  10.00000    \n",
            ", record 2: invalid character in real field '************' (columns 23-34)"},
           {"letters in the header", "   1   0   X   1\n", ", record 1" + invalid + "X' (columns 12-12)"},
           {"binary garbage", std::string("\x01\x02\xfe\xff\n\x80\n", 7),
            ", record 1" + invalid + "\\x01\\x02\\xFE\\xFF' (columns 1-4)"}})
    expect_run({.name = name, .program = "meridox", .files = {{"in.dat", input}}, .status = 2,
                .last_line = read_error(5, "in.dat", message), .files_after = kMeridoxInput});
}

// Two problems in one file: the banner once, each problem as it prints alone.
TEST(BadInterchange, TwoProblemsInOneFile) {
  const std::string banner = meridox_banner();
  const std::string done = "1\r\n\r\n\r\n     * * * AND ALL IS DONE * * *\r\n";
  auto body = [&](const std::string& r) {
    return r.substr(banner.size(), r.size() - banner.size() - done.size());
  };
  const std::string a = meridox_report("the small example", small_interchange());
  const std::string b = meridox_report("one effect", kOneEffect);
  expect_run({.name = "both", .program = "meridox",
              .files = {{"in.dat", small_interchange() + kOneEffect}},
              .contents = {{"r.vc", banner + body(a) + body(b) + done}}});
}

TEST(BadFiles, MeridoxMissingAndDoubledFiles) {
  const std::string ask = "\nFile name missing or blank - please enter file name\nUNIT 5? ";
  const Case cases[] = {
      {.name = "input missing from the command line", .program = "meridox",
       .args = Lines{"no.dat", "r.vc"}, .status = 2,
       .last_line = open_error(5, "no.dat", "file not found"), .files_after = Names{}},
      {.name = "input typed at the prompt: asked again", .program = "meridox", .args = Lines{},
       .files = {{"in.dat", kOneEffect}}, .input = "no.dat\nin.dat\nr.vc\n",
       .said = {ask + "\nFile 'no.dat' for unit 5 was not found" + ask},
       .files_after = kMeridoxOutputs},
      {.name = "report named as the input", .program = "meridox", .args = Lines{"in.dat", "in.dat"},
       .files = {{"in.dat", kOneEffect}}, .status = 2,
       .last_line = open_error(6, "in.dat", "the file is already open on unit 5"),
       .contents = {{"in.dat", kOneEffect}}, .files_after = kMeridoxInput},
      {.name = "input is a directory", .program = "meridox", .args = Lines{"sub", "r.vc"},
       .prepare = [](const fs::path& dir) { fs::create_directory(dir / "sub"); }, .status = 2,
       .last_line = open_error(5, "sub", "the name is a directory"), .files_after = Names{"sub"}},
  };
  for (const auto& c : cases) expect_run(c);
}

// --------------------------------------------------------------------------------
// The user's files

const std::string kEarlierReport = "1\r\n earlier report\r\n";
const std::string kEarlierInterchange = "   1   0   9   1\r\n";

// A folder with korbal's inputs, meridox's input and the files of an earlier run.
const Files kUserFiles = {
    {"c.ctl", control_of(kPlainDims)},       {"d.dat", kPlainData},
    {"in.dat", kOneEffect},                  {"r.out", kEarlierReport},
    {"r.vc", kEarlierReport},                {"MERIDOX_IN.DAT", kEarlierInterchange},
    {"keep/other.txt", "somebody's notes\n"}, {"keep/old.out", kEarlierReport}};

// Names that would destroy an input or a file that is not a report: the run stops with
// exit 2 and a message naming the file, before anything is created or replaced.
TEST(SafeFiles, RefusedOutputsReplaceNothing) {
  const std::string table_is = "Run-time error: the table './";
  const struct Row {
    const char* name;
    const char* program;
    Lines args;
    std::string typed;  // console input
    Files links;        // name, target ('=' : hard link)
    std::string message;
  } rows[] = {
      {"korbal: report and data swapped", "korbal", {"c.ctl", "d.dat", "r.out"}, "", {},
       open_error(6, "d.dat", kNotAReport)},
      {"korbal: control and report swapped", "korbal", {"d.dat", "c.ctl", "r.out"}, "", {},
       open_error(6, "c.ctl", kNotAReport)},
      {"korbal: a typed report name", "korbal", {}, "c.ctl\nd.dat\n", {},
       open_error(6, "d.dat", kNotAReport)},
      {"korbal: a report named by a link to another file", "korbal", {"c.ctl", "x.out", "d.dat"},
       "", {{"x.out", "keep/other.txt"}}, open_error(6, "x.out", kNotAReport)},
      {"korbal: data file named as the interchange file", "korbal",
       {"c.ctl", "r.out", "MERIDOX_IN.DAT"}, "", {}, open_error(3, "MERIDOX_IN.DAT", kTheData)},
      {"korbal: MERIDOX_IN.DAT a symbolic link to the data", "korbal", {"c.ctl", "n.out", "d.dat"},
       "", {{"MERIDOX_IN.DAT", "d.dat"}}, open_error(3, "MERIDOX_IN.DAT", kTheData)},
      {"korbal: MERIDOX_IN.DAT a hard link to the data", "korbal", {"c.ctl", "n.out", "d.dat"},
       "", {{"MERIDOX_IN.DAT", "=d.dat"}}, open_error(3, "MERIDOX_IN.DAT", kTheData)},
      {"korbal: the report a link to the control file", "korbal", {"c.ctl", "n.out", "d.dat"},
       "", {{"n.out", "c.ctl"}}, open_error(6, "n.out", "the file is already open on unit 5")},
      {"meridox: report and interchange swapped", "meridox", {"r.vc", "MERIDOX_IN.DAT"}, "", {},
       open_error(6, "MERIDOX_IN.DAT", kNotAReport)},
      {"meridox: the report a hard link to the input", "meridox", {"in.dat", "n.vc"}, "",
       {{"n.vc", "=in.dat"}}, open_error(6, "n.vc", "the file is already open on unit 5")},
      {"korbal: a CSV table a link to the data", "korbal", {"--csv", ".", "c.ctl", "n.out", "d.dat"},
       "", {{"anova.csv", "d.dat"}},
       table_is + "anova.csv' is the input file 'd.dat'; it is left as it is"},
      {"meridox: a CSV table a hard link to the input", "meridox", {"--csv", ".", "in.dat", "n.vc"},
       "", {{"components.csv", "=in.dat"}},
       table_is + "components.csv' is the input file 'in.dat'; it is left as it is"},
      {"a name taken exactly as given", "korbal", {" c.ctl", "n.out", "d.dat"}, "", {},
       open_error(5, " c.ctl", "file not found")},
      {"odd bytes of a name shown escaped", "meridox", {"in\x1b[2J\xff.dat", "n.vc"}, "", {},
       open_error(5, "in\\x1B[2J\\xFF.dat", "file not found")},
  };
  for (const auto& r : rows)
    expect_run({.name = r.name, .program = r.program, .args = r.args, .files = kUserFiles,
                .links = r.links, .input = r.typed, .status = 2, .last_line = r.message,
                .unchanged = "."});
}

// An output named by a link: the finished run replaces the link with its file and leaves
// the link's target as it was.
TEST(SafeFiles, LinksAreReplacedNeverTheirTargets) {
  const Result& ref = plain_run();
  ASSERT_EQ(ref.status, 0);
  for (const auto& [name, link, target] : std::vector<std::array<std::string, 3>>{
           {"MERIDOX_IN.DAT a symbolic link", "MERIDOX_IN.DAT", "keep/other.txt"},
           {"MERIDOX_IN.DAT a hard link", "MERIDOX_IN.DAT", "=keep/other.txt"},
           {"MERIDOX_IN.DAT a dangling link", "MERIDOX_IN.DAT", "keep/none.dat"},
           {"the report a symbolic link to an earlier report", "n.out", "keep/old.out"},
           {"the report a hard link to an earlier report", "n.out", "=keep/old.out"}})
    expect_run({.name = name, .args = Lines{"c.ctl", "n.out", "d.dat"}, .files = kUserFiles,
                .links = {{link, target}},
                .contents = {{"MERIDOX_IN.DAT", ref.files.at("MERIDOX_IN.DAT")}},
                .unchanged = "keep",
                .check = [&, link = link](const fs::path& dir, const Ran&) {
                  EXPECT_FALSE(fs::is_symlink(dir / link));
                  EXPECT_EQ(read_file(dir / "n.out").size(), ref.files.at("r.out").size());
                }});
}

// A full disk or a file-size limit is a run-time error: exit 2, never a cut file left
// as if all went well; the earlier report stays when its replacement failed, and the
// interchange file of a run whose report failed does not replace the earlier one.
TEST(SafeFiles, FailedWritesAreRunTimeErrors) {
  const std::map<std::string, std::string> earlier = {
      {"r.out", kEarlierReport}, {"r.vc", kEarlierReport}, {"MERIDOX_IN.DAT", kEarlierInterchange}};
  const std::string full = ": the file cannot be written: No space left on device";
  const Case cases[] = {
      {.name = "korbal report on /dev/full", .args = Lines{"c.ctl", "/dev/full", "d.dat"},
       .files = kUserFiles, .status = 2,
       .last_starts = "Run-time error: WRITE on unit 6, file '/dev/full', record ",
       .last_ends = full, .contents = earlier},
      {.name = "meridox report on /dev/full", .program = "meridox",
       .args = Lines{"in.dat", "/dev/full"}, .files = kUserFiles, .status = 2,
       .last_starts = "Run-time error: CLOSE on unit 6, file '/dev/full'", .last_ends = full,
       .contents = earlier},
      {.name = "korbal report past the file-size limit", .files = kUserFiles,
       .limit = "ulimit -f 1", .status = 2,
       .last_starts = "Run-time error: WRITE on unit 6, file 'r.out', record ",
       .last_ends = ": the file cannot be written: File too large; the earlier file is left as it was",
       .contents = earlier},
  };
  for (const auto& c : cases) expect_run(c);
}

// Starts `exe` in `dir` with the console on /dev/null and `console`, the signals that end
// a run at their default action.
pid_t spawn(const fs::path& dir, const std::string& exe, const Lines& args,
            const fs::path& console) {
  const std::string path = testsupport::program(exe);
  Lines all = {path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int sig : {SIGINT, SIGTERM, SIGPIPE}) std::signal(sig, SIG_DFL);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::chdir(dir.c_str()) != 0 || in < 0 || out < 0) ::_exit(127);
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
    for (const auto& [name, content] : kUserFiles) {
      fs::create_directories((dir / name).parent_path());
      if (name != "d.dat") write_file(dir / name, content);
    }
    ASSERT_EQ(::mkfifo((dir / "d.dat").c_str(), 0600), 0);
    const auto before = snapshot(dir.path());
    const pid_t pid = spawn(dir.path(), "korbal", {"c.ctl", "r.out", "d.dat"}, io / "console.txt");
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
      for (const auto& name : files_in(dir.path())) temps += name[0] == '.';
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
  const std::string cut = small_interchange();
  ASSERT_EQ(cut.substr(cut.size() - 2), "\r\n");
  const std::string refused = ": the last record lacks its line end; the file is cut short";
  for (const auto& [name, input, record] : std::vector<std::array<std::string, 3>>{
           {"without the last line end", cut.substr(0, cut.size() - 2), "11"},
           {"without the last LF", cut.substr(0, cut.size() - 1), "11"},
           {"a header without its line end", "   1   0   2", "1"}})
    expect_run({.name = name, .program = "meridox", .files = {{"in.dat", input}}, .status = 2,
                .last_line = read_error(5, "in.dat", ", record " + record + refused)});
}

// Lines piped to a program that pauses (the realistic example has negative F ratios)
// are never run, and the run goes on to its end.
TEST(SafeFiles, PausesNeverRunPipedLines) {
  const std::string touch = "touch ran\nyes\n";
  const std::string interchange = read_file(source_path("examples/realistic/MERIDOX_IN.DAT"));
  const std::string expected = read_file(source_path("examples/realistic/realistic.vc"));
  for (const auto& [name, typed] : Files{{"commands", touch + touch + touch},
                                         {"a line far longer than a pause line",
                                          std::string(1 << 20, 'y') + "\n" + touch},
                                         {"nothing", ""}})
    expect_run({.name = name, .program = "meridox", .args = Lines{"MERIDOX_IN.DAT", "r.vc"},
                .files = {{"MERIDOX_IN.DAT", interchange}}, .input = typed, .status = 0,
                .said = {"\nBad argument X in BETAI\n"}, .unsaid = {"Press Enter"},
                .contents = {{"r.vc", expected}}, .files_after = Names{"MERIDOX_IN.DAT", "r.vc"}});
}

}  // namespace
