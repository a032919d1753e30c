// Temporary files that a killed run removes.
//
// Outputs are written into temporary files that are renamed over their names at the
// end of the run. When the run is killed by SIGINT, SIGTERM, SIGHUP or SIGPIPE, the
// handler installed here removes every temporary file still registered (unlink from a
// fixed table, nothing else), then lets the signal take its default action, so that
// the files of earlier runs stay as they were and no temporary file is left behind.
#pragma once

namespace rec::cleanup {

// Installs the handlers (once; a signal that the run ignores stays ignored) and makes a
// write past the file-size limit fail with an error instead of killing the run.
void install();

// Registers `path` for removal on a fatal signal; installs the handlers when needed.
// Returns the slot to release, or -1 when the table is full or the name too long.
int add(const char* path);

// Forgets the slot (after the file was renamed or removed). -1 is ignored.
void release(int slot);

}  // namespace rec::cleanup
