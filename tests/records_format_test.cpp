// The format interpreter in memory: compile, field editing, format control on output
// and input, list-directed input, limits.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <limits>
#include <string>
#include <vector>

#include "records/format.h"

namespace {

using rec::Format;
using rec::FormatError;
using rec::Item;
using rec::ReadError;
using rec::ReadStatus;
using rec::Target;

struct Lines : rec::RecordSink {
  std::vector<std::string> out;
  void put(std::string_view r) override { out.emplace_back(r); }
};

struct Records : rec::RecordSource {
  explicit Records(std::vector<std::string> r) : recs(std::move(r)) {}
  std::vector<std::string> recs;
  std::size_t next_index = 0;
  bool next(std::string_view& r) override {
    if (next_index >= recs.size()) return false;
    r = recs[next_index++];
    return true;
  }
};

std::vector<std::string> W(std::string_view fmt, std::initializer_list<Item> items) {
  Lines s;
  rec::format_write(Format::compile(fmt), std::span<const Item>(items.begin(), items.size()), s);
  return s.out;
}

std::vector<std::string> Wv(std::string_view fmt, const std::vector<Item>& items) {
  Lines s;
  rec::format_write(Format::compile(fmt), items, s);
  return s.out;
}

using V = std::vector<std::string>;

// ---------------------------------------------------------------- field editing

TEST(EditOutput, Integers) {
  EXPECT_EQ(rec::edit_int(42, 5), "   42");
  EXPECT_EQ(rec::edit_int(-42, 4), " -42");
  EXPECT_EQ(rec::edit_int(123456, 4), "****");
  EXPECT_EQ(rec::edit_int(-100, 3), "***");
  EXPECT_EQ(rec::edit_int(5, 2, 2), "05");
  EXPECT_EQ(rec::edit_int(12, 2, 2), "12");
  EXPECT_EQ(rec::edit_int(7, 4, 3), " 007");
  EXPECT_EQ(rec::edit_int(0, 3, 0), "   ");
  EXPECT_EQ(rec::edit_int(std::numeric_limits<std::int32_t>::min(), 11), "-2147483648");
  EXPECT_EQ(rec::edit_int(std::numeric_limits<std::int32_t>::min(), 10), "**********");
}

TEST(EditOutput, Fixed) {
  EXPECT_EQ(rec::edit_fixed(0.5, 8, 4), "   .5000");
  EXPECT_EQ(rec::edit_fixed(0.0, 8, 4), "   .0000");
  EXPECT_EQ(rec::edit_fixed(-0.25, 8, 4), "  -.2500");
  EXPECT_EQ(rec::edit_fixed(0.3, 4, 0), "  0.");
  EXPECT_EQ(rec::edit_fixed(0.6, 4, 0), "  1.");
  EXPECT_EQ(rec::edit_fixed(12.5, 4, 0), " 13.");   // half away from zero
  EXPECT_EQ(rec::edit_fixed(-12.5, 4, 0), "-13.");
  EXPECT_EQ(rec::edit_fixed(0.125, 5, 2), "  .13");
  EXPECT_EQ(rec::edit_fixed(2.675, 5, 2), " 2.67");  // 2.67499999... in binary
  EXPECT_EQ(rec::edit_fixed(1234.5678, 8, 2), " 1234.57");
  EXPECT_EQ(rec::edit_fixed(123456.0, 8, 2), "********");
  EXPECT_EQ(rec::edit_fixed(99.996, 6, 2), "100.00");
  EXPECT_EQ(rec::edit_fixed(-0.001, 6, 2), "   .00");  // negative zero printed without sign
  EXPECT_EQ(rec::edit_fixed(12345678.123456789, 25, 8), "        12345678.12345679");
  EXPECT_EQ(rec::edit_fixed(20.0, 8, 1), "    20.0");
  EXPECT_EQ(rec::edit_fixed(1e300, 8, 1), "********");
}

TEST(EditOutput, Exponent) {
  EXPECT_EQ(rec::edit_exp(-12.34, 10, 4), "-.1234E+02");
  EXPECT_EQ(rec::edit_exp(12.34, 13, 4), "    .1234E+02");
  EXPECT_EQ(rec::edit_exp(0.0, 13, 4), "    .0000E+00");
  EXPECT_EQ(rec::edit_exp(0.99996, 13, 4), "    .1000E+01");
  EXPECT_EQ(rec::edit_exp(1.0e-5, 12, 7), ".1000000E-04");
  EXPECT_EQ(rec::edit_exp(1.5e100, 13, 4), "    .1500+101");
  EXPECT_EQ(rec::edit_exp(1.5e-100, 13, 4), "    .1500E-99");
  EXPECT_EQ(rec::edit_exp(1.5e-101, 13, 4), "    .1500-100");
  EXPECT_EQ(rec::edit_exp(1.5e300, 12, 4), "   .1500+301");
  EXPECT_EQ(rec::edit_exp(-0.5, 12, 6), "-.500000E+00");
  EXPECT_EQ(rec::edit_exp(-2.0e-5, 12, 7), "************");
}

TEST(EditOutput, General) {
  EXPECT_EQ(rec::edit_general(0.0, 12, 7), ".0000000    ");
  EXPECT_EQ(rec::edit_general(0.5, 12, 7), ".5000000    ");
  EXPECT_EQ(rec::edit_general(123.4567, 12, 7), "123.4567    ");
  EXPECT_EQ(rec::edit_general(1.0, 12, 7), "1.000000    ");
  EXPECT_EQ(rec::edit_general(1234567.0, 12, 7), "1234567.    ");
  EXPECT_EQ(rec::edit_general(1.0e-5, 12, 7), ".1000000E-04");
  EXPECT_EQ(rec::edit_general(-0.5, 12, 7), "************");
  EXPECT_EQ(rec::edit_general(-2.0e-5, 12, 7), "************");
  EXPECT_EQ(rec::edit_general(1.0e7, 12, 7), ".1000000E+08");
  // Rounding carries the value to 10**7: exponent form.
  EXPECT_EQ(rec::edit_general(9999999.7, 12, 7), ".1000000E+08");
  // In range and carried to the next decade: one decimal fewer.
  EXPECT_EQ(rec::edit_general(0.99999999, 12, 7), "1.000000    ");
  EXPECT_EQ(rec::edit_general(9.99999999, 12, 7), "10.00000    ");
  // Just below 0.1 the exponent form applies.
  EXPECT_EQ(rec::edit_general(0.09999999, 12, 7), ".9999999E-01");
  EXPECT_EQ(rec::edit_general(0.099999999, 12, 7), ".1000000E+00");
  EXPECT_EQ(rec::edit_general(0.1, 12, 7), ".1000000    ");
  EXPECT_EQ(rec::edit_general(-1.5, 13, 6), " -1.50000    ");
  EXPECT_EQ(rec::edit_general(25.0, 12, 4), "   25.00    ");
  EXPECT_EQ(rec::edit_general(1234.5678, 20, 12), "   1234.56780000    ");
}

// ---------------------------------------------------------------- compile

TEST(Compile, NodesAndReversionPoint) {
  Format f = Format::compile("(A4,I4,2X,8G12.7,/,(10X,8G12.7))");
  const auto& n = f.nodes();
  ASSERT_EQ(n.size(), 11u);
  EXPECT_EQ(n[0].kind, rec::FormatNode::GroupOpen);
  EXPECT_EQ(n[4].kind, rec::FormatNode::G);
  EXPECT_EQ(n[4].repeat, 8);
  EXPECT_EQ(n[4].width, 12);
  EXPECT_EQ(n[4].digits, 7);
  EXPECT_EQ(n[5].kind, rec::FormatNode::Slash);
  EXPECT_EQ(f.reversion_start(), 6);
  EXPECT_EQ(n[6].match, 9);
  EXPECT_EQ(Format::compile("(' ',I5,I7,4X,15I4)").reversion_start(), 0);
  // The last top-level group, not a nested one.
  EXPECT_EQ(Format::compile("(I2,2(I3,(I4)),I5)").reversion_start(), 2);
}

TEST(Compile, Literals) {
  Format f = Format::compile("('0 * * * * T h a t ''s  i t', 3HABC, \"q\")");
  EXPECT_EQ(f.nodes()[1].text, "0 * * * * T h a t 's  i t");
  EXPECT_EQ(f.nodes()[2].text, "ABC");
  EXPECT_EQ(f.nodes()[3].text, "q");
}

TEST(Compile, Errors) {
  auto pos = [](std::string_view t) -> long {
    try {
      Format::compile(t);
    } catch (const FormatError& e) {
      return static_cast<long>(e.position);
    }
    return -1;
  };
  EXPECT_EQ(pos("I4"), 0);
  EXPECT_EQ(pos("(I4"), 0);
  EXPECT_EQ(pos("(I4,Q5)"), 4);
  EXPECT_EQ(pos("(I4,F8)"), 4);
  EXPECT_EQ(pos("(I4))"), 4);
  EXPECT_EQ(pos("(0I4)"), 1);
  EXPECT_EQ(pos("(I0)"), 1);
  EXPECT_EQ(pos("('abc)"), 1);
  EXPECT_EQ(pos("(I4,,I4)"), 4);
  EXPECT_EQ(pos("(2())"), 3);
  EXPECT_EQ(pos("(999999999I3)"), 1);
  EXPECT_EQ(pos("(I99999)"), 2);
  EXPECT_EQ(pos("(3I3,2F8.2)"), -1);
  EXPECT_EQ(pos("  ( 3 I 3 , 2F 8.2 )  "), -1);
  EXPECT_EQ(pos(""), 0);
}

TEST(Compile, Limits) {
  std::string deep(rec::kMaxNesting - 1, '(');
  std::string ok = "(" + deep + "I3" + std::string(rec::kMaxNesting, ')');
  EXPECT_NO_THROW(Format::compile(ok));
  std::string bad = "((" + deep + "I3" + std::string(rec::kMaxNesting + 1, ')');
  EXPECT_THROW(Format::compile(bad), FormatError);
  EXPECT_NO_THROW(Format::compile("(32767I3)"));
  EXPECT_THROW(Format::compile("(32768I3)"), FormatError);
  std::string longfmt = "(" + std::string(rec::kMaxFormatLength, ' ') + "I3)";
  EXPECT_THROW(Format::compile(longfmt), FormatError);
}

// ---------------------------------------------------------------- output control

TEST(WriteControl, EndOfItemsAndReversionWithoutGroup) {
  EXPECT_EQ(W("(' ',I5,I7,4X,15I4)", {1, 2, 3}), (V{"     1      2       3"}));
  std::vector<Item> twenty;
  for (int i = 1; i <= 20; ++i) twenty.emplace_back(i);
  EXPECT_EQ(Wv("(' ',I5,I7,4X,15I4)", twenty),
            (V{"     1      2       3   4   5   6   7   8   9  10  11  12  13  14  15  16  17",
               "    18     19      20"}));
}

TEST(WriteControl, ReversionToLastTopLevelGroup) {
  std::vector<Item> v;
  for (int i = 1; i <= 12; ++i) v.emplace_back(double(i));
  EXPECT_EQ(Wv("(/,'0',39X,'X PRIME Y VECTOR FOR ',3X,2A8,/,(' ',10G13.6))",
               [&] {
                 std::vector<Item> all{Item("ABCDEFGH"), Item("IJKLMNOP")};
                 all.insert(all.end(), v.begin(), v.end());
                 return all;
               }()),
            (V{"", "0" + std::string(39, ' ') + "X PRIME Y VECTOR FOR    ABCDEFGHIJKLMNOP",
               "   1.00000      2.00000      3.00000      4.00000      5.00000      6.00000      "
               "7.00000      8.00000      9.00000      10.0000    ",
               "   11.0000      12.0000    "}));
}

TEST(WriteControl, GroupOfEightValuesWritesEmptyRecord) {
  const char* f = "(A4,I4,2X,8G12.7,/,(10X,8G12.7))";
  std::vector<Item> eight{Item("MEAN"), Item(3)};
  for (int i = 0; i < 8; ++i) eight.emplace_back(0.5);
  std::string line = "MEAN   3  ";
  for (int i = 0; i < 8; ++i) line += ".5000000    ";
  EXPECT_EQ(Wv(f, eight), (V{line, ""}));
  std::vector<Item> nine = eight;
  nine.emplace_back(2.0);
  EXPECT_EQ(Wv(f, nine), (V{line, "          2.000000    "}));
  std::vector<Item> five{Item("GCA"), Item(0), 1.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(Wv(f, five),
            (V{" GCA   0  1.000000    .0000000    .0000000    .0000000    .0000000    "}));
}

TEST(WriteControl, NoItemsWritesTextsUpToFirstDataDescriptor) {
  EXPECT_EQ(W("('1',/,/,/,'0 * * * * T h a t ''s  i t  f o l k s !  * * * *')", {}),
            (V{"1", "", "", "0 * * * * T h a t 's  i t  f o l k s !  * * * *"}));
  EXPECT_EQ(W("(' Heading',I4,' never')", {}), (V{" Heading"}));
  EXPECT_EQ(W("(/,' Beginning initialization ')", {}), (V{"", " Beginning initialization "}));
  EXPECT_EQ(W("()", {}), (V{""}));
}

TEST(WriteControl, TabsAndSkips) {
  EXPECT_EQ(W("(' ',T42,' Number of locations                    = ',I4)", {3}),
            (V{"                                          Number of locations                    =    3"}));
  EXPECT_EQ(W("(A20,T63,A1)", {"abcdefghijklmnopqrst", "x"}),
            (V{"abcdefghijklmnopqrst" + std::string(42, ' ') + "x"}));
  EXPECT_EQ(W("('abcdef',T3,'XY')", {}), (V{"abXYef"}));
  EXPECT_EQ(W("('abcdef',TL2,'Z',TR1,'W')", {}), (V{"abcdZfW"}));
  EXPECT_EQ(W("('ab',5X)", {}), (V{"ab"}));  // skipped columns at the end are not written
  EXPECT_EQ(W("(' Initialization completed  ',2(I2.2,':'),I2.2,'.',I2.2)", {9, 5, 7, 3}),
            (V{" Initialization completed  09:05:07.03"}));
  EXPECT_EQ(W("('0',T20,23A4)", {" * *", " * *"}), (V{"0" + std::string(18, ' ') + " * * * *"}));
}

TEST(WriteControl, CharacterFields) {
  EXPECT_EQ(W("(A6,'|',A2,'|',A)", {"abc", "abc", "xyz"}), (V{"   abc|ab|xyz"}));
  EXPECT_EQ(W("(4(2A8,4X))", {"NAME    ", "ONE     "}), (V{"NAME    ONE     "}));
}

TEST(WriteControl, ColonStopsAtEndOfItems) {
  EXPECT_EQ(W("(I3,:,' more',I3)", {1}), (V{"  1"}));
  EXPECT_EQ(W("(I3,' more',I3)", {1}), (V{"  1 more"}));
}

TEST(WriteControl, NestedRepeatedGroups) {
  EXPECT_EQ(W("(2(I2,2('-',I1)),'|')", {1, 2, 3, 4, 5, 6}), (V{" 1-2-3 4-5-6|"}));
}

TEST(WriteControl, Errors) {
  EXPECT_THROW(W("(I4)", {"text"}), FormatError);
  EXPECT_THROW(W("(A4)", {3}), FormatError);
  EXPECT_THROW(W("(I4)", {2.5}), FormatError);
  EXPECT_THROW(W("('no data')", {1}), FormatError);
  // The reverted group has no data descriptor: an error, not a hang.
  EXPECT_THROW(W("(I4,('x'))", {1, 2}), FormatError);
  EXPECT_THROW(W("(32767(32767(32767(T1))))", {}), FormatError);
  // A record past the longest allowed.
  EXPECT_THROW(W("(32767(32767(32767('x'))))", {}), FormatError);
  EXPECT_NO_THROW(W("(T32767,T32767,A)", {"x"}));
  EXPECT_THROW(W("(T32767,TR32767,A)", {"xxxx"}), FormatError);
  EXPECT_EQ(W("(2(32767X),A)", {"xx"})[0].size(), 65536u);
  EXPECT_THROW(W("(2(32767X),A)", {"xxx"}), FormatError);
  // An integer item is accepted by a real descriptor.
  EXPECT_EQ(W("(F6.1)", {3}), (V{"   3.0"}));
}

// Every repetition of a text or a '/' is a control step: formats without data
// descriptors end quickly with an error, whatever their repeat counts multiply to;
// repeats up to the step limit are written in full.
TEST(WriteControl, RepeatedTextsCountTowardTheStepLimit) {
  const struct Case {
    const char* fmt;
    std::size_t records;  // 0: the statement is refused
    std::size_t length;   // of the first record
  } cases[] = {
      {"(84(8480(848'')))", 0, 0},
      {"(32767(30(32767'')))", 0, 0},
      {"(32767(32767(32767/)))", 0, 0},
      {"(32767(40(1000'')))", 0, 0},
      {"(1000(1000''))", 1, 0},
      {"(30(1000'ab'))", 1, 60000},
      {"(1000(1000/))", 1000001, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fmt);
    Lines s;
    if (c.records == 0) {
      EXPECT_THROW(rec::format_write(Format::compile(c.fmt), {}, s), FormatError);
      EXPECT_LE(s.out.size(), static_cast<std::size_t>(rec::kMaxControlSteps));
    } else {
      rec::format_write(Format::compile(c.fmt), {}, s);
      ASSERT_EQ(s.out.size(), c.records);
      EXPECT_EQ(s.out[0].size(), c.length);
    }
  }
}

// ---------------------------------------------------------------- input

struct ReadResult {
  ReadStatus status;
  ReadError err;
  int records = 0;
};

ReadResult R(std::string_view fmt, std::vector<std::string> recs, std::initializer_list<Target> t) {
  Records src(std::move(recs));
  ReadResult r;
  r.status = rec::format_read(Format::compile(fmt), src, std::span<const Target>(t.begin(), t.size()),
                              &r.err, &r.records);
  return r;
}

TEST(ReadFields, Integers) {
  std::int32_t a = -1, b = -1, c = -1;
  EXPECT_EQ(R("(I5)", {"  1 2"}, {Target::of(a)}).status, ReadStatus::Ok);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(R("(I3,I3,I3)", {" -7   "}, {Target::of(a), Target::of(b), Target::of(c)}).status,
            ReadStatus::Ok);
  EXPECT_EQ(a, -7);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(c, 0);  // beyond the end of a short record: blanks
  EXPECT_EQ(R("(BZ,I5)", {"  1 2"}, {Target::of(a)}).status, ReadStatus::Ok);
  EXPECT_EQ(a, 102);
  EXPECT_EQ(R("(BZ,I4)", {" 12"}, {Target::of(a)}).status, ReadStatus::Ok);
  EXPECT_EQ(a, 120);
  EXPECT_EQ(R("(I11)", {"-2147483648"}, {Target::of(a)}).status, ReadStatus::Ok);
  EXPECT_EQ(a, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(R("(I11)", {" 2147483647"}, {Target::of(a)}).status, ReadStatus::Ok);
  EXPECT_EQ(a, 2147483647);
  ReadResult r = R("(I11)", {" 2147483648"}, {Target::of(a)});
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.err.message, "integer out of range in field");
  EXPECT_EQ(R("(I30)", {"999999999999999999999999999999"}, {Target::of(a)}).status, ReadStatus::Error);
}

TEST(ReadFields, ConversionErrorsNameTheField) {
  std::int32_t a = 0, b = 0;
  ReadResult r = R("(I3,I3)", {"  1 a1"}, {Target::of(a), Target::of(b)});
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.err.message, "invalid character in integer field");
  EXPECT_EQ(r.err.field, "a1");
  EXPECT_EQ(r.err.column, 4);
  EXPECT_EQ(r.err.width, 3);
  EXPECT_EQ(r.err.record, 1);
  EXPECT_EQ(R("(I3)", {" 1-"}, {Target::of(a)}).status, ReadStatus::Error);
  EXPECT_EQ(R("(I3)", {"1.0"}, {Target::of(a)}).status, ReadStatus::Error);
  EXPECT_EQ(R("(I3)", {"\t12"}, {Target::of(a)}).status, ReadStatus::Error);
  double x = 0;
  r = R("(F8.2)", {"   12x50"}, {Target::of(x)});
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.err.message, "invalid character in real field");
  EXPECT_EQ(r.err.field, "12x50");
  EXPECT_EQ(R("(G12.7)", {"************"}, {Target::of(x)}).status, ReadStatus::Error);
  EXPECT_EQ(R("(F8.2)", {"  1.2.3 "}, {Target::of(x)}).status, ReadStatus::Error);
  EXPECT_EQ(R("(F8.2)", {"   1.5E "}, {Target::of(x)}).status, ReadStatus::Error);
  EXPECT_EQ(R("(F8.2)", {"     E5 "}, {Target::of(x)}).status, ReadStatus::Error);
  EXPECT_EQ(R("(F8.2)", {"  1e999 "}, {Target::of(x)}).status, ReadStatus::Error);
}

