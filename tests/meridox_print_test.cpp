// The printouts of MATINV, FTEST and CORREL on their own, compared byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "meridox/arrays.h"
#include "meridox/components.h"
#include "meridox/ftest.h"
#include "meridox/genetics.h"
#include "meridox/matinv.h"
#include "records/io.h"
#include "support.h"

namespace meridox {
namespace {

std::string sp(int n) { return std::string(static_cast<std::size_t>(n), ' '); }
std::string lines(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& l : v) s += l + "\r\n";
  return s;
}
std::string join(const std::vector<std::string>& v, const std::string& sep) {
  std::string s;
  for (std::size_t i = 0; i < v.size(); ++i) s += (i ? sep : "") + v[i];
  return s;
}

struct Printed {
  std::string report;
  std::string console;
};

// Runs `body` with the report on unit 6 of a scratch directory.
Printed print(const std::function<void(rec::Io&)>& body) {
  testsupport::TempDir dir;
  std::istringstream in;
  std::ostringstream out;
  {
    rec::Io io({}, in, out, dir.path());
    io.open(6, "report.txt", rec::OpenMode::Output);
    body(io);
  }
  return {testsupport::read_file(dir / "report.txt"), out.str()};
}

// Inverts `a` and prints the inverse.
Printed print_inverse_of(const NatMat& a, int n, std::span<const std::string> names) {
  NatMat inv{};
  EXPECT_EQ(invert_upward(a, n, inv).status, InvStatus::Ok);
  return print([&](rec::Io& io) { print_inverse(io, 6, n, names, inv); });
}

// Own coefficient 2 for every effect, error coefficient 1: the inverse has .5 on the
// diagonal and -.5 in the error column.
Printed print_diagonal_inverse(int n, CompNames& names) {
  NatMat a{};
  for (int i = 0; i < n; ++i) {
    a[i][n - 1] = 1.0;
    if (i < n - 1) a[i][i] = 2.0;
    names[i] = i < n - 1 ? "E" + std::to_string(i + 1) : "ERR";
    names[i].resize(4, ' ');
  }
  return print_inverse_of(a, n, names);
}

std::string inverse_field(int n, int i, int j) {
  if (i == n - 1) return j == n - 1 ? "   1.000    " : "   .0000    ";
  if (j == i) return "   .5000    ";
  if (j == n - 1) return "  -.5000    ";
  return "   .0000    ";
}

TEST(MatinvPrint, TenComponentsEndEveryRecordGroupWithAnEmptyRecord) {
  CompNames names;
  const Printed p = print_diagonal_inverse(10, names);
  std::vector<std::string> expect = {
      "1", "", "0" + sp(15) + "INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX",
      "0" + sp(10) +
          "    E1          E2          E3          E4          E5          E6          E7      "
          "    E8          E9          ERR ",
      ""};
  for (int i = 0; i < 10; ++i) {
    std::string row = "0   " + names[i] + "   ";
    for (int j = 0; j < 10; ++j) row += inverse_field(10, i, j);
    expect.push_back(row);
    expect.push_back("");
  }
  EXPECT_EQ(p.report, lines(expect));
}

TEST(MatinvPrint, ElevenComponentsTakeContinuationRecords) {
  CompNames names;
  const Printed p = print_diagonal_inverse(11, names);
  std::vector<std::string> expect = {
      "1", "", "0" + sp(15) + "INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX",
      "0" + sp(10) +
          "    E1          E2          E3          E4          E5          E6          E7      "
          "    E8          E9          E10 ",
      sp(15) + "ERR "};
  for (int i = 0; i < 11; ++i) {
    std::string row = "0   " + names[i] + "   ";
    for (int j = 0; j < 10; ++j) row += inverse_field(11, i, j);
    expect.push_back(row);
    expect.push_back(sp(11) + inverse_field(11, i, 10));
  }
  EXPECT_EQ(p.report, lines(expect));
}

TEST(MatinvPrint, OrderOneIsTheSingleValueOne) {
  NatMat a{};
  a[0][0] = 1.0;
  const CompNames names = {"ERR "};
  NatMat inv{};
  EXPECT_EQ(invert_upward(a, 1, inv).status, InvStatus::Ok);
  EXPECT_EQ(inv[0][0], 1.0);
  const Printed p = print_inverse_of(a, 1, names);
  EXPECT_EQ(p.report, lines({"1", "", "0" + sp(15) + "INVERSE OF THE EXPECTED MEAN SQUARES COEFFICIENTS MATRIX",
                             "0" + sp(10) + "    ERR ", "0   ERR       1.000    "}));
}

// Tests table of one analysis with the given natural-order coefficients.
Printed print_tests(const std::vector<std::vector<double>>& a, const std::vector<double>& ms,
                    const std::vector<int>& idf) {
  const int n = static_cast<int>(ms.size());
  NatMat cnat{}, r{};
  CompNames names;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) cnat[i][j] = a[i][j];
    names[i] = i < n - 1 ? "C" + std::to_string(i + 1) + "  " : "ERR ";
  }
  EXPECT_EQ(invert_upward(cnat, n, r).status, InvStatus::Ok);
  std::vector<double> v(n), sd(n);
  component_values(n, r, ms, idf, v, sd);
  std::vector<TestRow> rows(n - 1);
  ftest_values(n, cnat, r, ms, idf, v, rows);
  return print([&](rec::Io& io) { print_tests(io, 6, n, names, ms, idf, v, rows); });
}

