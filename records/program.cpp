// The frame of a program's run: cleanup handlers, reports, inputs first, outputs last.
#include "records/program.h"

#include <exception>
#include <ostream>
#include <string>

#include "records/cleanup.h"
#include "records/format.h"

namespace rec {

int run_program(Io& io, const ProgramFiles& files, bool open_inputs,
                const std::function<int()>& body) {
  cleanup::install();
  io.set_report_units(files.reports, files.report_ends);
  io.set_replace_at_close(true);
  int status = 2;
  try {
    if (open_inputs) io.open_input_arguments(files.inputs);
    status = body();
    if (status == 2) io.discard_outputs();
    io.close();
  } catch (const RunError& e) {
    io.discard_outputs();
    io.say({e.what()});
    io.console_out() << '\n';
    status = 2;
  }
  io.console_out().flush();
  return status;
}

int run_to_stop(Io& io, const std::function<int()>& body, bool any_error) {
  try {
    const int status = body();
    io.stop();
    return status;
  } catch (const RunError& e) {
    io.discard_outputs();
    io.say({e.what()});
  } catch (const FormatError& e) {
    io.discard_outputs();
    io.say({std::string("Format error: ") + e.what()});
  } catch (const std::exception& e) {
    io.discard_outputs();
    if (!any_error) throw;
    io.say({std::string("Run-time error: ") + e.what()});
  }
  // The console's records end before their text; end the last line for the shell.
  io.console_out() << '\n';
  io.flush();
  return 2;
}

}  // namespace rec
