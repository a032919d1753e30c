// Components of every analysis with their standard deviations, and the correlation tables.
#include "meridox/components.h"

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

void VARCMP(rec::Io& io, int unit, int n, std::span<const std::string> cname, const NatMat& r,
            std::span<const double> ms, std::span<const int> idf, const std::string& label40,
            std::span<double> vc) {
  static const rec::Format kHeading = rec::Format::compile(
      "(' ',/,/,'0',54X,'VARIANCE COMPONENTS FOR',/,'0',46X,5A8,/,/)");
  static const rec::Format kColumns = rec::Format::compile(
      "(' ',T46,'NAME',T65,'VALUE',T83,'STANDARD DEVIATION',/)");
  static const rec::Format kRow = rec::Format::compile("(' ',T46,A4,4X,F20.8,F25.8)");

  CompVec sd{};
  component_values(n, r, ms, idf, vc, sd);

  const std::string_view l(label40);
  io.write(unit, kHeading,
           {l.substr(0, 8), l.substr(8, 8), l.substr(16, 8), l.substr(24, 8), l.substr(32, 8)});
  io.write(unit, kColumns, std::span<const rec::Item>());
  for (int i = 0; i < n; ++i) io.write(unit, kRow, {cname[i], vc[i], sd[i]});
}

int analysis_index(int nv, int a, int b) { return ((a - 1) * 2 * nv - a * a + 2 * b + a) / 2; }

double component_correlation(double cov, double var_a, double var_b) {
  if (var_a > 0.0 && var_b > 0.0) return cov / std::sqrt(var_a * var_b);
  return 1.0E20;
}

namespace {

struct Block {
  int pairs = 0;
  std::string_view label[6];
  double cor[6][kMaxComp] = {};
};

void print_block(rec::Io& io, int unit, int n, std::span<const std::string> cname, Block& blk,
                 int& counter) {
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
  for (int p = 0; p < blk.pairs; ++p) {
    items.emplace_back(blk.label[p].substr(0, 8));
    items.emplace_back(blk.label[p].substr(8, 8));
  }
  io.write(unit, kFirst, items);
  items.clear();
  for (int p = 0; p < blk.pairs; ++p) items.emplace_back(blk.label[p].substr(16, 8));
  io.write(unit, kBy, items);
  items.clear();
  for (int p = 0; p < blk.pairs; ++p) {
    items.emplace_back(blk.label[p].substr(24, 8));
    items.emplace_back(blk.label[p].substr(32, 8));
  }
  io.write(unit, kSecond, items);
  io.write(unit, kCoef, std::span<const rec::Item>());
  ++counter;
  for (int i = 0; i < n; ++i) {
    items.clear();
    items.emplace_back(cname[i]);
    for (int p = 0; p < blk.pairs; ++p) items.emplace_back(blk.cor[p][i]);
    io.write(unit, kRow, items);
  }
  blk.pairs = 0;
}

}  // namespace

void CORREL(rec::Io& io, int unit, int nv, int n, std::span<const std::string> cname,
            std::span<const CompVec> vc, std::span<const std::string> labels) {
  static const rec::Format kNote = rec::Format::compile(
      "('0  ********  MEANS THAT THE VARIANCE COMPONENT(S) FOR THAT CORRELATION IS LESS THAN "
      "OR EQUAL TO ZERO.')");
  Block blk;
  int counter = 3;
  bool flag = false;
  for (int a = 1; a <= nv - 1; ++a) {
    for (int b = a + 1; b <= nv; ++b) {
      const int ii = analysis_index(nv, a, a) - 1;
      const int jj = analysis_index(nv, b, b) - 1;
      const int ij = analysis_index(nv, a, b) - 1;
      const int p = blk.pairs++;
      for (int i = 0; i < n; ++i) {
        if (!(vc[ii][i] > 0.0 && vc[jj][i] > 0.0)) flag = true;
        blk.cor[p][i] = component_correlation(vc[ij][i], vc[ii][i], vc[jj][i]);
      }
      blk.label[p] = labels[ij];
      if (blk.pairs == 6) print_block(io, unit, n, cname, blk, counter);
    }
  }
  if (blk.pairs > 0) print_block(io, unit, n, cname, blk, counter);
  if (flag) io.write(unit, kNote, std::span<const rec::Item>());
}

}  // namespace meridox
