// The columns of the model, the report, effects.csv and the outcome of whole runs.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "gcasca/gcasca.h"
#include "gcasca/korbal_adapter.h"
#include "gcasca_run.h"
#include "korbal/datapass.h"
#include "korbal/model.h"
#include "records/csv.h"

namespace {

korbal::Control control(std::initializer_list<int> items) {
  korbal::Control c;
  std::int32_t* f[] = {&c.NLINES, &c.NV,     &c.CROSS, &c.ISELF, &c.IMATR,
                       &c.IRECP,  &c.NREP,   &c.NLOC,  &c.IFXL,  &c.IDATA,
                       &c.IPRINT, &c.NSETS,  &c.NCLON, &c.ICXL,  &c.IRXF};
  int k = 0;
  for (int v : items) *f[k++] = v;
  return c;
}

TEST(Columns, EveryColumnIsOneLevelAndTheDataPassAgrees) {
  const korbal::Control cases[] = {
      control({4, 1, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0}),
      control({4, 1, 0, 0, 1, 1, 2, 0, 0, 1, 0, 2, 0, 0, 0}),
      control({3, 1, 0, 1, 1, 1, 0, 3, 1, 1, 0, 2, 0, 0, 0}),
      control({3, 1, 0, -1, 1, 1, 2, 2, 1, 1, 0, 1, 2, 1, 1}),
      control({5, 1, 0, 0, 0, 1, 1, 1, 1, 1, 0, 2, 3, 1, 1}),
  };
  for (const korbal::Control& c : cases) {
    const gcasca::Design d = gcasca::design_of(c);
    SCOPED_TRACE(testing::Message() << "NLINES " << c.NLINES << " columns " << d.m.SDFL);
    const std::vector<gcasca::ColumnId> ids = gcasca::identify_columns(d);
    std::vector<std::string> ename(korbal::MAXCOL);
    korbal::label_columns(d.m, ename);
    std::set<std::tuple<std::string, int, int, int, int, int, int>> seen;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const gcasca::ColumnId& id = ids[i];
      EXPECT_EQ(id.effect, rec::csv::trimmed(ename[i])) << "column " << i + 1;
      EXPECT_TRUE(seen.insert({id.effect, id.loc, id.rep, id.set, id.line_1, id.line_2, id.clone})
                      .second)
          << "column " << i + 1 << " repeats a level";
    }
    // Every data line's slots name columns whose levels are the line's identifiers.
    const korbal::PatternIndex index(d.m, c.NLINES, c.NSETS, c.NCLON);
    for (std::int64_t k = 0; k < index.size; ++k) {
      const korbal::Ids x = index.ids(k);
      if (x.IFEM == x.IMALE) continue;
      korbal::Slots s;
      korbal::select_columns(d.m, c.NLINES, c.NSETS, c.NCLON, x, s);
      const int lo = std::min(x.IFEM, x.IMALE), hi = std::max(x.IFEM, x.IMALE);
      for (int slot = 0; slot < d.m.KRXF; ++slot) {
        const gcasca::ColumnId& id = ids[static_cast<std::size_t>(s.ICOL[slot] - 1)];
        const std::string& e = id.effect;
        EXPECT_TRUE(!id.loc || id.loc == x.ILOC) << e;
        EXPECT_TRUE(!id.rep || id.rep == x.IREP) << e;
        EXPECT_TRUE(!id.set || id.set == x.ISET) << e;
        EXPECT_TRUE(!id.clone || id.clone == x.ICLONE) << e;
        const bool one = e == "GCA" || e == "MATR", pair = e == "SCA" || e == "RECP";
        if (one) {
          EXPECT_TRUE(id.line_1 == lo || id.line_1 == hi) << e;
        } else if (pair) {
          EXPECT_TRUE(id.line_1 == lo && id.line_2 == hi) << e;
        } else if (!id.fixed) {
          EXPECT_TRUE(id.line_1 == x.IFEM && id.line_2 == x.IMALE) << e;
        }
      }
    }
  }
}

