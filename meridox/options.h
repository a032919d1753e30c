// The options of meridox's command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meridox {

struct Options {
  std::optional<std::filesystem::path> csv_dir;  // --csv DIR: the tables as CSV files
  std::optional<double> inbreeding;              // --inbreeding F: the genetic parameters
  std::optional<std::string> error_file;         // --error FILE: an external error
  std::string error;  // a command line that cannot be used; the run reports it and ends
};

// Takes the options out of `args` (the arguments after the program name), leaving the
// file names in their order: "--csv DIR", "--inbreeding F" and "--error FILE", also
// written "--csv=DIR" (and so on), wherever they stand before a "--", which ends the
// options and is removed. F is a number from 0 to 1. Any other argument is a file name.
Options parse_options(std::vector<std::string>& args);

}  // namespace meridox
