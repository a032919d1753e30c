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

// read_rest after `records` records were read: the rest, or the error that ends the run.
TEST(ReadRest, TheRestOfTheFileWithinItsBounds) {
  const std::string big(3 << 20, 'y');  // several chunks of the read
  const struct Case {
    const char* name;
    std::string content;
    int records;
    std::size_t bound, line_bound;
    std::string rest;   // when it is read
    std::string error;  // else
  } cases[] = {
      {"whole file", "a,b\n1,2\n", 0, 100, 10, "a,b\n1,2\n", ""},
      {"after a record", "head\n1,2\n3,4", 1, 100, 10, "1,2\n3,4", ""},
      {"empty", "", 0, 100, 10, "", ""},
      {"exactly the bounds", "12345\r\n6789", 0, 11, 5, "12345\r\n6789", ""},
      {"larger than the bound", "12345\n67890\n", 0, 11, 10, "",
       "Run-time error: READ on unit 1, file 'f.csv': the file is larger than 11 bytes"},
      {"a long line", "ab\nabcdef\nab\n", 0, 100, 5, "",
       "Run-time error: READ on unit 1, file 'f.csv', line 2: a line longer than 5 characters"},
      {"a long last line without line end", "ab\nabcdef", 0, 100, 5, "",
       "Run-time error: READ on unit 1, file 'f.csv', line 2: a line longer than 5 characters"},
      {"line numbers go on from the records read", "x\ny\nabcdef\n", 1, 100, 5, "",
       "Run-time error: READ on unit 1, file 'f.csv', line 3: a line longer than 5 characters"},
      {"a large file in pieces", big + "\n", 0, big.size() + 1, big.size(), big + "\n", ""},
      {"a long line across pieces", "1\n" + big, 0, big.size() + 2, big.size() - 1, "",
       "Run-time error: READ on unit 1, file 'f.csv', line 2: a line longer than " +
           std::to_string(big.size() - 1) + " characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "f.csv", c.content);
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({}, in, out, dir.path());
    io.open(1, "f.csv", rec::OpenMode::Input);
    std::string line;
    for (int k = 0; k < c.records; ++k)
      ASSERT_TRUE(io.read(1, rec::Format::compile("(A)"), {rec::Target::of(line, 100)}, true));
    try {
      EXPECT_EQ(io.read_rest(1, c.bound, c.line_bound), c.rest);
      EXPECT_EQ(c.error, "");
    } catch (const rec::RunError& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
  }
}

}  // namespace
