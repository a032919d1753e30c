// Heterosis over the mid- and the better parent, from the sums per cross of the data pass.
#include "korbal/heterosis.h"

#include <cmath>
#include <limits>

#include "records/beta.h"
#include "records/csv.h"
#include "records/format.h"

namespace korbal {

namespace {

constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

// The error line of the analysis of variance of trait v.
const ErrorLine* error_of(const Results& r, int v) {
  for (const Analysis& an : r.analyses)
    if (an.a == v && an.b == v) return &an.error;
  return nullptr;
}

// t and its two-sided P on `df` degrees of freedom for a difference `d` whose variance is
// `ms` times `factor`; undefined without error DF or without a positive mean square.
void t_test(double d, double ms, int df, double factor, double& t, double& p) {
  if (df <= 0 || !(ms > 0.0)) {
    t = p = kUndefined;
    return;
  }
  t = d / std::sqrt(ms * factor);
  p = rec::t_two_sided(t, df);
}

double percent(double d, double base) { return base == 0.0 ? kUndefined : 100.0 * d / base; }

// A parent's name when the data name it, else its number.
std::string parent(const std::vector<std::string>& names, std::int32_t line) {
  if (line >= 1 && static_cast<std::size_t>(line) <= names.size())
    return names[static_cast<std::size_t>(line - 1)];
  return std::to_string(line);
}

// `s` right-justified in `w` columns, cut to its first w characters when longer.
std::string right(std::string_view s, std::size_t w) {
  if (s.size() >= w) return std::string(s.substr(0, w));
  return std::string(w - s.size(), ' ') + std::string(s);
}

std::string fixed_or_na(double v, int w, int d) {
  return std::isnan(v) ? right("NA", static_cast<std::size_t>(w)) : rec::edit_fixed(v, w, d);
}

}  // namespace

std::vector<HeterosisRow> heterosis(const Control& c, const PassResult& pass, const Results& r) {
  std::vector<HeterosisRow> rows;
  const std::int64_t p = c.NLINES, nv = c.NV;
  if (pass.cross_sums.empty() || pass.cross_lines.size() * static_cast<std::size_t>(nv) !=
                                     pass.cross_sums.size())
    return rows;
  auto at = [p](std::int64_t set, std::int64_t f, std::int64_t m) {
    return static_cast<std::size_t>(((set - 1) * p + f - 1) * p + m - 1);
  };
  for (int v = 0; v < nv; ++v) {
    const ErrorLine* err = error_of(r, v);
    const double ms = err ? err->mean : 0.0;
    const int df = err ? err->df : 0;
    for (std::int32_t k = 1; k <= c.NSETS; ++k)
      for (std::int32_t f = 1; f <= p; ++f)
        for (std::int32_t m = 1; m <= p; ++m) {
          if (f == m) continue;
          const std::size_t x = at(k, f, m), xf = at(k, f, f), xm = at(k, m, m);
          if (pass.cross_lines[x] == 0 || pass.cross_lines[xf] == 0 || pass.cross_lines[xm] == 0)
            continue;
          HeterosisRow h;
          h.trait = v;
          h.set = k;
          h.female = f;
          h.male = m;
          h.n_cross = pass.cross_lines[x];
          h.n_female = pass.cross_lines[xf];
          h.n_male = pass.cross_lines[xm];
          auto mean = [&](std::size_t i) {
            return pass.cross_sums[i * static_cast<std::size_t>(nv) + static_cast<std::size_t>(v)] /
                   static_cast<double>(pass.cross_lines[i]);
          };
          h.cross = mean(x);
          h.female_mean = mean(xf);
          h.male_mean = mean(xm);
          h.mid = (h.female_mean + h.male_mean) / 2.0;
          const bool female_better = h.female_mean >= h.male_mean;
          h.better = female_better ? h.female_mean : h.male_mean;
          const double n_better = static_cast<double>(female_better ? h.n_female : h.n_male);
          h.mph = percent(h.cross - h.mid, h.mid);
          h.bph = percent(h.cross - h.better, h.better);
          const double nF = static_cast<double>(h.n_cross);
          t_test(h.cross - h.mid, ms, df,
                 1.0 / nF + 1.0 / (4.0 * static_cast<double>(h.n_female)) +
                     1.0 / (4.0 * static_cast<double>(h.n_male)),
                 h.t_mid, h.p_mid);
          t_test(h.cross - h.better, ms, df, 1.0 / nF + 1.0 / n_better, h.t_better, h.p_better);
          h.error_ms = ms;
          h.error_df = df;
          rows.push_back(h);
        }
  }
  return rows;
}

void write_heterosis(rec::Io& io, const Control& c, const std::vector<HeterosisRow>& rows,
                     const std::vector<std::string>& VNAME, const std::vector<std::string>& names) {
  static const rec::Format kTitle = rec::Format::compile(
      "('1',/,/,'0',35X,'H E T E R O S I S  O V E R  T H E  M I D -  A N D  B E T T E R  "
      "P A R E N T')");
  static const rec::Format kTrait = rec::Format::compile("('0',/,'0',57X,A16)");
  static const rec::Format kError = rec::Format::compile(
      "('0',4X,'Error mean square',G20.12,' on',I8,' DF')");
  static const rec::Format kNoError = rec::Format::compile(
      "('0',4X,'No error degrees of freedom: the t tests are not defined (NA)')");
  static const rec::Format kNone = rec::Format::compile(
      "('0',4X,'No cross has both of its parents among the self lines')");
  static const rec::Format kLine = rec::Format::compile("(A)");
  static const rec::Format kNote = rec::Format::compile(
      "('0',4X,'Means over all data lines of each cross and parent; MPH and BPH in percent ',"
      "'of the mid- and better parent;',/,' ',4X,'t on the error of the analysis, P two-sided; ',"
      "'NA where a value is not defined.')");

  io.write(kReportUnit, kTitle, {});
  const std::size_t w[15] = {4, 7, 7, 6, 12, 12, 12, 12, 12, 8, 8, 7, 8, 8, 7};
  const char* heads[15] = {"SET",    "FEMALE", "MALE",   "N",      "CROSS",
                           "FEMALE", "MALE",   "MID-P.", "BETTER", "MPH %",
                           "T(MPH)", "P(MPH)", "BPH %",  "T(BPH)", "P(BPH)"};
  std::string header = "0";
  for (int k = 0; k < 15; ++k) header += right(heads[k], w[k]);
  for (int v = 0; v < c.NV; ++v) {
    std::string name = VNAME[static_cast<std::size_t>(v)].substr(0, 16);
    name.resize(16, ' ');
    io.write(kReportUnit, kTrait, {name});
    std::size_t shown = 0;
    for (const HeterosisRow& h : rows) {
      if (h.trait != v) continue;
      if (shown++ == 0) {
        if (h.error_df > 0)
          io.write(kReportUnit, kError, {h.error_ms, h.error_df});
        else
          io.write(kReportUnit, kNoError, {});
        io.write(kReportUnit, kLine, {header});
        io.write(kReportUnit, kLine, {std::string(" ")});
      }
      std::string line = " " + rec::edit_int(h.set, 4) + right(parent(names, h.female), 7) +
                         right(parent(names, h.male), 7) + rec::edit_count(h.n_cross, 6);
      // G12.5 with its trailing blanks dropped, right-justified under its heading.
      for (double m : {h.cross, h.female_mean, h.male_mean, h.mid, h.better}) {
        std::string g = rec::edit_general(m, 12, 5);
        g.erase(g.find_last_not_of(' ') + 1);
        line += right(g, 12);
      }
      line += fixed_or_na(h.mph, 8, 1) + fixed_or_na(h.t_mid, 8, 2) + fixed_or_na(h.p_mid, 7, 4);
      line += fixed_or_na(h.bph, 8, 1) + fixed_or_na(h.t_better, 8, 2) +
              fixed_or_na(h.p_better, 7, 4);
      io.write(kReportUnit, kLine, {line});
    }
    if (shown == 0) io.write(kReportUnit, kNone, {});
  }
  io.write(kReportUnit, kNote, {});
}

std::string heterosis_table(const std::vector<HeterosisRow>& rows,
                            const std::vector<std::string>& VNAME,
                            const std::vector<std::string>& names) {
  rec::csv::Table t{"trait",       "set",         "female",        "male",
                    "n_cross",     "mean_cross",  "mean_female",   "mean_male",
                    "mid_parent",  "better_parent", "mph_percent", "bph_percent",
                    "t_mid",       "p_mid",       "t_better",      "p_better"};
  for (const HeterosisRow& h : rows) {
    t.row().text(rec::csv::trimmed(VNAME[static_cast<std::size_t>(h.trait)])).integer(h.set);
    t.text(parent(names, h.female)).text(parent(names, h.male)).integer(h.n_cross);
    t.num(h.cross).num(h.female_mean).num(h.male_mean).num(h.mid).num(h.better);
    t.num(h.mph).num(h.bph).num(h.t_mid).num(h.p_mid).num(h.t_better).num(h.p_better);
  }
  return t.str();
}

}  // namespace korbal