TEST(ReadFields, Reals) {
  double x = -1;
  float f = -1;
  auto rd = [&](std::string_view fmt, std::string recd) {
    x = -1;
    EXPECT_EQ(R(fmt, {recd}, {Target::of(x)}).status, ReadStatus::Ok) << fmt << " '" << recd << "'";
    return x;
  };
  EXPECT_EQ(rd("(F4.0)", "  12"), 12.0);
  EXPECT_EQ(rd("(F6.2)", "  1234"), 12.34);
  EXPECT_EQ(rd("(F6.2)", " 1.234"), 1.234);   // the point overrides d
  EXPECT_EQ(rd("(F8.2)", "   12.50"), 12.5);
  EXPECT_EQ(rd("(F8.2)", "  -12.50"), -12.5);
  EXPECT_EQ(rd("(F8.2)", "        "), 0.0);
  EXPECT_EQ(rd("(F8.2)", ""), 0.0);
  EXPECT_EQ(rd("(F8.2)", " 1.5E+02"), 150.0);
  EXPECT_EQ(rd("(F8.2)", " 1.5D2  "), 150.0);
  EXPECT_EQ(rd("(F8.2)", "  1.5-02"), 0.015);
  EXPECT_EQ(rd("(F8.2)", "   15E1 "), 1.5);   // implied decimals apply to the mantissa
  EXPECT_EQ(rd("(E12.4)", " .1234E+02"), 12.34);
  EXPECT_EQ(rd("(D10.2)", "  12345"), 123.45);
  EXPECT_EQ(rd("(G12.7)", ".5000000    "), 0.5);
  EXPECT_EQ(rd("(G12.7)", ".1000000E-04"), 1.0e-5);
  EXPECT_EQ(rd("(G12.7)", "-.500000E+00"), -0.5);
  EXPECT_EQ(rd("(G12.7)", ".1500000+101"), 1.5e100);
  EXPECT_EQ(rd("(F8.2)", "   1 2.5"), 12.5);     // blanks ignored
  EXPECT_EQ(rd("(BZ,F6.2)", "  1 2 "), 10.2);    // blanks as zeros: 1020 with 2 decimals
  EXPECT_EQ(rd("(2P,F8.0)", "    1234"), 12.34);
  EXPECT_EQ(rd("(-1P,F8.2)", "    1.25"), 12.5);
  EXPECT_EQ(rd("(2P,F8.0)", "  1.2E1 "), 12.0);  // the scale does not apply with an exponent
  EXPECT_EQ(rd("(F8.2)", "  1e-400"), 0.0);
  EXPECT_EQ(rd("(F4.1)", "   -"), 0.0);
  // A 32-bit target receives the correctly rounded float, not a rounded double.
  EXPECT_EQ(R("(F13.0)", {"16777217.0001"}, {Target::of(f)}).status, ReadStatus::Ok);
  EXPECT_EQ(f, 16777218.0f);
  EXPECT_EQ(R("(F8.2)", {"   33.25"}, {Target::of(f)}).status, ReadStatus::Ok);
  EXPECT_EQ(f, 33.25f);
  EXPECT_EQ(R("(F8.2)", {"  0.1"}, {Target::of(f)}).status, ReadStatus::Ok);
  EXPECT_EQ(f, 0.1f);
  EXPECT_EQ(R("(F8.2)", {"  1e41"}, {Target::of(f)}).status, ReadStatus::Error);
}

