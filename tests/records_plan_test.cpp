// Read statements by their laid-out fields (FieldPlan) against the general walk of the
// format: the same values, ends and errors on the edge cases of fixed fields.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "records/format.h"

namespace {

class Lines : public rec::RecordSource {
 public:
  explicit Lines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  bool next(std::string_view& record) override {
    if (k_ == lines_.size()) return false;
    record = lines_[k_++];
    return true;
  }

 private:
  std::vector<std::string> lines_;
  std::size_t k_ = 0;
};

// The outcome of one statement as text: the status, the values read (i, f or d items),
// or the error, and the records it took.
struct Reading {
  std::int32_t i[16] = {};
  float f[16] = {};
  double d[16] = {};
  std::vector<rec::Target> targets;
  explicit Reading(const std::string& kinds) {
    for (std::size_t k = 0; k < kinds.size(); ++k)
      targets.push_back(kinds[k] == 'i'   ? rec::Target::of(i[k])
                        : kinds[k] == 'f' ? rec::Target::of(f[k])
                                          : rec::Target::of(d[k]));
  }
  std::string shown(const std::string& kinds, rec::ReadStatus st, const rec::ReadError& e,
                    int used) const {
    if (st == rec::ReadStatus::End) return "end after " + std::to_string(used);
    if (st == rec::ReadStatus::Error)
      return "record " + std::to_string(e.record) + " columns " + std::to_string(e.column) + "-" +
             std::to_string(e.column + e.width - 1) + ": " + e.message + " '" + e.field + "'";
    std::string s;
    char buf[40];
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      if (kinds[k] == 'i') std::snprintf(buf, sizeof buf, "%d", i[k]);
      else if (kinds[k] == 'f') std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f[k]));
      else std::snprintf(buf, sizeof buf, "%.17g", d[k]);
      if (!s.empty()) s += ' ';
      s += buf;
    }
    return s + " (" + std::to_string(used) + ")";
  }
};

