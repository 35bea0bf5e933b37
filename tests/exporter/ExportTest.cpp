// The export role run as the program runs it: `quorvex --export` on movies made here, whose
// every picture carries its own index as a row of black and white squares, and the exported
// movie decoded again to read those indices back from each tile.
#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>

#include "exporter/ExportPlan.h"
#include "laps/LapFile.h"
#include "tests/support/Quadrants.h"
#include "tests/support/TestEnv.h"

namespace quorvex::exporter {
namespace {

constexpr int kBits = 8;
constexpr int kOutFps = 30;
constexpr int kOutWidth = 640;
constexpr int kOutHeight = 360;

// Where a picture's bits are: a row of kBits squares across the lower part, clear of the text
// that the export writes at the top left.
double BitX(int bit) {
  return 0.1 + 0.8 * (bit + 0.5) / kBits;
}
constexpr double kBitY = 0.725;

struct TestMovie {
  const char* name;
  int fps;
  int frames;
  int width;
  int height;
  bool tone;  // a 440 Hz sine all along
  double base;
  double lap;
  double silent_seconds = 0;  // the tone starts only here
};

// 25, 30 and 60 pictures a second, of different lengths; the 60 fps one ends before the export
// does. Bases and marks as a lap file stores them: 0.2 s and 0.25 s fall exactly on pictures.
const TestMovie kMovies[] = {
    {"coded-25fps.mp4", 25, 100, 320, 240, true, 0.5, 2.0},
    {"coded-30fps.mp4", 30, 90, 320, 240, false, 0.2, 1.9},
    {"coded-60fps.mp4", 60, 120, 320, 180, false, 0.25, 1.5},
};

void Check(bool ok, const char* what) {
  if (!ok)
    throw std::runtime_error(what);
}

// Waits for the end of the stream or an error; true at the end.
bool RunToEnd(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus, 120 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool ended = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
  if (message)
    gst_message_unref(message);
  gst_object_unref(bus);
  return ended;
}

void MakeCodedMovie(const std::string& path, const TestMovie& movie) {
  std::string launch =
      "appsrc name=src format=time caps=video/x-raw,format=GRAY8,width=" +
      std::to_string(movie.width) + ",height=" + std::to_string(movie.height) +
      ",framerate=" + std::to_string(movie.fps) +
      "/1 ! videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=ultrafast pass=quant "
      "quantizer=12 key-int-max=30 ! mp4mux name=mux ! filesink location=\"" +
      path + "\"";
  const std::string pcm = " ! audio/x-raw,rate=48000,channels=1 ! k.";
  if (movie.tone) {
    const int silent = int(movie.silent_seconds * 10);
    launch += " concat name=k ! audioconvert ! avenc_aac ! queue ! mux.";
    if (silent > 0) {
      launch +=
          " audiotestsrc wave=silence samplesperbuffer=4800 num-buffers=" + std::to_string(silent) +
          pcm;
    }
    launch += " audiotestsrc wave=sine freq=440 volume=0.3 samplesperbuffer=4800 num-buffers=" +
              std::to_string(movie.frames * 10 / movie.fps - silent) + pcm;
  }
  GstElement* pipeline = gst_parse_launch(launch.c_str(), nullptr);
  Check(pipeline != nullptr, "the movie maker does not build");
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  const size_t size = size_t(movie.width) * movie.height;
  for (int i = 0; i < movie.frames; ++i) {
    std::vector<uint8_t> picture(size, 128);
    for (int bit = 0; bit < kBits; ++bit) {
      const uint8_t value = (i >> bit) & 1 ? 235 : 16;
      const int x0 = int(movie.width * (0.1 + 0.8 * bit / kBits)) + 2;
      const int x1 = int(movie.width * (0.1 + 0.8 * (bit + 1) / kBits)) - 2;
      for (int y = int(movie.height * 0.55); y < int(movie.height * 0.9); ++y)
        std::fill(picture.begin() + y * movie.width + x0, picture.begin() + y * movie.width + x1,
                  value);
    }
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_fill(buffer, 0, picture.data(), size);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(i, GST_SECOND, movie.fps);
    GST_BUFFER_DURATION(buffer) =
        gst_util_uint64_scale(i + 1, GST_SECOND, movie.fps) - GST_BUFFER_PTS(buffer);
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  const bool ended = RunToEnd(pipeline);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(src);
  gst_object_unref(pipeline);
  Check(ended, "the movie maker failed");
}

struct ExportRun {
  int exit_code = -1;
  std::string errors;
};

ExportRun RunExport(const QStringList& args, int cancel_after_progress = -1) {
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setReadChannel(QProcess::StandardError);  // where progress and failures go
  process.start(QString::fromStdString(test::QuorvexExe()), QStringList{"--export"} + args);
  ExportRun run;
  if (!process.waitForStarted(10000))
    return run;
  if (cancel_after_progress >= 0) {
    QByteArray seen;
    while (!seen.contains("%)") && process.waitForReadyRead(60000))
      seen += process.readAllStandardError();
    ::kill(pid_t(process.processId()), SIGTERM);
    run.errors = seen.toStdString();
  }
  process.waitForFinished(200000);
  run.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
  run.errors += process.readAllStandardError().toStdString();
  return run;
}

// `path` decoded by uridecodebin, then `tail`, into an appsink named "sink".
GstElement* Decoder(const std::string& path, const std::string& tail) {
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  const std::string launch = "uridecodebin uri=" + std::string(uri) + tail;
  g_free(uri);
  return gst_parse_launch((launch + " ! appsink name=sink sync=false").c_str(), nullptr);
}

// Every sample of `path` decoded through `tail`, handed to `take` in order.
template <typename F>
void EachSample(const std::string& path, const std::string& tail, F take) {
  GstElement* pipeline = Decoder(path, tail);
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 30 * GST_SECOND)) {
    take(sample);
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
}

// Every picture of a movie in `format` (GRAY8 or xRGB), its rows without padding, and where
// each one starts in seconds.
struct Decoded {
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<double> starts;
  double end_seconds = 0;
};

Decoded DecodePictures(const std::string& path, const std::string& format) {
  Decoded d;
  EachSample(path, " caps=video/x-raw ! videoconvert ! video/x-raw,format=" + format,
             [&](GstSample* sample) {
               // In stream time: the muxer's edit list starts the pictures there at zero.
               GstBuffer* buffer = gst_sample_get_buffer(sample);
               const double start =
                   double(gst_segment_to_stream_time(gst_sample_get_segment(sample),
                                                     GST_FORMAT_TIME, GST_BUFFER_PTS(buffer))) /
                   GST_SECOND;
               d.starts.push_back(start);
               d.end_seconds = start + double(GST_BUFFER_DURATION(buffer)) / GST_SECOND;
               GstVideoInfo info;
               GstVideoFrame frame;
               std::vector<uint8_t>& picture = d.pictures.emplace_back();
               if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
                   !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
                 return;
               const auto* data =
                   static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
               for (int y = 0; y < info.height; ++y) {
                 const uint8_t* row = data + y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
                 picture.insert(picture.end(), row,
                                row + info.width * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0));
               }
               gst_video_frame_unmap(&frame);
             });
  return d;
}

// The index a grey picture of the output's size carries in `tile`.
int ReadIndex(const std::vector<uint8_t>& luma, const Rect& tile) {
  if (luma.size() != size_t(kOutWidth * kOutHeight))
    return -1;
  int index = 0;
  for (int bit = 0; bit < kBits; ++bit) {
    const int x = tile.x + int(tile.width * BitX(bit));
    const int y = tile.y + int(tile.height * kBitY);
    if (luma[size_t(y * kOutWidth + x)] > 128)
      index |= 1 << bit;
  }
  return index;
}

// The whole sound of a movie, mixed to one channel.
std::vector<float> ReadSound(const std::string& path, int& sample_rate) {
  std::vector<float> sound;
  EachSample(path, " ! audioconvert ! audio/x-raw,format=F32LE,channels=1", [&](GstSample* sample) {
    gst_structure_get_int(gst_caps_get_structure(gst_sample_get_caps(sample), 0), "rate",
                          &sample_rate);
    GstMapInfo map;
    if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
      const auto* data = reinterpret_cast<const float*>(map.data);
      sound.insert(sound.end(), data, data + map.size / sizeof(float));
      gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    }
  });
  return sound;
}

class ExportTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    gst_init(nullptr, nullptr);
    dir_ = new QTemporaryDir();
    for (const TestMovie& movie : kMovies)
      MakeCodedMovie(Path(movie.name), movie);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string Path(const std::string& name) {
    return dir_->filePath(QString::fromStdString(name)).toStdString();
  }
  static QString QPath(const std::string& name) { return QString::fromStdString(Path(name)); }
  // A lap file of `movies` with their lap lists (the base, then the marks), as the player saves it.
  static void WriteLaps(const std::string& name, const QStringList& movies,
                        const laps::LapLists& lists) {
    ASSERT_FALSE(laps::WriteLapFile(QPath(name), {movies, lists}, QLocale::c()));
  }
  // The lap file of all three movies, with their bases and one mark.
  static void WriteLaps(const std::string& name) {
    QStringList movies;
    laps::LapLists lists;
    for (const TestMovie& movie : kMovies) {
      movies << QPath(movie.name);
      lists.push_back({movie.base, movie.lap});
    }
    WriteLaps(name, movies, lists);
  }
  // Everything in the folder besides the movies and lap files made here.
  void SetUp() override {
    for (const QString& name : Leftovers())
      QFile::remove(dir_->filePath(name));
  }
  static QStringList Leftovers() {
    QStringList found;
    for (const QString& name : QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden)) {
      if (!name.startsWith("coded-") && !name.endsWith(".xml") && name != "onset.mp4")
        found << name;
    }
    return found;
  }

  static QTemporaryDir* dir_;
};

