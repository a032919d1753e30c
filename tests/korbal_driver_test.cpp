// The run of korbal in-process: reports, console transcripts and exit status for the
// control-record paths, the column limit, the data listing and bad data lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "korbal_run.h"
#include "support.h"

namespace korbal {
namespace {

using testsupport::crlf;
using testsupport::dims;

using korbal_test::Outcome;
using korbal_test::run_korbal;

// Joins report records with CR LF.
std::string records(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

// `text` starting at column `col` of a record that holds `head` so far.
std::string at(std::string head, std::size_t col, const std::string& text) {
  head.resize(col - 1, ' ');
  return head + text;
}

const std::string kStars = at("0", 20, [] {
  std::string s;
  for (int i = 0; i < 23; ++i) s += " * *";
  return s;
}());

std::vector<std::string> banner() {
  return {"1",
          "",
          at(" ", 21,
             "* * * *  G E N E R A L  L E A S T  S Q U A R E S  D I A L L E L  A N A L Y S I S  "
             "* * * *"),
          at("0", 30, "KORBAL - least squares analysis of diallel mating experiments"),
          at(" ", 30, "general and specific combining ability, maternal and reciprocal effects"),
          at(" ", 30, "estimated from unbalanced data through the normal equations"),
          "",
          at(" ", 29,
             " * * * * * WITH DISCONNECTED DIALLEL SETS AND CLONAL REPLICATES * * * * *\t"),
          at("0", 30, "The model may hold locations, replications and disconnected sets,"),
          at(" ", 30, "selfs, family by location, clones, clones by location"),
          at(" ", 30, "and replications by family, as the control record selects."),
          at(" ", 30, "Every data line enters the normal equations directly;"),
          at(" ", 30, "the design matrix itself is never stored."),
          at(" ", 30, "The report gives the coefficients of the expected mean squares and"),
          at(" ", 30, "one analysis of variance per response variable, with analyses of"),
          at(" ", 30, "cross products for every pair of variables on request."),
          at(" ", 30, "Mean squares and coefficients are written to MERIDOX_IN.DAT."),
          kStars,
          ""};
}

const std::vector<std::string> kFolks = {"1", "", "",
                                         "0 * * * * T h a t 's  i t  f o l k s !  * * * *"};

const std::string kConsoleStart =
    "\nDiallel analysis started hh:mm:ss.hh\n"
    "\nOpening data files:"
    "\n>> Control data file will be read using Unit 5"
    "\n   "
    "\n>> Output file will be written using Unit 6"
    "\n. . . Input data file for MERIDOX will be created as"
    "\n. . . MERIDOX_IN.DAT"
    "\nAnalyzing problem dimensions hh:mm:ss.hh";

const std::string kConsoleEnd =
    "\n\nExecution time =    xxx.x seconds.\n"
    "\n\n* * * Input file for MERIDOX has been created as:"
    "\n      MERIDOX_IN.DAT"
    "\nStop - Program terminated.\n";

// Problem description lines from the title through the heading of the effect list.
std::vector<std::string> description(const std::string& title80, int nloc, int nrep, int p,
                                     int s, int nclon, int nv, const char* answer) {
  std::vector<std::string> l = {at(" ", 42, " Title:   " + title80), ""};
  char buf[64];
  if (nloc >= 1) {
    std::snprintf(buf, sizeof buf, "%4d", nloc);
    l.push_back(at(" ", 42, std::string(" Number of locations                    = ") + buf));
  }
  if (nrep >= 1) {
    std::snprintf(buf, sizeof buf, "%4d", nrep);
    l.push_back(at(" ", 42, std::string(" Number of replications                 = ") + buf));
  }
  const char* texts[] = {" Maximum number of male - female lines  = ",
                         " Number of diallel sets                 = ",
                         " Number of clones per cross             = ",
                         " Number of response variables           = "};
  const int values[] = {p, s, nclon, nv};
  for (int k = 0; k < 4; ++k) {
    std::snprintf(buf, sizeof buf, "%4d", values[k]);
    l.push_back(at(" ", 42, std::string(texts[k]) + buf));
  }
  l.push_back(at(" ", 42, std::string(" Analysis of crossproducts desired      - ") + answer));
  l.push_back(at(" ", 42, " Effects accounted for are : "));
  return l;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string effect(const char* code) { return at(" ", 72, code); }

TEST(Driver, BlankOrEmptyControlFileGivesOnlyTheClosingPage) {
  const std::string kNoVariables = "\nNo response variables (NV = 0): nothing was analysed";
  const std::string kNoRecord =
      "\nThe control file holds no dimension record: nothing was analysed";
  const struct {
    const char* control;
    const std::string& said;
  } cases[] = {{"\n", kNoVariables},
               {"", kNoRecord},
               {"                                             \n", kNoVariables}};
  for (const auto& k : cases) {
    const Outcome o = run_korbal(k.control);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.report, records(kFolks));
    EXPECT_TRUE(o.interchange_exists);
    EXPECT_EQ(o.interchange, "");
    EXPECT_EQ(o.console, kConsoleStart + k.said + kConsoleEnd);
  }
}

TEST(Driver, TooManyVariables) {
  const Outcome o = run_korbal(dims({2, 11}) + "TITLE\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.report, records(std::vector<std::string>{
                          "0The no. of response variables specified,  11 ,is greater than the "
                          "dimension of Y, which is  10 ,JOB TERMINATED"} +
                      kFolks));
  EXPECT_EQ(o.interchange, "");
  EXPECT_EQ(o.console, kConsoleStart +
                           "\n\nThe no. of response variables specified,  11 ,is greater than the "
                           "dimension of Y, which is  10 ,JOB TERMINATED" +
                           kConsoleEnd);
}

TEST(Driver, NegativeCountsAndDataUnitInUse) {
  struct Case {
    std::string record;
    std::string line;
  } cases[] = {
      {dims({-1, 1}), "0The value of NLINES specified,  -1 ,is negative, which is not allowed ,JOB TERMINATED"},
      {dims({4, -3}), "0The value of NV specified,  -3 ,is negative, which is not allowed ,JOB TERMINATED"},
      {dims({4, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -2}), "0The value of NSETS specified,  -2 ,is negative, which is not allowed ,JOB TERMINATED"},
      {dims({4, 1, 0, 0, 0, 0, 0, -1}), "0The value of NLOC specified,  -1 ,is negative, which is not allowed ,JOB TERMINATED"},
      {dims({4, 1, 0, 0, 0, 0, -9}), "0The value of NREP specified,  -9 ,is negative, which is not allowed ,JOB TERMINATED"},
      {dims({4, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, -1}), "0The value of NCLON specified,  -1 ,is negative, which is not allowed ,JOB TERMINATED"},
      {dims({4, 1, 0, 0, 0, 0, 0, 0, 0, 6, 0, 1}), "0The data unit specified, IDATA =   6 ,is already in use for the report or the MERIDOX file ,JOB TERMINATED"},
      {dims({4, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 1}), "0The data unit specified, IDATA =   3 ,is already in use for the report or the MERIDOX file ,JOB TERMINATED"},
  };
  for (const Case& k : cases) {
    const Outcome o = run_korbal(k.record + "TITLE\n");
    EXPECT_EQ(o.status, 1) << k.line;
    EXPECT_EQ(o.report, records(std::vector<std::string>{k.line} + kFolks));
    // The same line on the console, its carriage control a blank line.
    EXPECT_EQ(o.console, kConsoleStart + "\n\n" + k.line.substr(1) + kConsoleEnd);
  }
}

TEST(Driver, FullProblemDescriptionEffectListAndNames) {
  const std::string title = "A TRIAL OF THREE LINES";
  const std::string names =
      "PLANT HEIGHT        YIELD               DAYS TO FLOWER      EAR LENGTH\nOIL\n";
  const Outcome o = run_korbal(dims({3, 5, 1, 0, 1, 1, 2, 3, 0, 0, 0, 1, 0}) + title + "\n" +
                                   names + "(6I3,5F4.0)\n",
                               "  1  1  1  1  2  0   1   2   3   4   5\n"
                               "  2  2  1  2  3  0   2   2   3   4   1\n"
                               "  3  1  1  3  1  0   3   1   3   4   2\n");
  EXPECT_EQ(o.status, 0);
  const std::vector<std::string> expect =
      banner() + description(title + std::string(80 - title.size(), ' '), 3, 2, 3, 1, 0, 5, " YES") +
      std::vector<std::string>{effect("MEAN"), effect("LOC "), effect("REPS"), effect("SETS"),
                               effect("GCA "), effect("SCA "), effect("MATR"), effect("RECP"),
                               "0                                         Total number of effects =      26",
                               at(at("0", 42, " Variables analyzed are : "), 69, "PLANT HEIGHT    "),
                               at(" ", 69, "YIELD           "),
                               at(" ", 69, "DAYS TO FLOWER  "),
                               at(" ", 69, "EAR LENGTH      "),
                               at(" ", 69, "OIL             "),
                               kStars};
  const std::string prefix = records(expect);
  EXPECT_EQ(o.report.substr(0, prefix.size()), prefix);
  EXPECT_EQ(o.interchange.substr(0, 18), "   5   1   8   1\r\n");
  const std::string console_init = kConsoleStart +
                                   "\n\nBeginning initialization "
                                   "\nInitialization completed  hh:mm:ss.hh"
                                   "\n"
                                   "\nPlease enter input data set name"
                                   "\nReading problem dataset   hh:mm:ss.hh"
                                   "\nInput data format: (6I3,5F4.0)" +
                                   std::string(69, ' ') +
                                   "\nNumber of data lines read:     4"
                                   "\nSelf lines skipped:            0"
                                   "\nMatrices are complete     hh:mm:ss.hh";
  EXPECT_EQ(o.console.substr(0, console_init.size()), console_init);
}

TEST(Driver, ColumnLimit551StopsAfterTheHeading) {
  const Outcome o = run_korbal(dims({31, 1, 0, -1, 0, 0, 0, 53, 0, 0, 0, 1}) + "T\nY\n(5I3,F4.0)\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.report,
            records(banner() + description(std::string("T") + std::string(79, ' '), 53, 0, 31, 1, 0, 1, "  NO") +
                    std::vector<std::string>{
                        "0 More effects are initialized then provided for in the  dimension "
                        "statements, SDFL =   551 , and should be <= 550 , JOB TERMINATED"} +
                    kFolks));
  EXPECT_EQ(o.interchange, "");
  EXPECT_EQ(o.console, kConsoleStart + "\n\nBeginning initialization " +
                           "\n\n More effects are initialized then provided for in the  dimension "
                           "statements, SDFL =   551 , and should be <= 550 , JOB TERMINATED" +
                           kConsoleEnd);
}

TEST(Driver, ColumnLimit550IsAccepted) {
  const Outcome o = run_korbal(dims({31, 1, 0, -1, 0, 0, 0, 52, 0, 0, 0, 1}) + "T\nY\n(5I3,F4.0)\n",
                               "  1  1  1  2  0 1.0\n  2  1  1  3  0 2.0\n");
  EXPECT_EQ(o.status, 0);
  const std::string prefix = records(
      banner() + description(std::string("T") + std::string(79, ' '), 52, 0, 31, 1, 0, 1, "  NO") +
      std::vector<std::string>{effect("MEAN"), effect("LOC "), effect("SETS"), effect("GCA "),
                               effect("SCA "),
                               "0                                         Total number of effects =     550"});
  EXPECT_EQ(o.report.substr(0, prefix.size()), prefix);
  EXPECT_EQ(o.interchange.substr(0, 18), "   1   0   5   1\r\n");
}

// Lines of the data listing.
std::string listed(int fem, int male, std::initializer_list<int> cols) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " %5d%7d    ", fem, male);
  std::string s = buf;
  for (int c : cols) {
    std::snprintf(buf, sizeof buf, "%4d", c);
    s += buf;
  }
  return s;
}

