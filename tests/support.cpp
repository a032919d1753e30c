#include "support.h"

#include <sys/wait.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

std::string program(std::string_view name) {
  return std::string(BUILD_DIR) + "/" + std::string(name);
}

int run_in(const std::filesystem::path& dir, const std::string& command) {
  const std::string line =
      "cd '" + dir.string() + "' && " + command + " </dev/null >console.txt 2>&1";
  const int status = std::system(line.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

namespace {
std::string shell_quoted(std::string_view s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
}  // namespace

Ran run_program(const std::filesystem::path& dir, std::string_view exe,
                const std::vector<std::string>& args, const std::string& input,
                const std::string& limit) {
  TempDir io;
  write_file(io / "in.txt", input);
  std::string command = shell_quoted(program(exe));
  for (const auto& a : args) command += " " + shell_quoted(a);
  command += " <" + shell_quoted((io / "in.txt").string());
  const std::string out = shell_quoted((io / "out.txt").string());
  const std::string cd = "cd " + shell_quoted(dir.string()) + " && ";
  Ran r;
  if (limit.empty()) {
    const int raw = std::system((cd + command + " >" + out + " 2>&1").c_str());
    if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  } else {
    const std::string rc = shell_quoted((io / "rc").string());
    const std::string line =
        cd + "(" + limit + " && " + command + " 2>&1; echo $? >" + rc + ") | cat >" + out;
    const std::string status = std::system(line.c_str()) == 0 ? read_file(io / "rc") : "";
    if (!status.empty()) r.status = std::stoi(status);
  }
  r.console = read_file(io / "out.txt");
  return r;
}

std::string last_console_line(std::string_view console) {
  while (!console.empty() && console.back() == '\n') console.remove_suffix(1);
  const auto k = console.rfind('\n');
  return std::string(k == std::string_view::npos ? console : console.substr(k + 1));
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

std::string trim(std::string s) {
  s.erase(0, s.find_first_not_of(' '));
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

std::string dims(std::initializer_list<int> items) {
  std::string s;
  char buf[8];
  for (int v : items) {
    std::snprintf(buf, sizeof buf, "%3d", v);
    s += buf;
  }
  return s + "\n";
}

double f_tail_even(double f, int nu1, double nu2) {
  const double x = nu2 / (nu2 + nu1 * f), y = nu1 * f / (nu2 + nu1 * f);
  double log_term = nu2 / 2 * std::log(x), sum = 0.0;
  for (int i = 0; i < nu1 / 2; ++i) {
    sum += std::exp(log_term);
    log_term += std::log((nu2 / 2 + i) / (i + 1) * y);
  }
  return sum;
}

double t_tail_even(double t, int nu) {
  const double q = std::atan(std::abs(t) / std::sqrt(nu)), c2 = std::cos(q) * std::cos(q);
  double term = 1.0, sum = 1.0;
  for (int k = 1; k <= nu / 2 - 1; ++k) sum += (term *= c2 * (2 * k - 1) / (2.0 * k));
  return 1.0 - std::sin(q) * sum;
}

Matrix inverse(Matrix a, double* logdet) {
  const std::size_t n = a.size();
  Matrix inv(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) inv[i][i] = 1.0;
  double ld = 0.0;
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::abs(a[r][c]) > std::abs(a[piv][c])) piv = r;
    std::swap(a[c], a[piv]);
    std::swap(inv[c], inv[piv]);
    const double d = a[c][c];
    ld += std::log(std::abs(d));
    for (std::size_t k = 0; k < n; ++k) a[c][k] /= d, inv[c][k] /= d;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c || a[r][c] == 0.0) continue;
      const double f = a[r][c];
      for (std::size_t k = 0; k < n; ++k) a[r][k] -= f * a[c][k], inv[r][k] -= f * inv[c][k];
    }
  }
  if (logdet) *logdet = ld;
  return inv;
}

}  // namespace testsupport
