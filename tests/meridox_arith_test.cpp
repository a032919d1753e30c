// The arithmetic of meridox without files: inversion, components, standard deviations,
// F tests with their P-values against closed forms of the F distribution. (Effects left
// out and the printouts are tested through whole runs and the printing routines.)
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <vector>

#include "meridox/components.h"
#include "meridox/ftest.h"
#include "meridox/matinv.h"

namespace meridox {
namespace {

NatMat nat_from(const std::vector<std::vector<double>>& m) {
  NatMat a{};
  for (std::size_t i = 0; i < m.size(); ++i)
    for (std::size_t j = 0; j < m.size(); ++j) a[i][j] = m[i][j];
  return a;
}

// Inverts a natural-order matrix (error last).
NatMat inverse_of(const std::vector<std::vector<double>>& nat, InvResult* res = nullptr) {
  NatMat inv{};
  InvResult r = invert_upward(nat_from(nat), static_cast<int>(nat.size()), inv);
  if (res) *res = r;
  return inv;
}

TEST(MatinvArithmetic, InverseTimesMatrixIsIdentity) {
  const std::vector<std::vector<double>> a = {
      {64.0, 8.0, 4.0, 2.5, 1.0},
      {0.0, 12.0, 3.0, 0.75, 1.0},
      {0.0, 0.0, 4.0, 2.0, 1.0},
      {0.0, 0.0, 0.0, 2.0, 1.0},
      {0.0, 0.0, 0.0, 0.0, 1.0}};
  InvResult res;
  const NatMat r = inverse_of(a, &res);
  ASSERT_EQ(res.status, InvStatus::Ok);
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 5; ++j) {
      double s = 0.0;
      for (int k = 0; k < 5; ++k) s += a[i][k] * r[k][j];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-14) << i << "," << j;
    }
  }
}

TEST(MatinvArithmetic, PivotToleranceIsTheSinglePrecisionConstant) {
  EXPECT_EQ(kPivotTol, 9.999999747378752E-6);
  InvResult res;
  inverse_of({{9.99E-6, 1.0}, {0.0, 1.0}}, &res);
  EXPECT_EQ(res.status, InvStatus::Singular);
  EXPECT_EQ(res.row, 1);
  const NatMat r = inverse_of({{1.0E-5, 1.0}, {0.0, 1.0}}, &res);
  EXPECT_EQ(res.status, InvStatus::Ok);
  EXPECT_DOUBLE_EQ(r[0][0], 1.0E5);
  // A negative own coefficient is judged by its magnitude.
  inverse_of({{-2.0, 1.0}, {0.0, 1.0}}, &res);
  EXPECT_EQ(res.status, InvStatus::Ok);
}

TEST(MatinvArithmetic, SingularRowIsTheLastFailingInFileOrder) {
  InvResult res;
  inverse_of({{5.0, 1.0, 1.0, 1.0}, {0.0, 0.0, 1.0, 1.0}, {0.0, 0.0, 0.0, 1.0}, {0.0, 0.0, 0.0, 1.0}},
             &res);
  EXPECT_EQ(res.status, InvStatus::Singular);
  EXPECT_EQ(res.row, 3);
}

TEST(MatinvArithmetic, EntryBelowTheDiagonalIsRefused) {
  // Component 3's mean square with a coefficient of component 1: not triangular.
  InvResult res;
  inverse_of({{5.0, 1.0, 1.0, 1.0}, {0.0, 3.0, 1.0, 1.0}, {0.5, 0.0, 2.0, 1.0}, {0.0, 0.0, 0.0, 1.0}},
             &res);
  EXPECT_EQ(res.status, InvStatus::NotTriangular);
  EXPECT_EQ(res.row, 3);
  // Rounding noise at the tolerance is not a structural fault.
  inverse_of({{5.0, 1.0, 1.0}, {9.0E-6, 3.0, 1.0}, {0.0, 0.0, 1.0}}, &res);
  EXPECT_EQ(res.status, InvStatus::Ok);
}

TEST(Components, BalancedOneWayGivesClassicalEstimates) {
  // t groups of r observations: E(MS_A) = s2e + r s2a, E(MSE) = s2e.
  const double r = 4.0, ms = 30.0, mse = 6.0;
  const int dfa = 5, dfe = 18;
  const NatMat inv = inverse_of({{r, 1.0}, {0.0, 1.0}});
  CompVec vc{}, sd{};
  const std::vector<double> msv = {ms, mse};
  const std::vector<int> idf = {dfa, dfe};
  component_values(2, inv, msv, idf, vc, sd);
  EXPECT_DOUBLE_EQ(vc[0], (ms - mse) / r);
  EXPECT_DOUBLE_EQ(vc[1], mse);
  EXPECT_NEAR(sd[0],
              std::sqrt(2 * std::pow(ms / r, 2) / (dfa + 2) + 2 * std::pow(mse / r, 2) / (dfe + 2)),
              1e-13);
  EXPECT_NEAR(sd[1], std::fabs(mse) * std::sqrt(2.0 / (dfe + 2)), 1e-13);
}