// Every field must give exactly the value std::from_chars gives for its text, whichever
// way the reader converts it.
TEST(ReadFields, RealsAreCorrectlyRoundedForFloatAndDouble) {
  std::mt19937_64 gen(12345);
  const char* layouts[] = {"%8.2f", "%12.7f", "%9.4f", "%14.1f", "%20.3f", "%11.0f."};
  const Format fmts[] = {Format::compile("(F8.2)"), Format::compile("(F12.7)"), Format::compile("(F9.4)"),
                         Format::compile("(F14.1)"), Format::compile("(F20.3)"), Format::compile("(F12.0)")};
  const int widths[] = {8, 12, 9, 14, 20, 12};
  for (int i = 0; i < 20000; ++i) {
    const int l = i % 6;
    const double mag = std::pow(10.0, static_cast<double>(gen() % 9) - 2.0);
    const double v = (static_cast<double>(gen() % 2000001) / 1000000.0 - 1.0) * mag;
    char text[64];
    std::snprintf(text, sizeof text, layouts[l], v);
    if (static_cast<int>(std::string_view(text).size()) > widths[l]) continue;
    std::string_view tv(text);
    while (!tv.empty() && tv.front() == ' ') tv.remove_prefix(1);
    const bool neg = !tv.empty() && tv.front() == '-';
    if (neg) tv.remove_prefix(1);
    float wf = 0;
    double wd = 0;
    std::from_chars(tv.data(), tv.data() + tv.size(), wf);
    std::from_chars(tv.data(), tv.data() + tv.size(), wd);
    if (neg) wf = -wf, wd = -wd;
    float f = 1;
    double d = 1;
    Records s1({text}), s2({text});
    const Target tf = Target::of(f), td = Target::of(d);
    ASSERT_EQ(rec::format_read(fmts[l], s1, std::span<const Target>(&tf, 1)), ReadStatus::Ok) << text;
    ASSERT_EQ(rec::format_read(fmts[l], s2, std::span<const Target>(&td, 1)), ReadStatus::Ok) << text;
    ASSERT_EQ(f, wf) << text;
    ASSERT_EQ(d, wd) << text;
  }
}

