// The two informational arguments of both programs.
//
// Given as the only command-line argument, "--help" prints the program's usage text
// followed by its version line, and "--version" prints the version line alone; the
// program then ends with exit status 0 without opening any file. Any other argument,
// and either of these together with further arguments, is a file name as usual.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace rec {

inline constexpr std::string_view kVersion = "1.0.0";

// Prints the usage text or the version line when `args` (the arguments after the
// program name) is exactly {"--help"} or {"--version"}, and returns true then; returns
// false, printing nothing, otherwise.
inline bool usage_requested(const std::vector<std::string>& args, std::ostream& out,
                            std::string_view program, std::string_view usage) {
  if (args.size() != 1) return false;
  if (args[0] == "--help") {
    out << usage;
  } else if (args[0] != "--version") {
    return false;
  }
  out << program << ' ' << kVersion << '\n';
  out.flush();
  return true;
}

}  // namespace rec
