// The results of meridox beyond the printed tables: P-values for very large degrees of
// freedom, Satterthwaite's sum without the error of an unreplicated trial, the sampling
// covariance of the components, the genetic parameters, the options and the CSV tables.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "meridox/components.h"
#include "meridox/ftest.h"
#include "meridox/genetics.h"
#include "meridox/matinv.h"
#include "meridox/meridox.h"
#include "meridox/options.h"
#include "records/csv.h"
#include "records/io.h"
#include "support.h"

namespace meridox {
namespace {

// One analysis: natural-order coefficients (error last), mean squares and degrees of
// freedom, solved as meridox solves it.
struct Analysis {
  int n;
  NatMat cnat{}, r{};
  std::vector<double> ms, vc, sd;
  std::vector<int> idf;
  std::vector<TestRow> tests;
  NatMat cov{};
  Analysis(const std::vector<std::vector<double>>& a, std::vector<double> ms_, std::vector<int> idf_)
      : n(static_cast<int>(a.size())), ms(std::move(ms_)), idf(std::move(idf_)) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) cnat[i][j] = a[i][j];
    EXPECT_EQ(invert_upward(cnat, n, r).status, InvStatus::Ok);
    vc.resize(n);
    sd.resize(n);
    component_values(n, r, ms, idf, vc, sd);
    cov = component_covariance(n, r, ms, idf);
    tests.resize(n - 1);
    ftest_values(n, cnat, r, ms, idf, vc, tests);
  }
};

using testsupport::f_tail_even;

TEST(PValue, LargeDegreesOfFreedomConvergeToTheExactTail) {
  const struct {
    double f;
    int nu1, nu2;
  } cases[] = {{1.05, 100, 5'000'000}, {1.2, 10, 1'000'000}, {0.9, 40, 2'000'000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nu2);
    // One effect with its own coefficient 1 against the error: F = MS / MS(error).
    Analysis an({{1, 1}, {0, 1}}, {c.f, 1.0}, {c.nu1, c.nu2});
    ASSERT_TRUE(an.tests[0].pval_defined);
    EXPECT_EQ(an.tests[0].bad_beta_args, 0);
    EXPECT_NEAR(an.tests[0].pval, f_tail_even(c.f, c.nu1, c.nu2), 1e-9);
  }
  // The tail printed with four decimals: .3465 (0.346498...).
  EXPECT_NEAR(f_tail_even(1.05, 100, 5'000'000), 0.346498, 1e-6);
  // Where single precision is good to the printed digits its value stays: the mean of
  // the two evaluations, not the 64-bit tail.
  Analysis small({{1, 1}, {0, 1}}, {2.0, 1.0}, {4, 12});
  EXPECT_NE(small.tests[0].pval, f_tail_even(2.0, 4, small.tests[0].df2));
  EXPECT_NEAR(small.tests[0].pval, f_tail_even(2.0, 4, small.tests[0].df2), 1e-6);
}

