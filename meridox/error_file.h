// The external error of `meridox --error FILE`: mean squares (mean products) and degrees
// of freedom of the error, one per analysis, that replace those of the interchange file.
// Data without replication leave the error with 0 degrees of freedom; an error
// estimated elsewhere (another trial, a pooled error) gives the components and tests a
// usable one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace meridox {

// One row of the file: the analysis of trait_1 by trait_2 (the same name twice for an
// analysis of variance), with its error mean square and degrees of freedom.
struct ExternalError {
  int record = 0;  // the CSV record of the row (the header is record 1)
  std::string trait_1, trait_2;
  double ms = 0.0;
  int df = 0;
};

struct ErrorFile {
  std::string name;  // as given on the command line
  std::vector<ExternalError> rows;
  dev_t dev = 0;
  ino_t ino = 0;
};

// The largest error file read; it holds a few lines per trait.
inline constexpr std::size_t kMaxErrorFileBytes = 1u << 20;

// Reads the error file `name` (resolved in `dir` when relative) whole, through one open,
// and checks it: the header trait_1,trait_2,ms,df, then rows of two trait names, a mean
// square (positive for an analysis of variance, any number for cross products) and
// degrees of freedom (a whole number from 1), no analysis twice (trait_1,trait_2 and
// trait_2,trait_1 name the same one). Blanks around fields and blank lines are ignored.
// Throws rec::RunError naming the file, the record and the field.
ErrorFile read_error_file(const std::filesystem::path& dir, const std::string& name);

// The row for the analysis of `a` by `b` (trimmed trait names, either order), or null.
const ExternalError* find_error(const ErrorFile& file, std::string_view a, std::string_view b);

}  // namespace meridox
