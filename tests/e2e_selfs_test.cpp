// Self lines analysed (korbal --selfs): heterosis.csv of a small design computed by hand (means,
// mid- and better parent, percentages, t on the error of the analysis; P-values from the
// closed form of Student's t on 3 DF), and the undefined values a design without error
// DF or with a mid-parent of 0 gives; the method 2 trial over locations against its data;
// and a CSV record with both parents 0, which is no self line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace {

using testsupport::read_file;
using testsupport::TempDir;
using testsupport::write_file;

std::vector<std::vector<std::string>> fields_of(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream l(line);
    std::string x;
    while (std::getline(l, x, ',')) f.push_back(x);
    rows.push_back(f);
  }
  return rows;
}

// Field by field: the same text, or numbers within 1e-12 (relative) of each other.
void expect_table(const std::string& got, const std::string& want) {
  const auto g = fields_of(got), w = fields_of(want);
  ASSERT_EQ(g.size(), w.size()) << got;
  for (std::size_t r = 0; r < w.size(); ++r) {
    ASSERT_EQ(g[r].size(), w[r].size()) << "row " << r << ": " << got;
    for (std::size_t k = 0; k < w[r].size(); ++k) {
      if (g[r][k] == w[r][k]) continue;
      char* end = nullptr;
      const double a = std::strtod(g[r][k].c_str(), &end);
      const bool number = end && *end == '\0' && !g[r][k].empty();
      const double b = std::strtod(w[r][k].c_str(), nullptr);
      EXPECT_TRUE(number && std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(b)))
          << "row " << r << " field " << w[0][k] << ": got " << g[r][k] << ", want " << w[r][k];
    }
  }
}

const char* const kHeader =
    "trait,set,female,male,n_cross,mean_cross,mean_female,mean_male,mid_parent,"
    "better_parent,mph_percent,bph_percent,t_mid,p_mid,t_better,p_better\n";

TEST(Heterosis, HandComputedTables) {
  // Three parents, one set, selfs inside SCA, no reciprocal effects: the model fits one
  // mean per self and per pair, so the error is the spread within them.
  const struct {
    const char* name;
    const char* data;  // ISET IFEM IMALE ICLONE Y
    std::string csv;
  } cases[] = {
      {"error on 3 DF: selfs 1 (10, 12), 2 (20), 3 (-11); 1x2 (18), 2x1 (14, 16), 1x3 (3)",
       "  1  1  1  0   10.00\n  1  1  1  0   12.00\n  1  2  2  0   20.00\n  1  3  3  0  -11.00\n"
       "  1  1  2  0   18.00\n  1  2  1  0   14.00\n  1  2  1  0   16.00\n  1  1  3  0    3.00\n",
       // MS(E) = (2 + 8) / 3; 2 x 3 and its parents' crosses absent give no row; the
       // mid-parent of 1 x 3 is 0, so its MPH is NA.
       std::string(kHeader) +
           "Y,1,1,2,1,18,11,20,15.5,20,16.129032258064516,-10,1.1677484162422842,"
           "0.32727613149614554,-0.7745966692414834,0.49502534605971094\n"
           "Y,1,1,3,1,3,11,-11,0,11,NA,-72.72727272727273,1.4012980994907411,"
           "0.25565849507949745,-3.5777087639996634,0.037347052503166056\n"
           "Y,1,2,1,2,15,20,11,15.5,20,-3.225806451612903,-25,-0.2927700218845599,"
           "0.7887799817897357,-2.23606797749979,0.11136715471408387\n"},
      {"no error DF: every family once",
       "  1  1  1  0   11.00\n  1  2  2  0   20.00\n  1  3  3  0  -11.00\n  1  1  2  0   18.00\n"
       "  1  1  3  0    3.00\n",
       std::string(kHeader) + "Y,1,1,2,1,18,11,20,15.5,20,16.129032258064516,-10,NA,NA,NA,NA\n"
                              "Y,1,1,3,1,3,11,-11,0,11,NA,-72.72727272727273,NA,NA,NA,NA\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    write_file(tmp / "h.ctl", "  3  1  0  0  0  0  0  0  0  1  0  1  0  0  0\nHETEROSIS\n"
                              "Y\n(4I3,F8.2)\n");
    write_file(tmp / "h.dat", c.data);
    ASSERT_EQ(testsupport::run_in(tmp.path(), testsupport::program("korbal") +
                                                  " --selfs --csv csv h.ctl h.out h.dat"),
              0)
        << read_file(tmp / "console.txt");
    expect_table(read_file(tmp / "csv" / "heterosis.csv"), c.csv);
    EXPECT_NE(read_file(tmp / "h.out").find("H E T E R O S I S"), std::string::npos);
  }
}