// A small diallel: three lines, two replications, reciprocal crosses, two traits.
const char* kControl =
    "  3  2  0 -1  0  1  2  1  0  1  0  1  0  0  0\n"
    "SMALL DIALLEL FOR THE REPORT\n"
    "YIELD               HEIGHT\n"
    "(6I3,2F8.2)\n";

std::string small_data() {
  const int crosses[][2] = {{1, 2}, {2, 1}, {1, 3}, {3, 1}, {2, 3}};
  const double y[2][5] = {{5.1, 4.7, 6.3, 6.0, 3.9}, {5.5, 4.9, 6.0, 6.4, 4.2}};
  std::string s;
  char buf[64];
  for (int r = 0; r < 2; ++r)
    for (int k = 0; k < 5; ++k) {
      std::snprintf(buf, sizeof buf, "  1%3d  1%3d%3d  0%8.2f%8.2f\n", r + 1, crosses[k][0],
                    crosses[k][1], y[r][k], 100.0 + 10 * y[r][k]);
      s += buf;
    }
  return s;
}

TEST(Report, SmallCaseBytes) {
  const std::string comps =
      std::string(gcasca_test::kComponentsHeader) +
      gcasca_test::component_rows("YIELD", {{"MEAN", "20"}, {"REPS", "0.01"}, {"GCA", "0.5"},
                                            {"SCA", "0.2"}, {"RECP", "-0.1"}, {"ERR", "0.25"}}) +
      gcasca_test::component_rows("HEIGHT", {{"GCA", "5"}, {"ERR", "NA"}});
  const gcasca_test::Outcome o = gcasca_test::run_gcasca(kControl, small_data(), comps);
  EXPECT_EQ(o.status, 1) << o.console;  // HEIGHT has no positive error component
  EXPECT_EQ(o.report, testsupport::crlf({
      "1",
      "",
      "                    * * * *  P R E D I C T E D   D I A L L E L   E F F E C T S  * * * *",
      "0                            GCASCA - best linear unbiased prediction of the effects of the",
      "                             parents and crosses of a diallel: general and specific combining",
      "                             ability, selfs, maternal and reciprocal effects and their interactions,",
      "                             from the mixed-model equations with the variance components of meridox.",
      "                             Means, locations, replications and sets are fixed; the rest is random.",
      "0                   * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * *",
      "",
      "                                          Title:   SMALL DIALLEL FOR THE REPORT                                                    ",
      "",
      "                                          Number of observations                 =       10",
      "                                          Number of columns of the model         =       13",
      "                                          Fixed columns dropped as dependent     =        2",
      "                                          Number of traits                       =        2",
      "1",
      "0                                    P R E D I C T E D   E F F E C T S   F O R",
      "0                                                YIELD           ",
      "0        Components used",
      "0        EFFECT      VARIANCE    ERR / EFFECT",
      "         GCA          .500000         .500000    ",
      "         SCA          .200000         1.25000    ",
      "         RECP        -.100000    not positive: its effects are predicted as 0",
      "         ERR          .250000    ",
      "0        GCA  general combining ability",
      "0         SET  LINE  PREDICTION              SE         RELIABILITY    RANK",
      "            1     1     .647668         .541060               .4145       1",
      "            1     2    -.692687         .533153               .4315       3",
      "            1     3     .450183E-01     .533153               .4315       2",
      "0        SE of a difference of two lines of a set:  smallest     .586739     mean     .600957     largest     .608066    ",
      "0        SCA  specific combining ability",
      "0         SET   LOW  HIGH  PREDICTION              SE         RELIABILITY",
      "            1     1     2    -.180073E-01     .406793               .1726",
      "            1     1     3     .277075         .406793               .1726",
      "            1     2     3    -.259067         .408460               .1658",
      "0        RECP reciprocal effect (sign +1 for the cross whose female is the lower line)",
      "0         SET   LOW  HIGH  PREDICTION              SE         RELIABILITY",
      "            1     1     2     .000000         .000000                  NA",
      "            1     1     3     .000000         .000000                  NA",
      "            1     2     3     .000000         .000000                  NA",
      "0 TRAIT HEIGHT           IS NOT PREDICTED: ERROR VARIANCE COMPONENT NOT POSITIVE",
      "1",
      "",
      "",
      "0 * * * * E n d   o f   t h e   p r e d i c t i o n s  * * * *",
  }));
  const auto rows = rec::csv::parse(o.effects);
  ASSERT_EQ(rows.size(), 10u);  // header, then YIELD's 9 random columns only
  // RECP of the pair 2 x 3: one cross made, in two replications; no named parents.
  EXPECT_EQ(rows[9], (std::vector<std::string>{"YIELD", "RECP", "NA", "NA", "1", "2", "3", "NA",
                                                "0", "0", "NA", "NA", "NA", "2"}));
}

