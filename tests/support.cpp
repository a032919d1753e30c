#include "support.h"

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto p = base / ("diallel-test-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter++));
    if (std::filesystem::create_directory(p)) {
      path_ = p;
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::filesystem::path& p, std::string_view content) {
  std::ofstream out(p, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool file_exists(const std::filesystem::path& p) { return std::filesystem::exists(p); }

std::string normalise_stamps(std::string_view console) {
  static const std::regex stamp(R"(\d\d:\d\d:\d\d\.\d\d)");
  static const std::regex elapsed(R"(Execution time = [ 0-9.*-]{8})");
  std::string s = std::regex_replace(std::string(console), stamp, "hh:mm:ss.hh");
  return std::regex_replace(s, elapsed, "Execution time =    xxx.x");
}

std::string crlf(std::initializer_list<std::string_view> lines) {
  std::string s;
  for (auto l : lines) {
    s.append(l);
    s.append("\r\n");
  }
  return s;
}

std::filesystem::path source_path(std::string_view relative) {
  return std::filesystem::path(SOURCE_DIR) / relative;
}

}  // namespace testsupport