// The tables carry the tail computed in 64 bits, small ones included; the report keeps
// its rule (the mean of two single-precision tails, good to its four decimals).
TEST(PValue, TablesCarryTheTailComputedInSixtyFourBits) {
  const struct {
    double f;
    int nu1;
    double nu2;
  } cases[] = {{6.85, 8, 27.0}, {40.0, 8, 27.0}, {17.3, 12, 25.23}, {0.8, 2, 466.0},
               {1.2, 20, 3.5},  {9.7, 6, 1'000.0}, {250.0, 10, 60.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.f) + " " + std::to_string(c.nu1) + " " + std::to_string(c.nu2));
    // One effect with its own coefficient 1 against the error, the error's DF chosen so
    // that Satterthwaite's DF2 is nu2 itself.
    Analysis an({{1, 1}, {0, 1}}, {c.f, 1.0}, {c.nu1, static_cast<int>(c.nu2)});
    const double nu2 = an.tests[0].df2;
    ASSERT_TRUE(an.tests[0].pval_defined);
    const double exact = f_tail_even(c.f, c.nu1, nu2);
    EXPECT_LT(std::fabs(an.tests[0].pval64 - exact), 1e-9 * exact) << exact;
    EXPECT_LT(std::fabs(an.tests[0].pval - exact), 0.5e-4);
  }
  // A tiny tail, where single precision is off by a large factor.
  Analysis tiny({{1, 1}, {0, 1}}, {400.0, 1.0}, {8, 27});
  const double exact = f_tail_even(400.0, 8, tiny.tests[0].df2);
  ASSERT_LT(exact, 1e-20);
  EXPECT_LT(std::fabs(tiny.tests[0].pval64 - exact), 1e-9 * exact) << exact;
}

TEST(PValue, DoublePrecisionIncompleteBetaMatchesClosedForms) {
  // I_x(a, 1) = x^a, I_x(1, b) = 1 - (1-x)^b, I_x(1/2, 1/2) = (2/pi) asin(sqrt x).
  for (double x : {1e-6, 0.1, 0.5, 0.9, 0.999999}) {
    SCOPED_TRACE(x);
    EXPECT_NEAR(incomplete_beta(3.5, 1.0, x, 1.0 - x), std::pow(x, 3.5), 1e-14);
    EXPECT_NEAR(incomplete_beta(1.0, 7.0, x, 1.0 - x), 1.0 - std::pow(1.0 - x, 7.0), 1e-14);
    EXPECT_NEAR(incomplete_beta(0.5, 0.5, x, 1.0 - x), 2.0 / M_PI * std::asin(std::sqrt(x)), 1e-13);
  }
  EXPECT_EQ(incomplete_beta(2.0, 3.0, 0.0, 1.0), 0.0);
  EXPECT_EQ(incomplete_beta(2.0, 3.0, 1.0, 0.0), 1.0);
}

// Components GCA, SCA and ERR of a trial without replication: the error has 0 degrees
// of freedom and mean square 0.
TEST(Satterthwaite, ZeroMeanSquareOverZeroDegreesOfFreedomIsLeftOut) {
  const struct {
    const char* name;
    double mse;
    bool gca_df2, sca_df2_zero;
  } cases[] = {
      // GCA is tested against 2 MS(SCA) - MS(ERR) = 2 MS(SCA), on SCA's 27 degrees of
      // freedom; SCA has nothing left to be tested against.
      {"error mean square 0", 0.0, true, true},
      // A mean square over 0 degrees of freedom that is not 0 leaves both undefined.
      {"error mean square 2", 2.0, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Analysis an({{7, 2, 1}, {0, 1, 1}, {0, 0, 1}}, {2325.747, 339.4389, c.mse}, {8, 27, 0});
    EXPECT_EQ(an.tests[0].df2_defined, c.gca_df2);
    EXPECT_EQ(an.tests[0].df2_zero, !c.gca_df2);
    if (c.gca_df2) {
      EXPECT_NEAR(an.tests[0].df2, 27.0, 1e-5);
      EXPECT_TRUE(an.tests[0].pval_defined);
      EXPECT_NEAR(an.tests[0].pval, f_tail_even(an.tests[0].fratio, 8, an.tests[0].df2), 2e-7);
    }
    EXPECT_FALSE(an.tests[1].df2_defined);
    EXPECT_EQ(an.tests[1].df2_zero, c.sca_df2_zero);
  }
}

// A balanced half diallel of p = 6 parents in r = 2 replications: E(MS GCA) = ERR +
// 2 SCA + 8 GCA, E(MS SCA) = ERR + 2 SCA, and MEAN above them.
const std::vector<std::vector<double>> kDiallel = {
    {60, 8, 2, 1}, {0, 8, 2, 1}, {0, 0, 2, 1}, {0, 0, 0, 1}};
const std::vector<std::string> kNames = {"MEAN", "GCA ", "SCA ", "ERR "};
const std::vector<int> kDf = {1, 5, 9, 14};

Genetics genetics_of(const Analysis& an, double f, std::vector<std::string> names = kNames,
                     std::vector<std::string> left_out = {}) {
  return genetic_parameters(an.n, names, an.vc, an.cov, left_out, f);
}

TEST(Genetics, BalancedDiallelHasClosedForms) {
  const double msg = 90.0, mss = 20.0, mse = 6.0;
  Analysis an(kDiallel, {500.0, msg, mss, mse}, kDf);
  // Components and their sampling covariance in closed form.
  const double g = (msg - mss) / 8, s = (mss - mse) / 2, e = mse;
  const double qg = 2 * msg * msg / (5 + 2), qs = 2 * mss * mss / (9 + 2), qe = 2 * mse * mse / (14 + 2);
  const double vg = (qg + qs) / 64, vs = (qs + qe) / 4, ve = qe;
  const double cgs = -qs / 16, cse = -qe / 2, cge = 0.0;
  EXPECT_NEAR(an.vc[1], g, 1e-12);
  EXPECT_NEAR(an.vc[2], s, 1e-12);
  const double want[3][3] = {{vg, cgs, cge}, {cgs, vs, cse}, {cge, cse, ve}};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(an.cov[i + 1][k + 1], want[i][k], 1e-12) << i << k;
  // The diagonal is the square of the printed standard deviations, to the last bit.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(std::sqrt(an.cov[i][i]), an.sd[i]) << i;

  for (double f : {0.0, 0.5, 1.0}) {
    SCOPED_TRACE(f);
    const Genetics gen = genetics_of(an, f);
    const double a = 4 * g / (1 + f), d = 4 * s / ((1 + f) * (1 + f)), p = 2 * g + s + e;
    const double vp = 4 * vg + vs + ve + 4 * cgs + 4 * cge + 2 * cse;
    const double baker = 2 * g / (2 * g + s);
    // d baker / dg = 2s / (2g + s)^2, d baker / ds = -2g / (2g + s)^2.
    const double bg = 2 * s / std::pow(2 * g + s, 2), bs = -2 * g / std::pow(2 * g + s, 2);
    const double want_est[6] = {a, d, p, a / p, (a + d) / p, baker};
    const double want_se[3] = {4 / (1 + f) * std::sqrt(vg), 4 / std::pow(1 + f, 2) * std::sqrt(vs),
                               std::sqrt(vp)};
    for (int k = 0; k < 6; ++k) {
      EXPECT_TRUE(gen.params[k].defined) << k;
      EXPECT_FALSE(gen.params[k].negative) << k;
      EXPECT_NEAR(gen.params[k].estimate, want_est[k], 1e-12 * std::abs(want_est[k])) << k;
    }
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(gen.params[k].se, want_se[k], 1e-12 * want_se[k]) << k;
    EXPECT_NEAR(gen.params[5].se, std::sqrt(bg * bg * vg + 2 * bg * bs * cgs + bs * bs * vs), 1e-12);
  }
}

TEST(Genetics, NarrowSenseStandardErrorIsTheDeltaMethodOfANumericalDerivative) {
  Analysis an(kDiallel, {500.0, 90.0, 20.0, 6.0}, kDf);
  const double f = 0.25;
  auto h2 = [&](std::vector<double> v) { return 4 * v[1] / (1 + f) / (2 * v[1] + v[2] + v[3]); };
  std::vector<double> grad(4);
  for (int i = 0; i < 4; ++i) {
    std::vector<double> up = an.vc, down = an.vc;
    const double step = 1e-5 * std::max(1.0, std::abs(an.vc[i]));
    up[i] += step;
    down[i] -= step;
    grad[i] = (h2(up) - h2(down)) / (2 * step);
  }
  double var = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) var += grad[i] * an.cov[i][k] * grad[k];
  const Genetics gen = genetics_of(an, f);
  EXPECT_NEAR(gen.params[3].estimate, h2(an.vc), 1e-12);
  EXPECT_NEAR(gen.params[3].se, std::sqrt(var), 1e-8 * std::sqrt(var));
}

TEST(Genetics, NegativeAndMissingComponents) {
  // SCA negative (MS SCA below MS ERR): kept as estimated and marked wherever it enters.
  Analysis neg(kDiallel, {500.0, 90.0, 4.0, 6.0}, kDf);
  const Genetics g = genetics_of(neg, 0.0);
  const bool marked[6] = {false, true, true, true, true, true};
  for (int k = 0; k < 6; ++k) {
    EXPECT_TRUE(g.params[k].defined) << k;
    EXPECT_EQ(g.params[k].negative, marked[k]) << k;
  }
  EXPECT_NEAR(g.params[1].estimate, 4 * (4.0 - 6.0) / 2, 1e-12);
  // A phenotypic variance that is not positive leaves the heritabilities undefined.
  Analysis flat(kDiallel, {500.0, 2.0, 2.0, -30.0}, kDf);
  const Genetics h = genetics_of(flat, 0.0);
  EXPECT_FALSE(h.params[3].defined);
  EXPECT_FALSE(h.params[4].defined);
  EXPECT_TRUE(h.params[0].defined);
  // Without SCA: the dominance variance, the broad-sense heritability and the ratio are
  // undefined; a random component left out leaves the phenotypic variance undefined,
  // SETS does not.
  Analysis no_sca({{60, 8, 1}, {0, 8, 1}, {0, 0, 1}}, {500.0, 90.0, 6.0}, {1, 5, 14});
  const Genetics a = genetics_of(no_sca, 0.0, {"MEAN", "GCA ", "ERR "});
  const bool defined_a[6] = {true, false, true, true, false, false};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(a.params[k].defined, defined_a[k]) << k;
  const Genetics b = genetics_of(no_sca, 0.0, {"MEAN", "GCA ", "ERR "}, {"RECP"});
  EXPECT_FALSE(b.params[2].defined);
  EXPECT_FALSE(b.params[3].defined);
  const Genetics c = genetics_of(no_sca, 0.0, {"MEAN", "GCA ", "ERR "}, {"SETS"});
  EXPECT_TRUE(c.params[3].defined);
}

// A heritability outside [0, 1] is flagged; the other parameters never are.
TEST(Genetics, HeritabilitiesOutsideZeroToOneAreFlagged) {
  const struct {
    double msg, mss, mse, f;
    bool narrow, broad;  // flagged
  } cases[] = {
      {90.0, 20.0, 6.0, 0.0, true, true},    // h2_narrow 1.15, h2_broad 2.07
      {90.0, 20.0, 6.0, 1.0, false, false},  // .57 and .80
      {10.0, 20.0, 6.0, 1.0, true, false},   // GCA negative: h2_narrow -.24, h2_broad .43
      {2.0, 2.0, -30.0, 0.0, false, false},  // not defined
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.msg) + " F = " + std::to_string(c.f));
    const Genetics g = genetics_of(Analysis(kDiallel, {500.0, c.msg, c.mss, c.mse}, kDf), c.f);
    for (int k : {0, 1, 2, 5}) EXPECT_FALSE(g.params[k].outside) << k;
    EXPECT_EQ(g.params[3].outside, c.narrow) << g.params[3].estimate;
    EXPECT_EQ(g.params[4].outside, c.broad) << g.params[4].estimate;
  }
}

