// Reading the data file of the analysis program: 1,000,000 lines of six identifiers
// and three responses read with "(6I3,3F8.2)" through Io::read, by the walk over the
// format and by the statement's laid-out fields, and through Io::read_rows in batches of
// whole records (as the data pass reads them).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>

#include "records/io.h"

namespace {

constexpr int kLines = 1000000;

std::filesystem::path data_file() {
  static const std::filesystem::path p = [] {
    auto dir = std::filesystem::temp_directory_path() / ("diallel-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto file = dir / "data.dat";
    std::FILE* fp = std::fopen(file.c_str(), "wb");
    for (int i = 0; i < kLines; ++i)
      std::fprintf(fp, "%3d%3d%3d%3d%3d%3d%8.2f%8.2f%8.2f\r\n", i % 4 + 1, i % 7 + 1, i % 3 + 1, i % 9 + 1,
                   i % 5 + 1, 1, 12.5 + i % 100, 33.25 - i % 17, 7.75 + (i % 1000) * 0.01);
    std::fclose(fp);
    return file;
  }();
  return p;
}

// The data statement of the benchmark file read line by line, by the general walk over
// the format or by its laid-out fields, or in batches of whole records into rows.
enum class Way { Walk, LaidOut, Rows };

void read_data_file(benchmark::State& state, Way way) {
  const auto file = data_file();
  const rec::Format fmt = rec::Format::compile("(6I3,3F8.2)");
  struct Row {
    std::int32_t id[6];
    float y[3];
  } rows[64];
  const Row& r = rows[0];
  const rec::Target t[9] = {rec::Target::of(rows[0].id[0]), rec::Target::of(rows[0].id[1]),
                            rec::Target::of(rows[0].id[2]), rec::Target::of(rows[0].id[3]),
                            rec::Target::of(rows[0].id[4]), rec::Target::of(rows[0].id[5]),
                            rec::Target::of(rows[0].y[0]),  rec::Target::of(rows[0].y[1]),
                            rec::Target::of(rows[0].y[2])};
  const rec::FieldPlan plan(fmt, t);
  std::istringstream in;
  std::ostringstream out;
  long lines = 0;
  double sum = 0;
  auto batch = [&](std::size_t n) -> rec::Taken {
    for (std::size_t i = 0; i < n; ++i) sum += rows[i].y[0] + rows[i].id[0];
    lines += static_cast<long>(n);
    return {n, true};
  };
  for (auto _ : state) {
    rec::Io io({}, in, out);
    io.open(1, file.string(), rec::OpenMode::Input);
    if (way == Way::Rows) {
      io.read_rows(1, fmt, plan, true, 64, sizeof(Row), batch);
      continue;
    }
    while (way == Way::LaidOut ? io.read(1, fmt, plan, true) : io.read(1, fmt, t, true)) {
      ++lines;
      sum += r.y[0] + r.id[0];
    }
  }
  benchmark::DoNotOptimize(sum);
  state.counters["ns/line"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(lines);
}

void BM_DataPass(benchmark::State& state) { read_data_file(state, Way::Walk); }
BENCHMARK(BM_DataPass)->Unit(benchmark::kMillisecond);

void BM_DataPassLaidOut(benchmark::State& state) { read_data_file(state, Way::LaidOut); }
BENCHMARK(BM_DataPassLaidOut)->Unit(benchmark::kMillisecond);

void BM_DataPassRows(benchmark::State& state) { read_data_file(state, Way::Rows); }
BENCHMARK(BM_DataPassRows)->Unit(benchmark::kMillisecond);

// The same statement on one record held in memory: the cost of format control and
// field conversion without the file.
void BM_ReadLineInMemory(benchmark::State& state) {
  const rec::Format fmt = rec::Format::compile("(6I3,3F8.2)");
  struct One : rec::RecordSource {
    std::string_view line = "  1  2  1  3  5  1   12.50   33.25    7.75";
    bool next(std::string_view& r) override {
      r = line;
      return true;
    }
  } src;
  std::int32_t id[6];
  float y[3];
  const rec::Target t[9] = {rec::Target::of(id[0]), rec::Target::of(id[1]), rec::Target::of(id[2]),
                            rec::Target::of(id[3]), rec::Target::of(id[4]), rec::Target::of(id[5]),
                            rec::Target::of(y[0]),  rec::Target::of(y[1]),  rec::Target::of(y[2])};
  for (auto _ : state) {
    rec::format_read(fmt, src, t);
    benchmark::DoNotOptimize(y[2]);
  }
}
BENCHMARK(BM_ReadLineInMemory);

void BM_ReadLineInMemoryLaidOut(benchmark::State& state) {
  const rec::Format fmt = rec::Format::compile("(6I3,3F8.2)");
  struct One : rec::RecordSource {
    std::string_view line = "  1  2  1  3  5  1   12.50   33.25    7.75";
    bool next(std::string_view& r) override {
      r = line;
      return true;
    }
  } src;
  std::int32_t id[6];
  float y[3];
  const rec::Target t[9] = {rec::Target::of(id[0]), rec::Target::of(id[1]), rec::Target::of(id[2]),
                            rec::Target::of(id[3]), rec::Target::of(id[4]), rec::Target::of(id[5]),
                            rec::Target::of(y[0]),  rec::Target::of(y[1]),  rec::Target::of(y[2])};
  const rec::FieldPlan plan(fmt, t);
  for (auto _ : state) {
    plan.read(src);
    benchmark::DoNotOptimize(y[2]);
  }
}
BENCHMARK(BM_ReadLineInMemoryLaidOut);

void BM_WriteGroup(benchmark::State& state) {
  const rec::Format fmt = rec::Format::compile("(A4,I4,2X,8G12.7,/,(10X,8G12.7))");
  struct Null : rec::RecordSink {
    std::size_t n = 0;
    void put(std::string_view r) override { n += r.size(); }
  } sink;
  std::vector<rec::Item> items{rec::Item("MEAN"), rec::Item(3)};
  for (int i = 0; i < 13; ++i) items.emplace_back(1.0 / (i + 3));
  for (auto _ : state) rec::format_write(fmt, items, sink);
  benchmark::DoNotOptimize(sink.n);
}
BENCHMARK(BM_WriteGroup);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::error_code ec;
  std::filesystem::remove_all(data_file().parent_path(), ec);
  return 0;
}
