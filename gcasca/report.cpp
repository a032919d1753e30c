// The report of gcasca (printer file, carriage control in column 1) and effects.csv.
#include <algorithm>
#include <cmath>
#include <span>

#include "gcasca/gcasca.h"
#include "korbal/control.h"
#include "records/csv.h"
#include "records/format.h"

namespace gcasca {

namespace {

using rec::Format;

// Name of a parent line when the data files name the lines; empty when numbered.
const std::string& line_name(const ReportContext& ctx, std::int32_t line) {
  static const std::string none;
  const std::vector<std::string>& names = ctx.level_names[3];
  if (line < 1 || static_cast<std::size_t>(line) > names.size()) return none;
  return names[static_cast<std::size_t>(line - 1)];
}

// An effect code as the reports print it: four characters, blank-filled.
std::string padded(std::string_view code) {
  std::string s(code);
  s.resize(4, ' ');
  return s;
}

const char* effect_title(const std::string& code) {
  if (code == "GCA") return " general combining ability";
  if (code == "SELF") return " effect of selfing";
  if (code == "MATR") return " maternal effect";
  if (code == "SCA") return " specific combining ability";
  if (code == "RECP") return " reciprocal effect (sign +1 for the cross whose female is the lower line)";
  return "";
}

// The columns of one effect, in column order.
std::vector<std::size_t> columns_of(const ReportContext& ctx, const std::string& code) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < ctx.ids.size(); ++i)
    if (ctx.ids[i].effect == code) out.push_back(i);
  return out;
}

// A value right-justified in `w` columns as Gw.6 edits it, or NA when undefined.
std::string cell(double v, int w) {
  if (std::isnan(v)) return std::string(static_cast<std::size_t>(w - 2), ' ') + "NA";
  return rec::edit_general(v, w, 6);
}

// Under the table of an effect of lines: the smallest, mean and largest SE of the
// difference of two of its levels within a set (nothing when no SE is defined).
void difference_summary(rec::Io& io, const std::vector<Difference>& ds, const std::string& code) {
  static const Format kLine = Format::compile(
      "('0',T10,'SE of a difference of two lines of a set:  smallest',G16.6,' mean',G16.6,"
      "' largest',G16.6)");
  double lo = 0.0, hi = 0.0, sum = 0.0;
  std::size_t count = 0;
  for (const Difference& d : ds) {
    if (d.effect != code || std::isnan(d.se)) continue;
    lo = count == 0 ? d.se : std::min(lo, d.se);
    hi = count == 0 ? d.se : std::max(hi, d.se);
    sum += d.se;
    ++count;
  }
  if (count > 0) io.write(kReportUnit, kLine, {lo, sum / static_cast<double>(count), hi});
}

// GCA, SELF and MATR: one line per line of every set, with its rank within the set.
void line_table(rec::Io& io, const ReportContext& ctx, const TraitResult& r,
                const std::string& code) {
  static const Format kHead = Format::compile(
      "('0',T10,A4,A,/,'0',T10,' SET  LINE',T22,'PREDICTION',T46,'SE',T57,'RELIABILITY',T72,"
      "'RANK')");
  static const Format kRow = Format::compile("(' ',T10,I4,I6,2G16.6,F16.4,I8)");
  static const Format kRowNA = Format::compile("(' ',T10,I4,I6,2G16.6,A16,I8)");
  static const Format kRowNamed = Format::compile("(' ',T10,I4,I6,2G16.6,F16.4,I8,2X,A)");
  static const Format kRowNamedNA = Format::compile("(' ',T10,I4,I6,2G16.6,A16,I8,2X,A)");
  const std::vector<std::size_t> cols = columns_of(ctx, code);
  if (cols.empty()) return;
  io.write(kReportUnit, kHead, {padded(code), effect_title(code)});
  for (std::size_t i : cols) {
    const ColumnId& id = ctx.ids[i];
    int rank = 1;  // 1 + the lines of the same set with a higher prediction
    for (std::size_t j : cols)
      if (ctx.ids[j].set == id.set && r.blup[j] > r.blup[i]) ++rank;
    const bool defined = !std::isnan(r.reliability[i]);
    const std::string& name = line_name(ctx, id.line_1);
    const Format& f = name.empty() ? (defined ? kRow : kRowNA) : (defined ? kRowNamed : kRowNamedNA);
    std::vector<rec::Item> items{id.set, id.line_1, r.blup[i], r.se[i]};
    items.push_back(defined ? rec::Item(r.reliability[i]) : rec::Item("NA"));
    items.push_back(rank);
    if (!name.empty()) items.emplace_back(name);
    io.write(kReportUnit, f, items);
  }
}