std::string values(std::initializer_list<int> vx) {
  std::string s;
  for (int v : vx) s += v > 0 ? "  1." : " -1.";
  return at("+", 63, s);
}

TEST(Driver, DataListing) {
  const Outcome o = run_korbal(dims({3, 1, 0, -1, 1, 0, 0, 0, 0, 0, -1, 1}) + "T\nY\n(4I3,F6.1)\n",
                               "  1  1  2  0   5.0\n"
                               "  1  3  1  0   6.0\n"
                               "  1  2  2  0   9.0\n"
                               "  1  0  0  0\n");
  EXPECT_EQ(o.status, 0);
  const std::string prefix = records(
      banner() + description(std::string("T") + std::string(79, ' '), 0, 0, 3, 1, 0, 1, "  NO") +
      std::vector<std::string>{
          effect("MEAN"), effect("SETS"), effect("GCA "), effect("SCA "), effect("MATR"),
          "0                                         Total number of effects =      11",
          at(at("0", 42, " Variables analyzed are : "), 69, "Y               "), kStars,
          "1 FEMALE  MALE", "   LINE   LINE",
          at("    NO.    NO.      C O L U M N  N U M B E R  I N  (X)  ", 67,
             "V A L U E  I N  C O L U M N  O F   (X) "),
          "",
          listed(1, 2, {1, 2, 3, 4, 6, 9, 10}), values({1, 1, 1, 1, 1, 1, -1}),
          listed(3, 1, {1, 2, 3, 5, 7, 9, 11}), values({1, 1, 1, 1, 1, -1, 1})});
  EXPECT_EQ(o.report.substr(0, prefix.size()), prefix);
  // The self line is neither listed nor accumulated.
  EXPECT_EQ(o.report.find(listed(2, 2, {})), std::string::npos);
}

