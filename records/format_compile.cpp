// Compilation of a format text into a flat list of nodes.
//
// Blanks outside quoted texts are ignored and commas between items are optional, so
// "(A4,I4,2X,8G12.7/(10X,8G12.7))" and "(1X 'x' I4)" both compile. Every count is
// checked against the limits of format.h while it is being read, so a hostile text
// fails quickly with the offset of the offending character.
#include <cctype>
#include <string>

#include "records/format.h"

namespace rec {
namespace {

class Compiler {
 public:
  explicit Compiler(std::string_view t) : t_(t) {}

  void run();

  std::vector<FormatNode> nodes;
  int reversion = 0;

 private:
  [[noreturn]] void fail(const std::string& what, std::size_t at) const {
    throw FormatError("invalid format: " + what, at);
  }
  void skip_blanks() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t')) ++i_;
  }
  bool at_end() {
    skip_blanks();
    return i_ >= t_.size();
  }
  char peek() {
    skip_blanks();
    return i_ < t_.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(t_[i_]))) : '\0';
  }
  bool digit_next() {
    skip_blanks();
    return i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9';
  }
  // An unsigned number (blanks may sit between its digits), at most kMaxRepeat.
  int number(const char* what) {
    skip_blanks();
    std::size_t start = i_;
    if (!digit_next()) fail(std::string("number expected for ") + what, i_);
    long v = 0;
    while (digit_next()) {
      v = v * 10 + (t_[i_] - '0');
      if (v > kMaxRepeat) fail(std::string(what) + " larger than " + std::to_string(kMaxRepeat), start);
      ++i_;
    }
    return static_cast<int>(v);
  }

  void add(FormatNode::Kind kind, std::size_t pos, int repeat = 1, int width = 0, int digits = 0) {
    FormatNode n{};
    n.kind = kind;
    n.repeat = repeat;
    n.width = width;
    n.digits = digits;
    n.position = pos;
    nodes.push_back(std::move(n));
  }
  void literal(std::size_t pos, int repeat);
  void hollerith(std::size_t pos, int count);
  void item(int depth);
  void group(int depth, int repeat, std::size_t pos);

  std::string_view t_;
  std::size_t i_ = 0;
};

void Compiler::literal(std::size_t pos, int repeat) {
  char q = t_[i_++];
  std::string text;
  for (;;) {
    if (i_ >= t_.size()) fail("unterminated text", pos);
    char c = t_[i_++];
    if (c == q) {
      if (i_ < t_.size() && t_[i_] == q) {
        text.push_back(q);
        ++i_;
        continue;
      }
      break;
    }
    text.push_back(c);
  }
  add(FormatNode::Literal, pos, repeat, static_cast<int>(text.size()));
  nodes.back().text = std::move(text);
}

void Compiler::hollerith(std::size_t pos, int count) {
  ++i_;  // the H
  if (i_ + static_cast<std::size_t>(count) > t_.size()) fail("H text runs past the end", pos);
  add(FormatNode::Literal, pos, 1, count);
  nodes.back().text = std::string(t_.substr(i_, static_cast<std::size_t>(count)));
  i_ += static_cast<std::size_t>(count);
}

