// korbal's CSV tables and the results behind them: the tables against the printed
// report of both shipped examples, the lines per cross and per level against counts
// made from the generated data, results that do not depend on the unit of the data,
// and the messages about data that end early, late or never.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "korbal/control.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "korbal_run.h"
#include "records/csv.h"
#include "records/io.h"
#include "support.h"

namespace korbal {
namespace {

using testsupport::dims;
using testsupport::read_file;
using testsupport::TempDir;
using testsupport::trim;
using testsupport::write_file;
using Rows = std::vector<std::vector<std::string>>;

using korbal_test::FixedClock;

struct Outcome {
  int status = -1;
  std::string console, report;
  std::map<std::string, Rows> csv;  // table name -> rows after the header
};

// Parses a CSV table strictly: it must parse, start with `header` and have exactly as
// many fields in every row.
Rows strict(const std::string& text, const std::vector<std::string>& header) {
  Rows rows = rec::csv::parse(text);
  EXPECT_FALSE(rows.empty());
  if (rows.empty()) return rows;
  EXPECT_EQ(rows.front(), header);
  EXPECT_TRUE(text.ends_with("\n") && text.find('\r') == std::string::npos);
  for (const auto& r : rows) EXPECT_EQ(r.size(), header.size());
  rows.erase(rows.begin());
  return rows;
}

const std::map<std::string, std::vector<std::string>> kHeaders = {
    {"ems.csv", {"effect", "df", "component", "coefficient"}},
    {"anova.csv", {"trait_1", "trait_2", "source", "df", "ss", "ms"}},
    {"crosses.csv", {"set", "female", "male", "lines", "female_name", "male_name"}},
    {"levels.csv", {"factor", "level", "name", "lines"}}};

// korbal in-process on a control file and a data file, with --csv into dir/csv; the
// tables parsed strictly.
Outcome run_korbal(const std::string& control, const std::string& data, bool csv = true) {
  const korbal_test::Outcome o = korbal_test::run_korbal(control, data, csv);
  Outcome r{o.status, o.console, o.report, {}};
  for (const auto& [name, header] : kHeaders)
    if (o.tables.count(name)) r.csv[name] = strict(o.tables.at(name), header);
  return r;
}

std::string example(const std::string& name, const std::string& ext) {
  return read_file(testsupport::source_path("examples/" + name + "/" + name + ext));
}

double printed(const std::string& field) { return std::strtod(field.c_str(), nullptr); }

// A CSV number agrees with a printed one to the printed significant digits.
void expect_agrees(const std::string& csv, const std::string& field, int digits,
                   const std::string& what) {
  const double v = std::strtod(csv.c_str(), nullptr), p = printed(field);
  EXPECT_LE(std::fabs(v - p), 0.51 * std::pow(10.0, 1 - digits) * std::fabs(v) + 1e-300)
      << what << ": csv " << csv << ", report '" << field << "'";
}

// Every number of anova.csv and ems.csv agrees with the printed report.
void check_against_report(const std::string& name) {
  const Outcome r = run_korbal(example(name, ".ctl"), example(name, ".dat"));
  ASSERT_EQ(r.status, 0) << r.console;
  ASSERT_EQ(r.report, example(name, ".out"));
  const std::vector<std::string> lines = testsupport::lines_of(r.report);

  // Analysis tables "(39X,A5,2X,I5,4X,2G20.12)" and the Error and Total lines, in order.
  std::vector<std::vector<std::string>> table;  // source, df, ss, ms
  bool in_table = false;
  for (const std::string& l : lines) {
    if (l.find("A N A L Y S I S  O F") != std::string::npos) in_table = true;
    if (l.find("S U M M A R Y") != std::string::npos) in_table = false;
    if (!in_table || l.size() < 75) continue;
    const std::string df = trim(l.substr(46, 5));
    if (df.empty() || df.find_first_not_of("0123456789") != std::string::npos) continue;
    table.push_back({trim(l.substr(40, 5)), trim(l.substr(46, 5)), l.substr(55, 20),
                     l.size() >= 95 ? l.substr(75, 20) : ""});
  }
  const Rows& anova = r.csv.at("anova.csv");
  ASSERT_GT(table.size(), 3u);
  ASSERT_EQ(anova.size(), table.size());
  for (std::size_t k = 0; k < anova.size(); ++k) {
    const auto& c = anova[k];
    const auto& t = table[k];
    const std::string at = name + " anova row " + std::to_string(k + 1);
    EXPECT_EQ(c[2], t[0]) << at;
    EXPECT_EQ(c[3], t[1]) << at;
    EXPECT_FALSE(c[0].empty() || c[1].empty()) << at;
    expect_agrees(c[4], t[2], 12, at + " ss");
    if (t[0] == "Total" || t[1] == "0")
      EXPECT_EQ(c[5], "NA") << at;
    else
      expect_agrees(c[5], t[3], 12, at + " ms");
  }

  // Rows of expected mean squares "('0',2X,A4,2X,I4,4X,8G12.7,/,(17X,8G12.7))".
  std::vector<std::pair<std::string, std::vector<std::string>>> ems;  // code+df, coefficients
  bool in_ems = false;
  for (const std::string& l : lines) {
    if (l.starts_with("0 Source   DF")) {
      in_ems = true;
      continue;
    }
    if (l == "1") in_ems = false;
    if (!in_ems || l.size() <= 17) continue;
    if (l[0] == '0') ems.push_back({trim(l.substr(3, 4)) + "," + trim(l.substr(9, 4)), {}});
    for (std::size_t at = 17; at + 12 <= l.size() + 4 && at < l.size(); at += 12)
      ems.back().second.push_back(l.substr(at, 12));
  }
  const Rows& table_ems = r.csv.at("ems.csv");
  const std::size_t ne = ems.size();
  ASSERT_GT(ne, 2u);
  ASSERT_EQ(table_ems.size(), ne * (ne + 1));
  for (std::size_t e = 0; e < ne; ++e) {
    ASSERT_EQ(ems[e].second.size(), ne);
    for (std::size_t u = 0; u <= ne; ++u) {
      const auto& c = table_ems[e * (ne + 1) + u];
      const std::string at = name + " ems " + c[0] + " " + c[2];
      EXPECT_EQ(c[0] + "," + c[1], ems[e].first) << at;
      if (u == ne) {
        EXPECT_EQ(c[2], "ERR");
        EXPECT_EQ(c[3], "1");
      } else {
        EXPECT_EQ(c[2], table_ems[u * (ne + 1)][0]) << at;  // components in model order
        expect_agrees(c[3], ems[e].second[ne - 1 - u], 7, at);
      }
    }
  }
}

TEST(Tables, SmallExampleAgreesWithTheReport) {
  check_against_report("small");
  // The tables stored with the example (make demo) are what the program writes.
  const Outcome r = run_korbal(example("small", ".ctl"), example("small", ".dat"));
  for (const auto& [name, header] : kHeaders)
    EXPECT_EQ(strict(read_file(testsupport::source_path("examples/small/csv/" + name)), header),
              r.csv.at(name))
        << name;
}
TEST(Tables, RealisticExampleAgreesWithTheReport) { check_against_report("realistic"); }

// ---------------------------------------------------------------------------------
// A generated trial: 2 locations, 2 replications, sets of 4 lines, two traits.

struct Plot {
  int loc, rep, set, fem, male;
  double y1, y2;
};

std::string control(int nsets, const std::string& format, int nloc = 2) {
  return dims({4, 2, 1, -1, 1, 1, 2, nloc, 1, 1, 0, nsets, 0, 0, 0}) + "GENERATED TRIAL\n" +
         "WEIGHT              HEIGHT\n" + format + "\n";
}

std::string data_of(const std::vector<Plot>& plots, const char* fmt = "%3d%3d%3d%3d%3d%3d%8.2f%8.2f\n") {
  std::string s;
  char buf[80];
  for (const Plot& p : plots) {
    std::snprintf(buf, sizeof buf, fmt, p.loc, p.rep, p.set, p.fem, p.male, 0, p.y1, p.y2);
    s += buf;
  }
  return s;
}

// Every cross of every set in both locations and replications, less the crosses in
// `missing` (set, female, male) and a share `lost` of the plots; selfs are added and
// must be skipped.
std::vector<Plot> trial(int nsets, std::vector<std::array<int, 3>> missing, double lost,
                        unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 3.0);
  std::vector<Plot> plots;
  for (int l = 1; l <= 2; ++l)
    for (int r = 1; r <= 2; ++r)
      for (int s = 1; s <= nsets; ++s)
        for (int f = 1; f <= 4; ++f)
          for (int m = 1; m <= 4; ++m) {
            bool gone = u(g) < lost;
            for (const auto& x : missing) gone = gone || (x[0] == s && x[1] == f && x[2] == m);
            if (gone && f != m) continue;
            const double y = 50.0 + 4.0 * l + 2.0 * f - 1.5 * m + noise(g);
            plots.push_back({l, r, s, f, m, std::round(y * 100) / 100,
                             std::round((y * 0.5 + noise(g)) * 100) / 100});
          }
  return plots;
}

// With one location given (no location effect, the field still read) the lines are
// counted one by one; with two, from the counts of the slot tables.
void check_crosses_and_levels(int nloc) {
  const std::vector<Plot> plots = trial(2, {{1, 1, 2}, {1, 3, 4}, {2, 4, 1}}, 0.2, 11);
  const Outcome r = run_korbal(control(2, "(6I3,2F8.2)", nloc), data_of(plots));
  ASSERT_EQ(r.status, 0) << r.console;

  std::map<std::array<int, 3>, long> crosses;
  std::map<std::pair<std::string, int>, long> levels;
  long selfs = 0;
  for (const Plot& p : plots) {
    if (p.fem == p.male) {
      ++selfs;
      continue;
    }
    ++crosses[{p.set, p.fem, p.male}];
    for (auto [f, v] : {std::pair<const char*, int>{"location", p.loc}, {"replication", p.rep},
                        {"set", p.set}, {"female", p.fem}, {"male", p.male}, {"clone", 0}})
      ++levels[{f, v}];
  }
  EXPECT_NE(r.console.find("\nSelf lines skipped:           " + std::to_string(selfs) + "\n"),
            std::string::npos);

  const Rows& c = r.csv.at("crosses.csv");
  ASSERT_EQ(c.size(), 2u * 4 * 3);
  std::size_t k = 0;
  for (int s = 1; s <= 2; ++s)
    for (int f = 1; f <= 4; ++f)
      for (int m = 1; m <= 4; ++m) {
        if (f == m) continue;
        const std::array<int, 3> key{s, f, m};
        EXPECT_EQ(c[k], (std::vector<std::string>{std::to_string(s), std::to_string(f),
                                                  std::to_string(m),
                                                  std::to_string(crosses[key]), "NA", "NA"}));
        ++k;
      }
  EXPECT_EQ(c[0][3], "0");  // set 1, 1 x 2 is missing

  const Rows& lv = r.csv.at("levels.csv");
  Rows want;
  for (auto [f, n] : {std::pair<const char*, int>{"location", nloc}, {"replication", 2}, {"set", 2},
                      {"female", 4}, {"male", 4}})
    for (int v = 1; v <= n; ++v)
      want.push_back({f, std::to_string(v), std::to_string(v), std::to_string(levels[{f, v}])});
  EXPECT_EQ(lv, want);  // no clone rows: the control record has no clones
}

TEST(Tables, CrossesAndLevelsCountTheLinesThatEnteredTheAnalysis) {
  check_crosses_and_levels(2);
  check_crosses_and_levels(1);
}

// The anova.csv rows of a run, keyed by traits and source.
std::map<std::string, std::pair<std::string, double>> anova_of(const Outcome& r) {
  std::map<std::string, std::pair<std::string, double>> m;
  for (const auto& c : r.csv.at("anova.csv"))
    m[c[0] + "|" + c[1] + "|" + c[2]] = {c[3], std::strtod(c[4].c_str(), nullptr)};
  return m;
}

TEST(Tables, DataScaledByThePFactorGiveTheSameAnalysis) {
  const std::vector<Plot> plots = trial(1, {{1, 2, 3}}, 0.1, 5);
  const Outcome base = run_korbal(control(1, "(6I3,2F8.2)"), data_of(plots));
  ASSERT_EQ(base.status, 0);
  const auto want = anova_of(base);
  for (int p : {3, 6}) {
    // The same digits read with a scale factor: every value divided by 10^p.
    const Outcome scaled = run_korbal(control(1, "(6I3," + std::to_string(p) + "P,2F8.2)"), data_of(plots));
    ASSERT_EQ(scaled.status, 0) << p;
    const auto got = anova_of(scaled);
    ASSERT_EQ(got.size(), want.size());
    const double unit = std::pow(10.0, 2 * p);
    for (const auto& [key, w] : want) {
      const auto& g = got.at(key);
      EXPECT_EQ(g.first, w.first) << p << "P " << key;  // degrees of freedom
      // Single-precision responses: agreement to a few units in 1e-6 of the total.
      const double total = want.at(key.substr(0, key.rfind('|')) + "|Total").second;
      EXPECT_NEAR(g.second * unit, w.second, 1e-5 * std::fabs(total)) << p << "P " << key;
      if (w.second != 0.0 && key.find("|MEAN") == std::string::npos &&
          key.find("|Total") == std::string::npos) {
        EXPECT_NE(g.second, 0.0) << p << "P " << key;
      }
    }
  }
}

TEST(Tables, ConstantTraitKeepsTheDegreesOfFreedomOfTheDesign) {
  std::vector<Plot> plots = trial(1, {{1, 4, 2}}, 0.15, 9);
  for (Plot& p : plots) p.y2 = 7.25;
  const Outcome r = run_korbal(control(1, "(6I3,2F8.2)"), data_of(plots));
  ASSERT_EQ(r.status, 0);
  const auto a = anova_of(r);
  for (const auto& [key, v] : a) {
    if (!key.starts_with("WEIGHT|WEIGHT|")) continue;
    const std::string source = key.substr(14);
    for (const std::string other : {"HEIGHT|HEIGHT|", "WEIGHT|HEIGHT|"}) {
      EXPECT_EQ(a.at(other + source).first, v.first) << other << source;
      if (source != "MEAN" && source != "Total") {
        EXPECT_LE(std::fabs(a.at(other + source).second), 1e-9 * a.at(other + "Total").second)
            << other << source;
      }
    }
  }
}

// ---------------------------------------------------------------------------------
// Messages about the data and the tables' folder.

TEST(DataEnd, MessagesOnReportAndConsoleAndTheExitStatus) {
  const std::string ctl = control(1, "(6I3,2F8.2)");
  const std::string good = data_of(trial(1, {}, 0.0, 3));
  const std::string end = "  0  0  0  0  0  0\n";
  const struct {
    const char* what;
    std::string data;
    int status;
    std::string line;  // on the report after its carriage control, and on the console
  } cases[] = {
      {"empty file", "", 1, "       0 DATA LINES ACCUMULATED ,JOB TERMINATED"},
      {"only selfs", data_of({{1, 1, 1, 2, 2, 1.0, 1.0}}), 1,
       "       0 DATA LINES ACCUMULATED ,JOB TERMINATED"},
      {"blank first line", "\n" + good, 1, "      64 DATA LINES AFTER LINE 1 WERE NOT READ"},
      {"lines after the terminating line", good + end + "\n" + good.substr(0, 45) + "   \n", 0,
       "       2 DATA LINES AFTER LINE 65 WERE NOT READ"},
  };
  for (const auto& k : cases) {
    const Outcome r = run_korbal(ctl, k.data, false);
    EXPECT_EQ(r.status, k.status) << k.what;
    EXPECT_NE(r.report.find("\r\n0" + k.line + "\r\n"), std::string::npos) << k.what;
    EXPECT_NE(r.console.find("\n\n" + k.line + "\n"), std::string::npos) << k.what << r.console;
  }
}

// A data file of several read buffers, whose plain records the data pass decodes whole
// and in batches, gives the report of the walk over the format (BN, the default, keeps
// the fields and leaves the walk), the line numbers across the buffers included.
TEST(DataEnd, BatchesOfWholeRecordsReadAsTheWalk) {
  std::vector<Plot> plots;
  for (unsigned k = 0; k < 200; ++k) {
    const std::vector<Plot> t = trial(1, {}, 0.0, k);
    plots.insert(plots.end(), t.begin(), t.end());
  }
  std::string data = data_of(plots);  // 12,800 lines of 35 bytes
  const auto at = [](int line, int column) { return static_cast<std::size_t>(35 * (line - 1) + column - 1); };
  data.replace(at(9000, 1), 3, "  9");  // ILOC out of range
  std::string crlf;
  for (const char ch : data) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  std::string signs = data;
  signs.replace(at(7001, 19), 8, "  -12.50");
  std::string bad = data;
  bad.replace(at(10000, 27), 8, "  12x.50");
  const std::string end = "  0  0  0  0  0  0\n";
  const struct {
    const char* what;
    std::string data;
    const char* line;  // a line the report holds
  } cases[] = {
      {"bad identifier", data, "0 DATA LINE    9000:   ILOC =       9 IS OUTSIDE 1 TO     2"},
      {"terminating line", data.substr(0, at(11001, 1)) + end + data.substr(at(11001, 1), 35 * 5),
       "0       5 DATA LINES AFTER LINE 11001 WERE NOT READ"},
      {"CR LF", crlf, "0 DATA LINE    9000:   ILOC =       9 IS OUTSIDE 1 TO     2"},
      {"a sign", signs, "0 DATA LINE    9000:   ILOC =       9 IS OUTSIDE 1 TO     2"},
      {"bad character", bad, ""},
  };
  for (const auto& k : cases) {
    const Outcome fast = run_korbal(control(1, "(6I3,2F8.2)"), k.data, false);
    Outcome walk = run_korbal(control(1, "(BN,6I3,2F8.2)"), k.data, false);
    for (std::string* text : {&walk.console, &walk.report}) {
      const std::size_t f = text->find("(BN,6I3,2F8.2)");
      if (f != std::string::npos) text->replace(f, 14, "(6I3,2F8.2)   ");
    }
    EXPECT_EQ(fast.status, walk.status) << k.what;
    EXPECT_EQ(fast.console, walk.console) << k.what;
    EXPECT_EQ(fast.report, walk.report) << k.what;
    EXPECT_NE(fast.report.find(k.line), std::string::npos) << k.what;
  }
}

TEST(DataEnd, TheObservationCountNeverWraps) {
  Control c;
  c.NLINES = 3;
  c.NV = 1;
  c.NSETS = 1;
  c.ISELF = -1;
  normalise(c);
  const Model m = allocate_columns(c);
  TempDir dir;
  write_file(dir / "d.dat", "  1  1  2  0   1.0\n  1  2  1  0   2.0\n");
  std::istringstream in;
  std::ostringstream out;
  rec::Io io({}, in, out, dir.path());
  io.open(1, "d.dat", rec::OpenMode::Input);
  auto a = std::make_unique<Arrays>();
  a->NOBS = INT_MAX - 1;  // one more line fits, the next does not
  EXPECT_THROW(accumulate(io, c, m, *a, rec::Format::compile("(4I3,F6.1)"), 1), rec::RunError);
}

TEST(Options, CsvFolderIsTakenOutOfTheArguments) {
  const struct {
    std::vector<std::string> args, rest;
    const char* dir;
    bool error;
  } cases[] = {
      {{"a.ctl", "b.out"}, {"a.ctl", "b.out"}, nullptr, false},
      {{"--csv", "t", "a.ctl"}, {"a.ctl"}, "t", false},
      {{"a.ctl", "--csv=t 2", "b"}, {"a.ctl", "b"}, "t 2", false},
      {{"a.ctl", "--csv"}, {"a.ctl", "--csv"}, nullptr, true},
      {{"--csv="}, {"--csv="}, nullptr, true},
  };
  for (const auto& k : cases) {
    std::vector<std::string> args = k.args;
    const Options o = parse_options(args);
    EXPECT_EQ(args, k.rest);
    EXPECT_EQ(o.csv_dir.has_value(), k.dir != nullptr);
    if (k.dir) {
      EXPECT_EQ(o.csv_dir->string(), k.dir);
    }
    EXPECT_EQ(!o.error.empty(), k.error);
  }
}

TEST(Options, UnusableCsvFolderStopsTheRunBeforeTheReport) {
  TempDir dir;
  write_file(dir / "file", "x");
  write_file(dir / "run.ctl", example("small", ".ctl"));
  for (const std::string& bad : {(dir / "file").string(), (dir / "file" / "sub").string()}) {
    std::vector<std::string> args{"--csv", bad, "run.ctl", "run.rep", "run.dat"};
    const Options opt = parse_options(args);
    std::istringstream in;
    std::ostringstream out;
    int status = -1;
    {
      rec::Io io(args, in, out, dir.path());
      FixedClock clock;
      status = run(io, clock, opt);
    }
    EXPECT_EQ(status, 2) << bad;
    EXPECT_FALSE(testsupport::file_exists(dir / "run.rep")) << bad;
    EXPECT_NE(out.str().find(bad), std::string::npos) << out.str();
  }
}

}  // namespace
}  // namespace korbal