TEST(Driver, IdentifiersOutOfRangeAreReportedAndEndTheRun) {
  std::string data;
  data += "  1  4  2  0   1.0\n";  // IFEM beyond 3 lines
  data += "  2  1  2  0   1.0\n";  // second set of one
  data += "  1  0  2  0   1.0\n";  // only the female line is 0
  data += "  1  1  2  0   1.0\n";  // good
  for (int k = 0; k < 19; ++k) data += "  1  1  9  0   1.0\n";
  data += "  1  0  0  0\n";
  const Outcome o = run_korbal(dims({3, 1, 0, -1, 0, 0, 0, 0, 0, 0, 0, 1}) + "T\nY\n(4I3,F6.1)\n", data);
  EXPECT_EQ(o.status, 1);
  std::vector<std::string> lines = {"0 DATA LINE       1:   IFEM =       4 IS OUTSIDE 1 TO     3",
                                    "0 DATA LINE       2:   ISET =       2 IS OUTSIDE 1 TO     1",
                                    "0 DATA LINE       3:   IFEM =       0 IS OUTSIDE 1 TO     3"};
  for (int k = 0; k < 17; ++k) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "0 DATA LINE%8d:  IMALE =       9 IS OUTSIDE 1 TO     3", 5 + k);
    lines.push_back(buf);
  }
  lines.push_back("0      22 DATA LINES HAVE IDENTIFIERS OUTSIDE THEIR RANGES ,JOB TERMINATED");
  const std::string tail = records(std::vector<std::string>{kStars} + lines + kFolks);
  ASSERT_GE(o.report.size(), tail.size());
  EXPECT_EQ(o.report.substr(o.report.size() - tail.size()), tail);
  EXPECT_EQ(o.interchange, "   1   0   4   1\r\n");
  // Every line of the report's list is on the console too: the bad lines as they are
  // read, the total after the data pass.
  std::string said;
  for (std::size_t k = 0; k + 1 < lines.size(); ++k) said += "\n\n" + lines[k].substr(1);
  said += "\nNumber of data lines read:    24\nSelf lines skipped:            0"
          "\nMatrices are complete     hh:mm:ss.hh\n\n" + lines.back().substr(1) + kConsoleEnd;
  EXPECT_EQ(o.console.substr(o.console.size() - std::min(said.size(), o.console.size())), said);
}

