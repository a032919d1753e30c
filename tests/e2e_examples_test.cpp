// The shipped examples: both programs are run as real executables on each example in
// a scratch directory, and the korbal report, MERIDOX_IN.DAT and the meridox report
// must equal the files stored in examples/<name>/ byte for byte (the reports carry no
// time stamps, so nothing is normalised).
//
// After a deliberate change to what the programs print, regenerate the stored files
// with `make examples` (it reruns both programs in each example folder) and review the
// difference with `git diff examples` before committing it.
//
// The statistics in the stored reports are also checked against independent
// computations: closed-form sums of squares of the balanced small example, and the
// components of the realistic example solved from its expected mean squares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;
using testsupport::lines_of;
using testsupport::read_file;
using testsupport::run_in;
using testsupport::source_path;
using testsupport::TempDir;

namespace {

std::string korbal_exe() { return testsupport::program("korbal"); }
std::string meridox_exe() { return testsupport::program("meridox"); }

// Equal files, or a message naming the first line that differs.
::testing::AssertionResult same_file(const fs::path& produced, const fs::path& stored) {
  if (!fs::exists(stored)) return ::testing::AssertionFailure() << stored << " is missing";
  if (!fs::exists(produced)) return ::testing::AssertionFailure() << produced << " was not written";
  std::string a = read_file(produced), b = read_file(stored);
  if (a == b) return ::testing::AssertionSuccess();
  auto la = lines_of(a), lb = lines_of(b);
  std::size_t n = std::min(la.size(), lb.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (la[i] != lb[i])
      return ::testing::AssertionFailure()
             << stored.filename() << " differs at line " << i + 1 << ":\n  stored:   [" << lb[i]
             << "]\n  produced: [" << la[i] << "]\n(regenerate with `make examples` if intended)";
  }
  return ::testing::AssertionFailure() << stored.filename() << " differs in length or line ends: "
                                       << la.size() << " lines produced, " << lb.size()
                                       << " stored";
}

void reproduce(const std::string& name) {
  fs::path src = source_path("examples/" + name);
  TempDir tmp;
  fs::copy_file(src / (name + ".ctl"), tmp / (name + ".ctl"));
  fs::copy_file(src / (name + ".dat"), tmp / (name + ".dat"));
  ASSERT_EQ(run_in(tmp.path(), korbal_exe() + " " + name + ".ctl " + name + ".out " + name + ".dat"),
            0)
      << read_file(tmp / "console.txt");
  ASSERT_EQ(run_in(tmp.path(), meridox_exe() + " MERIDOX_IN.DAT " + name + ".vc"), 0)
      << read_file(tmp / "console.txt");
  EXPECT_TRUE(same_file(tmp / (name + ".out"), src / (name + ".out")));
  EXPECT_TRUE(same_file(tmp / "MERIDOX_IN.DAT", src / "MERIDOX_IN.DAT"));
  EXPECT_TRUE(same_file(tmp / (name + ".vc"), src / (name + ".vc")));
}

TEST(Examples, SmallReportsAreReproducedExactly) { reproduce("small"); }

TEST(Examples, RealisticReportsAreReproducedExactly) { reproduce("realistic"); }

// The trial over ten environments with GCA and SCA by location: korbal, meridox (also
// with F = 0) and gcasca, each of their outputs as stored.
TEST(Examples, TrialOverLocationsIsReproducedExactly) {
  const fs::path src = source_path("examples/met");
  TempDir tmp;
  for (const char* f : {"met.ctl", "diallelMET.csv"}) fs::copy_file(src / f, tmp / f);
  const std::string gcasca = testsupport::program("gcasca");
  for (const std::string& command :
       {korbal_exe() + " --csv csv met.ctl met.out diallelMET.csv",
        meridox_exe() + " --csv csv MERIDOX_IN.DAT met.vc",
        meridox_exe() + " --inbreeding 0 --csv csv_f0 MERIDOX_IN.DAT met_f0.vc",
        gcasca + " --csv csv met.ctl diallelMET.csv csv/components.csv met.gca"})
    ASSERT_EQ(run_in(tmp.path(), command), 0) << command << "\n" << read_file(tmp / "console.txt");
  for (const char* f :
       {"met.out", "MERIDOX_IN.DAT", "met.vc", "met_f0.vc", "met.gca", "csv/anova.csv",
        "csv/ems.csv", "csv/crosses.csv", "csv/levels.csv", "csv/components.csv",
        "csv/correlations.csv", "csv/problems.csv", "csv/effects.csv", "csv_f0/genetics.csv"})
    EXPECT_TRUE(same_file(tmp / f, src / f));
}

TEST(Examples, RealisticDataAreWhatTheGeneratorWrites) {
  if (std::system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
  fs::path src = source_path("examples/realistic");
  TempDir tmp;
  fs::copy_file(src / "simulate.py", tmp / "simulate.py");
  ASSERT_EQ(run_in(tmp.path(), "python3 simulate.py"), 0) << read_file(tmp / "console.txt");
  EXPECT_TRUE(same_file(tmp / "realistic.ctl", src / "realistic.ctl"));
  EXPECT_TRUE(same_file(tmp / "realistic.dat", src / "realistic.dat"));
}

// Griffing's methods 1 (hayman54: selfs and reciprocals) and 2 (zhang05: selfs, one of
// each cross) with the self lines analysed: korbal, meridox and gcasca reproduce every
// stored file, the CSV tables of the three included.
TEST(Examples, SelfLinesExamplesAreReproducedExactly) {
  const struct {
    const char *folder, *name;
  } cases[] = {{"method1", "hayman54"}, {"method2", "zhang05"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const fs::path src = source_path(std::string("examples/") + c.folder);
    const std::string n = c.name;
    TempDir tmp;
    for (const std::string& f : {n + ".ctl", n + ".csv"}) fs::copy_file(src / f, tmp / f);
    for (const std::string& cmd :
         {korbal_exe() + " --selfs --csv csv " + n + ".ctl " + n + ".out " + n + ".csv",
          meridox_exe() + " --csv csv MERIDOX_IN.DAT " + n + ".vc",
          testsupport::program("gcasca") + " --selfs --csv csv " + n + ".ctl " + n + ".csv csv/components.csv " +
              n + ".gca"})
      ASSERT_EQ(run_in(tmp.path(), cmd), 0) << cmd << read_file(tmp / "console.txt");
    for (const std::string& f : {n + ".out", std::string("MERIDOX_IN.DAT"), n + ".vc", n + ".gca"})
      EXPECT_TRUE(same_file(tmp / f, src / f));
    int tables = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(src / "csv")) {
      EXPECT_TRUE(same_file(tmp / "csv" / e.path().filename(), e.path()));
      ++tables;
    }
    EXPECT_EQ(tables, static_cast<int>(std::distance(fs::directory_iterator(tmp / "csv"),
                                                     fs::directory_iterator())));
  }
}

// --- Analysis lines of a korbal report ----------------------------------------------

// One row of an analysis table: "(39X,A5,2X,I5,4X,2G20.12)".
struct Row {
  int df = 0;
  double sum = 0, mean = 0;
};

// The rows of the first analysis table whose heading contains `title`, keyed by source
// (effects, "Error" and "Total"; the Total row has no mean).
std::map<std::string, Row> analysis_rows(const std::string& report, const std::string& title) {
  std::map<std::string, Row> rows;
  bool in = false;
  for (const auto& line : lines_of(report)) {
    if (!in) {
      in = line.find(title) != std::string::npos;
      continue;
    }
    if (line.find("S U M M A R Y") != std::string::npos) break;
    if (line.size() < 51 || line.substr(0, 40).find_first_not_of(" 0") != std::string::npos) continue;
    std::string source = line.substr(40, 5);
    source.erase(source.find_last_not_of(' ') + 1);
    if (source.empty() || source == "Sourc") continue;
    Row r;
    std::istringstream in_line(line.substr(46));
    in_line >> r.df >> r.sum >> r.mean;
    rows[source] = r;
  }
  return rows;
}

// --- Small example: a balanced 8 x 8 diallel, so closed forms exist ------------------

TEST(Examples, SmallSumsOfSquaresAgreeWithClosedForms) {
  const int p = 8;
  // x[b][f][m]: block b, female f, male m (selfs are read but not used).
  double x[3][p + 1][p + 1] = {};
  std::istringstream data(read_file(source_path("examples/small/small.dat")));
  std::string line;
  int n = 0;
  while (std::getline(data, line)) {
    int b = std::stoi(line.substr(0, 3)), f = std::stoi(line.substr(6, 3)),
        m = std::stoi(line.substr(9, 3));
    if (f == 0 && m == 0) break;
    if (f == m) continue;
    x[b][f][m] = std::stod(line.substr(15, 8));
    ++n;
  }
  ASSERT_EQ(n, 2 * p * (p - 1));
  const double r = 2;
  // Cross means over the two blocks, their margins and the block totals.
  double X[p + 1][p + 1] = {}, row[p + 1] = {}, col[p + 1] = {}, all = 0, block[3] = {}, uss = 0;
  for (int b = 1; b <= 2; ++b)
    for (int f = 1; f <= p; ++f)
      for (int m = 1; m <= p; ++m) {
        if (f == m) continue;
        X[f][m] += x[b][f][m] / r;
        block[b] += x[b][f][m];
        uss += x[b][f][m] * x[b][f][m];
      }
  for (int f = 1; f <= p; ++f)
    for (int m = 1; m <= p; ++m) {
      row[f] += X[f][m];
      col[m] += X[f][m];
      all += X[f][m];
    }
  double ct = (block[1] + block[2]) * (block[1] + block[2]) / n;
  double reps = (block[1] * block[1] + block[2] * block[2]) / (n / 2) - ct;
  double gca = 0, matr = 0, sym = 0, anti = 0;
  for (int i = 1; i <= p; ++i) {
    gca += (row[i] + col[i]) * (row[i] + col[i]);
    matr += (row[i] - col[i]) * (row[i] - col[i]);
    for (int j = i + 1; j <= p; ++j) {
      sym += (X[i][j] + X[j][i]) * (X[i][j] + X[j][i]);
      anti += (X[i][j] - X[j][i]) * (X[i][j] - X[j][i]);
    }
  }
  // Cross means without selfs: general and specific combining ability, maternal
  // effects and the remaining reciprocal differences, each on a plot basis (x r).
  double ss_gca = r * (gca / (2 * (p - 2)) - 2 * all * all / (p * (p - 2)));
  double ss_sca = r * (sym / 2 - gca / (2 * (p - 2)) + all * all / ((p - 1) * (p - 2)));
  double ss_matr = r * matr / (2 * p);
  double ss_recp = r * anti / 2 - ss_matr;

  auto rows = analysis_rows(read_file(source_path("examples/small/small.out")),
                            "A N A L Y S I S  O F  V A R I A N C E");
  auto near = [](double got, double want) { return std::abs(got - want) <= 1e-9 * std::abs(want) + 1e-6; };
  ASSERT_EQ(rows.count("REPS"), 1u);
  EXPECT_EQ(rows["MEAN"].df, 1);
  EXPECT_TRUE(near(rows["MEAN"].sum, ct)) << rows["MEAN"].sum << " vs " << ct;
  EXPECT_EQ(rows["REPS"].df, 1);
  EXPECT_TRUE(near(rows["REPS"].sum, reps)) << rows["REPS"].sum << " vs " << reps;
  EXPECT_EQ(rows["GCA"].df, p - 1);
  EXPECT_TRUE(near(rows["GCA"].sum, ss_gca)) << rows["GCA"].sum << " vs " << ss_gca;
  EXPECT_EQ(rows["SCA"].df, p * (p - 3) / 2);
  EXPECT_TRUE(near(rows["SCA"].sum, ss_sca)) << rows["SCA"].sum << " vs " << ss_sca;
  EXPECT_EQ(rows["MATR"].df, p - 1);
  EXPECT_TRUE(near(rows["MATR"].sum, ss_matr)) << rows["MATR"].sum << " vs " << ss_matr;
  EXPECT_EQ(rows["RECP"].df, (p - 1) * (p - 2) / 2);
  EXPECT_TRUE(near(rows["RECP"].sum, ss_recp)) << rows["RECP"].sum << " vs " << ss_recp;
  double err = uss - ct - reps - ss_gca - ss_sca - ss_matr - ss_recp;
  EXPECT_EQ(rows["Error"].df, n - 1 - 1 - (p - 1) - p * (p - 3) / 2 - (p - 1) - (p - 1) * (p - 2) / 2);
  EXPECT_TRUE(near(rows["Error"].sum, err)) << rows["Error"].sum << " vs " << err;
  EXPECT_EQ(rows["Total"].df, n);
  EXPECT_TRUE(near(rows["Total"].sum, uss));
}

// --- Realistic example: components from the expected mean squares -------------------

// Reals of G12.7 fields: `count` values, eight per record from column 11.
std::vector<double> g12_values(const std::vector<std::string>& lines, std::size_t& at, int count) {
  std::vector<double> v;
  while (static_cast<int>(v.size()) < count) {
    const std::string& l = lines.at(at++);
    for (int k = 0; k < 8 && static_cast<int>(v.size()) < count; ++k)
      v.push_back(std::stod(l.substr(10 + 12 * k, 12)));
  }
  if (count % 8 == 0) ++at;  // the record without values after a full group of eight
  return v;
}

struct Problem {
  int nv = 0, cross = 0, ne = 0;
  std::vector<std::string> name;           // effect codes
  std::vector<std::vector<double>> coef;   // coef[e][u]: coefficient of component u in EMS of e
  std::vector<std::vector<double>> ms;     // ms[k][e], error last
};

Problem read_interchange(const std::string& text) {
  auto lines = lines_of(text);
  Problem pr;
  std::istringstream head(lines.at(0));
  int itest = 0;
  head >> pr.nv >> pr.cross >> pr.ne >> itest;
  std::size_t at = 1;
  for (int e = 0; e < pr.ne; ++e) {
    std::string code = lines.at(at).substr(0, 4);
    auto c = g12_values(lines, at, pr.ne);  // written last effect first
    pr.name.push_back(code);
    std::vector<double> natural(pr.ne);
    for (int u = 0; u < pr.ne; ++u) natural[u] = c[pr.ne - 1 - u];
    pr.coef.push_back(natural);
  }
  int nanal = pr.cross > 0 ? pr.nv * (pr.nv + 1) / 2 : pr.nv;
  for (int k = 0; k < nanal; ++k) {
    ++at;  // label
    auto m = g12_values(lines, at, pr.ne);
    m.push_back(std::stod(lines.at(at++).substr(10, 12)));
    pr.ms.push_back(m);
  }
  return pr;
}

// Components of one analysis: back substitution in EMS(e) = ERR + sum over u >= e of
// coef[e][u] x V(u).
std::vector<double> solve_components(const Problem& pr, int k) {
  int ne = pr.ne;
  std::vector<double> v(ne + 1);
  v[ne] = pr.ms[k][ne];
  for (int e = ne - 1; e >= 0; --e) {
    double rest = v[ne];
    for (int u = e + 1; u < ne; ++u) rest += pr.coef[e][u] * v[u];
    v[e] = (pr.ms[k][e] - rest) / pr.coef[e][e];
  }
  return v;
}

// Components (name -> value) of every "VARIANCE COMPONENTS FOR" table of a meridox
// report, in order: rows "(' ',T46,A4,4X,F20.8,F25.8)".
std::vector<std::map<std::string, double>> component_tables(const std::string& report) {
  std::vector<std::map<std::string, double>> tables;
  bool in = false;
  for (const auto& line : lines_of(report)) {
    if (line.find("VARIANCE COMPONENTS FOR") != std::string::npos) {
      tables.emplace_back();
      in = true;
      continue;
    }
    if (line.find("TESTS OF VARIANCE") != std::string::npos) in = false;
    if (!in || line.size() < 98 || line.compare(0, 45, std::string(45, ' ')) != 0) continue;
    std::string name = line.substr(45, 4);
    if (name == "NAME") continue;
    name.erase(name.find_last_not_of(' ') + 1);
    tables.back()[name] = std::stod(line.substr(53, 20));
  }
  return tables;
}

TEST(Examples, RealisticComponentsSolveTheExpectedMeanSquares) {
  fs::path dir = source_path("examples/realistic");
  Problem pr = read_interchange(read_file(dir / "MERIDOX_IN.DAT"));
  ASSERT_EQ(pr.nv, 2);
  ASSERT_EQ(pr.cross, 1);
  ASSERT_EQ(pr.ne, 9);
  ASSERT_EQ(pr.ms.size(), 3u);
  // The model's effects, each with a positive own coefficient.
  std::vector<std::string> want = {"MEAN", "LOC ", "REPS", "SETS", "GCA ",
                                   "SCA ", "MATR", "RECP", "FXL "};
  EXPECT_EQ(pr.name, want);
  for (int e = 0; e < pr.ne; ++e) EXPECT_GT(pr.coef[e][e], 0.0) << pr.name[e];

  auto tables = component_tables(read_file(dir / "realistic.vc"));
  ASSERT_EQ(tables.size(), 3u);
  std::vector<std::vector<double>> v;
  for (int k = 0; k < 3; ++k) {
    v.push_back(solve_components(pr, k));
    for (int e = 0; e <= pr.ne; ++e) {
      std::string name = e < pr.ne ? pr.name[e] : "ERR";
      name.erase(name.find_last_not_of(' ') + 1);
      ASSERT_EQ(tables[k].count(name), 1u) << name;
      double got = tables[k][name], exp = v[k][e];
      EXPECT_NEAR(got, exp, 1e-8 * std::max(1.0, std::abs(exp)) + 1e-8)
          << "analysis " << k + 1 << " component " << name;
    }
  }
  // Genetic correlation in GCA from the components (printed with four decimals).
  double r_gca = v[1][4] / std::sqrt(v[0][4] * v[2][4]);
  auto lines = lines_of(read_file(dir / "realistic.vc"));
  auto heading = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("CORRELATIONS COMPUTED FROM VARIANCE") != std::string::npos;
  });
  ASSERT_NE(heading, lines.end());
  auto gca = std::find_if(heading, lines.end(),
                          [](const std::string& l) { return l.rfind("     GCA ", 0) == 0; });
  ASSERT_NE(gca, lines.end());
  ASSERT_GE(gca->size(), 27u);
  EXPECT_NEAR(std::stod(gca->substr(19, 8)), r_gca, 0.6e-4) << *gca;
}