// SCA and RECP: one line per pair of lines of every set.
void pair_table(rec::Io& io, const ReportContext& ctx, const TraitResult& r,
                const std::string& code) {
  static const Format kHead = Format::compile(
      "('0',T10,A4,A,/,'0',T10,' SET   LOW  HIGH',T28,'PREDICTION',T52,'SE',T63,'RELIABILITY')");
  static const Format kRow = Format::compile("(' ',T10,I4,2I6,2G16.6,F16.4)");
  static const Format kRowNA = Format::compile("(' ',T10,I4,2I6,2G16.6,A16)");
  const std::vector<std::size_t> cols = columns_of(ctx, code);
  if (cols.empty()) return;
  io.write(kReportUnit, kHead, {padded(code), effect_title(code)});
  for (std::size_t i : cols) {
    const ColumnId& id = ctx.ids[i];
    if (std::isnan(r.reliability[i]))
      io.write(kReportUnit, kRowNA, {id.set, id.line_1, id.line_2, r.blup[i], r.se[i], "NA"});
    else
      io.write(kReportUnit, kRow,
               {id.set, id.line_1, id.line_2, r.blup[i], r.se[i], r.reliability[i]});
  }
}

// The effects by location, FXL, CLON, CXL, RXF: number of levels and the range of the
// values (predictions, or estimates with every effect fixed).
void summary_lines(rec::Io& io, const ReportContext& ctx, std::span<const double> value,
                   bool fixed) {
  static const Format kHead = Format::compile(
      "('0',T10,'Further random effects (every level is in effects.csv)',/,'0',T10,"
      "'EFFECT',T20,'LEVELS',T30,'SMALLEST',T47,'LARGEST')");
  static const Format kHeadFixed = Format::compile(
      "('0',T10,'Further effects (every level is in effects.csv)',/,'0',T10,"
      "'EFFECT',T20,'LEVELS',T30,'SMALLEST',T47,'LARGEST')");
  static const Format kRow = Format::compile("(' ',T10,A4,4X,I8,2G16.6)");
  bool headed = false;
  for (const char* code : {"GXL", "SXL", "MXL", "RXL", "FXL", "CLON", "CXL", "RXF"}) {
    const std::vector<std::size_t> cols = columns_of(ctx, code);
    if (cols.empty()) continue;
    if (!headed) io.write(kReportUnit, fixed ? kHeadFixed : kHead, {});
    headed = true;
    double lo = value[cols[0]], hi = lo;
    for (std::size_t i : cols) {
      lo = std::min(lo, value[i]);
      hi = std::max(hi, value[i]);
    }
    io.write(kReportUnit, kRow, {padded(code), static_cast<int>(cols.size()), lo, hi});
  }
}

// With every effect fixed: GCA, SELF and MATR, one line per line of every set with its
// estimate, SE and rank within the set.
void fixed_line_table(rec::Io& io, const ReportContext& ctx, const FixedResult& r,
                      const std::string& code) {
  static const Format kHead = Format::compile(
      "('0',T10,A4,A,/,'0',T10,' SET  LINE',T24,'ESTIMATE',T46,'SE',T57,'RANK')");
  static const Format kRow = Format::compile("(' ',T10,I4,I6,2A16,I8)");
  static const Format kRowNamed = Format::compile("(' ',T10,I4,I6,2A16,I8,2X,A)");
  const std::vector<std::size_t> cols = columns_of(ctx, code);
  if (cols.empty()) return;
  io.write(kReportUnit, kHead, {padded(code), effect_title(code)});
  for (std::size_t i : cols) {
    const ColumnId& id = ctx.ids[i];
    int rank = 1;
    for (std::size_t j : cols)
      if (ctx.ids[j].set == id.set && r.estimate[j] > r.estimate[i]) ++rank;
    const std::string& name = line_name(ctx, id.line_1);
    const std::string est = cell(r.estimate[i], 16), se = cell(r.se[i], 16);
    if (name.empty())
      io.write(kReportUnit, kRow, {id.set, id.line_1, est, se, rank});
    else
      io.write(kReportUnit, kRowNamed, {id.set, id.line_1, est, se, rank, name});
  }
}

