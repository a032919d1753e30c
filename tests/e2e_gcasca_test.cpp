// gcasca as a real executable: its usage lines, and the realistic example, whose
// report, effects.csv and differences.csv are stored with it and must be reproduced byte
// for byte from the stored components (examples/realistic/csv/components.csv, written by
// `meridox --csv csv`), and the same with every effect fixed. Regenerate them with
// `make examples`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;
using testsupport::read_file;
using testsupport::run_in;
using testsupport::source_path;
using testsupport::TempDir;

namespace {

std::string gcasca_exe() { return testsupport::program("gcasca"); }

// Runs gcasca on a shipped example in a scratch directory, with the components that
// meridox wrote for it.
void run_example(const TempDir& tmp, const std::string& folder, const std::string& name,
                 const std::string& data) {
  const fs::path src = source_path("examples/" + folder);
  for (const std::string& f : {name + ".ctl", data}) fs::copy_file(src / f, tmp / f);
  fs::create_directory(tmp / "csv");
  fs::copy_file(src / "csv" / "components.csv", tmp / "csv" / "components.csv");
  EXPECT_EQ(run_in(tmp.path(), gcasca_exe() + " --csv csv " + name + ".ctl " + data +
                                   " csv/components.csv " + name + ".gca"),
            0)
      << read_file(tmp / "console.txt");
}


TEST(Gcasca, UsageAndVersion) {
  TempDir tmp;
  ASSERT_EQ(run_in(tmp.path(), gcasca_exe() + " --version"), 0);
  EXPECT_EQ(read_file(tmp / "console.txt"), "gcasca 1.0.0\n");
  for (const char* opt : {" --help", " -h"}) {
    ASSERT_EQ(run_in(tmp.path(), gcasca_exe() + opt), 0);
    const std::string help = read_file(tmp / "console.txt");
    EXPECT_EQ(help.rfind("Usage: gcasca [--csv DIR] [--selfs] [CONTROL-FILE [DATA-FILE [COMPONENTS-FILE "
                         "[REPORT-FILE]]]]\n",
                         0),
              0u)
        << help;
    EXPECT_NE(help.find("\ngcasca 1.0.0\n"), std::string::npos) << help;
    EXPECT_TRUE(help.ends_with("section \"gcasca\".\n")) << help;
  }
  EXPECT_EQ(run_in(tmp.path(), gcasca_exe() + " --csv"), 2);
  // A file that is not there, named on the command line: a run-time error.
  EXPECT_EQ(run_in(tmp.path(), gcasca_exe() + " none.ctl none.dat none.csv out.gca"), 2);
  // The inputs are opened first: nothing is created.
  EXPECT_FALSE(fs::exists(tmp / "out.gca"));
}

// The realistic example, and the flowering-time example read from its CSV file with
// named parents (their names stand beside the line numbers).
TEST(Gcasca, ExamplesAreReproducedExactly) {
  const struct {
    const char *folder, *name, *data;
  } cases[] = {{"realistic", "realistic", "realistic.dat"}, {"csv", "hayman54", "hayman54.csv"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    TempDir tmp;
    run_example(tmp, c.folder, c.name, c.data);
    const fs::path src = source_path(std::string("examples/") + c.folder);
    const std::string report = std::string(c.name) + ".gca";
    EXPECT_EQ(read_file(tmp / report), read_file(src / report))
        << "regenerate with `make examples` if intended";
    for (const char* table : {"effects.csv", "differences.csv"})
      EXPECT_EQ(read_file(tmp / "csv" / table), read_file(src / "csv" / table)) << table;
  }
}

// The examples without a components file: the flowering-time data with every effect
// fixed (gcasca --fixed), and the realistic trial with its components by REML.
TEST(Gcasca, FixedAndRemlExamplesAreReproducedExactly) {
  const struct {
    const char *folder, *mode, *name, *data, *report, *dir;
    std::vector<const char*> tables;
  } cases[] = {
      {"csv", "--fixed", "hayman54", "hayman54.csv", "hayman54_fixed.gca", "csv_fixed",
       {"effects.csv", "differences.csv"}},
      {"realistic", "--reml", "realistic", "realistic.dat", "realistic_reml.gca", "csv_reml",
       {"effects.csv", "differences.csv", "components.csv", "reml.csv"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    TempDir tmp;
    const fs::path src = source_path(std::string("examples/") + c.folder);
    for (const std::string& f : {std::string(c.name) + ".ctl", std::string(c.data)})
      fs::copy_file(src / f, tmp / f);
    ASSERT_EQ(run_in(tmp.path(), gcasca_exe() + " " + c.mode + " --csv " + c.dir + " " + c.name +
                                     ".ctl " + c.data + " " + c.report),
              0)
        << read_file(tmp / "console.txt");
    EXPECT_EQ(read_file(tmp / c.report), read_file(src / c.report))
        << "regenerate with `make examples` if intended";
    for (const char* table : c.tables)
      EXPECT_EQ(read_file(tmp / c.dir / table), read_file(src / c.dir / table)) << table;
  }
}

// The simulated example knows the effects it drew: the predicted GCA and maternal
// effects of both traits must follow them closely (their reliabilities are near 0.8).
TEST(Gcasca, RealisticPredictionsFollowTheDrawnEffects) {
  if (std::system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
  TempDir tmp;
  run_example(tmp, "realistic", "realistic", "realistic.dat");
  const std::string script = R"(
import csv, statistics, sys
sys.path.insert(0, sys.argv[1])
sys.argv = ["simulate.py"]
import simulate
eff, _ = simulate.simulate()
rows = list(csv.DictReader(open("csv/effects.csv")))
for t, trait in enumerate(["GRAIN YIELD T/HA", "PLANT HEIGHT CM"]):
    for e in ["GCA", "MATR"]:
        sel = [r for r in rows if r["trait"] == trait and r["effect"] == e]
        x = [float(r["blup"]) for r in sel]
        y = [eff[e][(int(r["set"]), int(r["line_1"]))][t] for r in sel]
        print(trait, e, len(x), statistics.correlation(x, y))
        if len(x) != 14 or statistics.correlation(x, y) < 0.8:
            sys.exit(1)
)";
  testsupport::write_file(tmp / "check.py", script);
  EXPECT_EQ(run_in(tmp.path(), "python3 check.py '" +
                                   source_path("examples/realistic").string() + "'"),
            0)
      << read_file(tmp / "console.txt");
}

}  // namespace
