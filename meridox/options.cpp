// Parsing of meridox's options.
#include "meridox/options.h"

#include <charconv>
#include <string_view>

namespace meridox {

namespace {

// The value of option `name` at args[i]: after its "=", or the next argument (consumed).
// Returns false when there is none.
bool option_value(std::vector<std::string>& args, std::size_t i, std::string_view name,
                  std::string& value, bool& matched) {
  const std::string_view a(args[i]);
  matched = false;
  if (a == name) {
    matched = true;
    if (i + 1 >= args.size()) return false;
    value = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return true;
  }
  if (a.size() > name.size() && a.starts_with(name) && a[name.size()] == '=') {
    matched = true;
    value = std::string(a.substr(name.size() + 1));
    return true;
  }
  return false;
}

}  // namespace

Options parse_options(std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size();) {
    if (args[i] == "--") {
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
    std::string value;
    bool matched = false;
    if (option_value(args, i, "--csv", value, matched) || matched) {
      if (!matched || value.empty()) {
        o.error = "option --csv needs the name of a folder";
      } else {
        o.csv_dir = value;
      }
    } else if (option_value(args, i, "--inbreeding", value, matched) || matched) {
      double f = 0.0;
      const char* end = value.data() + value.size();
      const auto r = std::from_chars(value.data(), end, f);
      if (value.empty() || r.ec != std::errc() || r.ptr != end || !(f >= 0.0 && f <= 1.0)) {
        o.error = "option --inbreeding needs the inbreeding coefficient of the parents, a "
                  "number from 0 to 1" +
                  (value.empty() ? std::string() : ", not '" + value + "'");
      } else {
        o.inbreeding = f;
      }
    } else {
      ++i;
      continue;
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    if (!o.error.empty()) return o;
  }
  return o;
}

}  // namespace meridox