QTemporaryDir* ExportTest::dir_ = nullptr;

TEST_F(ExportTest, EveryTileShowsItsMoviesPictureAtBasePlusTimesRateWithTheSoundInPitch) {
  WriteLaps("laps.xml");
  const ExportRun run = RunExport(
      {QPath("out.mp4"), QPath("laps.xml"), "--rate", "1/2", "--size", "640x360", "--fps", "30"});
  ASSERT_EQ(run.exit_code, 0) << run.errors;
  EXPECT_NE(run.errors.find("(100%)"), std::string::npos) << run.errors;
  EXPECT_EQ(Leftovers(), QStringList{"out.mp4"});

  // Totals of the mark: 1.5, 1.7 and 1.25 s; one second more, slowed to 1/2: 5.4 s.
  const int64_t frames = 162;
  const Decoded out = DecodePictures(Path("out.mp4"), "GRAY8");
  ASSERT_EQ(int64_t(out.pictures.size()), frames);
  EXPECT_NEAR(out.end_seconds, double(frames) / kOutFps, 0.001);

  const GridShape grid = ChooseGrid(3, kOutWidth, kOutHeight, 4, 3);
  ASSERT_EQ(grid.columns, 2);
  const int aspects[][2] = {{4, 3}, {4, 3}, {16, 9}};
  for (int64_t k : {0, 1, 2, 6, 7, 45, 80, 103, 104, 140, 161}) {
    const double out_seconds = double(k) / kOutFps;
    EXPECT_NEAR(out.starts[size_t(k)], out_seconds, 0.001) << k;
    for (int m = 0; m < 3; ++m) {
      const TestMovie& movie = kMovies[m];
      const Rect tile =
          FitTile(CellRect(grid, kOutWidth, kOutHeight, m), aspects[m][0], aspects[m][1]);
      // The picture an accurate seek to base + t x rate shows; the last one once the movie
      // has ended.
      const double position = movie.base + out_seconds * 0.5;
      const int expected = std::min(movie.frames - 1, int(std::floor(position * movie.fps + 1e-6)));
      EXPECT_EQ(ReadIndex(out.pictures[size_t(k)], tile), expected)
          << movie.name << " at output picture " << k;
    }
  }

  int rate = 0;
  const std::vector<float> sound = ReadSound(Path("out.mp4"), rate);
  ASSERT_GT(rate, 0);
  // As long as the picture, give or take the encoder's padding of a frame of 1024 samples.
  EXPECT_NEAR(double(sound.size()) / rate, double(frames) / kOutFps, 0.05);
  // The tone keeps its 440 Hz at 1/2 (it would fall to 220 Hz without the pitch filter):
  // counted by zero crossings over three seconds in the middle, where it is steady.
  int crossings = 0;
  double energy = 0;
  const size_t from = size_t(rate), to = size_t(rate) * 4;
  ASSERT_GE(sound.size(), to);
  for (size_t i = from + 1; i < to; ++i) {
    crossings += (sound[i - 1] < 0) != (sound[i] < 0);
    energy += double(sound[i]) * sound[i];
  }
  EXPECT_NEAR(crossings / 2.0 / 3.0, 440.0, 440.0 * 0.02);
  EXPECT_GT(std::sqrt(energy / double(to - from)), 0.05);
}

