// The user's files after a run that fails: every earlier output stays byte for byte as it
// was, no temporary file remains, and the failure is on the console and in the exit
// status. Each case starts from a folder holding the outputs of a good run of all three
// programs on the small example.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::run_in;
using testsupport::TempDir;
using testsupport::write_file;

using Snapshot = std::map<std::string, std::string>;  // relative path: content ("/" a folder)

// Every file under `dir` but the console capture.
Snapshot snapshot(const fs::path& dir) {
  Snapshot s;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = fs::relative(e.path(), dir).string();
    if (rel == "console.txt") continue;
    s[rel] = e.is_directory() ? "/" : read_file(e.path());
  }
  return s;
}

const std::string kKorbal = testsupport::program("korbal");
const std::string kMeridox = testsupport::program("meridox");
const std::string kGcasca = testsupport::program("gcasca");

const std::string kKorbalRun = kKorbal + " --csv csv small.ctl small.out small.dat";
const std::string kMeridoxRun = kMeridox + " --csv csv MERIDOX_IN.DAT small.vc";
const std::string kGcascaRun = kGcasca + " --csv csv small.ctl small.dat csv/components.csv small.gca";

// A folder with the example's inputs and the outputs of a good run of each program.
void good_runs(const fs::path& dir) {
  for (const char* f : {"small.ctl", "small.dat"})
    fs::copy_file(testsupport::source_path(std::string("examples/small/") + f), dir / f);
  for (const std::string& cmd : {kKorbalRun, kMeridoxRun, kGcascaRun})
    ASSERT_EQ(run_in(dir, cmd), 0) << cmd << read_file(dir / "console.txt");
}

TEST(SafeOutputs, AFailedRunLeavesEveryEarlierFileAsItWas) {
  const struct Case {
    const char* name;
    std::function<void(const fs::path&)> prepare;  // spoils the folder before the run
    std::string command;
    int status;
    std::string console;  // a text the console holds
  } cases[] = {
      {"korbal: MERIDOX_IN.DAT a folder",
       [](const fs::path& d) {
         fs::rename(d / "MERIDOX_IN.DAT", d / "kept.dat");
         fs::create_directory(d / "MERIDOX_IN.DAT");
       },
       kKorbalRun, 2, "file 'MERIDOX_IN.DAT': the name is a directory"},
      {"korbal: control file refused at record 1",
       [](const fs::path& d) { write_file(d / "small.ctl", "  8  x\n"); }, kKorbalRun, 2,
       "record 1: invalid character in integer field 'x'"},
      {"korbal: a data line that is not a number",
       [](const fs::path& d) { write_file(d / "small.dat", "  1  1  2  1  1   1O.00\n"); },
       kKorbalRun, 2, "invalid character in real field"},
      {"korbal: the report on a full disk", [](const fs::path&) {},
       kKorbal + " --csv csv small.ctl /dev/full small.dat", 2, "No space left on device"},
      {"korbal: the report named like one of its tables", [](const fs::path&) {},
       kKorbal + " --csv csv small.ctl csv/anova.csv small.dat", 2,
       "is also the output '"},
      {"korbal: an unknown option", [](const fs::path&) {},
       kKorbal + " --reml small.ctl small.out small.dat", 2,
       "unknown option '--reml'\nUsage: korbal [--csv DIR]"},
      {"korbal: an option given twice", [](const fs::path&) {},
       kKorbal + " --csv csv --csv=csv small.ctl small.out small.dat", 2,
       "option --csv is given twice"},
      {"korbal: self lines without self columns (ISELF -1)", [](const fs::path&) {},
       kKorbal + " --selfs small.ctl small.out small.dat", 2,
       "--selfs: self lines need ISELF 0 or more (ISELF is -1)"},
      {"korbal: a switch given a value", [](const fs::path&) {},
       kKorbal + " --selfs=yes small.ctl small.out small.dat", 2,
       "option --selfs takes no value"},
      {"meridox: a cut interchange file",
       [](const fs::path& d) {
         std::string t = read_file(d / "MERIDOX_IN.DAT");
         write_file(d / "MERIDOX_IN.DAT", t.substr(0, t.size() - 3));
       },
       kMeridoxRun, 2, "the file is cut short"},
      {"meridox: the report on a full disk", [](const fs::path&) {},
       kMeridox + " --csv csv MERIDOX_IN.DAT /dev/full", 2, "No space left on device"},
      {"meridox: an unknown option", [](const fs::path&) {},
       kMeridox + " --cvs csv MERIDOX_IN.DAT small.vc", 2,
       "unknown option '--cvs'\nUsage: meridox"},
      {"gcasca: components that cannot be read",
       [](const fs::path& d) { write_file(d / "csv/components.csv", "\x01\x02\n\"open"); },
       kGcascaRun, 2, "Run-time error"},
      {"gcasca: self lines without self columns (ISELF -1)", [](const fs::path&) {},
       kGcasca + " --selfs small.ctl small.dat csv/components.csv small.gca", 2,
       "--selfs: self lines need ISELF 0 or more (ISELF is -1)"},
      {"gcasca: the report named like its table", [](const fs::path&) {},
       kGcasca + " --csv csv small.ctl small.dat csv/components.csv csv/effects.csv", 2,
       "is also the output '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    good_runs(dir.path());
    c.prepare(dir.path());
    const Snapshot before = snapshot(dir.path());
    EXPECT_EQ(run_in(dir.path(), c.command), c.status);
    const std::string console = read_file(dir / "console.txt");
    EXPECT_NE(console.find(c.console), std::string::npos) << console;
    EXPECT_EQ(snapshot(dir.path()), before);  // byte for byte, and no temporary file
  }
}

// The report of a run that ended with JOB TERMINATED (its first record "0...") is the
// program's own: a corrected rerun replaces it.
TEST(SafeOutputs, TheReportOfATerminatedRunIsReplacedByTheRerun) {
  TempDir dir;
  good_runs(dir.path());
  const std::string control = read_file(dir / "small.ctl");
  write_file(dir / "small.ctl", " -8" + control.substr(3));  // NLINES negative
  ASSERT_EQ(run_in(dir.path(), kKorbalRun), 1);
  ASSERT_EQ(read_file(dir / "small.out").substr(0, 14), "0The value of ");
  write_file(dir / "small.ctl", control);
  EXPECT_EQ(run_in(dir.path(), kKorbalRun), 0) << read_file(dir / "console.txt");
  EXPECT_EQ(read_file(dir / "small.out"),
            read_file(testsupport::source_path("examples/small/small.out")));
}

// Counts of data lines that pass the printed field are printed whole.
TEST(SafeOutputs, LargeCountsOfDataLinesPrintWhole) {
  TempDir dir;
  write_file(dir / "c.ctl", testsupport::dims({3, 1, 0, -1, 0, 0, 0, 0, 0, 0, 0, 1}) +
                                "MANY LINES\nYIELD\n(4I3,F8.2)\n");
  std::string data;
  for (int i = 0; i < 100000; ++i)
    data += i % 2 ? "  1  1  2  0   10.00\n" : "  1  2  3  0   12.00\n";
  write_file(dir / "d.dat", data);
  ASSERT_EQ(run_in(dir.path(), kKorbal + " c.ctl r.out d.dat"), 0);
  // The read that meets the end of the file is counted.
  EXPECT_NE(read_file(dir / "console.txt").find("Number of data lines read: 100001"),
            std::string::npos);
  const std::string report = read_file(dir / "r.out");
  EXPECT_NE(report.find("Error 99998    "), std::string::npos);
  EXPECT_NE(report.find("Total 100000    "), std::string::npos);
}

}  // namespace