// With every effect fixed: SCA and RECP, one line per pair of lines of every set.
void fixed_pair_table(rec::Io& io, const ReportContext& ctx, const FixedResult& r,
                      const std::string& code) {
  static const Format kHead = Format::compile(
      "('0',T10,A4,A,/,'0',T10,' SET   LOW  HIGH',T30,'ESTIMATE',T52,'SE')");
  static const Format kRow = Format::compile("(' ',T10,I4,2I6,2A16)");
  const std::vector<std::size_t> cols = columns_of(ctx, code);
  if (cols.empty()) return;
  io.write(kReportUnit, kHead, {padded(code), effect_title(code)});
  for (std::size_t i : cols) {
    const ColumnId& id = ctx.ids[i];
    io.write(kReportUnit, kRow,
             {id.set, id.line_1, id.line_2, cell(r.estimate[i], 16), cell(r.se[i], 16)});
  }
}

// The differences of every two lines of a set for one effect, with their t tests.
void difference_table(rec::Io& io, const std::vector<Difference>& ds, const std::string& code) {
  static const Format kHead = Format::compile(
      "('0',T10,A4,' differences of two lines of a set (the first line minus the second)',/,"
      "'0',T10,' SET  LINE  LINE',T28,'DIFFERENCE',T52,'SE',T68,'T',T77,'P-VALUE')");
  static const Format kRow = Format::compile("(' ',T10,I4,2I6,3A16,A10)");
  bool headed = false;
  for (const Difference& d : ds) {
    if (d.effect != code) continue;
    if (!headed) io.write(kReportUnit, kHead, {padded(code)});
    headed = true;
    const std::string p = std::isnan(d.p) ? "        NA" : rec::edit_fixed(d.p, 10, 4);
    io.write(kReportUnit, kRow,
             {d.set, d.level_1, d.level_2, cell(d.difference, 16), cell(d.se, 16),
              cell(d.t, 16), p});
  }
}

}  // namespace

void write_heading(rec::Io& io, const std::string& title, Mode mode) {
  static const Format kFixedBanner = Format::compile(
      "('1',/,/,' ',T21,'* * * *  E S T I M A T E D   D I A L L E L   E F F E C T S  * * * *',"
      "/,'0',T30,'GCASCA - least-squares estimates of the effects of the parents and',"
      "/,' ',T30,'crosses of a diallel, every effect fixed: general and specific combining',"
      "/,' ',T30,'ability, selfs, maternal and reciprocal effects and their interactions,',"
      "/,' ',T30,'each restricted to what the effects before it leave unexplained, with',"
      "/,' ',T30,'standard errors from the error mean square of the analysis of variance.',"
      "/,'0',T20,23A4,/)");
  static const Format kBanner = Format::compile(
      "('1',/,/,' ',T21,'* * * *  P R E D I C T E D   D I A L L E L   E F F E C T S  * * * *',"
      "/,'0',T30,'GCASCA - best linear unbiased prediction of the effects of the',"
      "/,' ',T30,'parents and crosses of a diallel: general and specific combining',"
      "/,' ',T30,'ability, selfs, maternal and reciprocal effects and their interactions,',"
      "/,' ',T30,'from the mixed-model equations with the variance components of meridox.',"
      "/,' ',T30,'Means, locations, replications and sets are fixed; the rest is random.',"
      "/,'0',T20,23A4,/)");
  static const Format kRemlBanner = Format::compile(
      "('1',/,/,' ',T21,'* * * *  P R E D I C T E D   D I A L L E L   E F F E C T S  * * * *',"
      "/,'0',T30,'GCASCA - variance components by restricted maximum likelihood (REML)',"
      "/,' ',T30,'and best linear unbiased prediction of the effects of the parents and',"
      "/,' ',T30,'crosses of a diallel: general and specific combining ability, selfs,',"
      "/,' ',T30,'maternal and reciprocal effects and their interactions.',"
      "/,' ',T30,'Means, locations, replications and sets are fixed; the rest is random.',"
      "/,'0',T20,23A4,/)");
  static const Format kTitle = Format::compile("(' ',T42,' Title:   ',20A4,/)");
  const Format& banner = mode == Mode::Fixed ? kFixedBanner : mode == Mode::Reml ? kRemlBanner : kBanner;
  io.write(kReportUnit, banner, korbal::star_items());
  io.write(kReportUnit, kTitle, korbal::title_items(title));
}