// Where the tone of `sound` first reaches half its level, in seconds.
double Onset(const std::vector<float>& sound, int sample_rate) {
  size_t first = 0;
  while (first < sound.size() && std::fabs(sound[first]) < 0.15f)
    ++first;
  return double(first) / sample_rate;
}

// The pitch filter holds the sound back by its input queue; the export takes that back out,
// so that a sound starts where its picture does, slowed or not.
TEST_F(ExportTest, SoundStaysWithItsPictureAtEveryRate) {
  const TestMovie onset = {"coded-onset.mp4", 30, 120, 160, 120, true, 0.5, 0, 1.5};
  MakeCodedMovie(Path(onset.name), onset);
  WriteLaps("onset.xml", {QPath(onset.name)}, {{onset.base}});
  // The decoders see the tone a little after 1.5 s (the encoder's priming): measured here.
  int sample_rate = 0;
  const std::vector<float> original = ReadSound(Path(onset.name), sample_rate);
  const double source = Onset(original, sample_rate) - onset.base;
  double encoder = 0;  // what encoding the export adds, measured at 1/1
  for (int slowdown : {1, 2, 4}) {
    const QString rate = slowdown == 1 ? "1" : QString("1/%1").arg(slowdown);
    const ExportRun run =
        RunExport({QPath("onset.mp4"), QPath("onset.xml"), "--rate", rate, "--size", "160x120"});
    ASSERT_EQ(run.exit_code, 0) << run.errors;
    const std::vector<float> exported = ReadSound(Path("onset.mp4"), sample_rate);
    const double seconds = Onset(exported, sample_rate);
    if (slowdown == 1) {
      encoder = seconds - source;
      EXPECT_NEAR(encoder, 0.0, 0.05);
      continue;
    }
    // Without the correction the tone would come 3072 frames of 48 kHz late at the movie's
    // speed, 64 ms x slowdown; the vocoder's window blurs its start by less than half that.
    EXPECT_NEAR(seconds, source * slowdown + encoder, 0.025 * slowdown) << "at 1/" << slowdown;
  }
}

