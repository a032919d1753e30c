// Whole runs of meridox in-process over hand-written interchange files; the reports are
// compared byte for byte with text derived from the record layouts.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "meridox/meridox.h"
#include "records/io.h"
#include "support.h"

namespace {

using testsupport::crlf;

std::string sp(int n) { return std::string(static_cast<std::size_t>(n), ' '); }
// `text` right-justified in `width` columns.
std::string rj(const std::string& text, int width) {
  return sp(width - static_cast<int>(text.size())) + text;
}
std::string lines(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& l : v) s += l + "\r\n";
  return s;
}

struct Outcome {
  int status = -1;
  std::string report;
  std::string console;
};

Outcome run_meridox(const std::string& input, const std::string& console_in = "") {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "in.dat", input);
  std::istringstream in(console_in);
  std::ostringstream out;
  Outcome o;
  {
    rec::Io io({"in.dat", "out.rpt"}, in, out, dir.path());
    o.status = meridox::run(io);
  }
  o.report = testsupport::read_file(dir / "out.rpt");
  o.console = out.str();
  return o;
}

const std::string kBanner = lines({
    "1",
    "",
    " " + sp(19) +
        " * * * * * * * * E S T I M A T E D    V A R I A N C E   C O M P O N E N T S  * * * * "
        "* * * *",
    "",
    " " + sp(38) + "Components, standard deviations, F tests and correlations",
    "",
    " " + sp(44) + "by the method of moments for diallels.",
    "",
    " " + sp(19) +
        " * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * "
        "* * *",
    "",
    "",
});
const std::string kDone = crlf({"1", "", "", "     * * * AND ALL IS DONE * * *"});
const std::string kConsoleStart =
    "\n Calculation of variance components and their standard deviation\n\n"
    "Please enter input control file, e.g., MERIDOX_IN.dat\n\n"
    " Please enter output file name\n";
const std::string kConsoleStop = "\nStop - Program terminated.\n";

std::string label40(const std::string& text) { return text + sp(40 - static_cast<int>(text.size())); }

std::string components_heading(const std::string& label) {
  return lines({" ", "", "0" + sp(54) + "VARIANCE COMPONENTS FOR", "0" + sp(46) + label40(label), "",
                "", " " + sp(44) + "NAME" + sp(15) + "VALUE" + sp(13) + "STANDARD DEVIATION", ""});
}
std::string component_row(const std::string& name, const std::string& value,
                          const std::string& sd) {
  return " " + sp(44) + name + sp(4) + rj(value, 20) + rj(sd, 25) + "\r\n";
}
const std::string kTestsHeading = lines(
    {"", "", "", "", sp(10) + "TESTS OF VARIANCE COMPONENTS = 0", "",
     "  COMPONENT   VALUE         M.S.    DENOMINATOR      DF   DF2      F-RATIO  P-VALUE", ""});
const std::string kTestsEnd = lines({"", "", "", "", "", ""});

// What a run must give: the exit status, the report after the banner (closed by the
// "AND ALL IS DONE" page when `done`) and, when given, the whole console.
struct Expected {
  Expected(int s, std::string b, bool d = true, std::optional<std::string> c = {})
      : status(s), body(std::move(b)), done(d), console(std::move(c)) {}
  int status;
  std::string body;
  bool done;
  std::optional<std::string> console;
};

void expect_run(const std::string& input, const Expected& e) {
  const Outcome o = run_meridox(input);
  EXPECT_EQ(o.status, e.status);
  EXPECT_EQ(o.report, kBanner + e.body + (e.done ? kDone : ""));
  if (e.console) {
    EXPECT_EQ(o.console, *e.console);
  }
}

// The message of a run that ends its problems early.
std::string terminated(const std::string& line) { return crlf({line}); }