TEST(ReadFields, Characters) {
  std::string a, b, c;
  EXPECT_EQ(R("(A4,A8,A2)", {"MEANabcdefghXY"}, {Target::of(a, 4), Target::of(b, 4), Target::of(c, 4)}).status,
            ReadStatus::Ok);
  EXPECT_EQ(a, "MEAN");
  EXPECT_EQ(b, "efgh");  // rightmost characters when the field is wider
  EXPECT_EQ(c, "XY  ");  // blank-padded when narrower
  EXPECT_EQ(R("(A,A)", {"abc"}, {Target::of(a, 2), Target::of(b, 3)}).status, ReadStatus::Ok);
  EXPECT_EQ(a, "ab");
  EXPECT_EQ(b, "c  ");
  EXPECT_EQ(R("(5A8)", {"            NAME OF VARIABLE"},
              {Target::of(a, 8), Target::of(b, 8), Target::of(c, 8), Target::of(c, 8), Target::of(c, 8)})
                .status,
            ReadStatus::Ok);
  EXPECT_EQ(b, "    NAME");
  EXPECT_EQ(c, "        ");
}

TEST(ReadControl, PositioningAndSlash) {
  std::int32_t a = 0, b = 0, c = 0;
  EXPECT_EQ(R("(T5,I2,TL4,I2,TR1,I1)", {"12345678"}, {Target::of(a), Target::of(b), Target::of(c)}).status,
            ReadStatus::Ok);
  EXPECT_EQ(a, 56);
  EXPECT_EQ(b, 34);
  EXPECT_EQ(c, 6);
  ReadResult r = R("(I2,/,2X,I2)", {"11", "  22", "33"}, {Target::of(a), Target::of(b)});
  EXPECT_EQ(r.status, ReadStatus::Ok);
  EXPECT_EQ(r.records, 2);
  EXPECT_EQ(b, 22);
  EXPECT_EQ(R("(I2,/,I2)", {"11"}, {Target::of(a), Target::of(b)}).status, ReadStatus::End);
  EXPECT_EQ(R("(I2)", {}, {Target::of(a)}).status, ReadStatus::End);
}