// With every effect fixed: the estimates, SEs, ranks and the tests of the GCA differences
// of the small diallel (3 lines: SCA has no degrees of freedom and is 0; RECP of the pair
// 2 x 3, made in one direction only, is confounded and 0), and the two tables.
TEST(Report, FixedSmallCaseBytes) {
  const gcasca_test::Outcome o = gcasca_test::run_gcasca_fixed(kControl, small_data());
  ASSERT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.report, testsupport::crlf({
      "1",
      "",
      "                    * * * *  E S T I M A T E D   D I A L L E L   E F F E C T S  * * * *",
      "0                            GCASCA - least-squares estimates of the effects of the parents and",
      "                             crosses of a diallel, every effect fixed: general and specific combining",
      "                             ability, selfs, maternal and reciprocal effects and their interactions,",
      "                             each restricted to what the effects before it leave unexplained, with",
      "                             standard errors from the error mean square of the analysis of variance.",
      "0                   * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * *",
      "",
      "                                          Title:   SMALL DIALLEL FOR THE REPORT                                                    ",
      "",
      "                                          Number of observations                 =       10",
      "                                          Number of columns of the model         =       13",
      "                                          Fixed columns dropped as dependent     =        2",
      "                                          Number of traits                       =        2",
      "1",
      "0                                L E A S T - S Q U A R E S   E S T I M A T E S   F O R",
      "0                                                YIELD           ",
      "0        Error mean square     .425000E-01 on       4 degrees of freedom (the error of the analysis of variance)",
      "0        GCA  general combining ability",
      "0         SET  LINE    ESTIMATE              SE         RANK",
      "            1     1     1.04167         .108653           1",
      "            1     2    -1.08333         .909060E-01       3",
      "            1     3     .416667E-01     .909060E-01       2",
      "0        SE of a difference of two lines of a set:  smallest     .145774     mean     .167615     largest     .178536    ",
      "0        SCA  specific combining ability",
      "0         SET   LOW  HIGH    ESTIMATE              SE",
      "            1     1     2     .000000         .000000    ",
      "            1     1     3     .000000         .000000    ",
      "            1     2     3     .000000         .000000    ",
      "0        RECP reciprocal effect (sign +1 for the cross whose female is the lower line)",
      "0         SET   LOW  HIGH    ESTIMATE              SE",
      "            1     1     2     .250000         .103078    ",
      "            1     1     3    -.250000E-01     .103078    ",
      "            1     2     3     .000000         .000000    ",
      "0        GCA  differences of two lines of a set (the first line minus the second)",
      "0         SET  LINE  LINE  DIFFERENCE              SE              T        P-VALUE",
      "            1     1     2     2.12500         .178536         11.9024         .0003",
      "            1     1     3     1.00000         .178536         5.60112         .0050",
      "            1     2     3    -1.12500         .145774        -7.71743         .0015",
      "1",
      "0                                L E A S T - S Q U A R E S   E S T I M A T E S   F O R",
      "0                                                HEIGHT          ",
      "0        Error mean square     4.25000     on       4 degrees of freedom (the error of the analysis of variance)",
      "0        GCA  general combining ability",
      "0         SET  LINE    ESTIMATE              SE         RANK",
      "            1     1     10.4167         1.08653           1",
      "            1     2    -10.8333         .909059           3",
      "            1     3     .416667         .909059           2",
      "0        SE of a difference of two lines of a set:  smallest     1.45774     mean     1.67615     largest     1.78536    ",
      "0        SCA  specific combining ability",
      "0         SET   LOW  HIGH    ESTIMATE              SE",
      "            1     1     2     .000000         .000000    ",
      "            1     1     3     .000000         .000000    ",
      "            1     2     3     .000000         .000000    ",
      "0        RECP reciprocal effect (sign +1 for the cross whose female is the lower line)",
      "0         SET   LOW  HIGH    ESTIMATE              SE",
      "            1     1     2     2.50000         1.03078    ",
      "            1     1     3    -.250000         1.03078    ",
      "            1     2     3     .000000         .000000    ",
      "0        GCA  differences of two lines of a set (the first line minus the second)",
      "0         SET  LINE  LINE  DIFFERENCE              SE              T        P-VALUE",
      "            1     1     2     21.2500         1.78536         11.9024         .0003",
      "            1     1     3     10.0000         1.78536         5.60112         .0050",
      "            1     2     3    -11.2500         1.45774        -7.71744         .0015",
      "1",
      "",
      "",
      "0 * * * * E n d   o f   t h e   e s t i m a t e s  * * * *",
  }));
  const auto rows = rec::csv::parse(o.effects);
  ASSERT_EQ(rows.size(), 19u);  // header, then 9 genetic columns per trait
  EXPECT_EQ(rows[0], (std::vector<std::string>{"trait", "effect", "location", "replication", "set",
                                               "line_1", "line_2", "clone", "estimate", "se"}));
  EXPECT_EQ(std::vector<std::string>(rows[16].begin(), rows[16].begin() + 8),
            (std::vector<std::string>{"HEIGHT", "RECP", "NA", "NA", "1", "1", "2", "NA"}));
  EXPECT_NEAR(std::stod(rows[16][8]), 2.5, 1e-12);
  EXPECT_NEAR(std::stod(rows[16][9]), 1.0307764064052976, 1e-12);
  const auto diffs = rec::csv::parse(o.differences);
  ASSERT_EQ(diffs.size(), 7u);
  EXPECT_EQ(diffs[0], (std::vector<std::string>{"trait", "effect", "set", "level_1", "level_2",
                                                "difference", "se", "t", "p"}));
  EXPECT_EQ(diffs[6][0] + diffs[6][1] + diffs[6][3] + diffs[6][4], "HEIGHTGCA23");
}

