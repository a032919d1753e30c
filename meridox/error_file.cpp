// Reading and checking the external error file.
#include "meridox/error_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records/csv.h"
#include "records/csv_reader.h"
#include "records/io.h"

namespace meridox {

namespace {

std::string_view blanks_trimmed(std::string_view s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Reads the whole file through one descriptor; a file larger than the bound, not a
// regular file, or unreadable is an error.
std::string read_whole(const std::filesystem::path& path, const rec::ErrorSite& where, ErrorFile& f) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw rec::RunError(where, errno == ENOENT ? std::string("file not found") : std::strerror(errno));
  }
  struct stat st {};
  std::string text;
  std::string trouble;
  if (::fstat(fd, &st) != 0) {
    trouble = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    trouble = "not a regular file";
  } else {
    f.dev = st.st_dev;
    f.ino = st.st_ino;
    char buf[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        trouble = std::strerror(errno);
        break;
      }
      if (got == 0) break;
      if (text.size() + static_cast<std::size_t>(got) > kMaxErrorFileBytes) {
        trouble = "the file is larger than " + std::to_string(kMaxErrorFileBytes) +
                  " bytes, far more than an error file holds";
        break;
      }
      text.append(buf, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  if (!trouble.empty()) throw rec::RunError(where, trouble);
  return text;
}

// Text as the console may show it: control characters and bytes outside ASCII become
// \xNN, and a long field is cut to its first `limit` characters.
std::string shown(std::string_view text, std::size_t limit = 40) {
  return rec::echo(text.substr(0, limit), 0, std::string_view::npos);
}

bool same_analysis(const ExternalError& e, std::string_view a, std::string_view b) {
  return (e.trait_1 == a && e.trait_2 == b) || (e.trait_1 == b && e.trait_2 == a);
}

}  // namespace

ErrorFile read_error_file(const std::filesystem::path& dir, const std::string& name) {
  ErrorFile f;
  f.name = name;
  rec::ErrorSite where{"READ"};
  where.subject = "of the error file '" + shown(name, name.size()) + "' (option --error)";
  const std::string text = read_whole(dir / name, where, f);
  std::vector<std::vector<std::string>> records;
  try {
    records = rec::csv::parse(text);
  } catch (const std::runtime_error&) {
    throw rec::RunError(where, "a quoted field is not closed");
  }
  static const char* const kHeader[4] = {"trait_1", "trait_2", "ms", "df"};
  std::size_t first = 0;
  while (first < records.size() && records[first].empty()) ++first;
  auto header_ok = [&] {
    if (first >= records.size() || records[first].size() != 4) return false;
    for (int c = 0; c < 4; ++c)
      if (blanks_trimmed(records[first][c]) != kHeader[c]) return false;
    return true;
  };
  if (!header_ok()) throw rec::RunError(where, "the first row is not the header trait_1,trait_2,ms,df");
  for (std::size_t r = first + 1; r < records.size(); ++r) {
    const auto& rec = records[r];
    if (rec.empty()) continue;
    rec::ErrorSite at = where;
    at.record = static_cast<long>(r + 1);
    if (rec.size() != 4) {
      throw rec::RunError(at, std::to_string(rec.size()) + " fields where the header has 4");
    }
    ExternalError e;
    e.record = static_cast<int>(r + 1);
    e.trait_1 = blanks_trimmed(rec[0]);
    e.trait_2 = blanks_trimmed(rec[1]);
    for (int c = 0; c < 2; ++c) {
      if ((c == 0 ? e.trait_1 : e.trait_2).empty())
        throw rec::RunError(at, "field " + std::to_string(c + 1) + " (" + kHeader[c] + ") is empty");
    }
    const std::string_view ms = blanks_trimmed(rec[2]);
    if (rec::csv::read_double(ms, e.ms) != rec::csv::NumberStatus::Ok || !std::isfinite(e.ms)) {
      throw rec::RunError(at, "field 3 (ms): not a number '" + shown(ms) + "'");
    }
    if (e.trait_1 == e.trait_2 && !(e.ms > 0.0)) {
      throw rec::RunError(at, "field 3 (ms): the error mean square of a trait must be positive, not '" +
                          shown(ms) + "'");
    }
    const std::string_view df = blanks_trimmed(rec[3]);
    std::int32_t whole = 0;
    const bool is_whole = rec::csv::whole_number(df, whole);
    e.df = whole;
    if (!is_whole || e.df < 1) {
      throw rec::RunError(at, "field 4 (df): the degrees of freedom must be a whole number from 1, not '" +
                          shown(df) + "'");
    }
    if (const ExternalError* twin = find_error(f, e.trait_1, e.trait_2)) {
      throw rec::RunError(at, "fields 1 and 2: the analysis of " + shown(e.trait_1) + " and " + shown(e.trait_2) +
                          " has its error in record " + std::to_string(twin->record) + " already");
    }
    f.rows.push_back(std::move(e));
  }
  return f;
}

const ExternalError* find_error(const ErrorFile& file, std::string_view a, std::string_view b) {
  for (const ExternalError& e : file.rows)
    if (same_analysis(e, a, b)) return &e;
  return nullptr;
}

}  // namespace meridox