TEST(FieldPlan, ReadsAsTheWalkDoes) {
  const struct Case {
    const char* format;
    std::string kinds;
    std::vector<std::string> records;
    std::string read;  // the first statement's outcome
  } cases[] = {
      {"(6I3,3F8.2)", "iiiiiifff", {"  1  2  1  3  4  0  997.63  184.07  120.47"},
       "1 2 1 3 4 0 997.630005 184.070007 120.470001 (1)"},
      // Blanks: all blank, embedded (ignored), a short record, an empty record.
      {"(3I4,2F8.2)", "iiiff", {"     1 2  -    1 2.5  .     "}, "0 12 0 12.5 0 (1)"},
      {"(2I3,F6.1)", "iif", {" 12"}, "12 0 0 (1)"},
      {"(F8.2,F8.2)", "ff", {"  .    1 1 2.5  "}, "0.100000001 12.5 (1)"},
      {"(2I3,F6.1)", "iif", {""}, "0 0 0 (1)"},
      // Signs before and after blanks, a sign alone, a sign after digits.
      {"(I4,I4,I4,F6.2)", "iiif", {"  -7+  8   -  -1.5"}, "-7 8 0 -1.5 (1)"},
      {"(I4)", "i", {" 1-2"}, "record 1 columns 1-4: invalid character in integer field '1-2'"},
      // Bad characters, the columns named from 1.
      {"(I3,I3)", "ii", {"  1 a2"}, "record 1 columns 4-6: invalid character in integer field 'a2'"},
      {"(I3,F5.1)", "if", {"  11.2.3"}, "record 1 columns 4-8: invalid character in real field '1.2.3'"},
      {"(F8.2)", "f", {"\xff" "1.0    "}, "record 1 columns 1-8: invalid character in real field '\xff" "1.0'"},
      // Range of integers.
      {"(I11,I11)", "ii", {"-2147483648 2147483647"}, "-2147483648 2147483647 (1)"},
      {"(I11)", "i", {" 2147483648"}, "record 1 columns 1-11: integer out of range in field '2147483648'"},
      // Implied decimals, points overriding them, exponents (F accepts them), reals
      // beyond the exact fast conversion.
      {"(F5.2,F5.2,F6.3,F4.0)", "ffff", {"  123 1.5  12345 -12"}, "1.23000002 1.5 12.3450003 -12 (1)"},
      {"(F8.2,F8.2,F6.1)", "ffd", {"  1.5E2 -2.5D-1 1+3"}, "150 -0.25 100 (1)"},
      {"(F10.0)", "f", {"1E39"}, "record 1 columns 1-10: real out of range in field '1E39'"},
      {"(F20.5,F20.0)", "dd", {"  123456789012345678  0.1000000000000000055511"},
       "1234567890123.4568 0.10000000000000001 (1)"},
      {"(F9.0)", "f", {"123456789"}, "123456792 (1)"},
      // T, TL, TR and X; a field far out is blank.
      {"(T5,I2,TL4,I2,TR1,I1,X,F3.1,T200,I3)", "iiifi", {"abcd12345678"},
       "record 1 columns 3-4: invalid character in integer field 'cd'"},
      {"(T5,I2,TL6,I4,TR1,I1,X,F3.1,T200,I3)", "iiifi", {"   112345678"}, "12 1 2 45.5999985 0 (1)"},
      // '/' records: the statement takes them all, errors name the statement's record,
      // a file ending inside the statement is its end.
      {"(I3/I3,/,F4.1)", "iif", {"  1", "  2", " 3.5"}, "1 2 3.5 (3)"},
      {"(I3/I3)", "ii", {"  1", " x2"}, "record 2 columns 1-3: invalid character in integer field 'x2'"},
      {"(I3/I3)", "ii", {"  1"}, "end after 1"},
      {"(I3,2/)", "i", {"  4", "", ""}, "4 (3)"},
      // Reversion and repeated groups lay out like the walk.
      {"(I2,2(I1,F2.1))", "iifif", {"12345678"}, "12 3 4.5 6 7.80000019 (1)"},
      {"(I2)", "iii", {" 1", " 2", " 3"}, "1 2 3 (3)"},
      {"(I2,:,I2)", "i", {" 5 6"}, "5 (1)"},
  };
  for (const auto& c : cases) {
    const rec::Format fmt = rec::Format::compile(c.format);
    Reading walk(c.kinds), laid(c.kinds);
    const rec::FieldPlan plan(fmt, laid.targets);
    ASSERT_TRUE(plan.usable()) << c.format;
    Lines a(c.records), b(c.records);
    rec::ReadError ea, eb;
    int ua = -1, ub = -1;
    const rec::ReadStatus sa = rec::format_read(fmt, a, walk.targets, &ea, &ua);
    const rec::ReadStatus sb = plan.read(b, &eb, &ub);
    EXPECT_EQ(walk.shown(c.kinds, sa, ea, ua), c.read) << c.format;
    EXPECT_EQ(laid.shown(c.kinds, sb, eb, ub), c.read) << c.format;
  }
}

