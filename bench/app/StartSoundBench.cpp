// "音でｽﾀｰﾄを合わせる" over sixteen 60 s movies (H.264 320x240 + AAC stereo 48 kHz, a shot at
// 5 s behind babble): from the command until every base is set. Each iteration starts with all
// movies back at 0. Run under an X server:
//   xvfb-run -a -s "-screen 0 1600x1000x24" build/bench/bench/bench_start_sound
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "app/MainForm.h"
#include "bench/BenchServer.h"
#include "bench/WidgetsMain.h"
#include "ui/VideoForm.h"

namespace {

QString MovieDir() {
  const char* env = std::getenv("QUORVEX_TEST_MOVIES");
  return QString::fromLocal8Bit(env ? env : QUORVEX_BENCH_MOVIES);
}

// Makes the 60 s movie once; false when that fails.
bool MakeMovie(const QString& path) {
  if (QFileInfo::exists(path))
    return true;
  const QString wav = path + ".wav";
  const QString script =
      QStringLiteral(
          "set -e; sox -q -n -r 48000 -c 2 -b 16 '%1.bg.wav' synth 60 pinknoise band 1000 800 "
          "tremolo 4 80 vol 0.1; "
          "sox -q -n -r 48000 -c 2 -b 16 '%1.shot.wav' synth 0.3 whitenoise fade l 0 0.3 0.3 "
          "vol 0.8 pad 5; "
          "sox -q -m -v 1 '%1.bg.wav' -v 1 '%1.shot.wav' '%1' trim 0 60; "
          "gst-launch-1.0 -q videotestsrc num-buffers=1798 ! "
          "video/x-raw,width=320,height=240,framerate=30000/1001 ! x264enc speed-preset=ultrafast "
          "key-int-max=30 ! h264parse ! queue ! mp4mux name=m ! filesink location='%2' "
          "filesrc location='%1' ! wavparse ! audioconvert ! avenc_aac ! queue ! m. >/dev/null; "
          "rm -f '%1.bg.wav' '%1.shot.wav' '%1'")
          .arg(wav, path);
  return std::system(script.toLocal8Bit().constData()) == 0 && QFileInfo::exists(path);
}

void BM_StartSoundSixteenMovies(benchmark::State& state) {
  const QString path = MovieDir() + "/bench-start-60s.mp4";
  if (!MakeMovie(path)) {
    state.SkipWithError("could not make the 60 s movie (sox, gst-launch-1.0)");
    return;
  }
  QStringList files;
  for (int i = 0; i < 16; ++i)
    files << path;
  quorvex::MainForm form(files, quorvex::bench::ServerOptions());
  form.show();
  if (!QTest::qWaitFor([&] { return form.loaded(); }, 120000) || form.vfs().size() != 16) {
    state.SkipWithError("the movies did not open");
    return;
  }
  bool all_found = true;
  for (auto _ : state) {
    state.PauseTiming();
    for (quorvex::VideoForm* vf : form.vfs())
      vf->SetCurrentPosition(0.0);
    form.ClearTime();  // no laps: no question
    state.ResumeTiming();
    form.start_sound_item()->trigger();
    (void)QTest::qWaitFor([&] { return !form.finding_start_sound(); }, 120000);
    for (const std::vector<double>& movie : form.time_list())
      all_found = all_found && !movie.empty() && std::abs(movie.front() - 5.0) < 0.05;
  }
  if (!all_found)
    state.SkipWithError("a base is not the shot");
}
BENCHMARK(BM_StartSoundSixteenMovies)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return quorvex::bench::RunWithWidgets(argc, argv);
}