// Without error degrees of freedom (one plot per cross) the estimates stand, and every
// SE, t and P is undefined: NA in the tables, said once on the trait's page.
TEST(Report, FixedWithoutErrorDegreesOfFreedom) {
  const double y[] = {5.0, 6.5, 4.0, 7.5, 3.0, 6.0};  // crosses 1x2, 1x3, 1x4, 2x3, 2x4, 3x4
  std::string data;
  char buf[64];
  int k = 0;
  for (int i = 1; i <= 4; ++i)
    for (int j = i + 1; j <= 4; ++j) {
      std::snprintf(buf, sizeof buf, "  1%3d%3d  0%8.2f\n", i, j, y[k++]);
      data += buf;
    }
  const gcasca_test::Outcome o = gcasca_test::run_gcasca_fixed(
      "  4  1  0 -1  0  0  0  0  0  1  0  1  0  0  0\nT\nY\n(4I3,F8.2)\n", data);
  ASSERT_EQ(o.status, 0) << o.console << o.report;
  EXPECT_NE(o.report.find("0        No error degrees of freedom: the standard errors and tests "
                          "are not defined (NA)\r\n"),
            std::string::npos)
      << o.report;
  const auto effects = gcasca_test::rows_by_key(o.effects, 8);
  ASSERT_EQ(effects.size(), 10u);
  // g_1 = (p X_1. - 2 X..) / (p (p - 2)) with X_1. = 15.5, X.. = 32.
  EXPECT_NEAR(effects.at("Y,GCA,NA,NA,1,1,NA,NA")[0], (4 * 15.5 - 2 * 32.0) / 8.0, 1e-9);
  for (const auto& [key, v] : effects) EXPECT_TRUE(std::isnan(v[1])) << key;
  const auto diffs = gcasca_test::rows_by_key(o.differences, 5);
  ASSERT_EQ(diffs.size(), 6u);
  for (const auto& [key, v] : diffs) EXPECT_TRUE(std::isnan(v[1]) && std::isnan(v[2]) && std::isnan(v[3])) << key;
}

