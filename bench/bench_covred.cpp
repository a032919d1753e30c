// Reduction of the normal equations at full size: 550 columns, 10 variables.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "korbal/analysis.h"
#include "korbal/korbal.h"

namespace {

// A diallel-like X'X: counts on the diagonal, overlaps off it, with the level
// columns of each effect summing to the mean column (so some columns are dependent).
void fill(std::vector<double>& xpx, std::vector<double>& xpy, int n, int nv) {
  std::mt19937 g(42);
  std::uniform_int_distribution<int> cnt(0, 3);
  std::vector<std::vector<double>> X(4 * n, std::vector<double>(n, 0.0));
  for (auto& row : X) {
    row[0] = 1.0;
    for (int j = 1; j < n; ++j) row[j] = (g() % 7 == 0) ? cnt(g) : 0.0;
  }
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= j; ++i) {
      double s = 0.0;
      for (const auto& row : X) s += row[i - 1] * row[j - 1];
      xpx[korbal::packed(i, j) - 1] = s;
    }
  std::normal_distribution<double> y(10.0, 3.0);
  for (int v = 0; v < nv; ++v)
    for (int i = 0; i < n; ++i) {
      double s = 0.0;
      for (const auto& row : X) s += row[i] * y(g);
      xpy[v * n + i] = s;
    }
}

void BM_covred_reduce(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int nv = static_cast<int>(state.range(1));
  std::vector<double> xpx0(korbal::packed(n, n)), xpy0(static_cast<std::size_t>(n) * nv);
  fill(xpx0, xpy0, n, nv);
  std::vector<double> xpx(xpx0.size()), xpy(xpy0.size());
  const double tol = n * xpx0[0] * 1.0e-11;
  for (auto _ : state) {
    state.PauseTiming();
    xpx = xpx0;
    xpy = xpy0;
    state.ResumeTiming();
    korbal::covred_reduce(xpx.data(), xpy.data(), tol, n, nv);
    benchmark::DoNotOptimize(xpx.data());
    benchmark::DoNotOptimize(xpy.data());
  }
}
BENCHMARK(BM_covred_reduce)->Args({100, 10})->Args({300, 10})->Args({550, 10})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
