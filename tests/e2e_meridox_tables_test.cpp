// meridox's CSV tables and genetic parameters, run as the real executable: the stored
// reports and tables of the shipped examples with --inbreeding 0 and 1, every number of
// the tables against the printed report, and a trial without replication from korbal's
// data file to meridox's tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "records/csv.h"
#include "support.h"

namespace fs = std::filesystem;
using testsupport::f_tail_even;
using testsupport::lines_of;
using testsupport::read_file;
using testsupport::run_in;
using testsupport::source_path;
using testsupport::TempDir;
using testsupport::trim;

namespace {

const std::string kMeridox = testsupport::program("meridox");
const std::string kKorbal = testsupport::program("korbal");
const char* const kTables[] = {"components.csv", "correlations.csv", "problems.csv", "genetics.csv"};

// A CSV table read strictly: LF line ends only, a header of the given columns, every
// record as many fields, no empty numeric field and no "nan" or "inf".
std::vector<std::map<std::string, std::string>> strict_table(const std::string& text,
                                                             const std::vector<std::string>& header) {
  std::vector<std::map<std::string, std::string>> rows;
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_TRUE(!text.empty() && text.back() == '\n');
  const auto records = rec::csv::parse(text);
  EXPECT_FALSE(records.empty());
  if (records.empty()) return rows;
  EXPECT_EQ(records[0], header);
  for (std::size_t r = 1; r < records.size(); ++r) {
    EXPECT_EQ(records[r].size(), header.size()) << "record " << r;
    if (records[r].size() != header.size()) continue;
    auto& row = rows.emplace_back();
    for (std::size_t c = 0; c < header.size(); ++c) {
      const std::string& v = records[r][c];
      EXPECT_TRUE(v.find("nan") == std::string::npos && v.find("inf") == std::string::npos) << v;
      row[header[c]] = v;
    }
  }
  return rows;
}

// Whether a CSV number agrees with a printed field to its printed digits, `unit` being
// the last printed decimal (0: an E13.4 field, four digits of its exponent's scale). A
// blank field stands for NA.
::testing::AssertionResult agrees(const std::string& csv, const std::string& printed, double unit) {
  const std::string p = trim(printed);
  if (p.empty() || csv == "NA") {
    if (p.empty() && csv == "NA") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "csv " << csv << " printed '" << printed << "'";
  }
  const double a = std::stod(csv), b = std::stod(p);
  if (unit == 0) unit = std::pow(10.0, std::stoi(p.substr(p.find('E') + 1)) - 4);
  const double tol = unit * 0.5 * (1 + 1e-9);
  if (std::abs(a - b) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "csv " << csv << " printed '" << printed << "'";
}

// --- the shipped examples -------------------------------------------------------------

TEST(MeridoxTables, ExamplesWithInbreedingAreReproducedExactly) {
  for (const std::string ex : {"small", "realistic"}) {
    for (const std::string f : {"0", "1"}) {
      SCOPED_TRACE(ex + " F = " + f);
      const fs::path src = source_path("examples/" + ex);
      TempDir tmp;
      fs::copy_file(src / "MERIDOX_IN.DAT", tmp / "MERIDOX_IN.DAT");
      const std::string report = ex + "_f" + f + ".vc", dir = "csv_f" + f;
      ASSERT_EQ(run_in(tmp.path(), kMeridox + " --inbreeding " + f + " --csv " + dir +
                                       " MERIDOX_IN.DAT " + report),
                0)
          << read_file(tmp / "console.txt");
      EXPECT_EQ(read_file(tmp / report), read_file(src / report)) << report;
      for (const char* t : kTables)
        EXPECT_EQ(read_file(tmp / dir / t), read_file(src / dir / t)) << dir << "/" << t;
    }
  }
}

// A command line that cannot be used ends the run before any report or table is written.
TEST(MeridoxTables, UnusableOptionsEndTheRunBeforeAnyOutput) {
  const struct {
    const char* options;
    const char* message;
  } cases[] = {
      {"--inbreeding 1.5", "Run-time error: option --inbreeding needs the inbreeding coefficient "
                           "of the parents, a number from 0 to 1, not '1.5'"},
      {"--inbreeding", "Run-time error: option --inbreeding needs the inbreeding coefficient of "
                       "the parents, a number from 0 to 1"},
      {"--csv plain/sub", "Run-time error: CSV folder '"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    TempDir tmp;
    fs::copy_file(source_path("examples/small/MERIDOX_IN.DAT"), tmp / "MERIDOX_IN.DAT");
    testsupport::write_file(tmp / "plain", "a file, not a folder\n");
    EXPECT_EQ(run_in(tmp.path(), kMeridox + " " + c.options + " MERIDOX_IN.DAT r.vc"), 2);
    EXPECT_NE(read_file(tmp / "console.txt").find(c.message), std::string::npos)
        << read_file(tmp / "console.txt");
    EXPECT_FALSE(fs::exists(tmp / "r.vc"));
  }
}

// Every number of the tables agrees with the printed report to the printed digits.
TEST(MeridoxTables, TablesAgreeWithThePrintedReport) {
  for (const std::string ex : {"small", "realistic"}) {
    SCOPED_TRACE(ex);
    const fs::path src = source_path("examples/" + ex);
    const auto lines = lines_of(read_file(src / (ex + "_f0.vc")));

    // The printed rows, in report order, by the table they stand in.
    std::vector<std::string> comp_rows, test_rows, genetic_rows, cor_rows;
    std::vector<std::string>* table = nullptr;
    for (const std::string& l : lines) {
      if (l.find("VARIANCE COMPONENTS FOR") != std::string::npos) table = &comp_rows;
      if (l.find("TESTS OF VARIANCE COMPONENTS") != std::string::npos) table = &test_rows;
      if (l.find("GENETIC PARAMETERS FOR") != std::string::npos) table = &genetic_rows;
      if (l.find("CORRELATIONS COMPUTED") != std::string::npos) table = &cor_rows;
      if (l.find("INVERSE OF THE") != std::string::npos || l.find("ALL IS DONE") != std::string::npos)
        table = nullptr;
      if (!table || l.size() < 6) continue;
      const bool named = l.compare(0, 5, "     ") == 0 && l[5] != ' ';  // tests, correlations
      const bool wide = l.size() >= 98 && l.compare(0, 45, std::string(45, ' ')) == 0 &&
                        l.compare(45, 4, "NAME") != 0 && l.compare(45, 9, "PARAMETER") != 0;
      if (table == &test_rows ? named && l.compare(5, 4, "ERR ") != 0
                              : table == &cor_rows ? named : wide)
        table->push_back(l);
    }

    ASSERT_FALSE(comp_rows.empty() || test_rows.empty() || genetic_rows.empty());
    const auto comp = strict_table(
        read_file(src / "csv_f0/components.csv"),
        {"problem", "trait_1", "trait_2", "component", "estimate", "sd", "ms", "denominator", "df1",
         "df2", "f", "p"});
    ASSERT_EQ(comp.size(), comp_rows.size());
    std::size_t t = 0;
    for (std::size_t i = 0; i < comp.size(); ++i) {
      const auto& r = comp[i];
      const std::string& l = comp_rows[i];
      SCOPED_TRACE(l);
      EXPECT_EQ(r.at("component"), trim(l.substr(45, 4)));
      EXPECT_TRUE(agrees(r.at("estimate"), l.substr(53, 20), 1e-8));
      EXPECT_TRUE(agrees(r.at("sd"), l.substr(73, 25), 1e-8));
      if (r.at("component") == "ERR") continue;
      ASSERT_LT(t, test_rows.size());
      const std::string& x = test_rows[t++];
      EXPECT_EQ(trim(x.substr(5, 4)), r.at("component"));
      EXPECT_TRUE(agrees(r.at("ms"), x.substr(22, 13), 0));
      EXPECT_TRUE(agrees(r.at("denominator"), x.substr(35, 13), 0));
      EXPECT_EQ(r.at("df1"), trim(x.substr(48, 8)));
      EXPECT_TRUE(agrees(r.at("df2"), x.substr(56, 8), 1e-2));
      EXPECT_TRUE(agrees(r.at("f"), x.substr(64, 10), 1e-3));
      EXPECT_TRUE(agrees(r.at("p"), x.size() > 74 ? x.substr(74, 9) : "", 1e-4));
    }
    EXPECT_EQ(t, test_rows.size());

    const auto gen = strict_table(read_file(src / "csv_f0/genetics.csv"),
                                  {"problem", "trait", "parameter", "estimate", "se"});
    ASSERT_EQ(gen.size(), genetic_rows.size());
    for (std::size_t i = 0; i < gen.size(); ++i) {
      SCOPED_TRACE(genetic_rows[i]);
      EXPECT_EQ(gen[i].at("parameter"), trim(genetic_rows[i].substr(45, 9)));
      EXPECT_TRUE(agrees(gen[i].at("estimate"), genetic_rows[i].substr(54, 19), 1e-8));
      EXPECT_TRUE(agrees(gen[i].at("se"), genetic_rows[i].substr(73, 25), 1e-8));
    }

    const auto cor = strict_table(read_file(src / "csv_f0/correlations.csv"),
                                  {"problem", "trait_1", "trait_2", "component", "correlation"});
    ASSERT_EQ(cor.size(), cor_rows.size());
    for (std::size_t i = 0; i < cor.size(); ++i) {
      SCOPED_TRACE(cor_rows[i]);
      const std::string printed = cor_rows[i].substr(19, 8);
      EXPECT_TRUE(agrees(cor[i].at("correlation"), printed == "********" ? "" : printed, 1e-4));
    }
    const auto problems = strict_table(read_file(src / "csv_f0/problems.csv"), {"problem", "status", "note"});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].at("status"), "ok");
  }
}

// --- a trial without replication -------------------------------------------------------

// Griffing's maize half diallel of 9 parents without selfs, one plot per cross: korbal's
// layout without locations and replications, one set, no self columns, three traits.
// Writes the control and data files into `tmp` and runs korbal there.
void unreplicated_trial(const TempDir& tmp) {
  const auto csv = rec::csv::parse(read_file(source_path("tests/data/griffing56.csv")));
  ASSERT_EQ(csv.size(), 37u);
  ASSERT_EQ(csv[0], (std::vector<std::string>{"Par1", "Par2", "Yield", "Cob", "Shelled"}));
  std::ofstream data(tmp / "g.dat");
  char buf[80];
  for (std::size_t i = 1; i < csv.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%3d%3d%3d%3d%8.2f%8.2f%8.2f\n", 1, std::stoi(csv[i][0]),
                  std::stoi(csv[i][1]), 0, std::stod(csv[i][2]), std::stod(csv[i][3]),
                  std::stod(csv[i][4]));
    data << buf;
  }
  data << "  0  0  0  0\n";
  data.close();
  // NLINES 9, NV 3, no cross products, ISELF -1, no MATR, RECP, REPS or LOC, NSETS 1.
  testsupport::write_file(tmp / "g.ctl",
                          "  9  3  0 -1  0  0  0  0  0  0  0  1  0  0  0\n"
                          "GRIFFING 1956 MAIZE HALF DIALLEL\n"
                          "YIELD               COB                 SHELLED\n"
                          "(4I3,3F8.2)\n");
  ASSERT_EQ(run_in(tmp.path(), kKorbal + " g.ctl g.out g.dat"), 0) << read_file(tmp / "console.txt");
}

