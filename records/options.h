// The options of the programs' command lines.
//
// An option takes a value, written "--NAME VALUE" or "--NAME=VALUE", or is a switch
// without one ("--NAME"); either may stand anywhere before a "--", which ends the
// options and is removed. Whatever is left are
// the file names, in their order.
#pragma once

#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace rec {

struct OptionValues {
  std::map<std::string, std::string, std::less<>> values;  // by option name ("--csv")
  std::set<std::string, std::less<>> switches;              // the switches given ("--selfs")
  std::string error;  // an option without its value, in words; empty when none
};

// Takes the options `names` with their values and the switches `switches` out of `args`.
// An option without a value (at the end, or an empty one), a switch given a value, an
// option or switch given twice, and an argument before "--" that begins with "--" but is
// none of them (nor "--help" or "--version", which are file names when they do not stand
// alone) set `error` and leave `args` as it was.
OptionValues take_options(std::vector<std::string>& args,
                          std::initializer_list<std::string_view> names,
                          std::initializer_list<std::string_view> switches = {});

}  // namespace rec
