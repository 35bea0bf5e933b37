// The lap file of a large comparison, 16 movies x 500 rows: writing it, reading and checking it,
// and refilling the lap table from it as loading does (without opening movies). Runs the table
// on the offscreen platform unless a display is chosen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <random>

#include "laps/GridInterface.h"
#include "laps/LapFile.h"
#include "laps/LapForm.h"

namespace {

constexpr int kMovies = 16;
constexpr int kRows = 500;

quorvex::laps::LapFile LargeFile() {
  std::mt19937 random(1);
  std::uniform_real_distribution<double> lap(0.5, 30.0);
  quorvex::laps::LapFile file;
  for (int m = 0; m < kMovies; ++m) {
    file.file_names
        << QStringLiteral("/home/coach/runs/2024-06-01/athlete %1/take %2.mp4").arg(m).arg(m * 7);
    std::vector<double> positions{lap(random)};
    for (int r = 1; r < kRows; ++r)
      positions.push_back(positions.back() + lap(random) / 3);
    file.time_list.push_back(std::move(positions));
  }
  return file;
}

class NoGrid : public quorvex::GridInterface {
 public:
  void RowSelected(int32_t) override {}
  void RemoveRow(int32_t) override {}
  int32_t GetCountRow() override { return 0; }
  void SetDataGridView() override {}
};

void BM_LapFileBytes(benchmark::State& state) {
  const quorvex::laps::LapFile file = LargeFile();
  for (auto _ : state)
    benchmark::DoNotOptimize(quorvex::laps::LapFileBytes(file, QLocale::c()));
}
BENCHMARK(BM_LapFileBytes)->Unit(benchmark::kMillisecond);

// Through a temporary file renamed over the target, as saving does.
void BM_WriteLapFile(benchmark::State& state) {
  const quorvex::laps::LapFile file = LargeFile();
  QTemporaryDir dir;
  const QString path = dir.filePath("laps.xml");
  for (auto _ : state) {
    if (quorvex::laps::WriteLapFile(path, file, QLocale::c()))
      state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriteLapFile)->Unit(benchmark::kMillisecond);

void BM_ParseLapFile(benchmark::State& state) {
  const QByteArray bytes = quorvex::laps::LapFileBytes(LargeFile(), QLocale::c());
  state.counters["bytes"] = double(bytes.size());
  for (auto _ : state) {
    const auto result = quorvex::laps::ParseLapFile(bytes, QLocale::c());
    if (!result.file)
      state.SkipWithError("refused");
  }
}
BENCHMARK(BM_ParseLapFile)->Unit(benchmark::kMillisecond);

// Reading and checking the file, then rows and cells of the lap table as loading sets them up.
void BM_LoadIntoLapTable(benchmark::State& state) {
  const QByteArray bytes = quorvex::laps::LapFileBytes(LargeFile(), QLocale::c());
  NoGrid grid;
  QWidget owner;
  quorvex::LapForm form(grid, &owner);
  for (int m = 0; m < kMovies; ++m)
    form.AddItem();
  for (auto _ : state) {
    const auto result = quorvex::laps::ParseLapFile(bytes, QLocale::c());
    form.ClearRows();
    for (int r = 0; r < kRows; ++r)
      form.AddRow();
    form.SetDataGridView(result.file->time_list);
  }
}
BENCHMARK(BM_LoadIntoLapTable)->Unit(benchmark::kMillisecond);

// A refill alone, as after every mark or deletion, on a table that already has its cells.
void BM_RefillLapTable(benchmark::State& state) {
  const quorvex::laps::LapFile file = LargeFile();
  NoGrid grid;
  QWidget owner;
  quorvex::LapForm form(grid, &owner);
  for (int m = 0; m < kMovies; ++m)
    form.AddItem();
  for (int r = 0; r < kRows; ++r)
    form.AddRow();
  form.SetDataGridView(file.time_list);
  for (auto _ : state)
    form.SetDataGridView(file.time_list);
}
BENCHMARK(BM_RefillLapTable)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