const std::string kHeading = lines(
    {"", "", "", "", sp(10) + "TESTS OF VARIANCE COMPONENTS = 0", "",
     "  COMPONENT   VALUE         M.S.    DENOMINATOR      DF   DF2      F-RATIO  P-VALUE", ""});
const std::string kEnd = lines({"", "", "", "", "", ""});

TEST(FTestPrint, ZeroDegreesOfFreedomAndZeroRatioLeaveThePValueBlank) {
  const Printed p = print_tests({{1, 0, 1}, {0, 1, 1}, {0, 0, 1}}, {4.0, 0.0, 2.0}, {0, 3, 10});
  // Both are tested against MS(ERR) = 2 with 10 degrees of freedom.
  EXPECT_EQ(p.report,
            kHeading +
                lines({"     C1      .2000E+01    .4000E+01    .2000E+01       0   10.00     2.000" + sp(9),
                       "     C2     -.2000E+01    .0000E+00    .2000E+01       3   10.00      .000" + sp(9),
                       "     ERR     .2000E+01    .2000E+01"}) +
                kEnd);
  EXPECT_EQ(p.console, "\nDF(          1) is zero\nF(          2) is zero");
}

TEST(FTestPrint, NegativeRatioPausesTwiceAndLeavesThePValueBlank) {
  const Printed p = print_tests({{2, 1}, {0, 1}}, {3.0, -1.0}, {4, 6});
  EXPECT_EQ(p.report,
            kHeading +
                lines({"     C1      .2000E+01    .3000E+01   -.1000E+01       4    6.00    -3.000" + sp(9),
                       "     ERR    -.1000E+01   -.1000E+01"}) +
                kEnd);
  EXPECT_EQ(p.console, "\nBad argument X in BETAI\n\nBad argument X in BETAI\n");
}

TEST(FTestPrint, ZeroDenominatorLeavesDf2RatioAndPValueBlank) {
  const Printed p = print_tests({{2, 1}, {0, 1}}, {3.0, 0.0}, {4, 6});
  EXPECT_EQ(p.report, kHeading +
                          lines({"     C1      .1500E+01    .3000E+01    .0000E+00       4" + sp(27),
                                 "     ERR     .0000E+00    .0000E+00"}) +
                          kEnd);
  EXPECT_EQ(p.console, "");
}

// Error degrees of freedom 0: the term of the error mean square has no degrees of
// freedom to divide by, so the Satterthwaite degrees of freedom come out as zero; the
// console says so although the field itself is left blank.
TEST(FTestPrint, ZeroErrorDegreesOfFreedomGiveTheDf2Message) {
  const Printed p =
      print_tests({{2, 1, 1}, {0, 4, 1}, {0, 0, 1}}, {9.0, 5.0, 1.0}, {3, 2, 0});
  EXPECT_EQ(p.report,
            kHeading +
                lines({"     C1      .3500E+01    .9000E+01    .2000E+01       3" + sp(8) +
                           "     4.500" + sp(9),
                       "     C2      .1000E+01    .5000E+01    .1000E+01       2" + sp(8) +
                           "     5.000" + sp(9),
                       "     ERR     .1000E+01    .1000E+01"}) +
                kEnd);
  EXPECT_EQ(p.console, "\nDF2(          1) is zero\nDF2(          2) is zero");
}

