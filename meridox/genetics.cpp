// Genetic parameters with delta-method standard errors, and their table.
#include "meridox/genetics.h"

#include <cmath>
#include <vector>

#include "records/csv.h"
#include "records/format.h"

namespace meridox {

int phenotypic_weight(std::string_view code) {
  code = rec::csv::trimmed(code);
  if (code == "MEAN" || code == "LOC" || code == "REPS" || code == "SETS" || code == "SELF") return 0;
  // An effect by location weighs as the effect it splits: a line of a cross carries two
  // GCA (MATR) effects and one SCA (RECP) effect, in its location as over locations.
  if (code == "GCA" || code == "MATR" || code == "GXL" || code == "MXL") return 2;
  if (code == "SCA" || code == "RECP" || code == "SXL" || code == "RXL" || code == "FXL" ||
      code == "CLON" || code == "CXL" || code == "RXF" || code == "ERR")
    return 1;
  return -1;
}

namespace {

// A function of the components: its value, its gradient, whether it is defined and
// whether it uses a negative component.
struct Term {
  double value = 0.0;
  CompVec grad{};
  bool defined = true;
  bool negative = false;
};

int find(int n, std::span<const std::string> cname, std::string_view code) {
  for (int i = 0; i < n; ++i)
    if (rec::csv::trimmed(cname[i]) == code) return i;
  return -1;
}

// c x component `i` (not defined when the component is missing).
Term scaled(int i, double c, std::span<const double> vc) {
  Term t;
  if (i < 0) {
    t.defined = false;
    return t;
  }
  t.value = c * vc[i];
  t.grad[i] = c;
  t.negative = vc[i] < 0.0;
  return t;
}

Term sum(const Term& x, const Term& y) {
  Term t;
  t.value = x.value + y.value;
  for (int i = 0; i < kMaxComp; ++i) t.grad[i] = x.grad[i] + y.grad[i];
  t.defined = x.defined && y.defined;
  t.negative = x.negative || y.negative;
  return t;
}

// x / y, not defined unless y is positive.
Term ratio(const Term& x, const Term& y) {
  Term t;
  t.defined = x.defined && y.defined && y.value > 0.0;
  t.negative = x.negative || y.negative;
  if (!t.defined) return t;
  t.value = x.value / y.value;
  for (int i = 0; i < kMaxComp; ++i)
    t.grad[i] = (x.grad[i] * y.value - x.value * y.grad[i]) / (y.value * y.value);
  return t;
}

GeneticParameter parameter(std::string_view name, const Term& t, int n, const NatMat& cov) {
  GeneticParameter p;
  p.name = name;
  p.defined = t.defined && std::isfinite(t.value);
  p.negative = t.negative;
  if (!p.defined) return p;
  p.estimate = t.value;
  double var = 0.0;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < n; ++k) var += t.grad[i] * cov[i][k] * t.grad[k];
  p.se = std::sqrt(var > 0.0 ? var : 0.0);
  return p;
}

}  // namespace

Genetics genetic_parameters(int n, std::span<const std::string> cname, std::span<const double> vc,
                            const NatMat& cov, std::span<const std::string> left_out,
                            double inbreeding) {
  const double f1 = 1.0 + inbreeding;
  const int gca = find(n, cname, "GCA");
  const int sca = find(n, cname, "SCA");
  const Term a = scaled(gca, 4.0 / f1, vc);
  const Term d = scaled(sca, 4.0 / (f1 * f1), vc);

  // The variance of a single observation over the random components of the model.
  Term p;
  for (int i = 0; i < n; ++i) {
    const int w = phenotypic_weight(cname[i]);
    if (w < 0) p.defined = false;
    if (w > 0) p = sum(p, scaled(i, w, vc));
  }
  for (const std::string& code : left_out)
    if (phenotypic_weight(code) != 0) p.defined = false;

  const Term g2 = scaled(gca, 2.0, vc);
  Genetics g;
  g.inbreeding = inbreeding;
  g.params = {parameter("sigma2_A", a, n, cov),
              parameter("sigma2_D", d, n, cov),
              parameter("sigma2_P", p, n, cov),
              parameter("h2_narrow", ratio(a, p), n, cov),
              parameter("h2_broad", ratio(sum(a, d), p), n, cov),
              parameter("baker", ratio(g2, sum(g2, scaled(sca, 1.0, vc))), n, cov)};
  for (GeneticParameter* h : {&g.params[3], &g.params[4]})
    h->outside = h->defined && !(h->estimate >= 0.0 && h->estimate <= 1.0);
  return g;
}

void print_genetics(rec::Io& io, int unit, const std::string& label40, const Genetics& g) {
  static const rec::Format kHeading = rec::Format::compile(
      "(' ',/,/,'0',55X,'GENETIC PARAMETERS FOR',/,'0',46X,5A8,/,"
      "'0',46X,'INBREEDING COEFFICIENT OF THE PARENTS F =',F7.4,/,/)");
  static const rec::Format kColumns = rec::Format::compile(
      "(' ',T46,'PARAMETER',T65,'VALUE',T83,'STANDARD ERROR',/)");
  // The value and standard error fields are F20.8 and F25.8 edited here, so that an
  // undefined parameter can be left blank; the last field holds the marks.
  static const rec::Format kRow = rec::Format::compile("(' ',T46,A9,A19,A25,A)");
  static const rec::Format kNote = rec::Format::compile(
      "('0',T46,'* USES A NEGATIVE COMPONENT, KEPT AS ESTIMATED')");
  // The note on heritabilities outside [0, 1], in its own paragraph or right below the
  // note on negative components.
  static const rec::Format kOutsideNote = rec::Format::compile(
      "('0',T46,'# OUTSIDE 0 TO 1, WHERE NO HERITABILITY CAN LIE; KEPT AS ESTIMATED')");
  static const rec::Format kOutsideNext = rec::Format::compile(
      "(' ',T46,'# OUTSIDE 0 TO 1, WHERE NO HERITABILITY CAN LIE; KEPT AS ESTIMATED')");

  const std::string_view l(label40);
  io.write(unit, kHeading,
           {l.substr(0, 8), l.substr(8, 8), l.substr(16, 8), l.substr(24, 8), l.substr(32, 8),
            g.inbreeding});
  io.write(unit, kColumns, std::span<const rec::Item>());
  bool any_negative = false, any_outside = false;
  for (const GeneticParameter& p : g.params) {
    const std::string value = p.defined ? rec::edit_fixed(p.estimate, 19, 8) : std::string(19, ' ');
    const std::string se = p.defined ? rec::edit_fixed(p.se, 25, 8) : std::string(25, ' ');
    any_negative = any_negative || p.negative;
    any_outside = any_outside || p.outside;
    std::string name(p.name);
    name.resize(9, ' ');
    const std::string marks = std::string(p.negative ? " *" : "") + (p.outside ? " #" : "");
    if (!marks.empty()) {
      io.write(unit, kRow, {name, value, se, marks});
    } else {
      io.write(unit, kRow, {name, value, se});
    }
  }
  if (any_negative) io.write(unit, kNote, std::span<const rec::Item>());
  if (any_outside)
    io.write(unit, any_negative ? kOutsideNext : kOutsideNote, std::span<const rec::Item>());
}

}  // namespace meridox
