// The interchange file: exact records as written, and round trips through the reader
// for groups of 5, 8, 9 and 15 values, negative mean products included.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "records/interchange.h"
#include "support.h"

namespace {

namespace ix = rec::interchange;
using rec::Io;
using rec::OpenMode;
using testsupport::crlf;
using testsupport::read_file;
using testsupport::TempDir;

std::string g(double v) { return rec::edit_general(v, 12, 7); }

TEST(InterchangeWrite, OneVariableFiveEffects) {
  TempDir dir;
  std::istringstream in;
  std::ostringstream out;
  {
    Io io({}, in, out, dir.path());
    io.open(3, ix::kFileName, OpenMode::Output);
    ix::write_header(io, 3, 1, 0, 5);
    const char* codes[5] = {"MEAN", "GCA", "SCA", "RECP", "MATR"};
    for (int e = 0; e < 5; ++e) {
      std::vector<double> c(5, 0.0);
      for (int k = 0; k < 5 - e; ++k) c[static_cast<std::size_t>(k)] = 2.5 * (k + 1);
      ix::write_coefficients(io, 3, codes[e], e == 4 ? 0 : e + 1, c);
    }
    ix::write_variance_label(io, 3, "YIELD   KG/PLOT ");
    ix::write_mean_squares(io, 3, 0, 0, std::vector<double>{1234.5, 0.0, 12.25, 0.5, 1.0e-5});
    ix::write_error(io, 3, 40, 3.75);
  }
  EXPECT_EQ(read_file(dir / "MERIDOX_IN.DAT"),
            crlf({"   1   0   5   1",
                  "MEAN   1  2.500000    5.000000    7.500000    10.00000    12.50000    ",
                  "GCA    2  2.500000    5.000000    7.500000    10.00000    .0000000    ",
                  "SCA    3  2.500000    5.000000    7.500000    .0000000    .0000000    ",
                  "RECP   4  2.500000    5.000000    .0000000    .0000000    .0000000    ",
                  "MATR   0  2.500000    .0000000    .0000000    .0000000    .0000000    ",
                  "            YIELD   KG/PLOT ",
                  "   0   0  1234.500    .0000000    12.25000    .5000000    .1000000E-04",
                  "      40  3.750000    "}));
}

TEST(InterchangeWrite, NegativeValuesTakeTheExponentForm) {
  TempDir dir;
  std::istringstream in;
  std::ostringstream out;
  {
    Io io({}, in, out, dir.path());
    io.open(3, ix::kFileName, OpenMode::Output);
    ix::write_cross_label(io, 3, "YIELD", "HEIGHT  CM");
    ix::write_mean_squares(io, 3, 0, 7, std::vector<double>{-0.25, 2.0, -1234.5, -0.0});
    ix::write_error(io, 3, 12, -0.5);
  }
  EXPECT_EQ(read_file(dir / "MERIDOX_IN.DAT"),
            crlf({"YIELD            - BY - HEIGHT  CM      ",
                  "   0   7  -.250000E+002.000000    -.123450E+04.0000000    ",
                  "      12  -.500000E+00"}));
}

// Writes one problem and reads it back.
void round_trip(int ne, int nv, int cross, bool negative) {
  SCOPED_TRACE("NE " + std::to_string(ne));
  TempDir dir;
  std::istringstream in;
  std::ostringstream out;
  const int nanal = cross > 0 ? nv * (nv + 1) / 2 : nv;
  std::vector<std::vector<double>> coef, ms;
  std::vector<double> err;
  for (int e = 0; e < ne; ++e) {
    std::vector<double> c(static_cast<std::size_t>(ne), 0.0);
    for (int k = 0; k < ne - e; ++k) c[static_cast<std::size_t>(k)] = 1.0 + 0.5 * k + e;
    coef.push_back(c);
  }
  for (int a = 0; a < nanal; ++a) {
    std::vector<double> m;
    for (int e = 0; e < ne; ++e) m.push_back((negative && (e + a) % 3 == 1 ? -1.0 : 1.0) * (e * 13.37 + a + 0.001));
    ms.push_back(m);
    err.push_back(negative && a % 2 ? -0.0625 * (a + 1) : 2.5 + a);
  }
  {
    Io io({}, in, out, dir.path());
    io.open(3, ix::kFileName, OpenMode::Output);
    ix::write_header(io, 3, nv, cross, ne);
    for (int e = 0; e < ne; ++e) ix::write_coefficients(io, 3, e == 0 ? "MEAN" : "GCA", e, coef[e]);
    for (int a = 0; a < nanal; ++a) {
      if (cross > 0 && a == 1)
        ix::write_cross_label(io, 3, "VARIABLE ONE", "VARIABLE TWO");
      else
        ix::write_variance_label(io, 3, "VARIABLE");
      ix::write_mean_squares(io, 3, 0, 0, ms[static_cast<std::size_t>(a)]);
      ix::write_error(io, 3, 17, err[static_cast<std::size_t>(a)]);
    }
  }
  const std::string file = read_file(dir / "MERIDOX_IN.DAT");
  const std::size_t groups = static_cast<std::size_t>(ne + nanal);
  const std::size_t per_group = ne % 8 == 0 ? static_cast<std::size_t>(ne / 8 + 1)
                                            : static_cast<std::size_t>((ne + 7) / 8);
  std::size_t records = 0;
  for (char c : file) records += c == '\n';
  EXPECT_EQ(records, 1 + groups * per_group + 2 * static_cast<std::size_t>(nanal));

  Io io({}, in, out, dir.path());
  io.open(5, ix::kFileName, OpenMode::Input);
  ix::Header h;
  ASSERT_TRUE(ix::read_header(io, 5, h));
  EXPECT_EQ(h.nv, nv);
  EXPECT_EQ(h.cross, cross);
  EXPECT_EQ(h.ne, ne);
  EXPECT_EQ(h.itest, 1);
  for (int e = 0; e < ne; ++e) {
    std::string code;
    std::int32_t df = -1;
    std::vector<double> c(static_cast<std::size_t>(ne), -9.0);
    ix::read_coefficients(io, 5, code, df, c);
    EXPECT_EQ(code, e == 0 ? "MEAN" : "GCA ");
    EXPECT_EQ(df, e);
    EXPECT_EQ(c, coef[static_cast<std::size_t>(e)]);
  }
  for (int a = 0; a < nanal; ++a) {
    std::string label;
    ix::read_label(io, 5, label);
    if (cross > 0 && a == 1)
      EXPECT_EQ(label, "VARIABLE ONE     - BY - VARIABLE TWO    ");
    else
      EXPECT_EQ(label, "            VARIABLE                    ");
    std::vector<double> m(static_cast<std::size_t>(ne), -9.0);
    ix::read_mean_squares(io, 5, m);
    for (int e = 0; e < ne; ++e) {
      double want = ms[static_cast<std::size_t>(a)][static_cast<std::size_t>(e)];
      // Seven significant digits survive, six for negative values.
      EXPECT_NEAR(m[static_cast<std::size_t>(e)], want, std::abs(want) * 5e-6 + 1e-12);
    }
    std::int32_t df = 0;
    double em = 0;
    ix::read_error(io, 5, df, em);
    EXPECT_EQ(df, 17);
    EXPECT_DOUBLE_EQ(em, err[static_cast<std::size_t>(a)]);
  }
  EXPECT_FALSE(ix::read_header(io, 5, h));  // nothing follows the problem
}

TEST(InterchangeRoundTrip, FiveEffects) { round_trip(5, 1, 0, false); }
TEST(InterchangeRoundTrip, EightEffectsWithTheEmptyRecords) { round_trip(8, 2, 0, false); }
TEST(InterchangeRoundTrip, NineEffectsWithContinuationRecords) { round_trip(9, 2, 1, false); }
TEST(InterchangeRoundTrip, FifteenEffectsCrossProducts) { round_trip(15, 3, 1, true); }
TEST(InterchangeRoundTrip, NegativeMeanProductsEightEffects) { round_trip(8, 2, 2, true); }

TEST(InterchangeWrite, EightValuesEndWithAnEmptyRecordAndContinuationsAreIndented) {
  TempDir dir;
  std::istringstream in;
  std::ostringstream out;
  {
    Io io({}, in, out, dir.path());
    io.open(3, ix::kFileName, OpenMode::Output);
    ix::write_coefficients(io, 3, "SCA", 12, std::vector<double>(8, 1.0));
    ix::write_mean_squares(io, 3, 3, 3, std::vector<double>(9, 0.5));
  }
  std::string ones, halves;
  for (int i = 0; i < 8; ++i) ones += g(1.0), halves += g(0.5);
  EXPECT_EQ(read_file(dir / "MERIDOX_IN.DAT"),
            crlf({"SCA   12  " + ones, "", "   3   3  " + halves, "          .5000000    "}));
}

TEST(InterchangeRead, TruncatedFileAndAsterisksAreRunErrors) {
  TempDir dir;
  testsupport::write_file(dir / "cut.dat",
                          "   1   0   1   1\r\nMEAN   1  1.000000    \r\n            Y\r\n"
                          "   0   0  ************\r\n");
  std::istringstream in;
  std::ostringstream out;
  Io io({}, in, out, dir.path());
  io.open(5, "cut.dat", OpenMode::Input);
  ix::Header h;
  ASSERT_TRUE(ix::read_header(io, 5, h));
  std::string code, label;
  std::int32_t df = 0;
  std::vector<double> c(1);
  ix::read_coefficients(io, 5, code, df, c);
  ix::read_label(io, 5, label);
  try {
    ix::read_mean_squares(io, 5, c);
    FAIL() << "asterisks accepted";
  } catch (const rec::RunError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Run-time error: READ on unit 5, file 'cut.dat', record 4: invalid character in real field "
              "'************' (columns 11-22)");
  }
  try {
    double m = 0;
    ix::read_error(io, 5, df, m);
    FAIL() << "end of file accepted";
  } catch (const rec::RunError& e) {
    EXPECT_EQ(std::string(e.what()), "Run-time error: READ on unit 5, file 'cut.dat': end of file after record 4");
  }
}

}  // namespace
