// User text in messages (rec::echo), and an input file read whole through the handle
// it was opened with (Io::read_rest): its bounds, and the records read before it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "records/format.h"
#include "records/io.h"
#include "support.h"

namespace {

using testsupport::TempDir;
using testsupport::write_file;

TEST(Echo, EscapesAndCutsUserText) {
  const std::string long_text = std::string(85, 'a') + "\xff";
  const struct Case {
    std::string text;
    char quote;
    std::size_t cut;
    std::string shown;
  } cases[] = {
      {"Par1", '\'', 80, "'Par1'"},
      {"Par1", 0, 80, "Par1"},
      {"12,5", '"', 80, "\"12,5\""},
      {std::string("A\nB\0\x7f\xc3\xa9", 7), '\'', 80, "'A\\x0AB\\x00\\x7F\\xC3\\xA9'"},
      {std::string(80, 'x'), '\'', 80, "'" + std::string(80, 'x') + "'"},
      {long_text, '\'', 80, "'" + std::string(80, 'a') + "...' (86 characters)"},
      {long_text, 0, 4, "aaaa... (86 characters)"},
      {"\xff\xfe", '\'', 1, "'\\xFF...' (2 characters)"},
      {long_text, 0, std::string::npos, std::string(85, 'a') + "\\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(rec::echo(c.text, c.quote, c.cut), c.shown) << c.shown;
}

}  // namespace
