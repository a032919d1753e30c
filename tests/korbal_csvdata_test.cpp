// CSV data files: the many ways one table can be written all give the same normal
// equations, named levels are numbered in byte order with the parents sharing one
// numbering, and the data record is recognised and checked against the layout.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "korbal/csvdata.h"
#include "korbal/datapass.h"
#include "korbal/korbal.h"
#include "korbal/model.h"
#include "records/io.h"
#include "support.h"

namespace korbal {
namespace {

// Three parents, one set, no locations or replications, one response.
Control plain() {
  Control c;
  c.NLINES = 3;
  c.NV = 1;
  c.ISELF = -1;
  c.IMATR = 1;
  c.IRECP = 1;
  c.NSETS = 1;
  c.LAYOUT = Layout::Neither;
  return c;
}

struct Pass {
  std::unique_ptr<Arrays> a = std::make_unique<Arrays>();
  PassResult r;
};

// Loads `text` with the data record `record` and accumulates it.
Pass accumulate(const std::string& record, const std::string& text, Control c = plain()) {
  const Model m = allocate_columns(c);
  testsupport::TempDir tmp;
  std::istringstream in;
  std::ostringstream out;
  rec::Io io({}, in, out, tmp.path());
  io.open(kReportUnit, "r.out", rec::OpenMode::Output);
  CsvData data(c, m, record);
  data.load(text, "d.csv", 1);
  Pass p;
  p.r = data.accumulate(io, c, m, *p.a);
  return p;
}

const char* kPlainRecord = "CSV - Fem Male - Y";
const char* kPlain = "Fem,Male,Y\nA,B,10\nA,C,12.5\nB,A,-3.2e-1\nC,B,7\nB,B,99\n";

TEST(CsvData, EveryWayOfWritingTheTableGivesTheSameEquations) {
  const Pass ref = accumulate(kPlainRecord, kPlain);
  ASSERT_EQ(ref.a->NOBS, 4);
  ASSERT_EQ(ref.r.NREAD, 6);  // five records and the end of the file
  const struct Case {
    const char* name;
    std::string record, text;
  } cases[] = {
      {"CR LF", kPlainRecord, "Fem,Male,Y\r\nA,B,10\r\nA,C,12.5\r\nB,A,-3.2e-1\r\nC,B,7\r\nB,B,99\r\n"},
      {"byte order mark", kPlainRecord, std::string("\xEF\xBB\xBF") + kPlain},
      {"semicolons", kPlainRecord, "Fem;Male;Y\nA;B;10\nA;C;12.5\nB;A;-3.2e-1\nC;B;7\nB;B;99\n"},
      {"tabs", kPlainRecord, "Fem\tMale\tY\nA\tB\t10\nA\tC\t12.5\nB\tA\t-3.2e-1\nC\tB\t7\nB\tB\t99\n"},
      {"blank lines and no last line end", kPlainRecord,
       "\nFem,Male,Y\n\nA,B,10\n  \nA,C,12.5\r\n\nB,A,-3.2e-1\nC,B,7\nB,B,99"},
      {"quotes and blanks", "csv - \"Fem\" Male - Y",
       "\"Fem\" , \" Male \",\"Y\"\n\"A\",B, \"10\"\n A ,\"C\",12.50\n\"B\",\"A\",\"-0.32\"\n"
       "C,B,7.\nB,B,99\n"},
      {"semicolons with commas in quotes", "CSV - Fem Male - \"Y, t/ha\"",
       "\"Fem\";\"Male\";\"Y, t/ha\"\n\"A\";\"B\";10\n\"A\";\"C\";12.5\n\"B\";\"A\";-.32\nC;B;7\n"},
      {"other columns, other order, column numbers", "CSV - 4 2 - 1",
       "Y,Male,Note,Fem\n10,B,\"x,\"\"y\"\"\",A\n12.5,C,\"two\nlines\",A\n-3.2e-1,A,,B\n7,B,,C\n"},
      {"whole numbers for the parents", kPlainRecord,
       "Fem,Male,Y\n1,2,10\n1,3,12.5\n2,1,-3.2e-1\n3,2,7\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Pass p = accumulate(c.record, c.text);
    EXPECT_EQ(p.a->NOBS, ref.a->NOBS);
    EXPECT_EQ(p.a->XPX, ref.a->XPX);
    EXPECT_EQ(p.a->XPY, ref.a->XPY);
    EXPECT_EQ(p.a->YPY, ref.a->YPY);
    EXPECT_EQ(p.r.missing_lines, 0);
  }
}

TEST(CsvData, NamedLevelsAreNumberedInByteOrder) {
  using Names = std::vector<std::string>;
  const struct Case {
    const char* name;
    std::string record, text;
    Names sets, parents;
  } cases[] = {
      {"parents share one numbering", "CSV - Fem Male - Y",
       "Fem,Male,Y\nb,C,1\nA,a,2\nb,A,3\n", {}, {"A", "C", "a", "b"}},
      {"texts as written, quotes removed", "CSV - Fem Male - Y",
       "Fem,Male,Y\n\"x,\"\"y\"\"\",P 1,1\nP 1,P10,2\nP2,P 1,3\n", {}, {"P 1", "P10", "P2", "x,\"y\""}},
      {"a column with one text names all its values", "CSV Set Fem Male - Y",
       "Set,Fem,Male,Y\n2,1,2,1\nX,2,1,2\n10,1,2,3\n", {"10", "2", "X"}, {}},
      {"missing values are no levels", "CSV Set Fem Male - Y",
       "Set,Fem,Male,Y\nS,A,B,1\n,A,C,2\nNA,B,C,3\n.,C,A,4\n", {"S"}, {"A", "B", "C"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Control ctl = plain();
    ctl.NSETS = 3;
    ctl.NLINES = 4;
    const Pass p = accumulate(c.record, c.text, ctl);
    EXPECT_EQ(p.r.level_names[2], c.sets);
    EXPECT_EQ(p.r.level_names[3], c.parents);
    EXPECT_EQ(p.r.level_names[4], c.parents);
    EXPECT_TRUE(p.r.level_names[0].empty() && p.r.level_names[1].empty() &&
                p.r.level_names[5].empty());
  }
}

TEST(CsvData, MissingValuesLeaveTheirLinesOut) {
  const Pass ref = accumulate(kPlainRecord, "Fem,Male,Y\nA,B,10\nC,B,7\n");
  const Pass p = accumulate(
      kPlainRecord, "Fem,Male,Y\nA,B,10\nA,C,\nB,A,NA\nC,B,7\nB,,3\nA,B,.\n\"\",C,1\nC,B, NA \n");
  EXPECT_EQ(p.r.missing_lines, 6);
  EXPECT_EQ(p.a->NOBS, 2);
  EXPECT_EQ(p.a->XPX, ref.a->XPX);
  EXPECT_EQ(p.a->XPY, ref.a->XPY);
  EXPECT_EQ(p.a->YPY, ref.a->YPY);
}

TEST(CsvData, TheDataRecord) {
  const struct Case {
    const char* record;
    bool csv;
  } cases[] = {{"CSV a b", true}, {"  csv\ta", true}, {"CSV", true},      {"(4I3,F8.2)", false},
               {"CSVX a", false}, {"", false},        {"CS V a", false}, {"Csv,a", false}};
  for (const auto& c : cases) EXPECT_EQ(is_csv_record(c.record), c.csv) << c.record;
  EXPECT_EQ(layout_items(Layout::LocRep, 2), (std::vector<std::string>{"ILOC", "IREP", "ISET", "IFEM", "IMALE",
                                                           "ICLONE", "Y1", "Y2"}));
  EXPECT_EQ(layout_items(Layout::Loc, 1),
            (std::vector<std::string>{"ILOC", "ISET", "IFEM", "IMALE", "ICLONE", "Y1"}));
  EXPECT_EQ(layout_items(Layout::Rep, 1),
            (std::vector<std::string>{"IREP", "ISET", "IFEM", "IMALE", "ICLONE", "Y1"}));
}

// "-" is taken only for identifiers the model does without.
TEST(CsvData, DashOnlyForIdentifiersTheModelLacks) {
  const struct Case {
    int NLOC, NREP, NCLON;
    const char* record;
    const char* refused;  // "" when accepted
  } cases[] = {
      {1, 1, 0, "CSV - - - F M - Y", ""},
      {2, 1, 0, "CSV - - - F M - Y", "'-' for ILOC"},
      {1, 2, 0, "CSV - - - F M - Y", "'-' for IREP"},
      {1, 1, 2, "CSV - - - F M - Y", "'-' for ICLONE"},
      {1, 1, 0, "CSV - - - F M - -", "'-' for Y1"},
      {1, 1, 0, "CSV - - - F - - Y", "'-' for IMALE"},
      {1, 1, 0, "CSV - - - \"F\" M", "5 columns given for the 7 items"},
      {1, 1, 0, "CSV - - - \"F M - Y", "a quoted column name is not closed"},
      {1, 1, 0, "", "the record does not begin with the word CSV"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    Control ctl = plain();
    ctl.NLOC = c.NLOC;
    ctl.NREP = c.NREP;
    ctl.NCLON = c.NCLON;
    ctl.LAYOUT = Layout::LocRep;
    const Model m = allocate_columns(ctl);
    try {
      CsvData data(ctl, m, c.record);
      EXPECT_STREQ(c.refused, "");
    } catch (const rec::RunError& e) {
      EXPECT_NE(*c.refused, '\0') << e.what();
      EXPECT_NE(std::string(e.what()).find(c.refused), std::string::npos) << e.what();
    }
  }
}

// A number in the data record is a column position, a word a name of the header; a
// reference that could mean two columns, and a file without header, are refused.
TEST(CsvData, ColumnReferencesAndTheHeader) {
  const struct Case {
    const char* record;
    std::string header;
    const char* refused;  // "" when accepted
  } cases[] = {
      {"CSV - 1 2 - 3", "Fem,Male,Y", ""},
      {"CSV - Fem Male - Y", "Fem,Male,Y", ""},
      {"CSV - 1 2 - 3", "Fem,Male,3", ""},  // column 3 is the column named 3
      {"CSV - Fem Male - \"3\"", "Fem,Male,3", ""},
      {"CSV - Fem Male - 2", "Fem,Male,2", "'2' for Y1 is both a column number (column 2, 'Male') "
                                           "and the name of column 3"},
      {"CSV - 3 Male - Y", "Fem,Male,Y,3", "'3' for IFEM is both a column number (column 3, 'Y') "
                                           "and the name of column 4"},
      {"CSV - Fem Male - 7", "Fem,Male,7",
       "column 7 for Y1, but the header of 'd.csv' has 3 columns (a number is a column "
       "position, not the column named '7', column 3)"},
      {"CSV - 1 2 - 3", "1,2,3", "line 1: every field is a number, as in a data line: a header "
                                 "line naming the columns is required"},
      {"CSV - 1 2 - 3", "\n 1 ,\"2\",-3.5e1", "line 2: every field is a number"},
      {"CSV - 1 2 - 3", "1,2,1e999", "line 1: every field is a number"},
      {"CSV - 1 2 - 3", "1,2,", ""},
      {"CSV - 1 2 - 3", "1,2,NA", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record + (" / " + c.header));
    try {
      const Pass p = accumulate(c.record, c.header + "\nA,B,1\nB,A,2\n");
      EXPECT_STREQ(c.refused, "");
      EXPECT_EQ(p.a->NOBS, 2);
    } catch (const rec::RunError& e) {
      EXPECT_NE(*c.refused, '\0') << e.what();
      EXPECT_NE(std::string(e.what()).find(c.refused), std::string::npos) << e.what();
    }
  }
}

// A file read in blocks (a regular file) against the same file read whole (as a FIFO
// is): the same equations, counts and names, or the same error, for files larger than
// a block whose records, quoted line ends and faults fall across the blocks' bounds.
TEST(CsvData, AFileReadInBlocksReadsAsAFileReadWhole) {
  // Records of about 24 bytes up to `bytes`, then `tail`.
  auto records = [](std::size_t bytes, const std::string& tail) {
    std::string t = "Fem,Male,Y\n";
    const char* names[] = {"A", "B", "C"};
    for (int k = 0; t.size() < bytes; ++k)
      t += std::string(names[k % 3]) + "," + names[(k + 1) % 3] + "," + std::to_string(k % 97) + ".25\n";
    return t + tail;
  };
  const std::size_t block = std::size_t{1} << 20;
  const std::string quoted_ends = "\"A\",\"B\n\n\",1\n";  // a level name with line ends
  const struct Case {
    const char* name;
    std::string text;
    bool refused;
  } cases[] = {
      {"records across the blocks", records(3 * block + 100, ""), false},
      {"a quoted field across a block's end", records(block - 3, "A,\"C\",\"1\n2\"\nB,C,4\n"), true},
      {"a quoted record longer than a block",
       records(block - 100, "A,C,\"" + std::string(70000, 'x') + "\n" + std::string(60000, '\n') + "\"\n"),
       true},
      {"quoted fields at a block's end", records(block - 3, "\"A\" , \"C\",\"12\"\nB,C,4\n"), false},
      {"blank lines and CR LF", records(block + 50, "\r\n  \n\nB,C,1\r\n"), false},
      {"a last line cut", records(2 * block, "A,B,12"), false},
      {"a last line cut, blanks after it", records(block + 7, "A,B,12  \t"), false},
      {"not a number after the first block", records(block + 999, "A,B,x1\n"), true},
      {"a ragged record", records(block + 5, "A,B\n"), true},
      {"a name with line ends", records(block + 5, quoted_ends), true},
      {"a quote not closed", records(block + 5, "A,B,\"1\n"), true},
      {"a long line after a refused record",
       records(block, "A,B\n" + records(block, std::string(kMaxCsvLine + 1, 'z') + "\n")), true},
      {"a long line cut", records(block, std::string(kMaxCsvLine + 1, 'z')), true},
      {"the longest line, with its CR", records(block, std::string(kMaxCsvLine, 'z') + "\r\n"), true},
      {"the longest line amid short ones", records(block / 2, std::string(kMaxCsvLine, 'z') + "\nA,B,1\n"), true},
      {"one too long amid short ones", records(block / 2, std::string(kMaxCsvLine + 1, 'z') + "\nA,B,1\n"), true},
      {"one too long but for its CR", records(block / 2, std::string(kMaxCsvLine, 'z') + "\r\nA,B,1\n"), true},
      {"one too long with a CR", records(block / 2, std::string(kMaxCsvLine + 1, 'z') + "\r\nA,B,1\n"), true},
      {"no data", "Fem,Male,Y\n\n\n", true},
      {"a quote of the header open past the first block", "Fem;\"x\n" + records(block + 10, "\",Y\n"), true},
  };
  const Control c = plain();
  const Model m = allocate_columns(c);
  // The pass over the file on disk, read in blocks (`whole`: read whole first).
  auto run = [&](const std::string& text, bool whole) {
    testsupport::TempDir tmp;
    testsupport::write_file(tmp.path() / "d.csv", text);
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({}, in, out, tmp.path());
    io.open(kReportUnit, "r.out", rec::OpenMode::Output);
    io.open(1, "d.csv", rec::OpenMode::Input);
    std::ostringstream shown;
    try {
      CsvData data(c, m, kPlainRecord);
      if (whole)
        data.load(io.read_rest(1, kMaxCsvBytes, kMaxCsvLine), io.file_name(1), 1);
      else
        data.load_unit(io, 1);
      Pass p;
      p.r = data.accumulate(io, c, m, *p.a);
      shown << "NOBS " << p.a->NOBS << " NREAD " << p.r.NREAD << " cut " << data.last_line_cut()
            << " levels " << p.r.level_names[kFemale].size();
      for (std::size_t k = 0; k < 21; ++k) shown << ' ' << p.a->XPX[k];
      for (std::size_t k = 0; k < 7; ++k) shown << ' ' << p.a->XPY[k];
      shown << ' ' << p.a->YPY[0];
    } catch (const rec::RunError& e) {
      shown << "error: " << e.what();
    }
    return shown.str();
  };
  for (const auto& k : cases) {
    const std::string blocks = run(k.text, false);
    EXPECT_EQ(blocks, run(k.text, true)) << k.name;
    EXPECT_EQ(blocks.rfind("error: ", 0) == 0, k.refused)
        << k.name << ": " << blocks;
  }
}

// A file read in blocks is read from the disk again for the accumulation: a file that
// changed in between is refused, not read past its records' fields.
TEST(CsvData, AFileChangedBetweenThePassesIsRefused) {
  std::string records;
  for (int k = 0; k < 20; ++k) records += "A,B,1\nB,C,2\n";
  const std::string original = "Fem,Male,Y\n" + records;
  const struct Case {
    const char* name;
    std::string changed;  // "" leaves the file as it was
    const char* error;
  } cases[] = {
      {"unchanged", "", ""},
      {"a record fewer", original.substr(0, original.size() - 6), "line 40: the file changed while it was being read"},
      {"a record more", original + "A,C,4\n", "line 42: the file changed while it was being read"},
      {"a field fewer", "Fem,Male,Y\nA,B,1\nB,C\n" + records, "line 3: the file changed while it was being read"},
      {"a name not met", "Fem,Male,Y\nA,B,1\nB,D,2\n" + records, "line 3: the file changed while it was being read"},
  };
  const Control c = plain();
  const Model m = allocate_columns(c);
  for (const auto& k : cases) {
    testsupport::TempDir tmp;
    testsupport::write_file(tmp.path() / "d.csv", original);
    std::istringstream in;
    std::ostringstream out;
    rec::Io io({}, in, out, tmp.path());
    io.open(kReportUnit, "r.out", rec::OpenMode::Output);
    io.open(1, "d.csv", rec::OpenMode::Input);
    CsvData data(c, m, kPlainRecord);
    data.load_unit(io, 1, 16);
    if (!k.changed.empty()) testsupport::write_file(tmp.path() / "d.csv", k.changed);
    std::string error;
    Pass p;
    try {
      p.r = data.accumulate(io, c, m, *p.a);
    } catch (const rec::RunError& e) {
      error = e.what();
    }
    if (*k.error == '\0')
      EXPECT_EQ(error, "") << k.name;
    else
      EXPECT_NE(error.find(k.error), std::string::npos) << k.name << ": " << error;
  }
}

// A file read once, with the accumulation (open_unit), gives what the two passes of
// load_unit give: the same equations, counts and level names, the same report bytes
// (named levels' key, bad lines) or the same error, whatever record comes where; and
// both give what every record split and converted field by field gives.
TEST(CsvData, OnePassGivesWhatTwoPassesGive) {
  auto lines = [](int n, const std::string& tail) {
    std::string t = "Fem,Male,Y\n";
    for (int k = 0; k < n; ++k)
      t += std::to_string(1 + k % 3) + "," + std::to_string(1 + (k + 1) % 3) + "," +
           std::to_string(k % 89) + "." + std::to_string(k % 10) + "\n";
    return t + tail;
  };
  const struct Case {
    const char* name;
    std::string text;
    bool one_pass;  // read in one pass, not begun again in two
  } cases[] = {
      {"whole numbers", lines(3000, ""), true},
      {"CR LF, blanks, quotes, signs and exponents",
       lines(40, "1,2,7\r\n \"2\" , 3 ,+1.5e1\r\n\r\n  \n3,1,-.25\n2,1,12345678.9\n"), true},
      {"missing values", lines(40, "1,,3\n2,1,NA\n.,2,4\n3,1, . \n"), true},
      {"numbers of every form",
       lines(20, "1,2,16777216\n1,2,16777217\n2,1,0.0000001\n3,1,-0\n1,3,1e5\n2,3,123.456789\n"
                 "1,2,+.5\n2,1,5.\n03,1,007\n1,2,99999999\n1,2,-1677721.6\n"), true},
      {"lines outside the ranges, reported", lines(30, "4,1,5\n1,0,2\n-1,2,3\n1,2147483647,1\n"), true},
      {"lines outside the ranges among plain lines, reported",
       lines(30, "4,1,5\n1,0,2\n1,-3,2\n" + lines(20, "1,2,-0.5\n-2,1,5\n0,0,1\n" + lines(20, "").substr(11)).substr(11)), true},
      {"a last line cut", lines(50, "1,3,12"), true},
      {"a text after many numbers, bad lines before", lines(200, "4,1,1\nA,2,1\n2,B,3\n9,1,1\n"), false},
      {"a text in the first record", "Fem,Male,Y\nA,B,1\nB,C,2\n", false},
      {"not a number", lines(100, "1,2,x\n"), false},
      {"not a number, a ragged record after it", lines(100, "1,2,x\n" + lines(50, "1,2\n").substr(11)), false},
      {"not a number, a long line after it",
       lines(100, "1,2,x\n" + std::string(kMaxCsvLine + 1, '1') + "\n"), false},
      {"a ragged record", lines(100, "1,2,3,4\n"), false},
      {"a quote not closed", lines(100, "1,2,\"3\n"), false},
      {"a level name with a line end", lines(10, "\"A\nB\",1,1\n"), false},
      {"no data", "Fem,Male,Y\n\n", false},
      {"a number out of range", lines(10, "1,2,1e39\n"), false},
  };
  const Control c = plain();
  const Model m = allocate_columns(c);
  // The pass over the file read in blocks of `block` bytes, in one pass or two, and what
  // it wrote on the report.
  bool once = false;
  auto run = [&](const std::string& text, bool one, std::size_t block, bool plain = true) {
    once = false;
    testsupport::TempDir tmp;
    testsupport::write_file(tmp.path() / "d.csv", text);
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream shown;
    {
      rec::Io io({}, in, out, tmp.path());
      io.open(kReportUnit, "r.out", rec::OpenMode::Output);
      io.open(1, "d.csv", rec::OpenMode::Input);
      Pass p;
      try {
        CsvData data(c, m, kPlainRecord);
        data.decode_plain_lines(plain);
        if (one) {
          data.open_unit(io, 1, block);
        } else {
          data.load_unit(io, 1, block);
          data.print_key(io);
        }
        p.r = data.accumulate(io, c, m, *p.a);
        once = data.read_once();
        shown << "NOBS " << p.a->NOBS << " NREAD " << p.r.NREAD << " missing "
              << p.r.missing_lines << " bad " << p.r.bad_lines << " cut " << data.last_line_cut();
        for (const auto& n : p.r.level_names[kFemale]) shown << ' ' << n;
      } catch (const rec::RunError& e) {
        shown << "error: " << e.what();
      }
      // The equations, also as a refused file leaves them.
      for (std::size_t k = 0; k < 21; ++k) shown << ' ' << p.a->XPX[k];
      for (std::size_t k = 0; k < 7; ++k) shown << ' ' << p.a->XPY[k];
      shown << ' ' << p.a->YPY[0];
      io.close();
    }
    return shown.str() + "\nreport:\n" + testsupport::read_file(tmp.path() / "r.out") +
           "\nconsole:\n" + out.str();
  };
  for (const auto& k : cases) {
    for (const std::size_t block : {std::size_t{64}, kCsvBlock}) {
      const std::string two = run(k.text, false, block);
      EXPECT_EQ(run(k.text, false, block, false), two) << k.name << ", block " << block;
      EXPECT_EQ(run(k.text, true, block), two) << k.name << ", block " << block;
      EXPECT_EQ(once, k.one_pass) << k.name << ", block " << block;
    }
  }
}

}  // namespace
}  // namespace korbal
