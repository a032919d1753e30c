// Helpers shared by the tests: scratch directories, whole-file reads and writes, the
// normalisation of console time stamps, and running the built programs.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

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

// Path of a program in the build directory (korbal, meridox, gcasca).
std::string program(std::string_view name);

// Runs the shell command `command` in `dir` with no console input; the console output
// goes to dir/console.txt. Returns the exit status (-1 when the shell could not run it
// or the command did not exit normally).
int run_in(const std::filesystem::path& dir, const std::string& command);

// What a program run as a real executable left: its exit status (-1 when it did not
// exit normally) and everything it wrote to stdout and stderr.
struct Ran {
  int status = -1;
  std::string console;
};

// Runs the program `exe` of the build directory with `args` in `dir`, its console input
// `input`. The console capture lives outside `dir`, so that the directory holds only
// what the program created. A `limit` (a shell command such as "ulimit -f 1") holds for
// the program alone, not for the capture of its console.
Ran run_program(const std::filesystem::path& dir, std::string_view exe,
                const std::vector<std::string>& args, const std::string& input = "",
                const std::string& limit = "");

// The last line of a console transcript (the console puts its line breaks before the
// text, so line ends at the very end are passed over).
std::string last_console_line(std::string_view console);

// The lines of a text, each without its LF and a CR before it.
std::vector<std::string> lines_of(std::string_view text);

// `s` without leading and trailing blanks.
std::string trim(std::string s);

// A record of integers in I3 fields (a dimension record "(15I3)"), ending in LF.
std::string dims(std::initializer_list<int> items);

// Upper tail of F(nu1, nu2) at f for an even nu1, by its finite series:
// x^(nu2/2) sum over i < nu1/2 of C(nu2/2 + i - 1, i) (1 - x)^i, x = nu2 / (nu2 + nu1 f).
double f_tail_even(double f, int nu1, double nu2);

// Two-sided tail of Student's t on an even number of degrees of freedom nu, by the finite
// series P(|T| < t) = sin q (1 + cos^2 q / 2 + 1.3 cos^4 q / (2.4) + ... up to cos^(nu-2) q),
// q = atan(t / sqrt(nu)).
double t_tail_even(double t, int nu);

// A dense matrix by rows, for the explicit computations the tests check against.
using Matrix = std::vector<std::vector<double>>;

// Inverse of a nonsingular matrix by Gauss-Jordan elimination with partial pivoting;
// with `logdet`, also log |det a|.
Matrix inverse(Matrix a, double* logdet = nullptr);

}  // namespace testsupport