// One-way design: 3 groups of 2, E(MS GCA) = s2e + 2 s2g, E(MS MEAN) = s2e + 2 s2g + 6 s2m.
const std::string kOneWayGroups = crlf({
    "MEAN   1  2.000000    6.000000    ",
    "GCA    2  2.000000    .0000000    ",
});
const std::string kOneWayAnalysis = crlf({
    "            YIELD           ",
    "   0   0  600.0000    40.00000    ",
    "       3  5.000000    ",
});
const std::string kOneWayReport =
    lines({"1", "", "0" + sp(15) + "INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX",
           "0" + sp(10) + "    MEAN        GCA         ERR ",
           "0   MEAN      .1667      -.1667       .0000    ",
           "0   GCA       .0000       .5000      -.5000    ",
           "0   ERR       .0000       .0000       1.000    "}) +
    components_heading("            YIELD") + component_row("MEAN", "93.33333333", "81.78562764") +
    component_row("GCA ", "17.50000000", "14.23024947") +
    component_row("ERR ", "5.00000000", "3.16227766") + kTestsHeading +
    // MEAN against 2 s2g + s2e = MS(GCA): F(1, 2) = 15, P = 1 - sqrt(15/17).
    // GCA against MS(ERR): F(2, 3) = 8, P = (1 + 2 x 8 / 3)^(-3/2).
    lines({"     MEAN    .9333E+02    .6000E+03    .4000E+02       1    2.00    15.000    .0607",
           "     GCA     .1750E+02    .4000E+02    .5000E+01       2    3.00     8.000    .0627",
           "     ERR     .5000E+01    .5000E+01"}) +
    kTestsEnd;

TEST(MeridoxRun, OneWayDesignGivesTheClassicalEstimatesAndTests) {
  expect_run("   1   0   2   1\r\n" + kOneWayGroups + kOneWayAnalysis,
             {0, kOneWayReport, true, kConsoleStart + kConsoleStop});
}

// An empty file holds no problem: korbal stopped before it wrote one.
TEST(MeridoxRun, EmptyInputIsARunTimeErrorThatPointsToKorbal) {
  expect_run("", {2, "", false,
                  kConsoleStart +
                      "\nThe file 'in.dat' holds no complete problem: look at korbal's report "
                      "for the reason.\nRun-time error: READ on unit 5, file 'in.dat': end of "
                      "file where the first problem is due\n"});
}

// Mean only, ITEST 0: no tests table.
const std::string kMeanOnlyInput = crlf({
    "1 0 1 0",
    "MEAN   1  4.000000    ",
    "            HEIGHT          ",
    "   0   0  100.0000    ",
    "       3  2.000000    ",
});
const std::string kMeanOnlyReport =
    lines({"1", "", "0" + sp(15) + "INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX",
           "0" + sp(10) + "    MEAN        ERR ", "0   MEAN      .2500      -.2500    ",
           "0   ERR       .0000       1.000    "}) +
    components_heading("            HEIGHT") + component_row("MEAN", "24.50000000", "20.41486387") +
    component_row("ERR ", "2.00000000", "1.26491106");

TEST(MeridoxRun, TwoProblemsShareOneBanner) {
  expect_run("   1   0   2   1\r\n" + kOneWayGroups + kOneWayAnalysis + kMeanOnlyInput,
             {0, kOneWayReport + kMeanOnlyReport});
}

TEST(MeridoxRun, SingularProblemIsSkippedAndTheNextOneProcessed) {
  // An own coefficient of 9.99E-6 does not pass the pivot test; 1.0E-5 does.
  const std::string first = crlf({
      "   1   0   2   0",
      "MEAN   1  .0000000    6.000000    ",
      "GCA    1  .9990000E-05.0000000    ",
      "            YIELD           ",
      "   0   0  60.00000    3.000000    ",
      "       4  2.000000    ",
  });
  std::string second = first;
  second.replace(second.find(".9990000E-05"), 12, ".1000000E-04");
  const std::string singular = lines(
      {"1", "",
       "0 THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS SINGULAR AND CANNOT BE "
       "INVERTED.",
       "0  DEPENDENCE DISCOVERED IN ROW (  2)", "", "0      GET NEW SET OF DATA   * * * "});
  const std::string good =
      lines({"1", "", "0" + sp(15) + "INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX",
             "0" + sp(10) + "    MEAN        GCA         ERR ",
             "0   MEAN      .1667       .0000      -.1667    ",
             "0   GCA       .0000       .1000E+06  -.1000E+06",
             "0   ERR       .0000       .0000       1.000    "}) +
      components_heading("            YIELD") + component_row("MEAN", "9.66666667", "8.16723354") +
      component_row("GCA ", "100000.00000000", "270801.28015453") +
      component_row("ERR ", "2.00000000", "1.15470054");
  expect_run(first + second, {1, singular + good});
}