// One item of a list: a descriptor with its optional repeat count, or a group.
void Compiler::item(int depth) {
  skip_blanks();
  const std::size_t pos = i_;
  int sign = 0;
  if (peek() == '+' || peek() == '-') {
    sign = peek() == '-' ? -1 : 1;
    ++i_;
  }
  bool counted = digit_next();
  int r = counted ? number("repeat count") : 1;
  char c = peek();
  if (sign != 0 && c != 'P') fail("sign allowed only before P", pos);
  if (c == 'P') {
    if (!counted) fail("P needs a scale factor", pos);
    ++i_;
    add(FormatNode::Scale, pos, 1, sign < 0 ? -r : r);
    return;
  }
  if (counted && r == 0) fail("repeat count of zero", pos);
  switch (c) {
    case '(':
      group(depth + 1, r, pos);
      return;
    case '\'':
    case '"':
      literal(pos, r);
      return;
    case 'H':
      if (!counted) fail("H needs a count", pos);
      hollerith(pos, r);
      return;
    case '/':
      ++i_;
      add(FormatNode::Slash, pos, r);
      return;
    case ':':
      if (counted) fail("repeat count before ':'", pos);
      ++i_;
      add(FormatNode::Colon, pos);
      return;
    case 'X':
      ++i_;
      add(FormatNode::X, pos, 1, r);
      return;
    default:
      break;
  }
  ++i_;
  if (c == 'T') {
    if (counted) fail("repeat count before T", pos);
    char n = peek();
    FormatNode::Kind k = FormatNode::T;
    if (n == 'L' || n == 'R') {
      ++i_;
      k = n == 'L' ? FormatNode::TL : FormatNode::TR;
    }
    int v = number("tab position");
    if (k == FormatNode::T && v < 1) fail("tab position must be at least 1", pos);
    add(k, pos, 1, v);
    return;
  }
  if (c == 'B') {
    char n = peek();
    if (counted || (n != 'N' && n != 'Z')) fail("unknown edit descriptor", pos);
    ++i_;
    add(n == 'N' ? FormatNode::BN : FormatNode::BZ, pos);
    return;
  }
  FormatNode::Kind k;
  switch (c) {
    case 'I': k = FormatNode::I; break;
    case 'F': k = FormatNode::F; break;
    case 'E': k = FormatNode::E; break;
    case 'D': k = FormatNode::D; break;
    case 'G': k = FormatNode::G; break;
    case 'A': k = FormatNode::A; break;
    default:
      if (c == '\0') fail("format ends too early", pos);
      fail(std::string("unknown edit descriptor '") + t_[i_ - 1] + "'", i_ - 1);
  }
  if (k == FormatNode::A) {
    int w = 0;
    if (digit_next()) {
      w = number("width");
      if (w == 0) fail("width of zero", pos);
    }
    add(k, pos, r, w);
    return;
  }
  int w = number("width");
  if (w < 1) fail("width of zero", pos);
  int d = -1;
  if (peek() == '.') {
    ++i_;
    d = number("digits");
  } else if (k != FormatNode::I) {
    fail("decimal count missing", pos);
  }
  if ((k == FormatNode::E || k == FormatNode::G) && peek() == 'E') {
    ++i_;
    number("exponent digits");
  }
  add(k, pos, r, w, d);
}

void Compiler::group(int depth, int repeat, std::size_t pos) {
  if (depth > kMaxNesting) fail("parentheses nested deeper than " + std::to_string(kMaxNesting), pos);
  ++i_;  // the '('
  const int open = static_cast<int>(nodes.size());
  add(FormatNode::GroupOpen, pos, repeat);
  bool need_separator = false;
  for (;;) {
    char c = peek();
    if (c == '\0') fail("missing ')'", pos);
    if (c == ')') {
      if (depth > 1 && static_cast<int>(nodes.size()) == open + 1) fail("empty group", i_);
      break;
    }
    if (c == ',') {
      if (!need_separator) fail("misplaced ','", i_);
      ++i_;
      need_separator = false;
      if (peek() == ')') fail("',' before ')'", i_);
      continue;
    }
    const std::size_t before = nodes.size();
    item(depth);
    if (depth == 1 && nodes[before].kind == FormatNode::GroupOpen) reversion = static_cast<int>(before);
    need_separator = true;
  }
  const std::size_t close_pos = i_;
  ++i_;
  add(FormatNode::GroupClose, close_pos);
  nodes.back().match = open;
  nodes[static_cast<std::size_t>(open)].match = static_cast<int>(nodes.size()) - 1;
}

void Compiler::run() {
  if (t_.size() > kMaxFormatLength)
    throw FormatError("invalid format: longer than " + std::to_string(kMaxFormatLength) + " characters", kMaxFormatLength);
  if (peek() != '(') fail("must begin with '('", i_);
  group(1, 1, i_);
  if (!at_end()) fail("text after the closing ')'", i_);
}

// The fixed-column form of a simple format, or an empty list.
std::vector<FlatField> flatten(const std::vector<FormatNode>& nodes) {
  constexpr std::size_t kMaxFlat = 256;
  std::vector<FlatField> out;
  long long col = 0;
  for (std::size_t i = 1; i + 1 < nodes.size(); ++i) {
    const FormatNode& n = nodes[i];
    switch (n.kind) {
      case FormatNode::I:
      case FormatNode::F:
      case FormatNode::E:
      case FormatNode::D:
      case FormatNode::G:
      case FormatNode::A:
        if (n.kind == FormatNode::A && n.width == 0) return {};
        for (int r = 0; r < n.repeat; ++r) {
          if (out.size() >= kMaxFlat || col > kMaxRecordLength) return {};
          out.push_back({n.kind, static_cast<int>(col), n.width, n.digits});
          col += n.width;
        }
        break;
      case FormatNode::X:
      case FormatNode::TR:
        col += n.width;
        break;
      case FormatNode::T:
        col = n.width - 1;
        break;
      case FormatNode::TL:
        col = col > n.width ? col - n.width : 0;
        break;
      default:
        return {};
    }
  }
  return out;
}

}  // namespace

Format Format::compile(std::string_view text) {
  Compiler c(text);
  c.run();
  Format f;
  f.text_ = std::string(text);
  f.nodes_ = std::move(c.nodes);
  f.reversion_ = c.reversion;
  f.flat_ = flatten(f.nodes_);
  return f;
}

}  // namespace rec
