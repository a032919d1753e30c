// An output file that replaces its target only when the run commits it.
//
// The content goes into a hidden temporary file in the target's folder, registered for
// removal on a fatal signal (records/cleanup.h). commit() renames it over the target, so
// that the target is replaced whole in one step (a link is replaced, never its target);
// abort(), or the destructor of a file never committed, removes it and leaves the target
// as it was.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace rec {

class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile() { abort(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file for `target` and opens it for writing (fully buffered).
  // An existing target lends its permissions; a new one gets those of any new file.
  // Returns false with errno set when the file cannot be made.
  bool create(const std::filesystem::path& target);

  std::FILE* file() const { return fp_; }
  const std::filesystem::path& target() const { return target_; }
  bool pending() const { return !temp_.empty(); }

  // Flushes and closes the temporary file. Returns false with errno set on failure (the
  // file stays pending until commit or abort).
  bool finish();

  // Renames the finished file over its target. Returns false with errno set on failure;
  // the temporary file is removed either way. The caller holds the fatal signals back
  // (cleanup::SignalsHeld) around a set of commits that belong together.
  bool commit();

  // Closes and removes the temporary file; the target stays as it was.
  void abort();

 private:
  std::filesystem::path target_;
  std::string temp_;
  std::FILE* fp_ = nullptr;
  int slot_ = -1;  // the temporary file's entry in the signal cleanup table
};

}  // namespace rec
