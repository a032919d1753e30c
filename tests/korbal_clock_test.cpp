// The clock of korbal: seconds values, time stamps and the elapsed time of a run,
// with readings scripted so that every console line can be compared exactly.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "korbal_run.h"
#include "records/io.h"
#include "support.h"

namespace korbal {
namespace {

using testsupport::TempDir;
using testsupport::write_file;

using korbal_test::ScriptedClock;

TEST(Clock, HundredthsAreTruncatedMilliseconds) {
  const ClockReading r = reading_of(9, 5, 7, 49);
  EXPECT_EQ(r.hour, 9);
  EXPECT_EQ(r.minute, 5);
  EXPECT_EQ(r.second, 7);
  EXPECT_EQ(r.hundredths, 4);
  EXPECT_EQ(reading_of(23, 59, 59, 999).hundredths, 99);
  EXPECT_EQ(reading_of(0, 0, 0, 9).hundredths, 0);
}

TEST(Clock, SecondsValueInSinglePrecision) {
  ScriptedClock midnight({{0, 0, 0, 0}});
  EXPECT_EQ(SECNDS(midnight, 0.0f), 0.0f);
  ScriptedClock noon({{12, 0, 0, 50}});
  EXPECT_EQ(SECNDS(noon, 0.0f), 43200.5f);
  ScriptedClock late({{23, 59, 59, 99}});
  EXPECT_EQ(SECNDS(late, 0.0f), 86399.9921875f);
  // The subtraction of x is done on the exact seconds value, rounded once at the end:
  // 86399.99 - 86399 is 0.99, not the 0.9921875 of the rounded seconds value.
  ScriptedClock late2({{23, 59, 59, 99}});
  EXPECT_EQ(SECNDS(late2, 86399.0f), 0.99f);
  ScriptedClock noon2({{12, 0, 0, 50}});
  EXPECT_EQ(SECNDS(noon2, 43200.0f), 0.5f);
}

TEST(Clock, ElapsedTimeAddsADayWhenTheRunPassesMidnight) {
  EXPECT_EQ(elapsed_seconds(86390.0, 10.0), 20.0);
  EXPECT_EQ(elapsed_seconds(100.0, 100.0), 0.0);
  EXPECT_EQ(elapsed_seconds(100.0, 150.25), 50.25);
}

// A blank control file run from 23:59:50.00 to 00:00:10.00: every stamp is its own
// reading, and the execution time is 20.0 seconds.
TEST(Clock, WholeRunAcrossMidnightStampsAndExecutionTime) {
  TempDir dir;
  write_file(dir / "run.ctl", "\n");
  std::istringstream in;
  std::ostringstream out;
  ScriptedClock clock({{23, 59, 50, 0}, {23, 59, 50, 1}, {23, 59, 59, 99}, {0, 0, 10, 0}});
  int status = -1;
  {
    rec::Io io({"run.ctl", "run.rep"}, in, out, dir.path());
    status = run(io, clock);
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.str(),
            "\nDiallel analysis started 23:59:50.01\n"
            "\nOpening data files:"
            "\n>> Control data file will be read using Unit 5"
            "\n   "
            "\n>> Output file will be written using Unit 6"
            "\n. . . Input data file for MERIDOX will be created as"
            "\n. . . MERIDOX_IN.DAT"
            "\nAnalyzing problem dimensions 23:59:59.99"
            "\nNo response variables (NV = 0): nothing was analysed"
            "\n\nExecution time =     20.0 seconds.\n"
            "\n\n* * * Input file for MERIDOX has been created as:"
            "\n      MERIDOX_IN.DAT"
            "\nStop - Program terminated.\n");
}

}  // namespace
}  // namespace korbal
