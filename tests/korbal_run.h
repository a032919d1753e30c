// Runs korbal in-process on files written into a scratch directory, with clocks whose
// readings are fixed, stepped or scripted so that console lines compare exactly.
// Header-only: only the test programs that link korbal include it.
#pragma once

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "korbal/clock.h"
#include "korbal/korbal.h"
#include "records/io.h"
#include "support.h"

namespace korbal_test {

// A clock that always reads `time` (10:00:00.00 unless given): the stamps of a run are known.
class FixedClock : public korbal::Clock {
 public:
  explicit FixedClock(korbal::ClockReading time = {10, 0, 0, 0}) : time_(time) {}
  korbal::ClockReading now() override { return time_; }

 private:
  korbal::ClockReading time_;
};

// One hundredth more per reading, from 10:20:30.00.
class StepClock : public korbal::Clock {
 public:
  korbal::ClockReading now() override {
    const int h = ticks_++;
    return {10, 20, 30 + h / 100, h % 100};
  }

 private:
  int ticks_ = 0;
};

// The scripted readings in order, then the last one again and again.
class ScriptedClock : public korbal::Clock {
 public:
  explicit ScriptedClock(std::vector<korbal::ClockReading> r) : readings_(std::move(r)) {}
  korbal::ClockReading now() override {
    const korbal::ClockReading r = readings_[next_];
    if (next_ + 1 < readings_.size()) ++next_;
    return r;
  }

 private:
  std::vector<korbal::ClockReading> readings_;
  std::size_t next_ = 0;
};

struct Outcome {
  int status = -1;
  std::string console;  // time stamps normalised
  std::string report;
  std::string interchange;
  bool interchange_exists = false;
  std::map<std::string, std::string> tables;  // CSV file name -> content (with csv)
};

// korbal run.ctl run.rep run.dat on the control and data texts, at 10:00:00.00; with
// `csv`, also --csv DIR/csv, whose files are collected into `tables`.
inline Outcome run_korbal(const std::string& control, const std::string& data = "",
                          bool csv = false) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "run.ctl", control);
  testsupport::write_file(dir / "run.dat", data);
  std::vector<std::string> args{"run.ctl", "run.rep", "run.dat"};
  if (csv) args.insert(args.begin(), {"--csv", (dir / "csv").string()});
  const korbal::Options opt = korbal::parse_options(args);
  std::istringstream in;
  std::ostringstream out;
  Outcome o;
  {
    rec::Io io(args, in, out, dir.path());
    FixedClock clock;
    o.status = korbal::run(io, clock, opt);
  }
  o.console = testsupport::normalise_stamps(out.str());
  o.report = testsupport::read_file(dir / "run.rep");
  o.interchange_exists = testsupport::file_exists(dir / "MERIDOX_IN.DAT");
  o.interchange = testsupport::read_file(dir / "MERIDOX_IN.DAT");
  if (csv && std::filesystem::is_directory(dir / "csv"))
    for (const auto& e : std::filesystem::directory_iterator(dir / "csv"))
      o.tables[e.path().filename().string()] = testsupport::read_file(e.path());
  return o;
}

}  // namespace korbal_test