// effects.csv names the parents of every level and counts the data lines behind it: on
// an unbalanced trial read from a CSV file with named parents, against counts made here.
TEST(EffectsTable, NamesAndLinesOfEveryLevel) {
  // 3 parents, 2 locations, 2 replications, FXL and RXF; crosses made unevenly.
  const std::string control =
      "  3  1  0 -1  1  1  2  2  1  1  0  1  0  0  1\nUNBALANCED\nY\nCSV Loc Rep - Fem Male - Y\n";
  const std::vector<std::string> names = {"Amy", "Bob", "Zed"};  // levels 1, 2, 3
  struct Plot {
    int loc, rep, fem, male;
  };
  const std::vector<Plot> plots = {
      {1, 1, 1, 2}, {1, 1, 2, 1}, {1, 1, 1, 3}, {1, 1, 1, 3}, {1, 2, 1, 2}, {1, 2, 3, 2},
      {2, 1, 1, 2}, {2, 1, 3, 1}, {2, 2, 1, 2}, {2, 2, 1, 2}, {2, 2, 2, 3}, {2, 2, 3, 1}};
  std::string data = "Loc,Rep,Fem,Male,Y\n";
  for (std::size_t k = 0; k < plots.size(); ++k) {
    const Plot& p = plots[k];
    data += std::to_string(p.loc) + "," + std::to_string(p.rep) + "," + names[p.fem - 1] + "," +
            names[p.male - 1] + "," + std::to_string(10 + (k * 7) % 5) + "\n";
  }
  data += "1,1,Bob,Bob,9\n2,1,Amy,Zed,NA\n";  // a self and a missing value: no lines
  const std::string comps = std::string(gcasca_test::kComponentsHeader) +
                            gcasca_test::component_rows("Y", {{"GCA", "1"}, {"SCA", "0.5"},
                                                              {"MATR", "0.3"}, {"RECP", "0.2"},
                                                              {"FXL", "0.2"}, {"RXF", "0.1"},
                                                              {"ERR", "1"}});
  const gcasca_test::Outcome o = gcasca_test::run_gcasca(control, data, comps);
  ASSERT_EQ(o.status, 0) << o.console << o.report;
  const auto rows = rec::csv::parse(o.effects);
  ASSERT_EQ(rows.front(), (std::vector<std::string>{"trait", "effect", "location", "replication",
                                                    "set", "line_1", "line_2", "clone", "blup",
                                                    "se", "reliability", "name_1", "name_2",
                                                    "lines"}));
  auto num = [](const std::string& s) { return s == "NA" ? 0 : std::stoi(s); };
  std::set<std::string> effects;
  for (std::size_t k = 1; k < rows.size(); ++k) {
    const auto& r = rows[k];
    ASSERT_EQ(r.size(), 14u);
    const std::string& e = r[1];
    const int loc = num(r[2]), rep = num(r[3]), l1 = num(r[5]), l2 = num(r[6]);
    long lines = 0;
    for (const Plot& p : plots) {
      const int lo = std::min(p.fem, p.male), hi = std::max(p.fem, p.male);
      if (e == "GCA" || e == "MATR")
        lines += p.fem == l1 || p.male == l1;
      else if (e == "SCA" || e == "RECP")
        lines += lo == l1 && hi == l2;
      else if (e == "FXL")
        lines += p.loc == loc && p.fem == l1 && p.male == l2;
      else if (e == "RXF")
        lines += p.loc == loc && p.rep == rep && p.fem == l1 && p.male == l2;
    }
    SCOPED_TRACE(e + " row " + std::to_string(k));
    effects.insert(e);
    EXPECT_EQ(r[13], std::to_string(lines));
    EXPECT_EQ(r[11], l1 ? names[l1 - 1] : "NA");
    EXPECT_EQ(r[12], l2 ? names[l2 - 1] : "NA");
  }
  EXPECT_EQ(effects, (std::set<std::string>{"GCA", "SCA", "MATR", "RECP", "FXL", "RXF"}));
}