void write_problem(rec::Io& io, const ReportContext& ctx, int ntraits) {
  static const Format kCounts = Format::compile(
      "(' ',T42,' Number of observations                 = ',I8,/,"
      "' ',T42,' Number of columns of the model         = ',I8,/,"
      "' ',T42,' Fixed columns dropped as dependent     = ',I8,/,"
      "' ',T42,' Number of traits                       = ',I8)");
  io.write(kReportUnit, kCounts, {ctx.nobs, ctx.columns, ctx.dropped, ntraits});
}

void write_trait(rec::Io& io, const ReportContext& ctx, const TraitResult& r) {
  static const Format kNotPredicted =
      Format::compile("('0 TRAIT ',A16,' IS NOT PREDICTED: ',A)");
  static const Format kHead = Format::compile(
      "('1',/,'0',T38,'P R E D I C T E D   E F F E C T S   F O R',/,'0',T50,A16,/,"
      "'0',T10,'Components used',/,'0',T10,'EFFECT',T22,'VARIANCE',T34,'ERR / EFFECT')");
  static const Format kUsed = Format::compile("(' ',T10,A4,4X,2G16.6)");
  static const Format kErr = Format::compile("(' ',T10,'ERR ',4X,G16.6)");
  static const Format kNotPositive =
      Format::compile("(' ',T10,A4,4X,G16.6,'not positive: its effects are predicted as 0')");
  // G16.6 of a value in E form fills its field, and the note would follow it at once.
  static const Format kNotPositiveE =
      Format::compile("(' ',T10,A4,4X,G16.6,1X,'not positive: its effects are predicted as 0')");
  static const Format kAbsent = Format::compile(
      "(' ',T10,A4,4X,'      absent    not positive: its effects are predicted as 0')");
  if (!r.predicted) {
    io.write(kReportUnit, kNotPredicted, {r.name, r.reason});
    return;
  }
  io.write(kReportUnit, kHead, {r.name});
  for (const EffectUse& e : r.effects) {
    if (e.positive)
      io.write(kReportUnit, kUsed, {padded(e.code), e.variance, r.error_variance / e.variance});
    else if (std::isnan(e.variance))
      io.write(kReportUnit, kAbsent, {padded(e.code)});
    else
      io.write(kReportUnit,
               e.variance != 0.0 && (std::fabs(e.variance) < 0.1 || std::fabs(e.variance) >= 1e6)
                   ? kNotPositiveE
                   : kNotPositive,
               {padded(e.code), e.variance});
  }
  io.write(kReportUnit, kErr, {r.error_variance});
  for (const char* code : {"GCA", "SELF", "MATR"}) {
    line_table(io, ctx, r, code);
    difference_summary(io, r.differences, code);
  }
  pair_table(io, ctx, r, "SCA");
  pair_table(io, ctx, r, "RECP");
  summary_lines(io, ctx, r.blup, false);
}

void write_fixed_trait(rec::Io& io, const ReportContext& ctx, const FixedResult& r) {
  static const Format kHead = Format::compile(
      "('1',/,'0',T34,'L E A S T - S Q U A R E S   E S T I M A T E S   F O R',/,'0',T50,A16)");
  static const Format kError = Format::compile(
      "('0',T10,'Error mean square',G16.6,' on',I8,' degrees of freedom (the error of the "
      "analysis of variance)')");
  static const Format kNoError = Format::compile(
      "('0',T10,'No error degrees of freedom: the standard errors and tests are not defined "
      "(NA)')");
  io.write(kReportUnit, kHead, {r.name});
  if (r.error_df > 0)
    io.write(kReportUnit, kError, {r.error_ms, r.error_df});
  else
    io.write(kReportUnit, kNoError, {});
  for (const char* code : {"GCA", "SELF", "MATR"}) {
    fixed_line_table(io, ctx, r, code);
    difference_summary(io, r.differences, code);
  }
  fixed_pair_table(io, ctx, r, "SCA");
  fixed_pair_table(io, ctx, r, "RECP");
  summary_lines(io, ctx, r.estimate, true);
  difference_table(io, r.differences, "GCA");
}

