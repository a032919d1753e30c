// Components of every analysis with their standard deviations, and the correlation tables.
#include "meridox/components.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "records/format.h"

namespace meridox {

void component_values(int n, const NatMat& r, std::span<const double> ms,
                      std::span<const int> idf, std::span<double> vc, std::span<double> sd) {
  for (int i = 0; i < n; ++i) {
    double v = 0.0;
    double s = 0.0;
    for (int j = 0; j < n; ++j) {
      const double t = r[i][j] * ms[j];
      v = t + v;
      s = s + 2.0 * t * t / (static_cast<double>(idf[j]) + 2.0);
    }
    vc[i] = v;
    sd[i] = std::sqrt(s);
  }
}

NatMat component_covariance(int n, const NatMat& r, std::span<const double> ms,
                            std::span<const int> idf) {
  NatMat cov{};
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < n; ++k) {
      double s = 0.0;
      for (int j = 0; j < n; ++j) {
        const double ti = r[i][j] * ms[j];
        const double tk = r[k][j] * ms[j];
        s = s + 2.0 * ti * tk / (static_cast<double>(idf[j]) + 2.0);
      }
      cov[i][k] = s;
    }
  }
  return cov;
}

void print_components(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                      const std::string& label40, std::span<const double> vc,
                      std::span<const double> sd) {
  static const rec::Format kHeading = rec::Format::compile(
      "(' ',/,/,'0',54X,'VARIANCE COMPONENTS FOR',/,'0',46X,5A8,/,/)");
  static const rec::Format kColumns = rec::Format::compile(
      "(' ',T46,'NAME',T65,'VALUE',T83,'STANDARD DEVIATION',/)");
  static const rec::Format kRow = rec::Format::compile("(' ',T46,A4,4X,F20.8,F25.8)");

  const std::string_view l(label40);
  io.write(unit, kHeading,
           {l.substr(0, 8), l.substr(8, 8), l.substr(16, 8), l.substr(24, 8), l.substr(32, 8)});
  io.write(unit, kColumns, std::span<const rec::Item>());
  for (int i = 0; i < n; ++i) io.write(unit, kRow, {cname[i], vc[i], sd[i]});
}

int analysis_index(int nv, int a, int b) { return ((a - 1) * 2 * nv - a * a + 2 * b + a) / 2; }

double component_correlation(double cov, double var_a, double var_b) {
  if (var_a > 0.0 && var_b > 0.0) return cov / std::sqrt(var_a * var_b);
  return kNoCorrelation;
}

namespace {

// Prints one block of at most six pairs.
void print_block(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                 std::span<const PairCorrelation> blk, int& counter) {
  static const rec::Format kPage = rec::Format::compile(
      "('1',/,/,'0',10X,'CORRELATIONS COMPUTED FROM VARIANCE (COVARIANCE) COMPONENTS')");
  static const rec::Format kFirst =
      rec::Format::compile("(/,/,'0',4X,'TRAITS:    ',6(2A8,2X))");
  static const rec::Format kBy = rec::Format::compile("(' ',18X,6(A8,10X))");
  static const rec::Format kSecond = rec::Format::compile("(' ',15X,6(2A8,2X))");
  static const rec::Format kCoef = rec::Format::compile("('0 COEFFICIENT',/)");
  static const rec::Format kRow = rec::Format::compile("(' ',4X,A4,4X,6(6X,F8.4,4X))");

  if (counter > 2) {
    io.write(unit, kPage, std::span<const rec::Item>());
    counter = 0;
  }
  std::vector<rec::Item> items;
  for (const PairCorrelation& p : blk) {
    const std::string_view l(p.label);
    items.emplace_back(l.substr(0, 8));
    items.emplace_back(l.substr(8, 8));
  }
  io.write(unit, kFirst, items);
  items.clear();
  for (const PairCorrelation& p : blk) items.emplace_back(std::string_view(p.label).substr(16, 8));
  io.write(unit, kBy, items);
  items.clear();
  for (const PairCorrelation& p : blk) {
    const std::string_view l(p.label);
    items.emplace_back(l.substr(24, 8));
    items.emplace_back(l.substr(32, 8));
  }
  io.write(unit, kSecond, items);
  io.write(unit, kCoef, std::span<const rec::Item>());
  ++counter;
  for (int i = 0; i < n; ++i) {
    items.clear();
    items.emplace_back(cname[i]);
    for (const PairCorrelation& p : blk) items.emplace_back(p.cor[i]);
    io.write(unit, kRow, items);
  }
}

}  // namespace

std::vector<PairCorrelation> correlations(int nv, int n, std::span<const CompVec> vc,
                                          std::span<const std::string> labels) {
  std::vector<PairCorrelation> pairs;
  for (int a = 1; a <= nv - 1; ++a) {
    for (int b = a + 1; b <= nv; ++b) {
      const int ii = analysis_index(nv, a, a) - 1;
      const int jj = analysis_index(nv, b, b) - 1;
      const int ij = analysis_index(nv, a, b) - 1;
      PairCorrelation& p = pairs.emplace_back();
      p.a = a;
      p.b = b;
      p.label = labels[ij];
      p.label.resize(40, ' ');
      for (int i = 0; i < n; ++i) p.cor[i] = component_correlation(vc[ij][i], vc[ii][i], vc[jj][i]);
    }
  }
  return pairs;
}

void print_correlations(rec::Io& io, int unit, int n, std::span<const std::string> cname,
                        std::span<const PairCorrelation> pairs) {
  static const rec::Format kNote = rec::Format::compile(
      "('0  ********  MEANS THAT THE VARIANCE COMPONENT(S) FOR THAT CORRELATION IS LESS THAN "
      "OR EQUAL TO ZERO.')");
  int counter = 3;
  bool flag = false;
  for (std::size_t at = 0; at < pairs.size(); at += 6) {
    print_block(io, unit, n, cname, pairs.subspan(at, std::min<std::size_t>(6, pairs.size() - at)),
                counter);
  }
  for (const PairCorrelation& p : pairs)
    for (int i = 0; i < n; ++i)
      if (p.cor[i] == kNoCorrelation) flag = true;
  if (flag) io.write(unit, kNote, std::span<const rec::Item>());
}

}  // namespace meridox