// The progress lines of the data pass are stamped with the clock the run is given.
TEST(Runs, ConsoleStampsComeFromTheGivenClock) {
  const std::string comps = std::string(gcasca_test::kComponentsHeader) +
                            gcasca_test::component_rows("YIELD", {{"ERR", "1"}}) +
                            gcasca_test::component_rows("HEIGHT", {{"ERR", "1"}});
  const gcasca_test::Outcome o =
      gcasca_test::run_gcasca(kControl, small_data(), comps, {13, 24, 35, 46});
  ASSERT_EQ(o.status, 0) << o.console;
  const std::regex stamp("[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9]");
  std::vector<std::string> stamps;
  for (auto it = std::sregex_iterator(o.console.begin(), o.console.end(), stamp);
       it != std::sregex_iterator(); ++it)
    stamps.push_back(it->str());
  EXPECT_EQ(stamps, std::vector<std::string>(2, "13:24:35.46")) << o.console;
  EXPECT_NE(o.console.find("Reading problem dataset   13:24:35.46"), std::string::npos);
  EXPECT_NE(o.console.find("Matrices are complete     13:24:35.46"), std::string::npos);
}

TEST(Runs, RefusedInputEndsWithItsStatus) {
  const std::string comps = std::string(gcasca_test::kComponentsHeader) +
                            gcasca_test::component_rows("YIELD", {{"ERR", "1"}}) +
                            gcasca_test::component_rows("HEIGHT", {{"ERR", "1"}});
  const std::string bad_line = small_data() + "  1  1  1  4  2  0    5.00    5.00\n";
  struct Case {
    const char* what;
    std::string control, data, components;
    int status;
    const char* says;  // on the report (status 1) or the console (status 2)
  } cases[] = {
      {"all predicted", kControl, small_data(), comps, 0, "Stop - Program terminated."},
      {"no components for a trait", kControl, small_data(),
       std::string(gcasca_test::kComponentsHeader) +
           gcasca_test::component_rows("YIELD", {{"ERR", "1"}}),
       1, "HEIGHT           IS NOT PREDICTED: NO VARIANCE COMPONENTS"},
      {"line out of range", kControl, bad_line, comps, 1, "IS OUTSIDE 1 TO     3"},
      {"too many variables",
       "  3 11  0 -1  0  1  2  1  0  1  0  1  0  0  0\nT\nY\n(6I3,F8.2)\n", small_data(),
       comps, 1, "JOB TERMINATED"},
      {"too many columns", " 40  2  0 -1  0  1  2  1  0  1  0  1  0  0  0\nT\nY\n(6I3,F8.2)\n",
       small_data(), comps, 1,
       "0 The model has       1604 columns; at most 550 are provided for ,JOB TERMINATED\r\n"},
      {"not a components table", kControl, small_data(), "a,b\n1,2\n", 2,
       "not a table of variance components"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const gcasca_test::Outcome o = gcasca_test::run_gcasca(c.control, c.data, c.components);
    EXPECT_EQ(o.status, c.status) << o.console;
    EXPECT_NE((c.status == 1 ? o.report : o.console).find(c.says), std::string::npos)
        << o.report << o.console;
    // effects.csv is written only when the data were analysed.
    EXPECT_EQ(o.effects.empty(), c.status == 2 || c.data == bad_line || c.control != kControl);
  }
}

}  // namespace
