// Parsing of meridox's options.
#include "meridox/options.h"

#include <charconv>
#include <string_view>

#include "records/options.h"

namespace meridox {

Options parse_options(std::vector<std::string>& args) {
  rec::OptionValues v = rec::take_options(args, {"--csv", "--inbreeding", "--error"});
  Options o;
  if (!v.error.empty()) {
    o.error = v.error;
    return o;
  }
  if (auto it = v.values.find("--csv"); it != v.values.end()) o.csv_dir = it->second;
  if (auto it = v.values.find("--error"); it != v.values.end()) o.error_file = it->second;
  if (auto it = v.values.find("--inbreeding"); it != v.values.end()) {
    const std::string& value = it->second;
    double f = 0.0;
    const char* end = value.data() + value.size();
    const auto r = std::from_chars(value.data(), end, f);
    if (r.ec != std::errc() || r.ptr != end || !(f >= 0.0 && f <= 1.0)) {
      o.error = "option --inbreeding needs the inbreeding coefficient of the parents, a "
                "number from 0 to 1, not '" + value + "'";
    } else {
      o.inbreeding = f;
    }
  }
  return o;
}

}  // namespace meridox
