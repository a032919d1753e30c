// Options with values, taken out of the command line.
#include "records/options.h"

#include "records/io.h"

namespace rec {

OptionValues take_options(std::vector<std::string>& args,
                          std::initializer_list<std::string_view> names,
                          std::initializer_list<std::string_view> switches) {
  OptionValues o;
  auto fail = [&o](std::string error) {
    o.error = std::move(error);
    o.values.clear();
    o.switches.clear();
    return o;
  };
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a(args[i]);
    if (a == "--") {
      rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    bool taken = false;
    for (std::string_view name : names) {
      std::string value;
      if (a == name) {
        if (i + 1 < args.size()) value = args[++i];
      } else if (a.size() > name.size() && a.starts_with(name) && a[name.size()] == '=') {
        value = a.substr(name.size() + 1);
      } else {
        continue;
      }
      if (value.empty()) return fail("option " + std::string(name) + " needs a value");
      if (o.values.count(name) != 0) return fail("option " + std::string(name) + " is given twice");
      o.values[std::string(name)] = value;
      taken = true;
      break;
    }
    for (std::string_view name : switches) {
      if (taken) break;
      if (a.size() > name.size() && a.starts_with(name) && a[name.size()] == '=')
        return fail("option " + std::string(name) + " takes no value");
      if (a != name) continue;
      if (!o.switches.insert(std::string(name)).second)
        return fail("option " + std::string(name) + " is given twice");
      taken = true;
    }
    if (!taken && a.size() > 2 && a.starts_with("--") && a != "--help" && a != "--version")
      return fail("unknown option " + echo(a));
    if (!taken) rest.push_back(args[i]);
  }
  args = std::move(rest);
  return o;
}

}  // namespace rec
