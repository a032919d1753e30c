// The --help / --version arguments shared by the three programs.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "records/usage.h"

namespace {

constexpr std::string_view kText = "Usage: prog [FILE]\n";

std::string run(const std::vector<std::string>& args, bool expected) {
  std::ostringstream out;
  EXPECT_EQ(rec::usage_requested(args, out, "prog", kText), expected);
  return out.str();
}

TEST(Usage, HelpPrintsUsageThenVersionThenWhereToReadOn) {
  for (const char* help : {"--help", "-h"}) {
    SCOPED_TRACE(help);
    EXPECT_EQ(run({help}, true), "Usage: prog [FILE]\nprog 1.0.0\n");
    std::ostringstream out;
    EXPECT_TRUE(rec::usage_requested({help}, out, "prog", kText, "See the README.\n"));
    EXPECT_EQ(out.str(), "Usage: prog [FILE]\nprog 1.0.0\nSee the README.\n");
  }
}

TEST(Usage, VersionPrintsVersionLineOnly) {
  EXPECT_EQ(run({"--version"}, true), "prog 1.0.0\n");
}

TEST(Usage, EverythingElseIsAFileNameAndPrintsNothing) {
  // No arguments: the program asks for its files on the console.
  EXPECT_EQ(run({}, false), "");
  // Only a lone, exact option counts; with other arguments it is a file name.
  EXPECT_EQ(run({"--help", "report.out"}, false), "");
  EXPECT_EQ(run({"ctl", "--version"}, false), "");
  EXPECT_EQ(run({"-h", "report.out"}, false), "");
  EXPECT_EQ(run({"--HELP"}, false), "");
  EXPECT_EQ(run({"--help "}, false), "");
  EXPECT_EQ(run({"small.ctl"}, false), "");
}

}  // namespace

#include "records/options.h"

namespace {

TEST(Options, ValuedOptionsAnywhereBeforeTheEndOfOptions) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> files;  // what is left
    std::string csv, error;
    bool selfs = false;  // the switch --selfs taken
  } cases[] = {
      {{"--selfs", "a.ctl", "--csv", "out"}, {"a.ctl"}, "out", "", true},
      {{"a.ctl", "--selfs"}, {"a.ctl"}, "", "", true},
      {{"a.ctl", "--", "--selfs"}, {"a.ctl", "--selfs"}, "", ""},
      {{"--selfs=1", "a.ctl"}, {"--selfs=1", "a.ctl"}, "", "option --selfs takes no value"},
      {{"--selfs", "--selfs"}, {"--selfs", "--selfs"}, "", "option --selfs is given twice"},
      {{"--selfsx"}, {"--selfsx"}, "", "unknown option '--selfsx'"},
      {{"a.ctl", "--csv", "out", "b.out"}, {"a.ctl", "b.out"}, "out", ""},
      {{"--csv=out", "a.ctl"}, {"a.ctl"}, "out", ""},
      {{"a.ctl", "--", "--csv", "x"}, {"a.ctl", "--csv", "x"}, "", ""},
      {{"a.ctl", "--csv"}, {"a.ctl", "--csv"}, "", "option --csv needs a value"},
      {{"--csv=", "a.ctl"}, {"--csv=", "a.ctl"}, "", "option --csv needs a value"},
      {{"--csvx", "a"}, {"--csvx", "a"}, "", "unknown option '--csvx'"},
      {{"a", "--reml"}, {"a", "--reml"}, "", "unknown option '--reml'"},
      {{"--csv", "x", "--csv=y"}, {"--csv", "x", "--csv=y"}, "", "option --csv is given twice"},
      {{"--help", "a"}, {"--help", "a"}, "", ""},
      {{"-x", "--", "--reml"}, {"-x", "--reml"}, "", ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    const rec::OptionValues o = rec::take_options(args, {"--csv", "--inbreeding"}, {"--selfs"});
    EXPECT_EQ(o.error, c.error);
    EXPECT_EQ(o.switches.count("--selfs") != 0, c.selfs);
    EXPECT_EQ(args, c.files);
    const auto it = o.values.find("--csv");
    EXPECT_EQ(it == o.values.end() ? "" : it->second, c.csv);
  }
}

}  // namespace
