// Temporary files that a killed run removes.
//
// Outputs are written into temporary files that are renamed over their names at the
// end of the run. When the run is killed by SIGINT, SIGTERM, SIGHUP or SIGPIPE, the
// handler installed here removes every temporary file still registered (unlink from a
// fixed table, nothing else), then lets the signal take its default action, so that
// the files of earlier runs stay as they were and no temporary file is left behind.
#pragma once

#include <signal.h>

namespace rec::cleanup {

// Installs the handlers (once; a signal that the run ignores stays ignored) and makes a
// write past the file-size limit fail with an error instead of killing the run.
void install();

// Registers `path` for removal on a fatal signal; installs the handlers when needed.
// Returns the slot to release, or -1 when the table is full or the name too long.
int add(const char* path);

// Forgets the slot (after the file was renamed or removed). -1 is ignored.
void release(int slot);

// Holds the fatal signals back while a temporary file changes hands (created and
// registered, or renamed and forgotten), so that none is left behind or removed twice.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

}  // namespace rec::cleanup