TEST(Genetics, PhenotypicWeightsAreTheSquaredCoefficientsOfOneLine) {
  const std::pair<const char*, int> cases[] = {
      {"MEAN", 0}, {"LOC ", 0}, {"REPS", 0}, {"SETS", 0}, {"SELF", 0}, {"GCA ", 2}, {"MATR", 2},
      {"SCA ", 1}, {"RECP", 1}, {"FXL ", 1}, {"CLON", 1}, {"CXL ", 1}, {"RXF ", 1}, {"ERR ", 1},
      {"XYZ ", -1}};
  for (const auto& [code, w] : cases) EXPECT_EQ(phenotypic_weight(code), w) << code;
}

TEST(Options, ParsedOutOfTheArguments) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> files;
    const char* csv;
    double inbreeding;  // -1: not given
    bool error;
  } cases[] = {
      {{"in", "out"}, {"in", "out"}, "", -1, false},
      {{"--csv", "d", "in", "out"}, {"in", "out"}, "d", -1, false},
      {{"in", "--inbreeding=0.5", "out", "--csv=t/x"}, {"in", "out"}, "t/x", 0.5, false},
      {{"--inbreeding", "1", "--", "--csv"}, {"--csv"}, "", 1.0, false},
      {{"--help", "x"}, {"--help", "x"}, "", -1, false},
      {{"--inbreeding", "1.5"}, {}, "", -1, true},
      {{"--inbreeding", "-0.1"}, {}, "", -1, true},
      {{"--inbreeding", "0.5x"}, {}, "", -1, true},
      {{"--inbreeding", "nan"}, {}, "", -1, true},
      {{"in", "--inbreeding"}, {}, "", -1, true},
      {{"--csv"}, {}, "", -1, true},
      {{"--csv="}, {}, "", -1, true},
      {{"in", "--error"}, {}, "", -1, true},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Options o = parse_options(args);
    EXPECT_EQ(!o.error.empty(), c.error) << o.error;
    if (c.error) continue;
    EXPECT_EQ(args, c.files);
    EXPECT_EQ(o.csv_dir ? o.csv_dir->string() : "", c.csv);
    EXPECT_EQ(o.inbreeding ? *o.inbreeding : -1.0, c.inbreeding);
    EXPECT_FALSE(o.error_file);
  }
  for (std::vector<std::string> args : {std::vector<std::string>{"in", "--error=e.csv", "out"},
                                        std::vector<std::string>{"--error", "e.csv", "in", "out"}}) {
    const Options o = parse_options(args);
    EXPECT_EQ(o.error_file.value_or(""), "e.csv");
    EXPECT_EQ(args, (std::vector<std::string>{"in", "out"}));
  }
}