TEST(ReadControl, ReversionAndEndOfItems) {
  const char* f = "(10X,8G12.7/(10X,8G12.7))";
  std::string line = "   0   0  ";
  for (int i = 1; i <= 8; ++i) line += rec::edit_general(i, 12, 7);
  // Exactly eight values: the empty record after them is passed over.
  std::vector<double> v(8);
  std::vector<Target> t;
  for (double& x : v) t.push_back(Target::of(x));
  Records src({line, "", "next"});
  int used = 0;
  EXPECT_EQ(rec::format_read(Format::compile(f), src, t, nullptr, &used), ReadStatus::Ok);
  EXPECT_EQ(used, 2);
  EXPECT_EQ(v[7], 8.0);
  std::string_view following;
  ASSERT_TRUE(src.next(following));
  EXPECT_EQ(following, "next");
  // Nine values: one continuation record.
  std::vector<double> w(9);
  t.clear();
  for (double& x : w) t.push_back(Target::of(x));
  Records src2({line, "          9.000000    ", "next"});
  EXPECT_EQ(rec::format_read(Format::compile(f), src2, t, nullptr, &used), ReadStatus::Ok);
  EXPECT_EQ(used, 2);
  EXPECT_EQ(w[8], 9.0);
  // Reversion without inner group restarts the whole format on the next record.
  std::int32_t a = 0, b = 0, c = 0;
  EXPECT_EQ(R("(2I3)", {"  1  2", "  3"}, {Target::of(a), Target::of(b), Target::of(c)}).status,
            ReadStatus::Ok);
  EXPECT_EQ(c, 3);
}