TEST(MeridoxTables, TrialWithoutReplicationTestsGcaAgainstSca) {
  TempDir tmp;
  unreplicated_trial(tmp);
  if (HasFatalFailure()) return;
  ASSERT_EQ(run_in(tmp.path(), kMeridox + " --csv csv MERIDOX_IN.DAT g.vc"), 0)
      << read_file(tmp / "console.txt");
  // The SCA tests have nothing left to test against; the GCA tests are defined.
  const std::string console = read_file(tmp / "console.txt");
  EXPECT_EQ(console.find("DF2(          2)"), std::string::npos) << console;
  EXPECT_NE(console.find("DF2(          3) is zero"), std::string::npos) << console;

  const auto rows = rec::csv::parse(read_file(tmp / "csv/components.csv"));
  bool seen = false;
  for (const auto& r : rows) {
    if (r.size() != 12 || r[1] != "YIELD" || r[3] != "GCA") continue;
    seen = true;
    EXPECT_EQ(r[8], "8");
    EXPECT_NEAR(std::stod(r[9]), 27.0, 1e-5);
    const double f = std::stod(r[10]), p = std::stod(r[11]);
    EXPECT_NEAR(f, 2325.747 / 339.4389, 1e-4);
    EXPECT_NEAR(p, f_tail_even(f, 8, 27.0), 1e-7);
    EXPECT_NEAR(p, 6.5e-5, 0.1e-5);
  }
  EXPECT_TRUE(seen);
}

}  // namespace

