// The user interface driving real servers: from the command line to every movie paused on its
// first picture, from a click on "+0.03" to every movie standing on the next frame, and the
// UI thread's cost of the 100 ms timer. Run under an X server:
//   xvfb-run -a -s "-screen 0 1600x1000x24" build/bench/bench/bench_ui
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/MainForm.h"
#include "bench/BenchServer.h"
#include "bench/WidgetsMain.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace {

using Clock = std::chrono::steady_clock;

QStringList Movies(int n) {
  const char* env = std::getenv("QUORVEX_TEST_MOVIES");
  const QString dir = QString::fromLocal8Bit(env ? env : QUORVEX_BENCH_MOVIES);
  const char* names[4] = {"h264-aac-16x9.mp4", "mjpeg-pcm-4x3.avi", "h264-vorbis-mono48k.mkv",
                          "h264-noaudio.mp4"};
  QStringList files;
  for (int i = 0; i < n; ++i)
    files << dir + "/" + names[i % 4];
  return files;
}

std::unique_ptr<quorvex::MainForm> OpenForm(const QStringList& files) {
  auto form = std::make_unique<quorvex::MainForm>(files, quorvex::bench::ServerOptions());
  form->show();
  (void)QTest::qWaitFor([&] { return form->loaded(); }, 120000);
  return form;
}

bool AllOpen(const quorvex::MainForm& form, int n) {
  if (int(form.vfs().size()) != n)
    return false;
  for (quorvex::VideoForm* vf : form.vfs()) {
    if (!vf->IsValid())
      return false;
  }
  return true;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Construction of the main window to every movie paused on its first picture: every server
// started, every graph built and prerolled.
void BM_CommandLineToFirstFrames(benchmark::State& state) {
  const int n = int(state.range(0));
  const QStringList files = Movies(n);
  for (auto _ : state) {
    auto form = OpenForm(files);
    if (!AllOpen(*form, n))
      state.SkipWithError("a movie did not open");
    state.PauseTiming();
    form.reset();  // ends the servers
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CommandLineToFirstFrames)
    ->Arg(4)
    ->Arg(16)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A click on the panel's "+0.03" until every movie reports the next frame's position.
void BM_StepAllMovies(benchmark::State& state) {
  const int n = int(state.range(0));
  auto form = OpenForm(Movies(n));
  if (!AllOpen(*form, n)) {
    state.SkipWithError("a movie did not open");
    return;
  }
  QPushButton* next = form->cf()->step_button(3);
  for (auto _ : state) {
    QTest::mouseClick(next, Qt::LeftButton);
    for (quorvex::VideoForm* vf : form->vfs()) {
      int64_t pos = 0;
      vf->client()->GetCurrentPosition(&pos);
      benchmark::DoNotOptimize(pos);
    }
  }
}
BENCHMARK(BM_StepAllMovies)
    ->Arg(4)
    ->Arg(16)
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One 100 ms timer tick of every movie window: two queries per movie and the refresh of the bar
// and the time field. cpu_percent is the UI thread's processor time per 100 ms, in per cent of
// one core; the wall time includes the waits for the servers' answers.
void BM_TimerTicks(benchmark::State& state) {
  const int n = int(state.range(0));
  auto form = OpenForm(Movies(n));
  if (!AllOpen(*form, n)) {
    state.SkipWithError("a movie did not open");
    return;
  }
  if (state.range(1) != 0)
    form->Play();
  double cpu = 0;
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    for (quorvex::VideoForm* vf : form->vfs())
      vf->timer1_Tick();
    cpu += ThreadCpuSeconds() - c0;
  }
  form->Pause();
  const double per_tick = cpu / double(state.iterations());
  state.counters["cpu_us_per_tick"] = per_tick * 1e6;
  state.counters["cpu_percent"] = per_tick / 0.100 * 100.0;
}
BENCHMARK(BM_TimerTicks)
    ->Args({16, 0})
    ->Args({16, 1})
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return quorvex::bench::RunWithWidgets(argc, argv);
}