// The small example has one diallel set, so SETS repeats the mean: 0 degrees of freedom
// and an all-zero row of coefficients. meridox leaves it out and estimates every other
// component; each must solve the expected mean squares without the SETS term.
TEST(Examples, SmallOneSetLeavesOutSetsAndEstimatesTheRest) {
  fs::path dir = source_path("examples/small");
  Problem pr = read_interchange(read_file(dir / "MERIDOX_IN.DAT"));
  ASSERT_EQ(pr.ne, 7);
  int sets = static_cast<int>(std::find(pr.name.begin(), pr.name.end(), "SETS") - pr.name.begin());
  ASSERT_LT(sets, pr.ne);
  for (int u = 0; u < pr.ne; ++u) ASSERT_EQ(pr.coef[sets][u], 0.0);

  // Drop the SETS row and column, then solve as before.
  Problem kept = pr;
  kept.name.erase(kept.name.begin() + sets);
  kept.coef.erase(kept.coef.begin() + sets);
  for (auto& row : kept.coef) row.erase(row.begin() + sets);
  for (auto& m : kept.ms) m.erase(m.begin() + sets);
  kept.ne = pr.ne - 1;
  std::vector<double> v = solve_components(kept, 0);

  std::string report = read_file(dir / "small.vc");
  EXPECT_NE(report.find("0 SETS HAS NO DEGREES OF FREEDOM; ITS COMPONENT IS NOT ESTIMABLE AND IS "
                        "LEFT OUT\r\n"),
            std::string::npos);
  auto tables = component_tables(report);
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0].count("SETS"), 0u);
  ASSERT_EQ(tables[0].size(), static_cast<std::size_t>(kept.ne + 1));
  for (int e = 0; e <= kept.ne; ++e) {
    std::string name = e < kept.ne ? kept.name[e] : "ERR";
    name.erase(name.find_last_not_of(' ') + 1);
    ASSERT_EQ(tables[0].count(name), 1u) << name;
    EXPECT_NEAR(tables[0][name], v[e], 1e-8 * std::max(1.0, std::abs(v[e]))) << name;
  }
  // GCA in closed form for this design: (MS(GCA) - MS(SCA)) / (own coefficient), since
  // the SCA coefficient of the GCA row equals that of the SCA row.
  int gca = static_cast<int>(std::find(kept.name.begin(), kept.name.end(), "GCA ") - kept.name.begin());
  int sca = static_cast<int>(std::find(kept.name.begin(), kept.name.end(), "SCA ") - kept.name.begin());
  ASSERT_DOUBLE_EQ(kept.coef[gca][sca], kept.coef[sca][sca]);
  double closed = (kept.ms[0][gca] - kept.ms[0][sca]) / kept.coef[gca][gca];
  EXPECT_NEAR(tables[0]["GCA"], closed, 1e-6 * std::abs(closed));
}