TEST(MeridoxRun, EffectWithoutDegreesOfFreedomIsLeftOut) {
  // SETS between MEAN and GCA: degrees of freedom 0 and a row of zeros. Everything else is
  // the one-way problem, whose report must come out unchanged after the note.
  const std::string input = crlf({
      "   1   0   3   1",
      "MEAN   1  2.000000    .0000000    6.000000    ",
      "SETS   0  .0000000    .0000000    .0000000    ",
      "GCA    2  2.000000    .0000000    .0000000    ",
      "            YIELD           ",
      "   0   0  600.0000    .0000000    40.00000    ",
      "       3  5.000000    ",
  });
  expect_run(input, {0, crlf({"0 SETS HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT "
                               "ESTIMABLE AND IS LEFT OUT"}) +
                            kOneWayReport});
}

TEST(MeridoxRun, TwoEffectsWithoutDegreesOfFreedomAreLeftOutWithTheirColumns) {
  // SETS in the middle and SELF last; MEAN's row has a coefficient of SELF, which goes too.
  const std::string input = crlf({
      "   1   0   4   1",
      "MEAN   1  3.000000    2.000000    .0000000    6.000000    ",
      "SETS   0  .0000000    .0000000    .0000000    .0000000    ",
      "GCA    2  .0000000    2.000000    .0000000    .0000000    ",
      "SELF   0  .0000000    .0000000    .0000000    .0000000    ",
      "            YIELD           ",
      "   0   0  600.0000    .0000000    40.00000    .0000000    ",
      "       3  5.000000    ",
  });
  expect_run(input, {0, crlf({"0 SETS HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT "
                               "ESTIMABLE AND IS LEFT OUT",
                               "0 SELF HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT "
                               "ESTIMABLE AND IS LEFT OUT"}) +
                            kOneWayReport});
}

// The message of a singular matrix that names row `row`.
std::string singular_at(const std::string& row) {
  return lines({"1", "",
                "0 THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS SINGULAR AND CANNOT "
                "BE INVERTED.",
                "0  DEPENDENCE DISCOVERED IN ROW (  " + row + ")", "",
                "0      GET NEW SET OF DATA   * * * "});
}

TEST(MeridoxRun, EffectWithoutDegreesOfFreedomButWithCoefficientsGoesToThePivotTest) {
  const std::string input = crlf({
      "   1   0   3   1",
      "MEAN   1  2.000000    .0000000    6.000000    ",
      "SETS   0  1.000000    .0000000    .0000000    ",
      "GCA    2  2.000000    .0000000    .0000000    ",
      "            YIELD           ",
      "   0   0  600.0000    .0000000    40.00000    ",
      "       3  5.000000    ",
  });
  expect_run(input, {1, singular_at("2")});
}

TEST(MeridoxRun, SingularRowAfterLeavingOutIsCountedInFileOrder) {
  // GCA has degrees of freedom but no own coefficient: row 3 of the file.
  const std::string input = crlf({
      "   1   0   3   1",
      "MEAN   1  2.000000    .0000000    6.000000    ",
      "SETS   0  .0000000    .0000000    .0000000    ",
      "GCA    2  .0000000    .0000000    .0000000    ",
      "            YIELD           ",
      "   0   0  600.0000    .0000000    40.00000    ",
      "       3  5.000000    ",
  });
  expect_run(input, {1, crlf({"0 SETS HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT "
                               "ESTIMABLE AND IS LEFT OUT"}) +
                            singular_at("3")});
}

TEST(MeridoxRun, NonTriangularMatrixIsRefusedAndTheRunGoesOn) {
  // GCA's mean square with a coefficient of the MEAN component.
  const std::string input = crlf({
                                "   1   0   2   1",
                                "MEAN   1  2.000000    6.000000    ",
                                "GCA    2  2.000000    .5000000    ",
                            }) +
                            kOneWayAnalysis + "   1   0   2   1\r\n" + kOneWayGroups +
                            kOneWayAnalysis;
  expect_run(input, {1, lines({"1", "",
                                "0 THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS NOT "
                                "TRIANGULAR AND CANNOT BE INVERTED.",
                                "0  COEFFICIENT OF AN EARLIER COMPONENT IS NOT ZERO IN ROW (  2)",
                                "", "0      GET NEW SET OF DATA   * * * "}) +
                            kOneWayReport});
}