// The method 2 example (zhang05: selfs and crosses in 2 blocks in 2 environments) with the
// family by location effect, and with GCA and SCA by location instead: heterosis.csv
// against the means of every cross and parent over all its lines of the CSV data, and the
// error mean square and DF of the report's error line.
TEST(Heterosis, MethodTwoTrialOverLocations) {
  const struct {
    const char* name;
    std::string dims;
  } cases[] = {
      {"FXL", testsupport::dims({5, 1, 0, 0, 0, 0, 2, 2, 1, 1, 0, 1, 0, 0, 0})},
      {"GXL and SXL", testsupport::dims({5, 1, 0, 0, 0, 0, 2, 2, 0, 1, 0, 1, 0, 0, 0, 1, 1})},
  };
  const std::string example = read_file(testsupport::source_path("examples/method2/zhang05.ctl"));
  const std::string csv = read_file(testsupport::source_path("examples/method2/zhang05.csv"));
  // "Par1","Par2","Block","Combination","Env","Yield"; the responses as korbal holds them.
  std::map<std::pair<int, int>, std::pair<int, double>> family;  // -> lines, sum
  for (const auto& f : fields_of(csv)) {
    if (f.size() != 6 || f[0] == "\"Par1\"") continue;
    auto& [n, sum] = family[{std::stoi(f[0].substr(1)), std::stoi(f[1].substr(1))}];
    ++n;
    sum += static_cast<float>(std::stod(f[5]));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    write_file(tmp / "z.ctl", c.dims + example.substr(example.find('\n') + 1));
    write_file(tmp / "z.csv", csv);
    ASSERT_EQ(testsupport::run_in(tmp.path(), testsupport::program("korbal") +
                                                  " --selfs --csv csv z.ctl z.out z.csv"),
              0)
        << read_file(tmp / "console.txt");
    std::smatch m;
    const std::string report = read_file(tmp / "z.out");
    ASSERT_TRUE(
        std::regex_search(report, m, std::regex("Error mean square +([0-9.E+-]+) +on +([0-9]+) DF")));
    const double mse = std::stod(m[1]);
    const int df = std::stoi(m[2]);
    EXPECT_EQ(df, 28);
    const auto rows = fields_of(read_file(tmp / "csv" / "heterosis.csv"));
    ASSERT_EQ(rows.size(), 11u);
    for (std::size_t r = 1; r < rows.size(); ++r) {
      const auto& row = rows[r];
      ASSERT_EQ(row.size(), 16u);
      const int fem = std::stoi(row[2]), male = std::stoi(row[3]);
      SCOPED_TRACE(row[2] + " x " + row[3]);
      const auto [nf, sf] = family.at({fem, male});
      const auto [ni, si] = family.at({fem, fem});
      const auto [nj, sj] = family.at({male, male});
      const double F = sf / nf, Pi = si / ni, Pj = sj / nj, mp = (Pi + Pj) / 2;
      const double bp = std::max(Pi, Pj);
      const int nb = Pi >= Pj ? ni : nj;
      const double t_mid = (F - mp) / std::sqrt(mse * (1.0 / nf + 0.25 / ni + 0.25 / nj));
      const double t_better = (F - bp) / std::sqrt(mse * (1.0 / nf + 1.0 / nb));
      const std::vector<double> want = {1.0 * nf, F, Pi, Pj, mp, bp, 100 * (F - mp) / mp,
                                        100 * (F - bp) / bp, t_mid, testsupport::t_tail_even(t_mid, df),
                                        t_better, testsupport::t_tail_even(t_better, df)};
      EXPECT_EQ(row[0], "YIELD");
      for (std::size_t k = 0; k < want.size(); ++k)
        // The mean square is read as the report prints it (12 digits).
        EXPECT_NEAR(std::stod(row[k + 4]), want[k], 1e-9 * std::max(1.0, std::fabs(want[k])))
            << rows[0][k + 4];
    }
  }
}

// In a CSV data file a record with both parents 0 is skipped with --selfs as without it,
// not refused as a parent out of range, and not counted among the self lines analysed.
TEST(SelfLines, CsvRecordWithBothParents0IsNoSelfLine) {
  TempDir tmp;
  write_file(tmp / "h.ctl", "  3  1  0  0  0  0  0  0  0  1  0  1  0  0  0\nZERO PARENTS\n"
                            "Y\nCSV Set Fem Male - Y\n");
  write_file(tmp / "h.csv", "Set,Fem,Male,Y\n1,1,1,10\n1,2,2,20\n1,1,2,15\n1,0,0,99\n1,2,1,16\n");
  ASSERT_EQ(testsupport::run_in(tmp.path(), testsupport::program("korbal") + " --selfs h.ctl h.out h.csv"), 0)
      << read_file(tmp / "console.txt");
  EXPECT_NE(read_file(tmp / "console.txt").find("Self lines analysed:           2\n"), std::string::npos)
      << read_file(tmp / "console.txt");
  EXPECT_NE(read_file(tmp / "h.out").find("Total     4"), std::string::npos);
}

}  // namespace