// The genetic parameters in the columns of the components table: a marked parameter has
// " *" after its standard error and the note below the table; an undefined one is blank.
TEST(GeneticsPrint, MarksNegativeComponentsAndLeavesUndefinedParametersBlank) {
  Genetics g;
  g.inbreeding = 0.25;
  const char* names[6] = {"sigma2_A", "sigma2_D", "sigma2_P", "h2_narrow", "h2_broad", "baker"};
  for (int k = 0; k < 6; ++k) g.params[k] = {names[k], 0.5 * k - 1.0, 0.125 * k, k != 4, k == 1};
  const std::string label = sp(12) + "YIELD" + sp(23);
  const Printed p = print([&](rec::Io& io) { print_genetics(io, 6, label, g); });
  const std::string col = " " + sp(44);
  EXPECT_EQ(p.report,
            lines({" ", "", "0" + sp(55) + "GENETIC PARAMETERS FOR", "0" + sp(46) + label,
                   "0" + sp(46) + "INBREEDING COEFFICIENT OF THE PARENTS F =  .2500", "", "",
                   col + "PARAMETER          VALUE             STANDARD ERROR", "",
                   col + "sigma2_A " + sp(8) + "-1.00000000" + sp(16) + ".00000000",
                   col + "sigma2_D " + sp(9) + "-.50000000" + sp(16) + ".12500000 *",
                   col + "sigma2_P " + sp(9) + " .00000000" + sp(16) + ".25000000",
                   col + "h2_narrow" + sp(9) + " .50000000" + sp(16) + ".37500000",
                   col + "h2_broad " + sp(44),
                   col + "baker    " + sp(8) + " 1.50000000" + sp(16) + ".62500000",
                   "0" + sp(44) + "* USES A NEGATIVE COMPONENT, KEPT AS ESTIMATED"}));
}

// A heritability outside [0, 1] has " #" after its standard error (after the " *" of a
// negative component) and its note below the table, right below the note on negative
// components when there is one.
TEST(GeneticsPrint, MarksHeritabilitiesOutsideZeroToOne) {
  const std::string col = " " + sp(44);
  const std::string outside_note = sp(44) + "# OUTSIDE 0 TO 1, WHERE NO HERITABILITY CAN LIE; KEPT AS ESTIMATED";
  const struct {
    bool negative;  // h2_narrow uses a negative component
    std::string narrow, notes;
  } cases[] = {
      {false, ".37500000 #", lines({"0" + outside_note})},
      {true, ".37500000 * #",
       lines({"0" + sp(44) + "* USES A NEGATIVE COMPONENT, KEPT AS ESTIMATED", " " + outside_note})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.narrow);
    Genetics g;
    const char* names[6] = {"sigma2_A", "sigma2_D", "sigma2_P", "h2_narrow", "h2_broad", "baker"};
    for (int k = 0; k < 6; ++k) g.params[k] = {names[k], 0.5 * k - 1.0, 0.125 * k, true, false};
    g.params[3].negative = c.negative;
    g.params[3].outside = true;  // 0.5 here: the mark follows the flag
    const std::string label = sp(12) + "YIELD" + sp(23);
    const Printed p = print([&](rec::Io& io) { print_genetics(io, 6, label, g); });
    EXPECT_EQ(p.report,
              lines({" ", "", "0" + sp(55) + "GENETIC PARAMETERS FOR", "0" + sp(46) + label,
                     "0" + sp(46) + "INBREEDING COEFFICIENT OF THE PARENTS F =  .0000", "", "",
                     col + "PARAMETER          VALUE             STANDARD ERROR", "",
                     col + "sigma2_A " + sp(8) + "-1.00000000" + sp(16) + ".00000000",
                     col + "sigma2_D " + sp(9) + "-.50000000" + sp(16) + ".12500000",
                     col + "sigma2_P " + sp(9) + " .00000000" + sp(16) + ".25000000",
                     col + "h2_narrow" + sp(9) + " .50000000" + sp(16) + c.narrow,
                     col + "h2_broad " + sp(8) + " 1.00000000" + sp(16) + ".50000000",
                     col + "baker    " + sp(8) + " 1.50000000" + sp(16) + ".62500000"}) +
                  c.notes);
  }
}

