// CSV tables: quoting, numbers that read back exactly, atomic files and the reader.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "records/csv.h"
#include "records/csv_lines.h"
#include "records/csv_reader.h"
#include "records/io.h"

namespace {

TEST(Csv, FieldsQuotedOnlyWhenNeeded) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"GCA", "GCA"},           {"a,b", "\"a,b\""},     {"say \"x\"", "\"say \"\"x\"\"\""},
               {" lead", "\" lead\""},   {"trail ", "\"trail \""}, {"two\nlines", "\"two\nlines\""},
               {"", ""},                 {"in side", "in side"}};
  for (const auto& c : cases) EXPECT_EQ(rec::csv::field(c.in), c.out) << c.in;
}

TEST(Csv, NumbersShortestRoundTripAndNA) {
  EXPECT_EQ(rec::csv::number(0.1), "0.1");
  EXPECT_EQ(rec::csv::number(-0.0), "0");
  EXPECT_EQ(rec::csv::number(1e300), "1e+300");
  EXPECT_EQ(rec::csv::number(std::nan("")), "NA");
  EXPECT_EQ(rec::csv::number(1.0 / 0.0), "NA");
  for (double v : {1.0 / 3.0, 24993.8239777123, -3.2e-17, 2.0 / 7.0 * 1e10})
    EXPECT_EQ(std::strtod(rec::csv::number(v).c_str(), nullptr), v);
}

TEST(Csv, TableRowsAndReaderAgree) {
  rec::csv::Table t({"trait,1", "df", "ms"});
  t.row().text("GRAIN YIELD").integer(12).num(0.25);
  t.row().text("a \"b\"").integer(0).na();
  EXPECT_EQ(t.str(), "\"trait,1\",df,ms\nGRAIN YIELD,12,0.25\n\"a \"\"b\"\"\",0,NA\n");
  const auto recs = rec::csv::parse(t.str());
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[0][0], "trait,1");
  EXPECT_EQ(recs[2][0], "a \"b\"");
  EXPECT_EQ(recs[2][2], "NA");
  rec::csv::Table bad({"a", "b"});
  bad.row().text("x");
  EXPECT_THROW(bad.row(), std::logic_error);
}

TEST(Csv, ReaderTakesBomCrLfSemicolonsAndBlankLines) {
  const auto recs = rec::csv::parse("\xEF\xBB\xBF" "a;\"b;c\"\r\n\r\n1;2\r\n", ';');
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[0], (std::vector<std::string>{"a", "b;c"}));
  EXPECT_TRUE(recs[1].empty());
  EXPECT_EQ(recs[2], (std::vector<std::string>{"1", "2"}));
  EXPECT_THROW(rec::csv::parse("\"open"), std::runtime_error);
}

TEST(Csv, AtomicWriteReplacesLinkNotTarget) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("csvtest" + std::to_string(::getpid()));
  fs::remove_all(dir);
  rec::csv::prepare_dir(dir / "sub");
  std::ofstream(dir / "target.txt") << "keep";
  fs::create_symlink(dir / "target.txt", dir / "sub" / "t.csv");
  {
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({}, in, out);
    io.set_replace_at_close(true);
    io.add_table(dir / "sub" / "t.csv", "a\n1\n");
    io.close();
  }
  std::stringstream got, kept;
  got << std::ifstream(dir / "sub" / "t.csv").rdbuf();
  kept << std::ifstream(dir / "target.txt").rdbuf();
  EXPECT_EQ(got.str(), "a\n1\n");
  EXPECT_EQ(kept.str(), "keep");
  EXPECT_FALSE(fs::is_symlink(dir / "sub" / "t.csv"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator{}), 1);
  EXPECT_THROW(rec::csv::prepare_dir(dir / "target.txt"), rec::RunError);
  fs::remove_all(dir);
}

}  // namespace