TEST(Components, AnalysisIndexFollowsTheOrderOfAnalyses) {
  EXPECT_EQ(analysis_index(3, 1, 1), 1);
  EXPECT_EQ(analysis_index(3, 1, 3), 3);
  EXPECT_EQ(analysis_index(3, 2, 2), 4);
  EXPECT_EQ(analysis_index(3, 2, 3), 5);
  EXPECT_EQ(analysis_index(3, 3, 3), 6);
  EXPECT_EQ(analysis_index(10, 10, 10), 55);
  EXPECT_DOUBLE_EQ(component_correlation(2.0, 4.0, 9.0), 2.0 / 6.0);
  EXPECT_EQ(component_correlation(2.0, 0.0, 9.0), 1.0E20);
  EXPECT_EQ(component_correlation(2.0, 4.0, -1.0), 1.0E20);
}

TEST(LogGammaAndBeta, KnownValues) {
  EXPECT_NEAR(GAMMLN(1.0f), 0.0f, 1e-6);
  EXPECT_NEAR(GAMMLN(2.0f), 0.0f, 1e-6);
  EXPECT_NEAR(GAMMLN(0.5f), 0.5723649f, 1e-6);
  EXPECT_NEAR(GAMMLN(10.0f), std::log(362880.0), 1e-5);
  EXPECT_EQ(BETAI(2.5f, 3.0f, 0.0f), 0.0f);
  EXPECT_EQ(BETAI(2.5f, 3.0f, 1.0f), 1.0f);
  // I_x(a, 1) = x^a and I_x(1, b) = 1 - (1-x)^b.
  EXPECT_NEAR(BETAI(3.0f, 1.0f, 0.6f), std::pow(0.6, 3.0), 2e-6);
  EXPECT_NEAR(BETAI(1.0f, 4.0f, 0.3f), 1.0 - std::pow(0.7, 4.0), 2e-6);
  EXPECT_TRUE(std::isnan(BETAI(1.0f, 1.0f, 1.5f)));
  EXPECT_TRUE(std::isnan(BETAI(1.0f, 1.0f, -0.1f)));
}

// Tests of a two-component problem: one effect with own coefficient c, and the error.
struct OneEffect {
  NatMat cnat{}, r{};
  std::vector<double> ms, v;
  std::vector<int> idf;
  TestRow row;
  OneEffect(double c, double ms1, double mse, int df1, int dfe) {
    cnat = nat_from({{c, 1.0}, {0.0, 1.0}});
    r = inverse_of({{c, 1.0}, {0.0, 1.0}});
    ms = {ms1, mse};
    idf = {df1, dfe};
    v.assign(2, 0.0);
    std::vector<double> sd(2);
    component_values(2, r, ms, idf, v, sd);
    TestRow rows[1];
    ftest_values(2, cnat, r, ms, idf, v, rows);
    row = rows[0];
  }
};

TEST(FTest, OneEffectIsTheClassicalFTest) {
  OneEffect t(3.0, 42.0, 7.0, 4, 12);
  EXPECT_DOUBLE_EQ(t.row.denom, 7.0);
  EXPECT_NEAR(t.row.df2, 12.0, 1e-5);
  EXPECT_DOUBLE_EQ(t.row.fratio, 6.0);
  ASSERT_TRUE(t.row.pval_defined);
  EXPECT_GT(t.row.pval, 0.0);
  EXPECT_LT(t.row.pval, 0.01);
}

TEST(FTest, PValuesMatchClosedFormsOfTheFDistribution) {
  for (double f : {0.25, 0.5, 1.0, 2.0, 3.7, 10.0, 55.0}) {
    SCOPED_TRACE(f);
    // nu1 = nu2 = 2: upper tail 1/(1+F).
    OneEffect t22(1.0, f, 1.0, 2, 2);
    ASSERT_TRUE(t22.row.pval_defined);
    EXPECT_NEAR(t22.row.pval, 1.0 / (1.0 + f), 3e-6);
    // nu1 = nu2 = 1: 1 - (2/pi) atan(sqrt F).
    OneEffect t11(1.0, f, 1.0, 1, 1);
    ASSERT_TRUE(t11.row.pval_defined);
    EXPECT_NEAR(t11.row.pval, 1.0 - 2.0 / std::numbers::pi * std::atan(std::sqrt(f)), 3e-6);
    // nu1 = 2, nu2 = 9: (1 + 2F/9)^(-9/2).
    OneEffect t29(1.0, f, 1.0, 2, 9);
    EXPECT_NEAR(t29.row.pval, std::pow(1.0 + 2.0 * f / 9.0, -4.5), 3e-6);
    // nu1 = 5, nu2 = 2: 1 - (5F / (5F + 2))^(5/2).
    OneEffect t52(1.0, f, 1.0, 5, 2);
    EXPECT_NEAR(t52.row.pval, 1.0 - std::pow(5.0 * f / (5.0 * f + 2.0), 2.5), 3e-6);
  }
  OneEffect half(1.0, 3.0, 3.0, 7, 7);
  EXPECT_NEAR(half.row.pval, 0.5, 1e-6);
}