// Correlation tables for NV variables with components MEAN and ERR. The variance
// components are 4; the covariance of (a, b) is 4 x (10a + b) / 100 in MEAN and minus that
// in ERR, so that the correlations show which pair stands in which column. The error
// variance of variable `zero_err` is 0.
struct CorrelCase {
  int nv;
  int zero_err;
  std::vector<CompVec> vc;
  std::vector<std::string> labels;
  CorrelCase(int nv_, int zero_err_) : nv(nv_), zero_err(zero_err_) {
    const int nanal = nv * (nv + 1) / 2;
    vc.resize(nanal);
    labels.resize(nanal);
    for (int a = 1; a <= nv; ++a) {
      for (int b = a; b <= nv; ++b) {
        const int k = analysis_index(nv, a, b) - 1;
        if (a == b) {
          vc[k][0] = 4.0;
          vc[k][1] = a == zero_err ? 0.0 : 4.0;
          labels[k] = sp(12) + name(a) + sp(12);
        } else {
          vc[k][0] = 4.0 * (10 * a + b) / 100.0;
          vc[k][1] = -vc[k][0];
          labels[k] = name(a) + " - BY - " + name(b);
        }
      }
    }
  }
  static std::string name(int v) {
    std::string s = "TRAIT " + std::to_string(v);
    s.resize(16, ' ');
    return s;
  }
  std::string report() {
    const CompNames names = {"MEAN", "ERR "};
    const auto pairs = correlations(nv, 2, vc, labels);
    return print([&](rec::Io& io) { print_correlations(io, 6, 2, names, pairs); }).report;
  }
};

// F8.4 editing: no zero before the point.
std::string f84(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", x);
  std::string v = buf;
  if (v.rfind("0.", 0) == 0) v.erase(0, 1);
  if (v.rfind("-0.", 0) == 0) v.erase(1, 1);
  return sp(8 - static_cast<int>(v.size())) + v;
}

// A block as the layout prescribes: names in 16 columns two apart, " - BY - " every 18
// columns from column 20, correlations in F8.4 every 18 columns from column 20.
std::string block(const std::vector<std::pair<int, int>>& pairs, bool heading, int zero_err) {
  std::vector<std::string> first, by, second, mean, err;
  for (auto [a, b] : pairs) {
    first.push_back(CorrelCase::name(a));
    by.push_back(" - BY - ");
    second.push_back(CorrelCase::name(b));
    const int code = 10 * a + b;
    mean.push_back(sp(6) + f84(code / 100.0));
    err.push_back(sp(6) + (b == zero_err ? std::string("********") : f84(-code / 100.0)));
  }
  std::string s;
  if (heading)
    s += lines({"1", "", "0" + sp(10) + "CORRELATIONS COMPUTED FROM VARIANCE (COVARIANCE) COMPONENTS"});
  s += lines({"", "", "0    TRAITS:    " + join(first, "  "), " " + sp(18) + join(by, sp(10)),
              " " + sp(15) + join(second, "  "), "0 COEFFICIENT", "",
              "     MEAN    " + join(mean, sp(4)), "     ERR     " + join(err, sp(4))});
  return s;
}

TEST(CorrelPrint, FiveVariablesGiveABlockOfSixAndOneOfFour) {
  CorrelCase c(5, 5);
  const std::string expect =
      block({{1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 3}, {2, 4}}, true, 5) +
      block({{2, 5}, {3, 4}, {3, 5}, {4, 5}}, false, 5) +
      lines({"0  ********  MEANS THAT THE VARIANCE COMPONENT(S) FOR THAT CORRELATION IS LESS THAN OR "
             "EQUAL TO ZERO."});
  EXPECT_EQ(c.report(), expect);
  // Spot check of the layout itself, independent of the helper.
  EXPECT_NE(expect.find("\r\n     ERR" + sp(13) + "-.1200" + sp(12) + "-.1300" + sp(12) + "-.1400" +
                        sp(10) + "********" + sp(12) + "-.2300" + sp(12) + "-.2400\r\n"),
            std::string::npos);
}

TEST(CorrelPrint, TenVariablesHaveThePageHeadingBeforeBlocksOneFourAndSeven) {
  CorrelCase c(10, 0);
  std::vector<std::pair<int, int>> pairs;
  for (int a = 1; a < 10; ++a)
    for (int b = a + 1; b <= 10; ++b) pairs.emplace_back(a, b);
  std::string expect;
  for (int blk = 0; blk * 6 < 45; ++blk) {
    const std::vector<std::pair<int, int>> part(pairs.begin() + blk * 6,
                                                pairs.begin() + std::min(45, blk * 6 + 6));
    expect += block(part, blk == 0 || blk == 3 || blk == 6, 0);
  }
  EXPECT_EQ(c.report(), expect);
  EXPECT_NE(expect.find("  1.0000"), std::string::npos);  // the pair (9, 10)
}

TEST(CorrelPrint, OneVariablePrintsNothing) {
  CorrelCase c(1, 0);
  EXPECT_EQ(c.report(), "");
}

}  // namespace
}  // namespace meridox
