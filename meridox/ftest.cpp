// Approximate F tests of the components against zero, with Satterthwaite's degrees of
// freedom for the synthesized denominators, and the tests table.
#include <cmath>
#include <vector>

#include "meridox/ftest.h"
#include "records/format.h"

namespace meridox {

namespace {

bool usable(double v) { return std::isfinite(v); }

// Upper tail of F(nu1, nu2) at f, as the mean of two evaluations of the incomplete beta
// function. Returns false when the value is not defined.
bool upper_tail(double f, double nu1, double nu2, rec::Io* io, double& pval) {
  const float a1 = static_cast<float>(nu2 * 0.5);
  const float b1 = static_cast<float>(nu1 * 0.5);
  const float x1 = static_cast<float>(nu2 / (nu1 * f + nu2));
  const float a2 = static_cast<float>(nu1 * 0.5);
  const float b2 = static_cast<float>(nu2 * 0.5);
  const float x2 = static_cast<float>(nu1 / (nu2 / f + nu1));
  // 1 - I_x2 is held in single precision; the sum with I_x1 is taken in 64 bits.
  const float second = 1.0f - BETAI(a2, b2, x2, io);
  const double p = static_cast<double>(BETAI(a1, b1, x1, io)) + static_cast<double>(second);
  if (!usable(p)) return false;
  pval = p / 2.0;
  return true;
}

}  // namespace

void ftest_values(int n, const NatMat& cnat, const NatMat& r, std::span<const double> ms,
                  std::span<const int> idf, std::span<const double> v, std::span<TestRow> rows,
                  rec::Io* io) {
  for (int i = 0; i < n - 1; ++i) {
    TestRow& t = rows[i];
    t = TestRow{};
    double denom = 0.0;
    for (int j = i + 1; j < n; ++j) denom = denom + cnat[i][j] * v[j];
    t.denom = denom;

    // Satterthwaite: the denominator as a combination of mean squares; the sum is kept
    // in single precision. A zero degrees of freedom among its terms leaves it undefined;
    // a non-zero term over zero degrees of freedom makes D infinite and so DF2 zero, which
    // the console reports, unless a zero term over zero makes D meaningless altogether.
    float d = 0.0f;
    bool d_ok = true;
    bool d_infinite = false, d_meaningless = false;
    for (int j = i + 1; j < n; ++j) {
      const double term = r[i][j] * cnat[i][i] * ms[j];
      if (idf[j] == 0) {
        d_ok = false;
        (term != 0.0 ? d_infinite : d_meaningless) = true;
        continue;
      }
      d = static_cast<float>(static_cast<double>(d) + term * term / idf[j]);
    }
    const bool df2_zero_by_infinite_d = d_infinite && !d_meaningless && usable(denom);
    if (d_ok && d != 0.0f) {
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

    const int comp = i + 1;
    if (io) {
      if (t.fratio_defined && t.fratio == 0.0) io->say({"F(", comp, ") is zero"});
      if (idf[i] == 0) io->say({"DF(", comp, ") is zero"});
      if ((t.df2_defined && t.df2 == 0.0) || df2_zero_by_infinite_d)
        io->say({"DF2(", comp, ") is zero"});
    }
    if (t.fratio_defined && t.df2_defined && t.fratio != 0.0 && idf[i] != 0 && t.df2 != 0.0) {
      t.pval_defined = upper_tail(t.fratio, static_cast<double>(idf[i]), t.df2, io, t.pval);
    }
  }
}

void FTEST(rec::Io& io, int unit, int n, std::span<const std::string> cname, const NatMat& cnat,
           const NatMat& r, std::span<const double> ms, std::span<const int> idf,
           std::span<const double> v) {
  static const rec::Format kHeading = rec::Format::compile(
      "(/,/,/,/,10(' '),'TESTS OF VARIANCE COMPONENTS = 0',/,/,' ',"
      "' COMPONENT   VALUE         M.S.    DENOMINATOR','      DF   DF2      F-RATIO  P-VALUE',/)");
  // The table row of the format ('     ',A4,3E13.4,I8,F8.2,F10.3,F9.4), with the last three
  // fields edited here so that an undefined one can be left blank.
  static const rec::Format kRow = rec::Format::compile("('     ',A4,3E13.4,I8,A8,A10,A9)");
  static const rec::Format kTrailer = rec::Format::compile("(/,/,/,/,/)");

  std::vector<TestRow> rows(n > 1 ? n - 1 : 0);
  ftest_values(n, cnat, r, ms, idf, v, rows, &io);

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
