// Reading CSV text: separator, records with quoted fields, numbers.
#include "records/csv_reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <system_error>

namespace rec::csv {

char find_separator(std::string_view text) {
  bool quoted = false, comma = false, semicolon = false, tab = false;
  for (char ch : text) {
    if (ch == '"') quoted = !quoted;
    if (quoted) continue;
    if (ch == '\n') break;
    comma |= ch == ',';
    semicolon |= ch == ';';
    tab |= ch == '\t';
  }
  if (comma) return ',';
  if (semicolon) return ';';
  if (tab) return '\t';
  return ',';
}

bool Reader::next_quoted(std::vector<std::string_view>& fields) {
  if (exact_) return next_quoted_exact(fields);
  const char* t = text_.data();
  const std::size_t n = text_.size();
  pieces_.clear();
  scratch_.clear();
  std::size_t p = pos_;
  for (;;) {  // one field
    std::size_t b = p, e;
    bool in_scratch = false;
    while (p < n && (t[p] == ' ' || (t[p] == '\t' && sep_ != '\t'))) ++p;
    if (p < n && t[p] == '"') {
      ++p;
      const std::size_t open = p;
      b = p;
      for (;;) {
        const void* q = std::memchr(t + p, '"', n - p);
        if (q == nullptr) fail("a quoted field is not closed");
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(q) - t);
        line_ += std::count(t + p, t + at, '\n');
        if (at + 1 < n && t[at + 1] == '"') {  // a doubled quote stands for one quote
          if (!in_scratch) {
            in_scratch = true;
            b = scratch_.size();
            scratch_.append(t + open, at + 1 - open);
          } else {
            scratch_.append(t + p, at + 1 - p);
          }
          p = at + 2;
          continue;
        }
        if (in_scratch) {
          scratch_.append(t + p, at - p);
          e = scratch_.size();
        } else {
          e = at;
        }
        p = at + 1;
        break;
      }
      while (p < n && is_blank(t[p]) && t[p] != sep_) ++p;
      if (p < n && t[p] != sep_ && t[p] != '\n') fail("text after the closing quote of a field");
    } else {
      b = p;
      while (p < n && t[p] != sep_ && t[p] != '\n') ++p;
      e = p;
    }
    pieces_.push_back({b, e, in_scratch});
    if (p < n && t[p] == sep_) {
      ++p;
      continue;
    }
    if (p < n) {  // the line end
      ++p;
      ++line_;
    }
    break;
  }
  pos_ = p;
  fields.clear();
  for (const Piece& pc : pieces_) {
    const char* base = pc.in_scratch ? scratch_.data() : t;
    fields.push_back(trim(std::string_view(base + pc.b, pc.e - pc.b)));
  }
  return true;
}

bool Reader::next_quoted_exact(std::vector<std::string_view>& fields) {
  const char* t = text_.data();
  const std::size_t n = text_.size();
  pieces_.clear();
  scratch_.clear();
  std::size_t p = pos_;
  for (;;) {  // one field, gathered in the scratch buffer
    const std::size_t b = scratch_.size();
    if (p < n && t[p] == '"') {
      ++p;
      for (;;) {
        const void* q = std::memchr(t + p, '"', n - p);
        if (q == nullptr) fail("a quoted field is not closed");
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(q) - t);
        line_ += std::count(t + p, t + at, '\n');
        scratch_.append(t + p, at - p);
        if (at + 1 < n && t[at + 1] == '"') {  // a doubled quote stands for one quote
          scratch_ += '"';
          p = at + 2;
          continue;
        }
        p = at + 1;
        break;
      }
    }
    // The rest of the field, quotes and all.
    const std::size_t from = p;
    while (p < n && t[p] != sep_ && t[p] != '\n' && t[p] != '\r') ++p;
    scratch_.append(t + from, p - from);
    pieces_.push_back({b, scratch_.size(), true});
    if (p < n && t[p] == sep_) {
      ++p;
      continue;
    }
    if (p < n) {  // the line end
      if (t[p] == '\r' && p + 1 < n && t[p + 1] == '\n') ++p;
      ++p;
      ++line_;
    }
    break;
  }
  pos_ = p;
  fields.clear();
  for (const Piece& pc : pieces_)
    fields.push_back(std::string_view(scratch_.data() + pc.b, pc.e - pc.b));
  return true;
}

namespace {

// Whether `v` is a number as read_number takes it (see there).
bool number_text(std::string_view v) {
  std::size_t k = 0;
  if (k < v.size() && (v[k] == '+' || v[k] == '-')) ++k;
  bool digit = false, point = false;
  for (; k < v.size(); ++k) {
    const char ch = v[k];
    if (ch >= '0' && ch <= '9') {
      digit = true;
    } else if (ch == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digit) return false;
  if (k < v.size()) {
    if (v[k] != 'e' && v[k] != 'E') return false;
    ++k;
    if (k < v.size() && (v[k] == '+' || v[k] == '-')) ++k;
    if (k == v.size()) return false;
    for (; k < v.size(); ++k)
      if (v[k] < '0' || v[k] > '9') return false;
  }
  return true;
}

}  // namespace

NumberStatus read_number_general(std::string_view v, float& out) {
  if (!number_text(v)) return NumberStatus::Invalid;
  if (rec::detail::read_real_fast(v, 0, 0, out)) return NumberStatus::Ok;
  const rec::detail::FieldStatus st = rec::detail::read_real(rec::detail::Field{v}, 0, 0, out);
  return st == rec::detail::FieldStatus::Ok ? NumberStatus::Ok : NumberStatus::Range;
}

NumberStatus read_double(std::string_view v, double& out) {
  if (!number_text(v)) return NumberStatus::Invalid;
  const char* b = v.data();
  const char* e = b + v.size();
  if (*b == '+') ++b;
  const auto r = std::from_chars(b, e, out);
  if (r.ec == std::errc::result_out_of_range) return NumberStatus::Range;
  return r.ec == std::errc() && r.ptr == e ? NumberStatus::Ok : NumberStatus::Invalid;
}

}  // namespace rec::csv
