// Helpers shared by the tests: scratch directories, whole-file reads and writes, and
// the normalisation of console time stamps.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

// A fresh empty directory, removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, std::string_view content);
bool file_exists(const std::filesystem::path& p);

// Replaces every time stamp hh:mm:ss.hh by "hh:mm:ss.hh" and the value of
// "Execution time =" by "   xxx.x", so that console transcripts compare exactly.
std::string normalise_stamps(std::string_view console);

// Joins lines with CR LF after each (the line ends of the report files).
std::string crlf(std::initializer_list<std::string_view> lines);

// Path of a file under the source tree.
std::filesystem::path source_path(std::string_view relative);

}  // namespace testsupport