// A record decoded whole (FieldPlan::decode) into the second of two rows: where the
// decoder takes the record it gives the walk's values, with the record in the middle of
// a buffer and at its end; it leaves to the statement what is not plain.
TEST(FieldPlan, DecodesWholeRecordsAsTheWalkReads) {
  const struct Case {
    const char* format;
    std::string kinds;
    std::string record;
    std::string read;  // the walk's outcome
    bool taken;        // the decoder takes the record
  } cases[] = {
      {"(6I3,3F8.2)", "iiiiiifff", "  1  2  1  3  4  0  997.63  184.07  120.47",
       "1 2 1 3 4 0 997.630005 184.070007 120.470001 (1)", true},
      // Blank fields, a point with no digits before it, the widest fields, the first
      // 128 columns, overlapping fields, double reals, fields a record lacks.
      {"(I4,F6.2,I8,F8.6)", "ifif", "       .50999999999.999999", "0 0.5 99999999 9.99999905 (1)", true},
      {"(T120,I4,T1,I2,TL2,I3,2X,F5.0)", "iiif", "12345   7." + std::string(109, ' ') + "  42",
       "42 12 123 7 (1)", true},
      {"(2F8.3,I1)", "ddi", "   1.125  10.0013", "1.125 10.000999999999999 3 (1)", true},
      {"(2I3,F6.1)", "iif", " 12", "12 0 0 (1)", true},
      // Fields that are not plain go field by field: signs, a point not where the
      // decimals put it, no point, embedded and trailing blanks, past column 128; a
      // field that needs the general conversion (an error here) leaves the record.
      {"(I4,I4,F6.2)", "iif", "  -7  +8 -1.50", "-7 8 -1.5 (1)", true},
      {"(F8.2,F8.2)", "ff", "   455.1 45513  ", "455.100006 455.130005 (1)", true},
      {"(I4,F6.2)", "if", " 1 2 1.5 0", "12 1.5 (1)", true},
      {"(T130,I2)", "i", std::string(129, ' ') + "12", "12 (1)", true},
      {"(I3,I3)", "ii", "  1\t 2", "record 1 columns 4-6: invalid character in integer field '\t 2'", false},
  };
  for (const auto& c : cases) {
    const rec::Format fmt = rec::Format::compile(c.format);
    Reading walk(c.kinds);
    Reading rows[2] = {Reading(c.kinds), Reading(c.kinds)};
    const rec::FieldPlan plan(fmt, rows[0].targets);
    ASSERT_TRUE(plan.one_record()) << c.format;
    Lines a({c.record});
    rec::ReadError ea;
    int ua = -1;
    const rec::ReadStatus sa = rec::format_read(fmt, a, walk.targets, &ea, &ua);
    EXPECT_EQ(walk.shown(c.kinds, sa, ea, ua), c.read) << c.format;
    const auto row = reinterpret_cast<const char*>(&rows[1]) - reinterpret_cast<const char*>(&rows[0]);
    for (const std::size_t room : {std::size_t{256}, std::size_t{0}}) {
      std::string buffer = c.record + std::string(256, '7');
      const bool taken = plan.decode(buffer.data(), c.record.size(), c.record.size() + room, row);
      EXPECT_EQ(taken, c.taken) << c.format << " room " << room;
      if (taken) {
        EXPECT_EQ(rows[1].shown(c.kinds, rec::ReadStatus::Ok, ea, 1), c.read) << c.format;
      }
    }
  }
}

TEST(FieldPlan, OtherFormatsKeepTheWalk) {
  std::int32_t i = 0;
  float f = 0;
  std::string s;
  const struct Case {
    const char* format;
    std::vector<rec::Target> targets;
  } cases[] = {
      {"(A4)", {rec::Target::of(s, 4)}},
      {"(E8.2)", {rec::Target::of(f)}},
      {"(G8.2)", {rec::Target::of(f)}},
      {"(D8.2)", {rec::Target::of(f)}},
      {"('ab',I3)", {rec::Target::of(i)}},
      {"(1P,F8.2)", {rec::Target::of(f)}},
      {"(BZ,I3)", {rec::Target::of(i)}},
      {"(BN,I3)", {rec::Target::of(i)}},
      {"(I3)", {rec::Target::of(f)}},  // an item the descriptor cannot take
      {"(F3.1)", {rec::Target::of(i)}},
      {"(I3,A)", {rec::Target::of(i), rec::Target::of(s, 2)}},
      {"(I3)", {}},
  };
  for (const auto& c : cases)
    EXPECT_FALSE(rec::FieldPlan(rec::Format::compile(c.format), c.targets).usable()) << c.format;
}

}  // namespace