namespace {

// --- an external error (--error FILE) ---------------------------------------------------

const std::string kNotEstimable =
    "0 NOTE: THE ERROR VARIANCE IS NOT ESTIMABLE (0 ERROR DEGREES OF FREEDOM); GIVE ONE WITH "
    "--error FILE";
std::string error_line(const std::string& text) { return "0" + std::string(44, ' ') + text; }

std::size_t count_lines(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// The unreplicated trial without and with an error from a file: the analyses it names
// take its mean square and degrees of freedom, and the report says where each error
// came from; an analysis left with 0 error degrees of freedom gets the note, once.
TEST(MeridoxTables, ExternalErrorReplacesTheErrorOfAnUnreplicatedTrial) {
  TempDir tmp;
  unreplicated_trial(tmp);
  if (HasFatalFailure()) return;
  testsupport::write_file(tmp / "two.csv", "trait_1,trait_2,ms,df\nYIELD,YIELD,150.5,40\n\n COB , COB ,2.25,40\n");
  testsupport::write_file(tmp / "all.csv",
                          "trait_1,trait_2,ms,df\nYIELD,YIELD,150.5,40\nCOB,COB,2.25,40\n"
                          "SHELLED,SHELLED,98,40\n");
  const struct {
    const char* option;
    std::size_t notes;
    std::vector<std::string> error_lines;
  } cases[] = {
      {"", 1, {}},
      {"--error two.csv ", 1,
       {"ERROR MEAN SQUARE FROM 'two.csv': MS = .1505E+03, DF = 40",
        "ERROR MEAN SQUARE FROM 'two.csv': MS = .2250E+01, DF = 40",
        "ERROR MEAN SQUARE FROM 'MERIDOX_IN.DAT': MS = .0000E+00, DF = 0"}},
      {"--error=all.csv ", 0,
       {"ERROR MEAN SQUARE FROM 'all.csv': MS = .1505E+03, DF = 40",
        "ERROR MEAN SQUARE FROM 'all.csv': MS = .2250E+01, DF = 40",
        "ERROR MEAN SQUARE FROM 'all.csv': MS = .9800E+02, DF = 40"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    ASSERT_EQ(run_in(tmp.path(), kMeridox + " " + c.option + "--csv csv MERIDOX_IN.DAT g.vc"), 0)
        << read_file(tmp / "console.txt");
    const auto lines = lines_of(read_file(tmp / "g.vc"));
    EXPECT_EQ(count_lines(lines, kNotEstimable), c.notes);
    std::vector<std::string> sources;
    for (const std::string& l : lines)
      if (l.find("ERROR MEAN SQUARE FROM") != std::string::npos) sources.push_back(l);
    std::vector<std::string> want;
    for (const std::string& l : c.error_lines) want.push_back(error_line(l));
    EXPECT_EQ(sources, want);
    // Yield: the error 150.5 on 40 DF; SCA is what the error leaves of MS(SCA) 339.4389
    // and is tested against the error: F(27, 40), its tail that of F(40, 27) below 1/F.
    for (const auto& r : rec::csv::parse(read_file(tmp / "csv/components.csv"))) {
      if (r.size() != 12 || r[1] != "YIELD") continue;
      SCOPED_TRACE(r[3]);
      if (c.error_lines.empty()) {
        if (r[3] == "ERR") {
          EXPECT_EQ(r[8], "0");
        }
        continue;
      }
      if (r[3] == "ERR") {
        EXPECT_EQ(r[4], "150.5");
        EXPECT_EQ(r[8], "40");
      }
      if (r[3] == "SCA") {
        EXPECT_NEAR(std::stod(r[4]), 339.4389 - 150.5, 1e-9);
        EXPECT_NEAR(std::stod(r[9]), 40.0, 1e-4);
        const double f = std::stod(r[10]), p = std::stod(r[11]);
        EXPECT_NEAR(f, 339.4389 / 150.5, 1e-9);
        // DF2 is 40 to single precision, which the 64-bit tail tells apart.
        EXPECT_NEAR(p, 1.0 - f_tail_even(1.0 / f, 40, 27.0), 1e-6 * p);
      }
    }
  }
}

// An error file that cannot be used ends the run with exit status 2 and a message that
// names the file, the record and the field; before any output exists, except for a row
// whose traits no analysis has, which only the end of the interchange file can tell.
TEST(MeridoxTables, UnusableErrorFilesEndTheRun) {
  TempDir tmp;
  unreplicated_trial(tmp);
  if (HasFatalFailure()) return;
  const std::string where = "Run-time error: READ of the error file 'e.csv' (option --error)";
  const std::string header = "trait_1,trait_2,ms,df\n";
  const struct {
    const char* name;
    const char* file;  // nullptr: no such file
    std::string message;
    bool report;  // the report exists after the run
  } cases[] = {
      {"missing", nullptr, where + ": file not found", false},
      {"another header", "trait,trait_2,ms,df\nYIELD,YIELD,1,2\n",
       where + ": the first row is not the header trait_1,trait_2,ms,df", false},
      {"not a number", "YIELD,YIELD,1O.5,40\n", where + ", record 2: field 3 (ms): not a number '1O.5'", false},
      {"negative mean square", "YIELD,YIELD,-3,40\n",
       where + ", record 2: field 3 (ms): the error mean square of a trait must be positive, not '-3'", false},
      {"zero df", "COB,COB,2,0\n",
       where + ", record 2: field 4 (df): the degrees of freedom must be a whole number from 1, not '0'", false},
      {"negative df", "COB,COB,2,-4\n",
       where + ", record 2: field 4 (df): the degrees of freedom must be a whole number from 1, not '-4'", false},
      {"fractional df", "COB,COB,2,4.5\n",
       where + ", record 2: field 4 (df): the degrees of freedom must be a whole number from 1, not '4.5'", false},
      {"three fields", "COB,COB,2\n", where + ", record 2: 3 fields where the header has 4", false},
      {"an empty trait", ",COB,2,4\n", where + ", record 2: field 1 (trait_1) is empty", false},
      {"twice", "COB,COB,2,4\n\nCOB,COB,3,4\n",
       where + ", record 4: fields 1 and 2: the analysis of COB and COB has its error in record 2 already",
       false},
      {"an unknown trait", "COB,COB,2,4\nYEILD,YEILD,150,40\n",
       where + ", record 3: fields 1 and 2: no analysis of YEILD and YEILD in 'MERIDOX_IN.DAT'", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(tmp / "e.csv");
    fs::remove(tmp / "r.vc");
    if (c.file) testsupport::write_file(tmp / "e.csv", std::string(c.file).find("trait,") == 0 ? c.file : header + c.file);
    EXPECT_EQ(run_in(tmp.path(), kMeridox + " --error e.csv MERIDOX_IN.DAT r.vc"), 2);
    const auto console = lines_of(read_file(tmp / "console.txt"));
    ASSERT_FALSE(console.empty());
    EXPECT_EQ(console.back(), c.message);
    EXPECT_EQ(fs::exists(tmp / "r.vc"), c.report);
  }
  // A table of the run that is the error file is refused before anything is written.
  fs::remove(tmp / "r.vc");
  fs::create_directory(tmp / "csv");
  testsupport::write_file(tmp / "csv/problems.csv", header + "COB,COB,2,4\n");
  EXPECT_EQ(run_in(tmp.path(), kMeridox + " --csv csv --error csv/problems.csv MERIDOX_IN.DAT r.vc"), 2);
  EXPECT_EQ(lines_of(read_file(tmp / "console.txt")).back(),
            "Run-time error: the table 'csv/problems.csv' is the error file 'csv/problems.csv'; it "
            "is left as it is");
  EXPECT_FALSE(fs::exists(tmp / "r.vc"));
  EXPECT_EQ(read_file(tmp / "csv/problems.csv"), header + "COB,COB,2,4\n");
}

}  // namespace