TEST(MeridoxRun, CrossProductsWithNegativeMeanProductAndCorrelations) {
  const std::string input = crlf({
      "   2   1   1   0",
      "MEAN   1  4.000000    ",
      "            YIELD           ",
      "   0   0  100.0000    ",
      "       3  2.000000    ",
      "YIELD            - BY - HEIGHT          ",
      "   0   4  10.00000    ",
      "       3  -.500000E+00",
      "            HEIGHT          ",
      "   4   4  50.00000    ",
      "       3  8.000000    ",
  });
  const std::string inverse =
      lines({"1", "", "0" + sp(15) + "INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX",
             "0" + sp(10) + "    MEAN        ERR ", "0   MEAN      .2500      -.2500    ",
             "0   ERR       .0000       1.000    "});
  const std::string tables =
      components_heading("            YIELD") + component_row("MEAN", "24.50000000", "20.41486387") +
      component_row("ERR ", "2.00000000", "1.26491106") +
      components_heading("YIELD            - BY - HEIGHT") +
      component_row("MEAN", "2.62500000", "2.04277181") +
      component_row("ERR ", "-.50000000", ".31622777") + components_heading("            HEIGHT") +
      component_row("MEAN", "10.50000000", "10.28429223") +
      component_row("ERR ", "8.00000000", "5.05964426");
  // MEAN: 2.625 / sqrt(24.5 x 10.5) = .16366; ERR: -.5 / sqrt(2 x 8) = -.125.
  const std::string correlations =
      lines({"1", "", "0" + sp(10) + "CORRELATIONS COMPUTED FROM VARIANCE (COVARIANCE) COMPONENTS",
             "", "", "0    TRAITS:    YIELD           ", " " + sp(18) + " - BY - ",
             " " + sp(15) + "HEIGHT          ", "0 COEFFICIENT", "",
             "     MEAN" + sp(4) + sp(6) + "   .1637", "     ERR " + sp(4) + sp(6) + "  -.1250"});
  expect_run(input, {0, inverse + tables + correlations});
}

TEST(MeridoxRun, ErrorDegreesOfFreedomDifferingInTheThirdAnalysis) {
  const std::string input = crlf({
      "   3   0   1   1",
      "MEAN   1  4.000000    ",
      "            A               ",
      "   0   0  100.0000    ",
      "       3  2.000000    ",
      "            B               ",
      "   0   0  100.0000    ",
      "       3  2.000000    ",
      "            C               ",
      "   0   0  100.0000    ",
      "       5  2.000000    ",
      "garbage that is never read",
  });
  // The three lines also on the console, with blanks for the carriage control.
  const std::string first =
      "ERROR DEGREES OF FREEDOM ARE NOT THE SAME; LAST ANALYSIS HAD    3 D.F. AND THIS ONE,";
  const std::string second = sp(20) + "            C" + sp(27) + ", HAS    5 D.F.;";
  const std::string last = "JOB TERMINATED; CHECK ANALYSES GIVEN BY KORBAL";
  expect_run(input, {1, lines({"1 " + first, "0" + second, "0 " + last}), false,
                     kConsoleStart + "\n" + first + "\n" + second + "\n" + last + kConsoleStop});
}

