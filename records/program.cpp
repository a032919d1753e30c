// The frame of a program's run: cleanup handlers, reports, inputs first, outputs last.
#include "records/program.h"

#include <ostream>

#include "records/cleanup.h"

namespace rec {

int run_program(Io& io, const ProgramFiles& files, bool open_inputs,
                const std::function<int()>& body) {
  cleanup::install();
  io.set_report_units(files.reports);
  io.set_replace_at_close(true);
  int status = 2;
  try {
    if (open_inputs) io.open_input_arguments(files.inputs);
    status = body();
    io.close();
  } catch (const RunError& e) {
    io.say({e.what()});
    io.console_out() << '\n';
    status = 2;
  }
  io.console_out().flush();
  return status;
}

}  // namespace rec
