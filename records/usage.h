// The two informational arguments of the three programs.
//
// Given as the only command-line argument, "--help" (or "-h") prints the program's usage
// text, its version line and where to read on; "--version" prints the version line alone; the
// program then ends with exit status 0 without opening any file. Any other argument,
// and either of these together with further arguments, is a file name as usual.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace rec {

inline constexpr std::string_view kVersion = "1.0.0";

// Prints the usage text, the version line and `see_also` when `args` (the arguments after
// the program name) is exactly {"--help"} or {"-h"}, or the version line alone for
// {"--version"}, and returns true then; returns false, printing nothing, otherwise.
inline bool usage_requested(const std::vector<std::string>& args, std::ostream& out,
                            std::string_view program, std::string_view usage,
                            std::string_view see_also = {}) {
  if (args.size() != 1) return false;
  const bool help = args[0] == "--help" || args[0] == "-h";
  if (!help && args[0] != "--version") return false;
  if (help) out << usage;
  out << program << ' ' << kVersion << '\n';
  if (help) out << see_also;
  out.flush();
  return true;
}

// An option error as the console shows it: the error, then the first line of the usage
// text.
inline std::string with_usage(const std::string& error, std::string_view usage) {
  return error + "\n" + std::string(usage.substr(0, usage.find('\n')));
}

}  // namespace rec