TEST(ReadControl, DataLineOfTheAnalysis) {
  std::int32_t id[6];
  float y[3];
  std::vector<Target> t;
  for (auto& i : id) t.push_back(Target::of(i));
  for (auto& x : y) t.push_back(Target::of(x));
  Records src({"  1  2  1  3  5  1   12.50   33.25    7.75"});
  EXPECT_EQ(rec::format_read(Format::compile("(6I3,3F8.2)"), src, t), ReadStatus::Ok);
  EXPECT_EQ(id[0], 1);
  EXPECT_EQ(id[4], 5);
  EXPECT_EQ(id[5], 1);
  EXPECT_EQ(y[0], 12.5f);
  EXPECT_EQ(y[1], 33.25f);
  EXPECT_EQ(y[2], 7.75f);
}

TEST(ReadControl, ItemKindMismatchAndNoProgress) {
  std::int32_t a = 0;
  double x = 0;
  std::string s;
  EXPECT_THROW(R("(F8.2)", {"1"}, {Target::of(a)}), FormatError);
  EXPECT_THROW(R("(I3)", {"1"}, {Target::of(x)}), FormatError);
  EXPECT_THROW(R("(I3)", {"1"}, {Target::of(s, 3)}), FormatError);
  EXPECT_THROW(R("(I3,(T1))", {"1", "2"}, {Target::of(a), Target::of(a)}), FormatError);
  EXPECT_THROW(R("(32767(32767(32767(T1))),I3)", {"1"}, {Target::of(a)}), FormatError);
}

TEST(ListRead, IntegersAcrossRecords) {
  std::int32_t v[4] = {};
  std::int32_t* p[4] = {&v[0], &v[1], &v[2], &v[3]};
  Records src({"   2   1", "", "  5,1", "next"});
  int used = 0;
  EXPECT_EQ(rec::list_read_ints(src, p, nullptr, &used), ReadStatus::Ok);
  EXPECT_EQ(used, 3);
  EXPECT_EQ(v[0], 2);
  EXPECT_EQ(v[3], 1);
  Records src2({"1 2 3"});
  EXPECT_EQ(rec::list_read_ints(src2, p), ReadStatus::End);
  Records src3({});
  EXPECT_EQ(rec::list_read_ints(src3, p), ReadStatus::End);
  Records src4({"1 2 x 4"});
  ReadError err;
  EXPECT_EQ(rec::list_read_ints(src4, p, &err), ReadStatus::Error);
  EXPECT_EQ(err.field, "x");
  EXPECT_EQ(err.column, 5);
  Records src5({"1 2 1.5 4"});
  EXPECT_EQ(rec::list_read_ints(src5, p), ReadStatus::Error);
}

}  // namespace