// --- --help and --version ------------------------------------------------------------

TEST(Usage, BothProgramsPrintUsageAndVersion) {
  TempDir tmp;
  ASSERT_EQ(run_in(tmp.path(), korbal_exe() + " --version"), 0);
  EXPECT_EQ(read_file(tmp / "console.txt"), "korbal 1.0.0\n");
  ASSERT_EQ(run_in(tmp.path(), meridox_exe() + " --version"), 0);
  EXPECT_EQ(read_file(tmp / "console.txt"), "meridox 1.0.0\n");

  ASSERT_EQ(run_in(tmp.path(), korbal_exe() + " --help"), 0);
  std::string help = read_file(tmp / "console.txt");
  EXPECT_EQ(help.rfind("Usage: korbal [--csv DIR] [--selfs] [CONTROL-FILE [REPORT-FILE [DATA-FILE]]]\n", 0), 0u) << help;
  EXPECT_NE(help.find("\nkorbal 1.0.0\n"), std::string::npos) << help;
  EXPECT_TRUE(help.ends_with("\"The data file\".\n")) << help;
  ASSERT_EQ(run_in(tmp.path(), meridox_exe() + " --help"), 0);
  help = read_file(tmp / "console.txt");
  EXPECT_EQ(help.rfind("Usage: meridox [--csv DIR] [--inbreeding F] [--error FILE] [INTERCHANGE-FILE [REPORT-FILE]]\n", 0), 0u) << help;
  EXPECT_NE(help.find("\nmeridox 1.0.0\n"), std::string::npos) << help;
  EXPECT_TRUE(help.ends_with("\"meridox report\".\n")) << help;
  // Neither run touched the directory beyond the console capture.
  EXPECT_FALSE(fs::exists(tmp / "MERIDOX_IN.DAT"));
}

TEST(Usage, WithOtherArgumentsTheOptionIsAFileName) {
  TempDir tmp;
  testsupport::write_file(tmp / "--help", "");  // an empty control file named "--help"
  testsupport::write_file(tmp / "data.dat", "");  // inputs named must exist
  int status = run_in(tmp.path(), korbal_exe() + " --help report.out data.dat");
  std::string console = read_file(tmp / "console.txt");
  EXPECT_EQ(console.find("Usage:"), std::string::npos) << console;
  EXPECT_EQ(status, 0) << console;
  // An empty control file: the run ends at once with its closing page.
  EXPECT_TRUE(fs::exists(tmp / "report.out"));
  EXPECT_TRUE(fs::exists(tmp / "MERIDOX_IN.DAT"));
}

}  // namespace