TEST(Driver, LineCountIncludesTheTerminatingLineOrTheEndOfFile) {
  const std::string control = dims({3, 1, 0, -1, 0, 0, 0, 0, 0, 0, 0, 1}) + "T\nY\n(4I3,F6.1)\n";
  std::string ten;
  for (int k = 0; k < 10; ++k) ten += k % 2 ? "  1  1  2  0   1.0\n" : "  1  3  2  0   2.0\n";
  const struct {
    std::string data;
    const char* count;
  } cases[] = {{ten + "  1  0  0  0\n", "   11"},
               {ten, "   11"},
               {"", "    1"},
               {"\n" + ten, "    1"}};
  for (const auto& k : cases) {
    const Outcome o = run_korbal(control, k.data);
    EXPECT_NE(o.console.find(std::string("\nNumber of data lines read: ") + k.count + "\n"),
              std::string::npos)
        << k.count;
  }
}

TEST(Driver, RunTimeErrorsEndWithStatusTwo) {
  const std::string control = dims({3, 1, 0, -1, 0, 0, 0, 0, 0, 0, 0, 1}) + "T\nY\n";
  {
    const Outcome o = run_korbal(control + "(4I3,F6.1)\n", "  1  1  2  0   1.0\n  1  x  2  0   1.0\n");
    EXPECT_EQ(o.status, 2);
    const std::string expect = "\nRun-time error: READ on unit 1, file 'run.dat', record 2: ";
    EXPECT_NE(o.console.find(expect), std::string::npos) << o.console;
    EXPECT_EQ(o.console.find("Stop - Program terminated."), std::string::npos);
    EXPECT_EQ(o.console.find("Number of data lines read"), std::string::npos);
  }
  {
    const Outcome o = run_korbal(control + "(4I3,F6.1\n");
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.console.find("\nRun-time error: invalid data format (4I3,F6.1: "), std::string::npos)
        << o.console;
    EXPECT_EQ(o.console.find("Please enter input data set name"), std::string::npos);
  }
  {
    const Outcome o = run_korbal("  3  x\n");  // dimension record not numeric
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.console.find("\nRun-time error: READ on unit 5, file 'run.ctl', record 1: "),
              std::string::npos)
        << o.console;
    EXPECT_EQ(o.report, "");
  }
  {
    const Outcome o = run_korbal(dims({3, 1}));  // title record missing
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.console.find("Execution time"), std::string::npos);
  }
}

}  // namespace
}  // namespace korbal
