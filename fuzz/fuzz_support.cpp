#include "fuzz_support.h"

#include <fstream>
#include <string>
#include <unistd.h>

namespace fuzzsupport {

const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    auto p = std::filesystem::temp_directory_path() /
             ("diallel-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return dir;
}

void clear() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(scratch(), ec))
    std::filesystem::remove_all(e.path(), ec);
}

void write(const std::filesystem::path& p, std::string_view content) {
  std::ofstream out(p, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::vector<std::string_view> split(const std::uint8_t* data, std::size_t size, int parts) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> out;
  while (static_cast<int>(out.size()) < parts - 1) {
    auto k = all.find("\n%%\n");
    if (k == std::string_view::npos) break;
    out.push_back(all.substr(0, k));
    all.remove_prefix(k + 4);
  }
  out.push_back(all);
  while (static_cast<int>(out.size()) < parts) out.emplace_back();
  return out;
}

int run_as_program(rec::Io& io, std::initializer_list<rec::Io::InputArgument> inputs,
                   int report_unit, const std::function<int()>& program) {
  io.set_console_interactive(true);
  io.set_report_units({report_unit});
  io.set_replace_at_close(true);
  try {
    io.open_input_arguments(inputs);
    const int status = program();
    io.close();
    return status;
  } catch (const rec::RunError&) {
    return 2;
  }
}

}  // namespace fuzzsupport
