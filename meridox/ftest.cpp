// Approximate F tests of the components against zero, with Satterthwaite's degrees of
// freedom for the synthesized denominators, and the tests table.
#include <cmath>
#include <vector>

#include "meridox/ftest.h"
#include "records/format.h"

namespace meridox {

namespace {

bool usable(double v) { return std::isfinite(v); }

// An argument of BETAI that it refuses with a pause (a NaN is refused silently).
bool bad_beta_arg(float x) { return !std::isnan(x) && !(x >= 0.0f && x <= 1.0f); }

// Upper tail of F(nu1, nu2) at f, as the mean of two single-precision evaluations of the
// incomplete beta function. Where either continued fraction does not converge, or where
// single precision misses the 64-bit tail by half a unit of the printed fourth decimal
// or more (the log-gamma values of very large degrees of freedom carry few fractional
// bits in 32 bits), the tail computed in 64 bits is taken instead. The 64-bit tail goes
// to the tables whenever it is a number: the mean of the two single-precision tails is
// wrong by up to a factor of 2 where the tail is small. Returns false when the value is
// not defined.
bool upper_tail(double f, double nu1, double nu2, TestRow& t) {
  const float a1 = static_cast<float>(nu2 * 0.5);
  const float b1 = static_cast<float>(nu1 * 0.5);
  const float x1 = static_cast<float>(nu2 / (nu1 * f + nu2));
  const float a2 = static_cast<float>(nu1 * 0.5);
  const float b2 = static_cast<float>(nu2 * 0.5);
  const float x2 = static_cast<float>(nu1 / (nu2 / f + nu1));
  t.bad_beta_args = (bad_beta_arg(x2) ? 1 : 0) + (bad_beta_arg(x1) ? 1 : 0);
  bool converged = true;
  // 1 - I_x2 is held in single precision; the sum with I_x1 is taken in 64 bits.
  const float second = 1.0f - BETAI(a2, b2, x2, &converged);
  const double p =
      static_cast<double>(BETAI(a1, b1, x1, &converged)) + static_cast<double>(second);
  if (!usable(p)) return false;
  const double x = nu2 / (nu1 * f + nu2);
  const double y = nu1 * f / (nu1 * f + nu2);
  const double exact = incomplete_beta(nu2 * 0.5, nu1 * 0.5, x, y);
  t.pval = p / 2.0;
  if (usable(exact) && (!converged || std::fabs(t.pval - exact) >= 0.5E-4)) t.pval = exact;
  t.pval64 = usable(exact) ? exact : t.pval;
  return true;
}

}  // namespace

void ftest_values(int n, const NatMat& cnat, const NatMat& r, std::span<const double> ms,
                  std::span<const int> idf, std::span<const double> v, std::span<TestRow> rows) {
  for (int i = 0; i < n - 1; ++i) {
    TestRow& t = rows[i];
    t = TestRow{};
    double denom = 0.0;
    for (int j = i + 1; j < n; ++j) denom = denom + cnat[i][j] * v[j];
    t.denom = denom;

    // Satterthwaite: the denominator as a combination of mean squares; the sum is kept
    // in single precision. A term of 0 over 0 degrees of freedom (the error of a trial
    // without replication, mean square 0) contributes nothing and is left out. Any other term
    // over 0 degrees of freedom makes D infinite and so DF2 zero, which the console
    // reports; so does a sum with no term left.
    float d = 0.0f;
    bool d_infinite = false;
    int terms = 0;
    for (int j = i + 1; j < n; ++j) {
      const double term = r[i][j] * cnat[i][i] * ms[j];
      if (idf[j] == 0) {
        if (term == 0.0) continue;
        d_infinite = true;
      } else {
        d = static_cast<float>(static_cast<double>(d) + term * term / idf[j]);
      }
      ++terms;
    }
    const bool df2_zero = terms == 0 || (d_infinite && usable(denom));
    if (!d_infinite && terms > 0 && d != 0.0f) {
      const double df2 = denom * denom / static_cast<double>(d);
      if (usable(df2)) {
        t.df2 = df2;
        t.df2_defined = true;
      }
    }
    if (denom != 0.0) {
      const double f = ms[i] / denom;
      if (usable(f)) {
        t.fratio = f;
        t.fratio_defined = true;
      }
    }

    t.f_zero = t.fratio_defined && t.fratio == 0.0;
    t.df_zero = idf[i] == 0;
    t.df2_zero = (t.df2_defined && t.df2 == 0.0) || df2_zero;
    if (t.fratio_defined && t.df2_defined && t.fratio != 0.0 && idf[i] != 0 && t.df2 != 0.0) {
      t.pval_defined = upper_tail(t.fratio, static_cast<double>(idf[i]), t.df2, t);
    }
  }
}

void print_tests(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                 std::span<const double> ms, std::span<const int> idf, std::span<const double> v,
                 std::span<const TestRow> rows) {
  static const rec::Format kHeading = rec::Format::compile(
      "(/,/,/,/,10(' '),'TESTS OF VARIANCE COMPONENTS = 0',/,/,' ',"
      "' COMPONENT   VALUE         M.S.    DENOMINATOR','      DF   DF2      F-RATIO  P-VALUE',/)");
  // The table row of the format ('     ',A4,3E13.4,I8,F8.2,F10.3,F9.4), with the last three
  // fields edited here so that an undefined one can be left blank.
  static const rec::Format kRow = rec::Format::compile("('     ',A4,3E13.4,I8,A8,A10,A9)");
  static const rec::Format kTrailer = rec::Format::compile("(/,/,/,/,/)");

  for (int i = 0; i < n - 1; ++i) {
    const TestRow& t = rows[i];
    const int comp = i + 1;
    if (t.f_zero) io.say({"F(", comp, ") is zero"});
    if (t.df_zero) io.say({"DF(", comp, ") is zero"});
    if (t.df2_zero) io.say({"DF2(", comp, ") is zero"});
    for (int k = 0; k < t.bad_beta_args; ++k) io.pause("Bad argument X in BETAI");
  }

  io.write(unit, kHeading, std::span<const rec::Item>());
  for (int i = 0; i < n - 1; ++i) {
    const TestRow& t = rows[i];
    const std::string df2 = t.df2_defined ? rec::edit_fixed(t.df2, 8, 2) : std::string(8, ' ');
    const std::string f =
        t.fratio_defined ? rec::edit_fixed(t.fratio, 10, 3) : std::string(10, ' ');
    const std::string p = t.pval_defined ? rec::edit_fixed(t.pval, 9, 4) : std::string(9, ' ');
    io.write(unit, kRow, {cname[i], v[i], ms[i], t.denom, idf[i], df2, f, p});
  }
  io.write(unit, kRow, {"ERR ", v[n - 1], ms[n - 1]});
  io.write(unit, kTrailer, std::span<const rec::Item>());
}

}  // namespace meridox
