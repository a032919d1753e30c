// korbal on CSV data files, as a real executable: the published data sets read straight
// from their CSV files give the same analyses as the same data in fixed columns (the
// test converts them, numbering named parents itself), missing values leave their lines
// out, and bad CSV input is refused with a message naming what is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "records/csv.h"
#include "support.h"

namespace fs = std::filesystem;
using testsupport::lines_of;
using testsupport::read_file;
using testsupport::run_in;
using testsupport::source_path;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

struct KorbalRun {
  TempDir dir;
  int status = -1;
  std::string console;
  std::string report() const { return read_file(dir / "r.out"); }
  std::string interchange() const { return read_file(dir / "MERIDOX_IN.DAT"); }
};

// Runs korbal in a fresh directory on the control text and the data file `data`.
void korbal(KorbalRun& r, const std::string& control, const std::string& data_name,
            const std::string& data) {
  write_file(r.dir / "c.ctl", control);
  write_file(r.dir / data_name, data);
  const testsupport::Ran ran =
      testsupport::run_program(r.dir.path(), "korbal", {"c.ctl", "r.out", data_name});
  r.status = ran.status;
  r.console = ran.console;
}

// The report without the key of named levels (from its heading to the next page).
std::vector<std::string> without_key(const std::string& report) {
  std::vector<std::string> out;
  bool in_key = false;
  for (const auto& l : lines_of(report)) {
    if (l.find("Named levels of the data file") != std::string::npos) in_key = true;
    if (in_key && !l.empty() && l[0] == '1') in_key = false;
    if (!in_key) out.push_back(l);
  }
  return out;
}


std::string control(const std::string& dims, const std::string& names, const std::string& data) {
  return dims + "\nPUBLISHED DATA SET\n" + names + "\n" + data + "\n";
}

// Fixed-column data from CSV text: the identifier columns `ids` (in layout order; an
// empty name gives ISET 1 or ICLONE 0 by position) in I3 fields, the responses as
// written in F24.0 fields. Columns that are not all whole numbers are numbered in
// sorted order of their texts, the two parents (`fem`, `male`) over both columns.
std::string to_fixed(const std::string& csv, const std::vector<std::string>& ids,
                     const std::string& fem, const std::string& male,
                     const std::vector<std::string>& traits) {
  const auto recs = rec::csv::parse(csv);
  std::map<std::string, std::size_t> col;
  for (std::size_t k = 0; k < recs[0].size(); ++k) col[recs[0][k]] = k;
  auto whole = [&](const std::string& name) {
    for (std::size_t r = 1; r < recs.size(); ++r)
      if (recs[r][col[name]].find_first_not_of("0123456789") != std::string::npos) return false;
    return true;
  };
  std::map<std::string, std::map<std::string, int>> level;  // column -> text -> number
  for (const auto& name : ids) {
    if (name.empty() || whole(name)) continue;
    std::set<std::string> texts;
    const bool parent = name == fem || name == male;
    for (std::size_t r = 1; r < recs.size(); ++r) {
      if (parent) {
        texts.insert(recs[r][col[fem]]);
        texts.insert(recs[r][col[male]]);
      } else {
        texts.insert(recs[r][col[name]]);
      }
    }
    int n = 0;
    for (const auto& t : texts) level[name][t] = ++n;
    if (parent) level[fem] = level[male] = level[name];
  }
  std::string out;
  char buf[32];
  for (std::size_t r = 1; r < recs.size(); ++r) {
    for (std::size_t k = 0; k < ids.size(); ++k) {
      const std::string& name = ids[k];
      int v = k + 1 == ids.size() ? 0 : 1;  // "-": ICLONE 0, ISET 1
      if (!name.empty()) {
        const std::string& text = recs[r][col[name]];
        v = level.count(name) ? level[name][text] : std::stoi(text);
      }
      std::snprintf(buf, sizeof buf, "%3d", v);
      out += buf;
    }
    for (const auto& t : traits) {
      std::snprintf(buf, sizeof buf, "%24s", recs[r][col[t]].c_str());
      out += buf;
    }
    out += "\n";
  }
  return out;
}