TEST(Csv, FieldAsDouble) {
  using rec::csv::NumberStatus;
  const struct {
    const char* text;
    NumberStatus status;
    double value;  // when Ok
  } cases[] = {
      {"150.5", NumberStatus::Ok, 150.5},     {"+2", NumberStatus::Ok, 2.0},
      {"-.5e-3", NumberStatus::Ok, -0.0005},  {"5.", NumberStatus::Ok, 5.0},
      {"1E+05", NumberStatus::Ok, 1e5},       {"4e-320", NumberStatus::Ok, 4e-320},
      {"0.1", NumberStatus::Ok, 0.1},         {"1e400", NumberStatus::Range, 0},
      {"1e-400", NumberStatus::Range, 0},     {"", NumberStatus::Invalid, 0},
      {".", NumberStatus::Invalid, 0},        {"1e", NumberStatus::Invalid, 0},
      {" 1", NumberStatus::Invalid, 0},       {"1 ", NumberStatus::Invalid, 0},
      {"0x10", NumberStatus::Invalid, 0},     {"inf", NumberStatus::Invalid, 0},
      {"nan", NumberStatus::Invalid, 0},      {"+-1", NumberStatus::Invalid, 0},
      {"1.2.3", NumberStatus::Invalid, 0},
  };
  for (const auto& c : cases) {
    double v = -7.0;
    EXPECT_EQ(rec::csv::read_double(c.text, v), c.status) << c.text;
    if (c.status == NumberStatus::Ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

// Fields are taken byte for byte: a quote opens a quoted part only at the start of a
// field, text after its closing quote belongs to the field, and a lone CR ends a line.
TEST(Csv, ReaderKeepsFieldsAsWritten) {
  using Records = std::vector<std::vector<std::string>>;
  const struct {
    const char* text;
    Records records;
  } cases[] = {
      {"", {}},
      {"a,b", {{"a", "b"}}},
      {"a,\n", {{"a", ""}}},
      {"\n\n", {{}, {}}},
      {"a\rb\r\nc", {{"a"}, {"b"}, {"c"}}},
      {" a , b ", {{" a ", " b "}}},
      {"\"a\"b,x\"y\"", {{"ab", "x\"y\""}}},
      {" \"a\"", {{" \"a\""}}},
      {"\"\",\"a\nb\"\n1", {{"", "a\nb"}, {"1"}}},
      {"\"a\"\"b\"", {{"a\"b"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(rec::csv::parse(c.text), c.records) << c.text;
  EXPECT_THROW(rec::csv::parse("a,\"b\"\"\n"), std::runtime_error);
}

// The in-place scanners of plain fields take a field only as whole_number and
// read_number read it, to the bit, and take the common forms; anything else they leave.
TEST(Csv, PlainFieldScannersAgreeWithTheFieldConversions) {
  using namespace rec::csv;
  // Each scanner on `v` followed by a line end and padding: whether it took `v` whole.
  struct Got {
    bool whole, whole8, real, real8;
    std::int32_t i = 0, i8 = 0;
    float x = 0, x8 = 0;
  };
  auto scan = [](const std::string& v) {
    const std::string t = v + "\n" + std::string(16, 'z');
    const char* end = t.data() + v.size();
    Got g{};
    g.whole = plain_whole(t.data(), g.i) == end;
    g.whole8 = plain_whole_field(t.data(), v.size(), g.i8);
    g.real = plain_number(t.data(), g.x) == end;
    g.real8 = plain_number_field(t.data(), v.size(), g.x8);
    return g;
  };
  auto check = [&](const std::string& v) {
    const Got g = scan(v);
    std::int32_t i = 0;
    float x = 0;
    const bool whole = whole_number(v, i);
    const bool real = read_number(v, x) == NumberStatus::Ok;
    EXPECT_TRUE(!g.whole || (whole && g.i == i)) << v;
    EXPECT_TRUE(!g.whole8 || (whole && g.i8 == i)) << v;
    EXPECT_TRUE(!g.real || (real && std::bit_cast<std::uint32_t>(g.x) == std::bit_cast<std::uint32_t>(x))) << v;
    EXPECT_TRUE(!g.real8 || (real && std::bit_cast<std::uint32_t>(g.x8) == std::bit_cast<std::uint32_t>(x))) << v;
    EXPECT_EQ(g.whole8, g.whole && v.size() < 9) << v;  // the field scanner leaves nine digits
    EXPECT_EQ(g.real, g.real8) << v;
    return g;
  };
  // Taken: every scanner of the kind reads them.
  for (const char* v : {"0", "7", "10", "123456789", "00000001"}) EXPECT_TRUE(check(v).whole) << v;
  for (const char* v : {"507.33", "-3.5", "+0.25", "-0", ".5", "5.", "16777216", "1677721.6",
                        "0.0000001", "12345678", "-.1234567"})
    EXPECT_TRUE(check(v).real) << v;
  // Left to the conversions (or refused by them): blanks, exponents, many digits, signs
  // alone, missing values, quotes, a second point, values past 2^24.
  for (const char* v : {"", " 1", "1 ", "-", "+", ".", "NA", "1e3", "2E-1", "1234567890",
                        "16777217", "123456789.5", "12345678.", "1.2.3", "\"1\"", "1,5", "0x1",
                        "1\r", "-1", "+7", "１"}) {
    const Got g = check(v);
    EXPECT_FALSE(g.real && (v[0] == ' ' || std::strchr(v, 'e') || std::strchr(v, 'E'))) << v;
  }
  // And any text of the bytes that make up numbers, against both conversions.
  const char alphabet[] = "0123456789.-+eE ,\"N\n";
  std::srand(7);
  for (int k = 0; k < 200000; ++k) {
    std::string v;
    for (int n = std::rand() % 12; n > 0; --n) v += alphabet[std::rand() % (sizeof alphabet - 1)];
    if (v.find_first_of(",\n") == std::string::npos) check(v);
  }
}

namespace {

// The field conversions' value of field `v` of a column of kind `real`, as bits; -1 for
// a field they do not take.
std::int64_t converted(const std::string& v, bool real) {
  using namespace rec::csv;
  std::int32_t i = 0;
  float x = 0;
  if (!real) return whole_number(v, i) ? static_cast<std::uint32_t>(i) : -1;
  return read_number(v, x) == NumberStatus::Ok ? std::bit_cast<std::uint32_t>(x) : -1;
}

}  // namespace

TEST(Csv, NumberLinesGiveWhatTheFieldConversionsGive) {
  using rec::csv::NumberLines;
  struct Row {
    std::int32_t id[2];
    float y[2];
  };
  // Columns: an identifier, a column skipped, a response, an identifier, a response.
  Row row{};
  const bool reals[] = {false, false, true, false, true};
  const NumberLines::Column columns[] = {{false, rec::Target::of(row.id[0])}, {},
                                         {false, rec::Target::of(row.y[0])},
                                         {false, rec::Target::of(row.id[1])},
                                         {false, rec::Target::of(row.y[1])}};
  NumberLines lines(',', {std::begin(columns), std::end(columns)});
  // Whether `line` (its line end added) was taken, each value checked against the
  // conversions of its field.
  auto take = [&](const std::string& line) {
    const std::string t = line + "\n" + std::string(NumberLines::kSpan, 'z');
    row = Row{};
    const std::size_t n = lines.line(t.data(), 0);
    if (n == 0) return false;
    EXPECT_EQ(n, line.size() + 1) << line;
    std::vector<std::string> fields(1);
    for (const char ch : line) {
      if (ch == ',')
        fields.emplace_back();
      else
        fields.back().push_back(ch);
    }
    if (!fields.empty() && !fields.back().empty() && fields.back().back() == '\r') fields.back().pop_back();
    for (std::string& f : fields)
      if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
    EXPECT_EQ(fields.size(), 5u) << line;
    if (fields.size() != 5) return true;
    const std::int64_t got[] = {static_cast<std::uint32_t>(row.id[0]), -2, std::bit_cast<std::uint32_t>(row.y[0]),
                                static_cast<std::uint32_t>(row.id[1]), std::bit_cast<std::uint32_t>(row.y[1])};
    for (int k = 0; k < 5; ++k) {
      if (k == 1) continue;
      EXPECT_EQ(got[k], converted(fields[k], reals[k])) << line << ", column " << k + 1;
    }
    return true;
  };
  // Taken, by a statement of their shape or (a shape seen twice) from the cache.
  for (int twice = 0; twice < 2; ++twice)
    for (const char* v : {"1,2,5.98,3,124.18", "12,0,7,99999999,16777216", "03,1,007,1,5.",
                          "1,2,.5,3,167772.1", "1,2,3,4,5\r", "1,a b,3,4,5", "1,2,0.000001,3,16777217",
                          "1,-x,-5.98,3,-0", "1,2,-.5,3,-99999.9",
                          "1,a long text in the column skipped that takes the line past 64 bytes,3,4,5",
                          "\"1\",\"a\",\"3.5\",\"4\",\"-5\"", "\"1\",2,3,4,5"})
      EXPECT_TRUE(take(v)) << v;
  // Left to the field conversions: signs, blanks, exponents, quotes, empty or long fields,
  // a point in an identifier, a ragged or long line.
  for (const char* v : {"-1,2,3,4,5", "1,2,3,-4,5", "1,2,--3,4,5", "1,2,3-,4,5", "1,2,-,4,5", "1,\"a,b\",3,4", "1,2,\"\",4,5", "1,2,\"3\"\"\",4,5", "1,2,\"3\"4,5",
                        " \"1\",2,3,4,5", "1,\"a\"\"b\",3,4,5", "1,2,1677721.6,4,5", "1,2,+3,4,5", "1,2, 3,4,5", "1,2,3 ,4,5", "1,2,1e5,4,5",
                        "1,,3,4,5", "1,2,3,4,", "123456789,2,3,4,5", "1,2,123.4567,4,123456.78",
                        "1.0,2,3,4,5", "1,2,3,4", "1,2,3,4,5,6", "1,2,3,4,5\r\r", "1,2,.,4,5",
                        "1,2,3,4,5.5.5", "1,2,3,4,5" "000000000000000000000000000000000000000000000000000000000",
                        "1,a text in the column skipped that takes the line past 128 bytes, which no line of"
                        " plain numbers the decoder takes whole may be,3,4,5"})
    EXPECT_FALSE(take(v)) << v;
  // Random lines of the bytes of numbers: whatever is taken has the conversions' values.
  const char alphabet[] = "0123456789.,,-a\" \r";
  std::srand(11);
  for (int k = 0; k < 100000; ++k) {
    std::string v;
    for (int n = 1 + std::rand() % 40; n > 0; --n) v += alphabet[std::rand() % (sizeof alphabet - 1)];
    take(v);
  }
}

TEST(Csv, NumberLinesLookUpNames) {
  using rec::csv::NumberLines;
  struct Names : rec::csv::Levels {
    std::int32_t level(std::string_view v) const override { return v == "A" ? 1 : v == "P.10" ? 2 : 0; }
  } names;
  std::int32_t parent = 0;
  float y = 0;
  NumberLines lines(',', {{false, rec::Target::of(parent), &names}, {false, rec::Target::of(y)}});
  // Each line, twice (its shape then known): the level and value taken, or 0 for a line
  // not taken.
  const struct {
    const char* line;
    std::int32_t level;
    float y;
  } cases[] = {{"A,1.5", 1, 1.5f}, {"P.10,-2", 2, -2.0f}, {"B,1", 0, 0}, {"A,x", 0, 0}, {"A,\"1\"", 1, 1.0f},
                 {"\"P.10\",3", 2, 3.0f}, {"\"A,1", 0, 0}};
  for (int twice = 0; twice < 2; ++twice)
    for (const auto& k : cases) {
      const std::string t = std::string(k.line) + "\n" + std::string(NumberLines::kSpan, 'z');
      parent = 0;
      y = 0;
      const bool taken = lines.line(t.data(), 0) != 0;
      EXPECT_EQ(taken, k.level != 0) << k.line;
      if (!taken) continue;
      EXPECT_EQ(std::make_pair(parent, y), std::make_pair(k.level, k.y)) << k.line;
    }
}

TEST(Csv, DecimalsScaledInDoubleRoundAsTheQuotient) {
  // m 10^-k (m <= 2^24, k <= 7) rounded to float from the double product with the
  // nearest double of 10^-k is the correctly rounded quotient, for every m.
  const double inverse[] = {1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7};
  const float pow10[] = {1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
  std::uint32_t wrong = 0;
  for (std::uint32_t m = 0; m <= (1u << 24); ++m)
    for (int k = 0; k < 7; ++k)
      wrong += static_cast<float>(static_cast<double>(m) * inverse[k]) != static_cast<float>(m) / pow10[k];
  EXPECT_EQ(wrong, 0u);
}
