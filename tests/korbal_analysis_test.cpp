// The analysis driver and its tables: whole report files, interchange records and
// console lines, compared byte for byte with layouts worked out from the formats.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "korbal/analysis.h"
#include "korbal/korbal.h"
#include "korbal_effects.h"
#include "korbal_run.h"
#include "records/interchange.h"
#include "records/io.h"
#include "support.h"

namespace {

using korbal::packed;
using testsupport::crlf;

using korbal_test::StepClock;

std::string sp(int n) { return std::string(n, ' '); }

// One analysis and its writers on their own report and interchange files; `inter`
// holds the interchange records after the header.
struct Output {
  std::string report, header, inter, console;
};

struct Problem {
  std::vector<double> xpx, xpy, ypy;
  std::vector<std::string> ename, vname;
  int nv = 1, sdfl = 0, cross = 0, nobs = 0, iprint = 0;
};

Output run_gotoit(Problem p) {
  testsupport::TempDir dir;
  std::istringstream in;
  std::ostringstream out;
  StepClock clock;
  Output r;
  {
    rec::Io io({}, in, out, dir.path());
    io.open(korbal::kReportUnit, "report.txt", rec::OpenMode::Output);
    io.open(korbal::kInterchangeUnit, "MERIDOX_IN.DAT", rec::OpenMode::Output);
    korbal::Arrays a;  // full-size arrays, as the program hands them over
    std::copy(p.xpx.begin(), p.xpx.end(), a.XPX.begin());
    std::copy(p.xpy.begin(), p.xpy.end(), a.XPY.begin());
    std::copy(p.ypy.begin(), p.ypy.end(), a.YPY.begin());
    std::copy(p.vname.begin(), p.vname.end(), a.VNAME.begin());
    a.NOBS = p.nobs;
    korbal::Control c;
    c.NV = p.nv;
    c.CROSS = p.cross;
    c.IPRINT = p.iprint;
    const auto effects = testsupport::effects_of(p.ename);
    EXPECT_EQ(effects.back().last, p.sdfl);
    const korbal::Results res = korbal::compute_results(io, clock, c, effects, a);
    korbal::write_report(io, res, a.VNAME);
    rec::interchange::write_problem(io, korbal::kInterchangeUnit,
                                    korbal::interchange_of(res, a.VNAME));
    io.flush();
    r.report = testsupport::read_file(dir / "report.txt");
    r.inter = testsupport::read_file(dir / "MERIDOX_IN.DAT");
    const auto eol = r.inter.find("\r\n");
    r.header = r.inter.substr(0, eol);
    r.inter.erase(0, eol + 2);
  }
  r.console = out.str();
  return r;
}

// The worked example: observations 1, 2 (level 1) and 3, 5 (level 2) of the model
// MEAN, GCA, GCA. X'X = [4 2 2; 2 2 0; 2 0 2], X'y = (11, 3, 8), y'y = 39.
Problem worked_example() {
  Problem p;
  p.sdfl = 3;
  p.xpx = {4, 2, 2, 2, 0, 2};
  p.xpy = {11, 3, 8};
  p.ypy = {39};
  p.ename = {"MEAN", "GCA ", "GCA "};
  p.vname = {"YIELD           "};
  p.nobs = 4;
  return p;
}

const std::string kEmsTitle =
    "0" + sp(37) + "E X P E C T A T I O N S  O F  M E A N  S Q U A R E S";
const std::string kForCharacters = "0" + sp(50) + "F O R  C H A R A C T E R S";
const std::string kEmsColumns = "0 Source   DF" + sp(10) + "Coefficients";
const std::string kAnovaTitle = "0" + sp(46) + "A N A L Y S I S  O F  V A R I A N C E";
const std::string kAnovaColumns =
    "0" + sp(38) + "Source    DF      Sum of Squares       Mean Squares";
const std::string kCrossTitle = "0" + sp(39) + "A N A L Y S I S  O F  C R O S S  P R O D U C T S";
const std::string kCrossColumns =
    "0" + sp(38) + "Source    DF      Sum of Products      Mean Products";

std::string effect(const std::string& code5, const std::string& df5, const std::string& g1,
                   const std::string& g2) {
  return sp(39) + code5 + "  " + df5 + sp(4) + g1 + g2;
}

std::string summary_lines(const std::string& sdfl5, const std::string& df8, const std::string& dep8,
                          const std::string& ss20) {
  return crlf({"", "0" + sp(57) + "S U M M A R Y", "0" + sp(51) + sdfl5 + " effects" + df8 + " DF",
               " " + sp(51) + dep8 + " dependencies",
               " " + sp(41) + "Total SS accounted for by effects" + ss20});
}

TEST(Gotoit, WorkedExampleReportInterchangeAndConsole) {
  const Output r = run_gotoit(worked_example());
  const std::string expected =
      crlf({"1", kEmsTitle, kForCharacters, "0" + sp(55) + "YIELD           ", " ", kEmsColumns,
            "",
            "0  MEAN     1    2.000000    4.000000    ",
            "0  GCA      1    2.000000    .0000000    ",
            "1", "", kAnovaTitle, "0" + sp(57) + "YIELD           ", kAnovaColumns, "",
            effect(" MEAN", "    1", "   30.2500000000    ", "   30.2500000000    "),
            effect(" GCA ", "    1", "   6.25000000000    ", "   6.25000000000    "),
            "0" + sp(39) + "Error     2    " + "   2.50000000000    " + "   1.25000000000    ",
            " " + sp(39) + "Total     4    " + "   39.0000000000    "}) +
      summary_lines("    3", "       2", "       1", "   36.5000000000    ");
  EXPECT_EQ(r.report, expected);

  EXPECT_EQ(r.header, "   1   0   2   1");
  EXPECT_EQ(r.inter, crlf({"MEAN   1  2.000000    4.000000    ",
                           "GCA    1  2.000000    .0000000    ",
                           sp(12) + "YIELD           ",
                           "   0   0  30.25000    6.250000    ",
                           "       2  1.250000    "}));

  EXPECT_EQ(r.console,
            "\n\nPerforming reduction of XPX and XPY matrices . . ."
            "\nReduction completed       10:20:30.00"
            "\n\nCalculating the EMS coefficients . . ."
            "\nSDFL=    3"
            "\n  MEAN     1"
            "\n  GCA      1"
            "\nEMS matrix complete       10:20:30.01"
            "\n\nCalculating the ANOVA table . . ."
            "\nANOVA table completed     10:20:30.02");
}

TEST(Gotoit, CrossProductsOrderLabelsOffsetsAndNegativeMeanProducts) {
  // Variable 2: 4, 5 (level 1) and 1, 1 (level 2). Reduced z: var 1 (5.5, -2.5, 0),
  // var 2 (5.5, 3.5, 0). Totals in analysis order: (1,1) 39, (1,2) 22, (2,2) 43.
  Problem p = worked_example();
  p.nv = 2;
  p.cross = 1;
  p.xpy = {11, 3, 8, 11, 9, 2};
  p.ypy = {39, 22, 43};
  p.vname = {"YIELD   PLOT A  ", "HEIGHT          "};
  const Output r = run_gotoit(p);

  const std::string ems =
      crlf({"1", kEmsTitle, " " + sp(48) + "A N D  M E A N  P R O D U C T S", kForCharacters,
            "0" + sp(55) + "YIELD   PLOT A  ", " " + sp(55) + "HEIGHT          ", kEmsColumns, "",
            "0  MEAN     1    2.000000    4.000000    ", "0  GCA      1    2.000000    .0000000    "});
  const std::string var1 =
      crlf({"1", "", kAnovaTitle, "0" + sp(57) + "YIELD   PLOT A  ", kAnovaColumns, "",
            effect(" MEAN", "    1", "   30.2500000000    ", "   30.2500000000    "),
            effect(" GCA ", "    1", "   6.25000000000    ", "   6.25000000000    "),
            "0" + sp(39) + "Error     2    " + "   2.50000000000    " + "   1.25000000000    ",
            " " + sp(39) + "Total     4    " + "   39.0000000000    "}) +
      summary_lines("    3", "       2", "       1", "   36.5000000000    ");
  const std::string cross12 =
      crlf({"1", "", kCrossTitle, "0" + sp(45) + "YIELD   PLOT A   - BY -  HEIGHT          ",
            kCrossColumns, "",
            effect(" MEAN", "    1", "   30.2500000000    ", "   30.2500000000    "),
            effect(" GCA ", "    1", "  -8.75000000000    ", "  -8.75000000000    "),
            "0" + sp(39) + "Error     2    " + "   .500000000000    " + "   .250000000000    ",
            " " + sp(39) + "Total     4    " + "   22.0000000000    "}) +
      summary_lines("    3", "       2", "       1", "   21.5000000000    ");
  const std::string var2 =
      crlf({"1", "", kAnovaTitle, "0" + sp(57) + "HEIGHT          ", kAnovaColumns, "",
            effect(" MEAN", "    1", "   30.2500000000    ", "   30.2500000000    "),
            effect(" GCA ", "    1", "   12.2500000000    ", "   12.2500000000    "),
            "0" + sp(39) + "Error     2    " + "   .500000000000    " + "   .250000000000    ",
            " " + sp(39) + "Total     4    " + "   43.0000000000    "}) +
      summary_lines("    3", "       2", "       1", "   42.5000000000    ");
  EXPECT_EQ(r.report, ems + var1 + cross12 + var2);

  EXPECT_EQ(r.header, "   2   1   2   1");
  EXPECT_EQ(r.inter, crlf({"MEAN   1  2.000000    4.000000    ",
                           "GCA    1  2.000000    .0000000    ",
                           sp(12) + "YIELD   PLOT A  ",
                           "   0   0  30.25000    6.250000    ",
                           "       2  1.250000    ",
                           "YIELD   PLOT A   - BY - HEIGHT          ",
                           "   0   3  30.25000    -.875000E+01",
                           "       2  .2500000    ",
                           sp(12) + "HEIGHT          ",
                           "   3   3  30.25000    12.25000    ",
                           "       2  .2500000    "}));
  // One ANOVA stamp per analysis, each from a fresh reading.
  const std::string c = r.console;
  EXPECT_NE(c.find("ANOVA table completed     10:20:30.02"), std::string::npos);
  EXPECT_NE(c.find("ANOVA table completed     10:20:30.03"), std::string::npos);
  EXPECT_NE(c.find("ANOVA table completed     10:20:30.04"), std::string::npos);
  EXPECT_EQ(c.find("10:20:30.05"), std::string::npos);
}

// The tail of the first analysis page: everything after the column heading.
std::string first_analysis_tail(const std::string& report) {
  const std::string head = kAnovaColumns + "\r\n\r\n";
  const auto at = report.find(head);
  return at == std::string::npos ? std::string() : report.substr(at + head.size());
}

TEST(Gotoit, ErrorLineSaturatedModel) {
  // One observation per level: y = 1 (level 1), 3 (level 2). N = D = 2.
  Problem p;
  p.sdfl = 3;
  p.xpx = {2, 1, 1, 1, 0, 1};
  p.xpy = {4, 1, 3};
  p.ypy = {10};
  p.ename = {"MEAN", "GCA ", "GCA "};
  p.vname = {"Y               "};
  p.nobs = 2;
  const Output r = run_gotoit(p);
  EXPECT_EQ(first_analysis_tail(r.report),
            crlf({effect(" MEAN", "    1", "   8.00000000000    ", "   8.00000000000    "),
                  effect(" GCA ", "    1", "   2.00000000000    ", "   2.00000000000    "),
                  "0" + sp(39) + "Error     0    " + "   .000000000000    " + "   .000000000000    ",
                  " " + sp(39) + "Total     2    " + "   10.0000000000    "}) +
                summary_lines("    3", "       2", "       1", "   10.0000000000    "));
  EXPECT_NE(r.inter.find("\r\n       0  .0000000    \r\n"), std::string::npos);
}

TEST(Gotoit, ErrorSumBelowTolPrintsZeroWithItsDegreesOfFreedom) {
  // Worked example with a total just 1e-10 above the effects' 36.5 (TOL = 1.2e-10).
  Problem p = worked_example();
  p.ypy = {36.5000000001};
  const Output r = run_gotoit(p);
  EXPECT_NE(r.report.find("0" + sp(39) + "Error     2    " + "   .000000000000    " +
                          "   .000000000000    \r\n"),
            std::string::npos);
  EXPECT_TRUE(r.inter.ends_with("       2  .0000000    \r\n"));
}

// A model of `ne` one-column effects with a diagonal X'X: pivot e^2 for effect e,
// X'y = e^2 so that z = e and the effect's sum of squares is e^2.
Problem diagonal_model(int ne) {
  static const char* codes[] = {"MEAN", "LOC ", "REPS", "SETS", "GCA ", "SELF", "SCA ",
                                "MATR", "RECP", "FXL ", "CLON", "CXL ", "RXF "};
  Problem p;
  p.sdfl = ne;
  p.xpx.assign(packed(ne, ne), 0.0);
  double total = 0.0;
  for (int e = 1; e <= ne; ++e) {
    p.xpx[packed(e, e) - 1] = double(e) * e;
    p.xpy.push_back(double(e) * e);
    p.ename.push_back(codes[e - 1]);
    total += double(e) * e;
  }
  p.ypy = {total + 20.0};
  p.vname = {"Y               "};
  p.nobs = 100;
  return p;
}

// G12.7 of e^2 as the layout shows it.
const char* g127_square(int e) {
  static const char* s[] = {"", "1.000000    ", "4.000000    ", "9.000000    ", "16.00000    ",
                            "25.00000    ", "36.00000    ", "49.00000    ", "64.00000    ",
                            "81.00000    ", "100.0000    "};
  return s[e];
}
const std::string kZero127 = ".0000000    ";

// Expected coefficient row e of a diagonal model: its own coefficient e^2 at
// position ne+1-e, all others 0; `lead` is the row's text up to the coefficients
// and `cont` the indentation of continuation records.
std::vector<std::string> ems_row(int ne, int e, const std::string& lead, const std::string& cont) {
  std::vector<std::string> lines{lead};
  for (int pos = 1; pos <= ne; ++pos) {
    if (pos > 1 && (pos - 1) % 8 == 0) lines.push_back(cont);
    lines.back() += (pos == ne + 1 - e) ? g127_square(e) : kZero127;
  }
  if (ne % 8 == 0) lines.push_back("");
  return lines;
}

std::string ems_table_section(const std::string& report) {
  const std::string head = kEmsColumns + "\r\n\r\n";
  const auto a = report.find(head);
  const auto b = report.find("\r\n1\r\n", a);
  if (a == std::string::npos || b == std::string::npos) return {};
  return report.substr(a + head.size(), b + 2 - (a + head.size()));
}

void check_wide_table(int ne) {
  const Problem p = diagonal_model(ne);
  const Output r = run_gotoit(p);
  std::string rep, inter;
  for (int e = 1; e <= ne; ++e) {
    const std::string code = p.ename[e - 1];
    for (const auto& l : ems_row(ne, e, "0  " + code + "     1    ", sp(17))) rep += l + "\r\n";
    for (const auto& l : ems_row(ne, e, code + "   1  ", sp(10))) inter += l + "\r\n";
  }
  EXPECT_EQ(ems_table_section(r.report), rep) << "NE = " << ne;
  ASSERT_TRUE(r.inter.starts_with(inter)) << "NE = " << ne << "\n" << r.inter;

  // Mean-square group after the label: the means e^2 in model order.
  std::string ms = "   0   0  ";
  for (int e = 1; e <= ne; ++e) {
    if (e > 1 && (e - 1) % 8 == 0) ms += "\r\n" + sp(10);
    ms += g127_square(e);
  }
  ms += "\r\n";
  if (ne % 8 == 0) ms += "\r\n";
  const std::string rest = r.inter.substr(inter.size());
  EXPECT_EQ(rest, sp(12) + "Y               \r\n" + ms + "      " + std::to_string(100 - ne) +
                      "  " + (ne == 5 ? ".2105263    " : ne == 8 ? ".2173913    " : ".2222222    ") + "\r\n")
      << "NE = " << ne;
}

TEST(ExpmsqLayout, FewerThanEightEffectsOneRecordPerRow) { check_wide_table(5); }
TEST(ExpmsqLayout, EightEffectsAddAnEmptyRecordAfterEachRow) { check_wide_table(8); }
TEST(ExpmsqLayout, MoreThanEightEffectsContinueOnIndentedRecords) { check_wide_table(10); }

TEST(Gotoit, UnreducedListingsWithReversionAndAsterisks) {
  // Twelve columns: X'X with 1e6 at (1,1) (too wide for F6.0), -5 at (1,2) and 2 on the
  // rest of the diagonal; X'y = 1.5 i. Only the listing before the reduction is checked.
  Problem p;
  p.sdfl = 12;
  p.iprint = -1;
  p.xpx.assign(packed(12, 12), 0.0);
  p.xpx[0] = 1.0e6;
  p.xpx[packed(1, 2) - 1] = -5.0;
  for (int i = 2; i <= 12; ++i) p.xpx[packed(i, i) - 1] = 2.0;
  p.xpx[packed(11, 12) - 1] = 99999.0;
  for (int i = 1; i <= 12; ++i) p.xpy.push_back(1.5 * i);
  p.ypy = {100.0};
  p.ename = std::vector<std::string>(12, "GCA ");
  p.ename[0] = "MEAN";
  p.vname = {"WEIGHT  KG      "};
  p.nobs = 20;
  const Output r = run_gotoit(p);

  std::string xpx_lines;
  std::string line;
  int count = 0;
  for (int j = 1; j <= 12; ++j)
    for (int i = 1; i <= j; ++i) {
      std::string f = "    0.";
      if (i == 1 && j == 1) f = "******";
      else if (i == 1 && j == 2) f = "   -5.";
      else if (i == j) f = "    2.";
      else if (i == 11 && j == 12) f = "99999.";
      line += f;
      if (++count % 20 == 0) {
        xpx_lines += line + "\r\n";
        line.clear();
      }
    }
  xpx_lines += line + "\r\n";  // 78 = 3 x 20 + 18
  const std::string expected =
      crlf({"1", "", "0" + sp(39) + "X PRIME Y VECTOR FOR    WEIGHT  KG      ",
            "   1.50000      3.00000      4.50000      6.00000      7.50000    "
            "  9.00000      10.5000      12.0000      13.5000      15.0000    ",
            "   16.5000      18.0000    "}) +
      xpx_lines + "1\r\n" + kEmsTitle + "\r\n" + kForCharacters + "\r\n";
  ASSERT_GE(r.report.size(), expected.size());
  EXPECT_EQ(r.report.substr(0, expected.size()), expected);
}

}  // namespace