TEST(CsvDataFiles, PublishedDataSetsGiveTheSameAnalysesAsFixedColumns) {
  const struct Case {
    const char* file;
    std::string dims, names, record, format;
    std::vector<std::string> ids;  // layout order, "" for "-"
    std::vector<std::string> traits;
    const char* key;  // a line the key of named levels must hold ("" for none)
  } cases[] = {
      {"hayman54", "  8  1  0 -1  1  1  2  0  0  1 -1  1  0  0  0", "DAYS TO FLOWER",
       "CSV Block - Par2 Par1 - Ftime", "(5I3,F24.0)", {"Block", "", "Par2", "Par1", ""},
       {"Ftime"}, "0                                           IFEM and IMALE (Par2, Par1)"},
      {"griffing56", "  9  3  1 -1  0  0  0  0  0  1  0  1  0  0  0",
       "YIELD                   COB                     SHELLED",
       "CSV - Par1 Par2 - Yield Cob Shelled", "(4I3,3F24.0)", {"", "Par1", "Par2", ""},
       {"Yield", "Cob", "Shelled"}, ""},
      {"zhang05", "  5  1  0 -1  0  0  2  2  1  1  0  1  0  0  0", "YIELD",
       "CSV Env Block - Par1 Par2 - Yield", "(6I3,F24.0)",
       {"Env", "Block", "", "Par1", "Par2", ""}, {"Yield"}, ""},
      {"diallelMET", "  6  1  0 -1  0  0  5 10  1  1  0  1  0  0  0", "YIELD",
       "CSV Env Block - Par1 Par2 - Yield", "(6I3,F24.0)",
       {"Env", "Block", "", "Par1", "Par2", ""}, {"Yield"},
       "                                                 6 = M"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string csv = read_file(source_path("tests/data/" + std::string(c.file) + ".csv"));
    ASSERT_FALSE(csv.empty());
    KorbalRun from_csv, fixed;
    korbal(from_csv, control(c.dims, c.names, c.record), "d.csv", csv);
    korbal(fixed, control(c.dims, c.names, c.format), "d.dat",
           to_fixed(csv, c.ids, c.ids[c.ids.size() - 3], c.ids[c.ids.size() - 2], c.traits));
    ASSERT_EQ(fixed.status, 0) << fixed.console;
    ASSERT_EQ(from_csv.status, 0) << from_csv.console;
    EXPECT_EQ(without_key(from_csv.report()), lines_of(fixed.report()));
    EXPECT_EQ(from_csv.interchange(), fixed.interchange());
    const auto report = lines_of(from_csv.report());
    if (*c.key) {
      EXPECT_NE(std::find(report.begin(), report.end(), c.key), report.end());
    } else {
      EXPECT_EQ(without_key(from_csv.report()), report);
    }
  }
}

// Ten lines of a 3-parent diallel without locations and replications.
const char* kDims = "  3  1  0 -1  0  0  0  0  0  1  0  1";
const char* kCsvHeader = "Set,Fem,Male,Y\n";
const char* kCsvBody =
    "1,A,B,10.00\n1,A,C,12.00\n1,B,A,11.00\n1,B,C,9.50\n1,C,A,8.00\n1,C,B,13.25\n";
const char* kFixedBody =
    "  1  1  2  0   10.00\n  1  1  3  0   12.00\n  1  2  1  0   11.00\n  1  2  3  0    9.50\n"
    "  1  3  1  0    8.00\n  1  3  2  0   13.25\n";

TEST(CsvDataFiles, LinesWithAMissingValueAreLeftOut) {
  KorbalRun from_csv, fixed;
  // A column name long enough to take the data record past 80 columns.
  const std::string y(80, 'Y');
  const std::string csv = "Set,Fem,Male," + y + "\n" + kCsvBody + "1,A,B,\n1,C,A,NA\n1,B,B,.\n";
  korbal(from_csv, control(kDims, "Y", "CSV Set Fem Male - " + y), "d.csv", csv);
  korbal(fixed, control(kDims, "Y", "(4I3,F8.2)"), "d.dat", kFixedBody);
  ASSERT_EQ(from_csv.status, 0) << from_csv.console;
  EXPECT_EQ(from_csv.interchange(), fixed.interchange());
  std::string report = from_csv.report();
  const std::string left_out = "0       3 DATA LINES WITH A MISSING VALUE WERE LEFT OUT\r\n";
  const auto at = report.find(left_out);
  ASSERT_NE(at, std::string::npos);
  report.erase(at, left_out.size());
  EXPECT_EQ(without_key(report), lines_of(fixed.report()));
  EXPECT_NE(from_csv.console.find("\n3 DATA LINES WITH A MISSING VALUE WERE LEFT OUT\n"),
            std::string::npos);
  EXPECT_NE(from_csv.console.find("Number of data lines read:     9"), std::string::npos);
}

// A CSV file whose last record lacks its line end may have been cut inside its last
// field: the run says so on the report and the console, and goes on with the value read.
TEST(CsvDataFiles, ALastLineWithoutLineEndIsReportedAndTheRunGoesOn) {
  const std::string notice = "THE LAST LINE OF THE DATA FILE HAS NO LINE END; WAS THE FILE CUT?";
  const std::string body = std::string(kCsvHeader) + kCsvBody + "1,C,B,13";
  KorbalRun ended;
  korbal(ended, control(kDims, "Y", "CSV Set Fem Male - Y"), "d.csv", body + "\n");
  ASSERT_EQ(ended.status, 0) << ended.console;
  const struct Case {
    const char* name;
    std::string tail;
    bool cut;
  } cases[] = {
      {"line end", "\n", false},         {"CR LF", "\r\n", false},
      {"blanks after the line end", "\n  \n \t", false},
      {"no line end", "", true},         {"a CR only", "\r", true},
      {"blanks at the end", "  ", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KorbalRun r;
    korbal(r, control(kDims, "Y", "CSV Set Fem Male - Y"), "d.csv", body + c.tail);
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.interchange(), ended.interchange());  // the last value is analysed
    std::string report = r.report();
    const std::string line = "0 " + notice + "\r\n";
    const auto at = report.find(line);
    EXPECT_EQ(at != std::string::npos, c.cut);
    EXPECT_EQ(r.console.find("\n" + notice + "\n") != std::string::npos, c.cut) << r.console;
    if (at != std::string::npos) report.erase(at, line.size());
    EXPECT_EQ(report, ended.report());
  }
  // The notice stands with the closing lines of the data pass, after the lines left out.
  KorbalRun r;
  korbal(r, control(kDims, "Y", "CSV Set Fem Male - Y"), "d.csv", body + "\n1,A,B,NA");
  const auto report = lines_of(r.report());
  const auto at = std::find(report.begin(), report.end(), "0 " + notice);
  ASSERT_NE(at, report.end());
  EXPECT_EQ(*(at - 1), "0       1 DATA LINES WITH A MISSING VALUE WERE LEFT OUT");
}

// Bad CSV input: exit status and the last console line or the end of the report.
TEST(CsvDataFiles, BadInputIsRefusedNamingWhatIsWrong) {
  const std::string head = kCsvHeader;
  const struct Case {
    const char* name;
    std::string record, csv;
    int status;
    std::string message;  // last console line (status 2) or last report line before the closing page
  } cases[] = {
      {"unknown column name", "CSV Set Female Male - Y", head + kCsvBody, 2,
       "Run-time error: invalid CSV data record: no column 'Female' for IFEM in the header of "
       "'d.csv' (its columns: Set, Fem, Male, Y)"},
      {"too few columns named", "CSV Set Fem Male Y", head + kCsvBody, 2,
       "Run-time error: invalid CSV data record: 4 columns given for the 5 items of the layout: "
       "ISET IFEM IMALE ICLONE Y1"},
      {"column number beyond the header", "CSV 1 2 3 - 5", head + kCsvBody, 2,
       "Run-time error: invalid CSV data record: column 5 for Y1, but the header of 'd.csv' has "
       "4 columns"},
      {"no parent column", "CSV Set - Male - Y", head + kCsvBody, 2,
       "Run-time error: invalid CSV data record: '-' for IFEM, which the model needs from every "
       "data line"},
      {"a number that is also a column name", "CSV Set Fem Male - 2", "Set,Fem,Male,2\n" +
       std::string(kCsvBody), 2,
       "Run-time error: invalid CSV data record: '2' for Y1 is both a column number (column 2, "
       "'Fem') and the name of column 4 of the header of 'd.csv'; a number means a column "
       "position: rename column 4 of the file"},
      {"no header line", "CSV 1 2 3 - 4", "1,1,2,10.00\n1,2,1,11\n1,1,3,12\n1,3,2,8\n", 2,
       "Run-time error: READ on unit 1, file 'd.csv', line 1: every field is a number, as in a "
       "data line: a header line naming the columns is required"},
      {"header only", "CSV Set Fem Male - Y", head, 2,
       "Run-time error: READ on unit 1, file 'd.csv': the file has no data after its header row"},
      {"empty file", "CSV Set Fem Male - Y", "", 2,
       "Run-time error: READ on unit 1, file 'd.csv': the file has no header row"},
      {"a quoted field with a comma", "CSV Set Fem Male - Y", head + kCsvBody + "1,A,B,\"12,5\"\n",
       2,
       "Run-time error: READ on unit 1, file 'd.csv', line 8: column 4 (Y): not a number '12,5'"},
      {"a text in a trait column", "CSV Set Fem Male - Y", head + "1,A,B,ten\n" + kCsvBody, 2,
       "Run-time error: READ on unit 1, file 'd.csv', line 2: column 4 (Y): not a number 'ten'"},
      {"a ragged record", "CSV Set Fem Male - Y", head + kCsvBody + "1,A,B\n", 2,
       "Run-time error: READ on unit 1, file 'd.csv', line 8: 3 fields where the header has 4"},
      {"a quote never closed", "CSV Set Fem Male - Y", head + "1,\"A,B,10\n" + kCsvBody, 2,
       "Run-time error: READ on unit 1, file 'd.csv', line 2: a quoted field is not closed"},
      {"a level name holding a line end", "CSV Set Fem Male - Y",
       head + kCsvBody + "1,\"A\r\nB\",C,7\n", 2,
       "Run-time error: READ on unit 1, file 'd.csv', line 8: column 2 (Fem): a level name may "
       "not hold a line end or NUL: 'A\\x0D\\x0AB'"},
      {"a level name holding NUL", "CSV Set Fem Male - Y",
       head + kCsvBody + std::string("1,C,B\0,7\n", 10), 2,
       "Run-time error: READ on unit 1, file 'd.csv', line 8: column 3 (Male): a level name may "
       "not hold a line end or NUL: 'B\\x00'"},
      {"a long value with odd bytes, cut", "CSV Set Fem Male - Y",
       head + "1,A,B,\xff" + std::string(99, '9') + "x\n" + kCsvBody, 2,
       "Run-time error: READ on unit 1, file 'd.csv', line 2: column 4 (Y): not a number "
       "'\\xFF" + std::string(79, '9') + "...' (101 characters)"},
      {"a column name with odd bytes", "CSV Set F\xc3\xa9m Male - Y", head + kCsvBody, 2,
       "Run-time error: invalid CSV data record: no column 'F\\xC3\\xA9m' for IFEM in the "
       "header of 'd.csv' (its columns: Set, Fem, Male, Y)"},
      {"more named parents than NLINES", "CSV Set Fem Male - Y",
       head + kCsvBody + "1,A,D,7\n1,D,B,7\n", 1,
       "0       2 DATA LINES HAVE IDENTIFIERS OUTSIDE THEIR RANGES ,JOB TERMINATED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KorbalRun r;
    korbal(r, control(kDims, "Y", c.record), "d.csv", c.csv);
    EXPECT_EQ(r.status, c.status);
    if (c.status == 2) {
      EXPECT_EQ(testsupport::last_console_line(r.console), c.message);
    } else {
      const auto report = lines_of(r.report());
      ASSERT_GE(report.size(), 5u);
      EXPECT_EQ(report[report.size() - 5], c.message);
    }
  }
  // The range errors name the text of the parent.
  KorbalRun r;
  korbal(r, control(kDims, "Y", "CSV Set Fem Male - Y"), "d.csv",
         head + kCsvBody + "1,A,D,7\n1,D,B,7\n");
  const auto report = lines_of(r.report());
  ASSERT_GE(report.size(), 7u);
  EXPECT_EQ(report[report.size() - 7],
            "0 DATA LINE       8:  IMALE = D (LEVEL     4) IS OUTSIDE 1 TO     3");
  EXPECT_EQ(report[report.size() - 6],
            "0 DATA LINE       9:   IFEM = D (LEVEL     4) IS OUTSIDE 1 TO     3");
}

// Every input is read once through the handle opened before any output: a FIFO works
// as a regular file does, and a device without end (/dev/zero) ends at the line bound.
TEST(CsvDataFiles, FifosAndDevicesAreReadOnceThroughTheirHandle) {
  const fs::path src = source_path("examples/csv");
  const std::string korbal = "timeout 60 '" + testsupport::program("korbal") + "' hayman54.ctl ";
  const std::string gcasca =
      "timeout 60 '" + testsupport::program("gcasca") + "' --csv out hayman54.ctl ";
  const struct Case {
    const char* name;
    std::string command;
    int status;
    std::string last_line;  // of the console
    std::vector<std::pair<std::string, std::string>> same;  // output, stored example file
  } cases[] = {
      {"korbal, data from a FIFO",
       "mkfifo f.csv && (cat hayman54.csv > f.csv &) && " + korbal + "r.out f.csv", 0,
       "Stop - Program terminated.", {{"r.out", "hayman54.out"}, {"MERIDOX_IN.DAT", "MERIDOX_IN.DAT"}}},
      {"korbal, /dev/zero as data", korbal + "r.out /dev/zero", 2,
       "Run-time error: READ on unit 1, file '/dev/zero', line 1: a line longer than 65536 "
       "characters", {}},
      {"gcasca, data and components from FIFOs",
       "mkfifo f.csv c.csv && (cat hayman54.csv > f.csv &) && (cat components.csv > c.csv &) && " +
           gcasca + "f.csv c.csv g.gca",
       0, "Stop - Program terminated.",
       {{"g.gca", "hayman54.gca"}, {"out/effects.csv", "csv/effects.csv"}}},
      {"gcasca, /dev/zero as components", gcasca + "hayman54.csv /dev/zero g.gca", 2,
       "Run-time error: READ on unit 4, file '/dev/zero', line 1: a line longer than 65536 "
       "characters", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    for (const char* f : {"hayman54.ctl", "hayman54.csv"}) fs::copy_file(src / f, tmp / f);
    fs::copy_file(src / "csv" / "components.csv", tmp / "components.csv");
    EXPECT_EQ(run_in(tmp.path(), c.command), c.status);
    EXPECT_EQ(testsupport::last_console_line(read_file(tmp / "console.txt")), c.last_line);
    for (const auto& [out, stored] : c.same) EXPECT_EQ(read_file(tmp / out), read_file(src / stored)) << out;
  }
}

// The CSV example: korbal and meridox reproduce the stored files byte for byte, korbal's
// tables included (crosses.csv names the parents by their letters).
TEST(CsvDataFiles, ExampleReportsAreReproducedExactly) {
  const fs::path src = source_path("examples/csv");
  TempDir tmp;
  for (const char* f : {"hayman54.ctl", "hayman54.csv"}) fs::copy_file(src / f, tmp / f);
  ASSERT_EQ(run_in(tmp.path(), "'" + testsupport::program("korbal") +
                                   "' --csv csv hayman54.ctl hayman54.out hayman54.csv"),
            0)
      << read_file(tmp / "console.txt");
  ASSERT_EQ(
      run_in(tmp.path(), "'" + testsupport::program("meridox") + "' MERIDOX_IN.DAT hayman54.vc"), 0)
      << read_file(tmp / "console.txt");
  for (const char* f : {"hayman54.out", "MERIDOX_IN.DAT", "hayman54.vc", "csv/ems.csv",
                        "csv/anova.csv", "csv/crosses.csv", "csv/levels.csv"})
    EXPECT_EQ(read_file(tmp / f), read_file(src / f)) << f;
}

}  // namespace