// A zoomed movie is cut as the player showed it: the quadrant movie twice, its red and its
// blue quarter, each filling its tile.
TEST_F(ExportTest, EachMovieShowsItsZoomedPart) {
  const QString quadrants = test::MoviePath("quadrants.mp4");
  WriteLaps("zoom.xml", {quadrants, quadrants}, {{0, 0.5}, {0, 0.5}});
  const ExportRun run = RunExport({QPath("zoomed.mp4"), QPath("zoom.xml"), "--size", "640x360",
                                   "--fps", "10", "--audio", "none", "--zoom", "1:0,0,32768,32768",
                                   "--zoom", "2:0,32768,32768,32768"});
  ASSERT_EQ(run.exit_code, 0) << run.errors;
  const Decoded zoomed = DecodePictures(Path("zoomed.mp4"), "xRGB");
  ASSERT_FALSE(zoomed.pictures.empty());
  const std::vector<uint8_t>& picture = zoomed.pictures[0];
  ASSERT_EQ(picture.size(), size_t(kOutWidth * kOutHeight * 4));
  const GridShape grid = ChooseGrid(2, kOutWidth, kOutHeight, 16, 9);
  for (const auto& [movie, colour] : {std::pair{0, 'r'}, {1, 'b'}}) {
    const Rect tile = FitTile(CellRect(grid, kOutWidth, kOutHeight, movie), 16, 9);
    // Below the running times written at the tile's top left; whole, this spot is neither.
    for (const auto& [fx, fy] : {std::pair{0.5, 0.75}, {0.9, 0.9}, {0.1, 0.9}}) {
      const int x = tile.x + int(fx * tile.width), y = tile.y + int(fy * tile.height);
      const uint8_t* p = &picture[size_t(y * kOutWidth + x) * 4];
      EXPECT_EQ(test::QuadrantColour(uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]), colour)
          << "movie " << movie << " at " << fx << "," << fy;
    }
  }
}

TEST_F(ExportTest, RefusalsSayWhyAndLeaveNoFileBehind) {
  WriteLaps("laps.xml");
  WriteLaps("missing.xml", {QPath("coded-25fps.mp4"), QPath("no-such-movie.mp4")}, {{0.5}, {0.5}});
  WriteLaps("silent.xml", {QPath("coded-30fps.mp4")}, {{0.2}});
  WriteLaps("huge.xml", {QPath("coded-30fps.mp4")}, {{0.2, 1e300}});
  struct Case {
    QStringList args;
    int exit_code;
    const char* says;
  };
  const Case cases[] = {
      {{QPath("out.mp4"), QPath("missing.xml")}, 1, "cannot open movie No.2"},
      {{QPath("out.mp4"), QPath("nothing.xml")}, 1, "cannot load the lap file"},
      {{QPath("out.mp4"), QPath("huge.xml")}, 1, "out of range"},
      {{QPath("no-folder/out.mp4"), QPath("laps.xml")}, 1, "cannot write"},
      {{QString::fromStdString(dir_->path().toStdString()), QPath("laps.xml")}, 1, "cannot write"},
      {{QPath("out.mp4"), QPath("laps.xml"), "--audio", "4"}, 1, "--audio 4"},
      {{QPath("out.mp4"), QPath("laps.xml"), "--base", "4"}, 1, "--base 4"},
      {{QPath("out.mp4"), QPath("laps.xml"), "--rate", "0.3"}, 2, "--rate 0.3"},
      {{QPath("out.mp4")}, 2, "Usage: quorvex --export"},
  };
  for (const Case& c : cases) {
    const ExportRun run = RunExport(c.args);
    const std::string args = c.args.join(' ').toStdString();
    EXPECT_EQ(run.exit_code, c.exit_code) << args << "\n" << run.errors;
    EXPECT_NE(run.errors.find(c.says), std::string::npos) << args << "\n" << run.errors;
    EXPECT_EQ(Leftovers(), QStringList()) << args;
  }
  // A movie without sound gives a movie without sound, not a failure.
  const ExportRun silent =
      RunExport({QPath("silent.mp4"), QPath("silent.xml"), "--size", "160x120"});
  EXPECT_EQ(silent.exit_code, 0) << silent.errors;
  int rate = 0;
  EXPECT_TRUE(ReadSound(Path("silent.mp4"), rate).empty());
}

TEST_F(ExportTest, ACancelledExportLeavesNoFileBehind) {
  WriteLaps("laps.xml");
  const ExportRun run =
      RunExport({QPath("out.mp4"), QPath("laps.xml"), "--rate", "1/16", "--size", "320x180"},
                /*cancel_after_progress=*/0);
  EXPECT_EQ(run.exit_code, 1) << run.errors;
  EXPECT_NE(run.errors.find("cancelled"), std::string::npos) << run.errors;
  EXPECT_EQ(Leftovers(), QStringList());
}

}  // namespace
}  // namespace quorvex::exporter