TEST(MeridoxRun, HeaderLimitsEndTheRun) {
  struct Case {
    const char* header;
    const char* message;
  };
  const Case cases[] = {
      {"1 0 20 1", "1 THE NUMBER OF EFFECTS IS 20; THE LIMIT IS 19.   JOB TERMINATED"},
      {"1 0 0 1", "1 THE NUMBER OF EFFECTS IS 0; IT MUST BE AT LEAST 1.   JOB TERMINATED"},
      {"11 1 2 1", "1 THE NUMBER OF ANALYSES IS 66; THE LIMIT IS 55.   JOB TERMINATED"},
      {"56 0 2 1", "1 THE NUMBER OF ANALYSES IS 56; THE LIMIT IS 55.   JOB TERMINATED"},
      {"0 0 2 1", "1 THE NUMBER OF VARIABLES IS 0; IT MUST BE AT LEAST 1.   JOB TERMINATED"},
      {"-3 1 2 1", "1 THE NUMBER OF VARIABLES IS -3; IT MUST BE AT LEAST 1.   JOB TERMINATED"},
      {"100000 1 2 1",
       "1 THE NUMBER OF ANALYSES IS 5000050000; THE LIMIT IS 55.   JOB TERMINATED"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    // The message also on the console, where its carriage control is a blank.
    expect_run(std::string(c.header) + "\r\n",
               {1, terminated(c.message), false,
                kConsoleStart + "\n" + std::string(c.message).substr(2) + kConsoleStop});
  }
  // A limit met in a later problem: the first is reported in full.
  expect_run("   1   0   2   1\r\n" + kOneWayGroups + kOneWayAnalysis + "1 0 25 1\r\n",
             {1,
              kOneWayReport +
                  terminated("1 THE NUMBER OF EFFECTS IS 25; THE LIMIT IS 19.   JOB TERMINATED"),
              false});
}

TEST(MeridoxRun, NegativeDegreesOfFreedomEndTheRun) {
  expect_run(crlf({"   1   0   1   1", "MEAN  -1  4.000000    "}),
             {1, terminated("1 THE DEGREES OF FREEDOM OF MEAN ARE -1; THEY MUST BE AT LEAST 0.   "
                            "JOB TERMINATED"),
              false});
}

TEST(MeridoxRun, RunTimeErrorsEndWithStatusTwo) {
  // A file that ends inside its first problem holds no complete problem; one that ends
  // inside a later problem is cut short; and a field of asterisks.
  const std::string one_way = "   1   0   2   1\r\n" + kOneWayGroups;
  expect_run(one_way, {2, "", false,
                       kConsoleStart +
                           "\nThe file 'in.dat' holds no complete problem: look at korbal's "
                           "report for the reason.\nRun-time error: READ on unit 5, file "
                           "'in.dat': end of file after record 3\n"});
  expect_run(one_way + kOneWayAnalysis + one_way,
             {2, kOneWayReport, false,
              kConsoleStart +
                  "\nRun-time error: READ on unit 5, file 'in.dat': end of file after record 9\n"});
  expect_run(one_way + crlf({"            YIELD           ", "   0   0  ************40.00000    "}),
             {2, "", false,
              kConsoleStart +
                  "\nRun-time error: READ on unit 5, file 'in.dat', record 5: invalid "
                  "character in real field '************' (columns 11-22)\n"});
}

// A stored interchange file cut at every position inside its last problem and given a
// line end again (or two), as an editor does on saving: meridox either refuses it (exit 2) or
// reads exactly what the whole problems left before the cut give, or the whole file
// (a cut inside the last line end). It never reads a cut field as another number.
TEST(MeridoxRun, CutFileGivenALineEndAgainNeverReadsOtherNumbers) {
  auto stored = [](const std::string& example) {
    return testsupport::read_file(testsupport::source_path("examples/" + example + "/MERIDOX_IN.DAT"));
  };
  const std::string small = stored("small"), named = stored("csv"), realistic = stored("realistic");
  const struct {
    const char* name;
    std::string before;  // whole problems before the last one
    std::string last;
  } files[] = {{"small", "", small}, {"realistic", "", realistic}, {"small, then csv", small, named}};
  // Thousands of runs share one folder, each with files of its own (emptying a file
  // is far slower than making and removing one).
  testsupport::TempDir dir;
  int runs = 0;
  auto run_meridox = [&](const std::string& input) {
    const std::string n = std::to_string(runs++), in_name = "in" + n + ".dat", out_name = "r" + n;
    testsupport::write_file(dir / in_name, input);
    std::istringstream in;
    std::ostringstream out;
    Outcome o;
    {
      rec::Io io({in_name, out_name}, in, out, dir.path());
      o.status = meridox::run(io);
    }
    o.report = testsupport::read_file(dir / out_name);
    o.console = out.str();
    std::filesystem::remove(dir / in_name);
    std::filesystem::remove(dir / out_name);
    return o;
  };
  for (const auto& f : files) {
    const Outcome whole = run_meridox(f.before + f.last);
    ASSERT_EQ(whole.status, 0) << f.name;
    const std::string before_report = f.before.empty() ? "" : run_meridox(f.before).report;
    int refused = 0;
    for (std::size_t at = 0; at < f.last.size(); ++at) {
      for (const char* end : {"\r\n", "\n", "\r\n\r\n"}) {
        const Outcome o = run_meridox(f.before + f.last.substr(0, at) + end);
        if (o.status == 2) {
          ++refused;
          continue;
        }
        SCOPED_TRACE(std::string(f.name) + ", cut after " + std::to_string(at) + " characters");
        EXPECT_EQ(o.status, 0);
        EXPECT_TRUE(o.report == whole.report || (!before_report.empty() && o.report == before_report));
      }
    }
    // Only cuts inside the last line end, or inside the blanks before the last header's
    // first digit (which leave only whole problems), are read.
    EXPECT_GE(refused, 3 * static_cast<int>(f.last.size()) - 3 * 8) << f.name;
  }

  // The message names the record and how much of it is left.
  const Outcome o = run_meridox(small.substr(0, small.size() - 9) + "\r\n");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.console.find(".dat', record 11: the record holds 15 of the 22 columns its fields "
                           "take; the file is cut short"),
            std::string::npos)
      << o.console;
}

}  // namespace
