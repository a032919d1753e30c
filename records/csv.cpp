// CSV tables: field quoting, shortest round-trip numbers, atomic files, and parsing whole
// texts through the shared reader.
#include "records/csv.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records/csv_reader.h"
#include "records/io.h"

namespace rec::csv {

std::string field(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' ' ||
                                        text.front() == '\t' || text.back() == '\t'));
  if (!quote) return std::string(text);
  std::string s = "\"";
  for (char ch : text) {
    if (ch == '"') s += '"';
    s += ch;
  }
  s += '"';
  return s;
}

std::string number(double v) {
  if (!std::isfinite(v)) return std::string(kNA);
  if (v == 0.0) return "0";  // no "-0"
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

Table::Table(std::initializer_list<std::string_view> header) {
  for (std::string_view h : header) {
    if (columns_ > 0) text_ += ',';
    text_ += field(h);
    ++columns_;
  }
  text_ += '\n';
}

Table& Table::row() {
  if (rows_ > 0 && in_row_ != columns_) throw std::logic_error("csv::Table: short row");
  if (rows_ > 0 && text_.back() != '\n') text_ += '\n';
  ++rows_;
  in_row_ = 0;
  return *this;
}

void Table::sep() {
  if (rows_ == 0 || in_row_ >= columns_) throw std::logic_error("csv::Table: field outside a row");
  if (in_row_ > 0) text_ += ',';
  ++in_row_;
}

Table& Table::text(std::string_view s) {
  sep();
  text_ += field(s);
  return *this;
}

Table& Table::num(double v) {
  sep();
  text_ += number(v);
  return *this;
}

Table& Table::num_or_na(double v, bool defined) { return defined ? num(v) : na(); }

Table& Table::integer(std::int64_t v) {
  sep();
  text_ += std::to_string(v);
  return *this;
}

Table& Table::na() {
  sep();
  text_ += kNA;
  return *this;
}

const std::string& Table::str() const {
  if (rows_ > 0 && in_row_ != columns_) throw std::logic_error("csv::Table: short row");
  // The last row's line end is added lazily so that row() can check the count.
  if (rows_ > 0 && (text_.empty() || text_.back() != '\n')) text_ += '\n';
  return text_;
}

void prepare_dir(const std::filesystem::path& dir) {
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec))
    throw RunError(ErrorSite{}, "CSV folder '" + dir.string() +
                   "' cannot be created" + (ec ? ": " + ec.message() : std::string()));
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    throw RunError(ErrorSite{}, "CSV folder '" + dir.string() +
                   "' cannot be written: " + std::strerror(errno));
}

void prepare_tables(Io& io, const std::filesystem::path& dir,
                    std::initializer_list<std::string_view> names) {
  const std::filesystem::path d = io.resolve(dir);
  prepare_dir(d);
  for (std::string_view name : names) io.reserve_output(d / std::string(name));
}

std::vector<std::vector<std::string>> parse(std::string_view text, char sep) {
  Reader reader(text, sep, Dialect::Exact);
  reader.start(bom_length(text), 1);
  std::vector<std::vector<std::string>> records;
  std::vector<std::string_view> fields;
  try {
    while (reader.next(fields)) records.emplace_back(fields.begin(), fields.end());
  } catch (const Malformed&) {
    throw std::runtime_error("CSV: a quoted field is never closed");
  }
  return records;
}

}  // namespace rec::csv
