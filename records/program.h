// The frame that every program of the system runs in.
//
// The signal handlers that remove temporary outputs are installed, the report units are
// declared, outputs go to temporary files renamed at the end, and the input files named
// on the command line are opened before any output exists. A run-time error anywhere,
// the closing of the files included, ends the run with its message on the console and
// exit status 2.
#pragma once

#include <functional>
#include <initializer_list>
#include <string_view>

#include "records/io.h"

namespace rec {

struct ProgramFiles {
  std::initializer_list<Io::InputArgument> inputs;  // command-line arguments read as input
  std::initializer_list<int> reports;               // units that hold reports
  // Texts of which one is in the last record of every report of the program.
  std::initializer_list<std::string_view> report_ends = {};
};

// Runs `body` (which returns the exit status) in `io` with the files set up as above.
// With `open_inputs` false (an unusable option, reported by the body) the inputs are not
// opened first.
int run_program(Io& io, const ProgramFiles& files, bool open_inputs,
                const std::function<int()>& body);

// Runs the work of a program, `body` (which returns the exit status), and stops the run.
// A run-time or format error ends the run instead with its message on the console and
// exit status 2; so does any other exception with `any_error`, as a run-time error.
int run_to_stop(Io& io, const std::function<int()>& body, bool any_error = false);

}  // namespace rec