void write_closing(rec::Io& io, bool fixed) {
  static const Format kEnd = Format::compile(
      "('1',/,/,/,'0 * * * * E n d   o f   t h e   p r e d i c t i o n s  * * * *')");
  static const Format kFixedEnd = Format::compile(
      "('1',/,/,/,'0 * * * * E n d   o f   t h e   e s t i m a t e s  * * * *')");
  io.write(kReportUnit, fixed ? kFixedEnd : kEnd, {});
}

std::string effects_table(const ReportContext& ctx, const std::vector<TraitResult>& results) {
  rec::csv::Table t({"trait", "effect", "location", "replication", "set", "line_1", "line_2",
                     "clone", "blup", "se", "reliability", "name_1", "name_2", "lines"});
  auto id = [&t](std::int32_t v) {
    if (v > 0)
      t.integer(v);
    else
      t.na();
  };
  // The parents' names when the data name them (one list for both roles).
  const std::vector<std::string>& parents = ctx.level_names[3];
  auto name = [&t, &parents](std::int32_t line) {
    if (line > 0 && static_cast<std::size_t>(line) <= parents.size())
      t.text(parents[static_cast<std::size_t>(line - 1)]);
    else
      t.na();
  };
  for (const TraitResult& r : results) {
    if (!r.predicted) continue;
    const std::string_view trait = rec::csv::trimmed(r.name);
    for (std::size_t i = 0; i < ctx.ids.size(); ++i) {
      const ColumnId& c = ctx.ids[i];
      if (c.fixed) continue;
      t.row().text(trait).text(c.effect);
      id(c.loc);
      id(c.rep);
      id(c.set);
      id(c.line_1);
      id(c.line_2);
      id(c.clone);
      t.num(r.blup[i]).num(r.se[i]).num_or_na(r.reliability[i], !std::isnan(r.reliability[i]));
      name(c.line_1);
      name(c.line_2);
      if (i < ctx.lines.size())
        t.integer(ctx.lines[i]);
      else
        t.na();
    }
  }
  return t.str();
}

}  // namespace gcasca

namespace gcasca {

namespace {

// The identifiers of a column as effects.csv writes them (NA where the effect has none).
void column_fields(rec::csv::Table& t, std::string_view trait, const ColumnId& c) {
  auto id = [&t](std::int32_t v) {
    if (v > 0)
      t.integer(v);
    else
      t.na();
  };
  t.row().text(trait).text(c.effect);
  for (std::int32_t v : {c.loc, c.rep, c.set, c.line_1, c.line_2, c.clone}) id(v);
}

void difference_rows(rec::csv::Table& t, std::string_view trait,
                     const std::vector<Difference>& ds, bool tests) {
  for (const Difference& d : ds) {
    t.row().text(trait).text(d.effect).integer(d.set).integer(d.level_1).integer(d.level_2);
    t.num_or_na(d.difference, !std::isnan(d.difference)).num_or_na(d.se, !std::isnan(d.se));
    if (tests) t.num_or_na(d.t, std::isfinite(d.t)).num_or_na(d.p, !std::isnan(d.p));
  }
}

}  // namespace

std::string differences_table(const std::vector<TraitResult>& results) {
  rec::csv::Table t({"trait", "effect", "set", "level_1", "level_2", "difference", "se"});
  for (const TraitResult& r : results)
    if (r.predicted) difference_rows(t, rec::csv::trimmed(r.name), r.differences, false);
  return t.str();
}

std::string differences_table(const std::vector<FixedResult>& results) {
  rec::csv::Table t({"trait", "effect", "set", "level_1", "level_2", "difference", "se", "t", "p"});
  for (const FixedResult& r : results)
    difference_rows(t, rec::csv::trimmed(r.name), r.differences, true);
  return t.str();
}

std::string effects_table(const ReportContext& ctx, const std::vector<FixedResult>& results) {
  rec::csv::Table t({"trait", "effect", "location", "replication", "set", "line_1", "line_2",
                     "clone", "estimate", "se"});
  for (const FixedResult& r : results) {
    const std::string_view trait = rec::csv::trimmed(r.name);
    for (std::size_t i = 0; i < ctx.ids.size(); ++i) {
      const ColumnId& c = ctx.ids[i];
      if (c.fixed) continue;
      column_fields(t, trait, c);
      t.num(r.estimate[i]).num_or_na(r.se[i], !std::isnan(r.se[i]));
    }
  }
  return t.str();
}

}  // namespace gcasca