// A whole run in-process with the CSV tables in dir/csv.
struct TableRun {
  testsupport::TempDir dir;
  int status = -1;
  std::string console;
  TableRun(const std::string& input, Options opts) {
    testsupport::write_file(dir / "in.dat", input);
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({"in.dat", "out.rpt"}, in, out, dir.path());
    status = run(io, opts);
    console = out.str();
  }
  std::string table(const char* name) const { return testsupport::read_file(dir / "csv" / name); }
};

TEST(Tables, RowsFieldsAndNotApplicableValues) {
  // Problem 1: two traits with cross products, SETS left out, no tests (ITEST 0).
  // Problem 2: singular. Problem 3: one trait with tests.
  const std::string input =
      "   2   1   3   0\n"
      "MEAN   1  2.000000    .0000000    6.000000    \n"
      "SETS   0  .0000000    .0000000    .0000000    \n"
      "GCA    2  2.000000    .0000000    .0000000    \n"
      "            YIELD, KG       \n   0   0  600.0000    .0000000    40.00000    \n       3  5.000000    \n"
      "YIELD, KG        - BY - HEIGHT          \n   0   4  60.00000    .0000000    -.400000E+01\n       3  1.000000    \n"
      "            HEIGHT          \n   4   4  60.00000    .0000000    33.00000    \n       3  5.000000    \n"
      "   1   0   2   0\nMEAN   1  .0000000    6.000000    \nGCA    1  .9990000E-05.0000000    \n"
      "            A               \n   0   0  60.00000    3.000000    \n       4  2.000000    \n"
      "   1   0   2   1\nMEAN   1  2.000000    6.000000    \nGCA    2  2.000000    .0000000    \n"
      "            A               \n   0   0  600.0000    40.00000    \n       3  5.000000    \n";
  Options opts;
  opts.csv_dir = "csv";
  const TableRun r(input, opts);
  EXPECT_EQ(r.status, 1);
  const auto comp = rec::csv::parse(r.table("components.csv"));
  ASSERT_EQ(comp.size(), 1u + 3 * 3 + 3);
  const std::vector<std::vector<std::string>> want = {
      {"problem", "trait_1", "trait_2", "component", "estimate", "sd", "ms", "denominator", "df1",
       "df2", "f", "p"},
      {"1", "YIELD, KG", "YIELD, KG", "MEAN", "93.33333333333333", comp[1][5], "600", "NA", "1",
       "NA", "NA", "NA"}};
  EXPECT_EQ(comp[0], want[0]);
  EXPECT_EQ(comp[1], want[1]);
  EXPECT_NEAR(std::stod(comp[1][5]), 81.78562764, 0.5e-8);
  EXPECT_EQ(comp[4][1], "YIELD, KG");
  EXPECT_EQ(comp[4][2], "HEIGHT");
  EXPECT_EQ(comp[5][6], "-4");  // a negative mean product
  EXPECT_EQ(comp[5][4], "-2.5");
  EXPECT_EQ(comp[10], (std::vector<std::string>{"3", "A", "A", "MEAN", "93.33333333333333",
                                                comp[1][5], "600", "40", "1", "2", "15",
                                                comp[10][11]}));
  EXPECT_NEAR(std::stod(comp[10][11]), 1 - std::sqrt(15.0 / 17.0), 1e-6);
  EXPECT_EQ(comp[12][7], "NA");  // the error row has no test
  EXPECT_EQ(comp[12][8], "3");
  const auto cor = rec::csv::parse(r.table("correlations.csv"));
  ASSERT_EQ(cor.size(), 1u + 3);
  // GCA: -2 / sqrt(17.5 x 14) is defined; ERR: 1 / sqrt(5 x 5).
  EXPECT_EQ(cor[2], (std::vector<std::string>{"1", "YIELD, KG", "HEIGHT", "GCA",
                                              rec::csv::number(-2.5 / std::sqrt(17.5 * 14.0))}));
  EXPECT_EQ(r.table("problems.csv"),
            "problem,status,note\n"
            "1,ok,SETS HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT ESTIMABLE AND IS LEFT OUT\n"
            "2,singular,THE MATRIX OF COEFFICIENTS OF THE EXPECTED MEAN SQUARES IS SINGULAR AND "
            "CANNOT BE INVERTED; DEPENDENCE DISCOVERED IN ROW 2\n"
            "3,ok,\n");
  EXPECT_FALSE(testsupport::file_exists(r.dir / "csv" / "genetics.csv"));
}

TEST(Tables, ProblemsThatStopTheRunAreListed) {
  Options opts;
  opts.csv_dir = "csv";
  const TableRun r("   1   0  25   1\n", opts);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.table("problems.csv"),
            "problem,status,note\n1,rejected,THE NUMBER OF EFFECTS IS 25; THE LIMIT IS 19\n");
  EXPECT_EQ(r.table("components.csv"),
            "problem,trait_1,trait_2,component,estimate,sd,ms,denominator,df1,df2,f,p\n");
}

TEST(Tables, UnusableFolderOrOptionEndsTheRunBeforeAnyReport) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "plain", "x");
  Options folder;
  folder.csv_dir = dir / "plain" / "sub";
  Options option;
  option.error = "option --inbreeding needs the inbreeding coefficient of the parents";
  for (const Options& o : {folder, option}) {
    const TableRun r("   1   0   1   0\n", o);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(testsupport::file_exists(r.dir / "out.rpt"));
    EXPECT_NE(r.console.find("Run-time error: "), std::string::npos) << r.console;
  }
}

}  // namespace
}  // namespace meridox