// The two evaluations of the tail are single-precision values; 1 - I_x2 is rounded to
// single precision, their sum is not. With nu1 = 1, nu2 = 2 these ratios give sums that
// single precision would round differently.
TEST(FTest, PValueSumOfTheTwoEvaluationsIsNotRoundedToSingle) {
  for (double f : {0.3, 3.7, 5.1}) {
    SCOPED_TRACE(f);
    OneEffect t(1.0, f, 1.0, 1, 2);
    ASSERT_TRUE(t.row.pval_defined);
    ASSERT_EQ(t.row.df2, 2.0);
    const float a1 = 1.0f, b1 = 0.5f, a2 = 0.5f, b2 = 1.0f;
    const auto x1 = static_cast<float>(2.0 / (1.0 * f + 2.0));
    const auto x2 = static_cast<float>(1.0 / (2.0 / f + 1.0));
    const float second = 1.0f - BETAI(a2, b2, x2);
    const double expected = (static_cast<double>(BETAI(a1, b1, x1)) + second) / 2.0;
    EXPECT_EQ(t.row.pval, expected);
  }
}

TEST(FTest, SatterthwaiteDegreesOfFreedom) {
  // Unbalanced nesting: E(MS_A) = s2e + 2 s2b + 6 s2a, E(MS_B) = s2e + 3 s2b.
  const std::vector<std::vector<double>> a = {{6.0, 2.0, 1.0}, {0.0, 3.0, 1.0}, {0.0, 0.0, 1.0}};
  const NatMat cnat = nat_from(a), r = inverse_of(a);
  const double msa = 50.0, msb = 12.0, mse = 3.0;
  const int dfa = 3, dfb = 8, dfe = 20;
  const std::vector<double> ms = {msa, msb, mse};
  const std::vector<int> idf = {dfa, dfb, dfe};
  std::vector<double> v(3), sd(3);
  component_values(3, r, ms, idf, v, sd);
  TestRow rows[2];
  ftest_values(3, cnat, r, ms, idf, v, rows);
  const double denom = 2.0 / 3.0 * msb + 1.0 / 3.0 * mse;
  const double df2 = denom * denom /
                     (std::pow(2.0 / 3.0 * msb, 2) / dfb + std::pow(1.0 / 3.0 * mse, 2) / dfe);
  EXPECT_NEAR(rows[0].denom, denom, 1e-12);
  EXPECT_NEAR(rows[0].df2, df2, df2 * 1e-6);
  EXPECT_NEAR(rows[0].fratio, msa / denom, 1e-12);
  // Component B is tested against the error alone.
  EXPECT_NEAR(rows[1].denom, mse, 1e-12);
  EXPECT_NEAR(rows[1].df2, dfe, 1e-5);
  EXPECT_NEAR(rows[1].fratio, msb / mse, 1e-12);
}

TEST(FTest, UndefinedValuesAreMarkedNotComputed) {
  // Error mean square 0: no denominator, no F ratio, no degrees of freedom, no P-value.
  OneEffect zero_err(2.0, 5.0, 0.0, 3, 10);
  EXPECT_FALSE(zero_err.row.fratio_defined);
  EXPECT_FALSE(zero_err.row.df2_defined);
  EXPECT_FALSE(zero_err.row.pval_defined);
  // Error degrees of freedom 0.
  OneEffect no_df(2.0, 5.0, 1.0, 3, 0);
  EXPECT_TRUE(no_df.row.fratio_defined);
  EXPECT_FALSE(no_df.row.df2_defined);
  EXPECT_FALSE(no_df.row.pval_defined);
  // F ratio 0 and effect degrees of freedom 0: the ratio is shown, the P-value is not.
  OneEffect f0(2.0, 0.0, 1.0, 3, 10);
  EXPECT_TRUE(f0.row.fratio_defined);
  EXPECT_EQ(f0.row.fratio, 0.0);
  EXPECT_FALSE(f0.row.pval_defined);
  OneEffect df0(2.0, 4.0, 1.0, 0, 10);
  EXPECT_TRUE(df0.row.df2_defined);
  EXPECT_FALSE(df0.row.pval_defined);
  // A negative F ratio: the arguments of BETAI leave [0, 1].
  OneEffect neg(2.0, 4.0, -1.0, 3, 10);
  EXPECT_TRUE(neg.row.fratio_defined);
  EXPECT_FALSE(neg.row.pval_defined);
}

}  // namespace
}  // namespace meridox
