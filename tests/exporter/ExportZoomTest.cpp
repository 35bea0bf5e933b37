// The export of zoomed movies: `--zoom` cuts each movie's part as the player showed it (the
// quadrant movie twice, its red and its blue quarter), read back from the exported movie; a
// part the player could not show is refused on the command line.
#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "exporter/ExportOptions.h"
#include "exporter/ExportPlan.h"
#include "laps/LapFile.h"
#include "tests/support/Quadrants.h"
#include "tests/support/TestEnv.h"

namespace quorvex::exporter {
namespace {

constexpr int kWidth = 640, kHeight = 360;

// The first picture of the movie at `path`, 0x00RRGGBB pixels row by row.
std::vector<uint32_t> FirstPicture(const std::string& path) {
  gst_init(nullptr, nullptr);
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  const std::string launch = std::string("uridecodebin uri=") + uri +
                             " ! videoconvert ! video/x-raw,format=xRGB ! appsink name=sink";
  g_free(uri);
  GstElement* pipeline = gst_parse_launch(launch.c_str(), nullptr);
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  std::vector<uint32_t> pixels;
  if (GstSample* sample = gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 60 * GST_SECOND)) {
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
      const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
      const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
      for (int y = 0; y < info.height; ++y) {
        for (int x = 0; x < info.width; ++x) {
          const uint8_t* p = data + y * stride + x * 4;  // x, R, G, B in memory
          pixels.push_back(uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
        }
      }
      gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return pixels;
}

TEST(ExportZoomTest, EachMovieShowsItsZoomedPart) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  laps::LapFile file;
  file.file_names << QString::fromStdString(test::Movie("quadrants.mp4"))
                  << QString::fromStdString(test::Movie("quadrants.mp4"));
  file.time_list = {{0.0, 0.5}, {0.0, 0.5}};
  const QString laps = dir.filePath("laps.xml"), out = dir.filePath("out.mp4");
  QFile lap_file(laps);
  ASSERT_TRUE(lap_file.open(QIODevice::WriteOnly));
  lap_file.write(laps::LapFileBytes(file));
  lap_file.close();

  const QStringList args = {"--export",
                            out,
                            laps,
                            "--size",
                            "640x360",
                            "--fps",
                            "10",
                            "--audio",
                            "none",
                            "--zoom",
                            "1:0,0,32768,32768",
                            "--zoom",
                            "2:0,32768,32768,32768"};
  QProcess process;
  process.start(QString::fromStdString(test::QuorvexExe()), args);
  ASSERT_TRUE(process.waitForFinished(200000));
  ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

  const std::vector<uint32_t> picture = FirstPicture(out.toStdString());
  ASSERT_EQ(picture.size(), size_t(kWidth * kHeight));
  const GridShape grid = ChooseGrid(2, kWidth, kHeight, 16, 9);
  for (const auto& [movie, colour] : {std::pair{0, 'r'}, {1, 'b'}}) {
    const Rect tile = FitTile(CellRect(grid, kWidth, kHeight, movie), 16, 9);
    // Below the running times written at the tile's top left; whole, this spot is neither.
    for (const auto& [fx, fy] : {std::pair{0.5, 0.75}, {0.9, 0.9}, {0.1, 0.9}}) {
      const int x = tile.x + int(fx * tile.width), y = tile.y + int(fy * tile.height);
      EXPECT_EQ(test::QuadrantColour(picture[size_t(y * kWidth + x)]), colour)
          << "movie " << movie << " at " << fx << "," << fy;
    }
  }
}

TEST(ExportZoomTest, PartsThePlayerCannotShowAreRefused) {
  const std::vector<std::string> base = {"--export", "out.mp4", "laps.xml", "--zoom"};
  for (const char* zoom : {"1:0,0,32768,32768", "2:8192,0,8192,65536", "1:57344,57344,8192,8192"}) {
    auto args = base;
    args.push_back(zoom);
    const ParseResult parsed = ParseExportArguments(args);
    ASSERT_TRUE(parsed.options) << zoom << ": " << parsed.error;
    ASSERT_EQ(parsed.options->zooms.size(), 1u);
  }
  const ParseResult half =
      ParseExportArguments({"--export", "o", "l", "--zoom", "2:0,32768,32768,16384"});
  ASSERT_TRUE(half.options);
  EXPECT_EQ(half.options->zooms[0].movie, 1);
  EXPECT_DOUBLE_EQ(half.options->zooms[0].top, 0.5);
  EXPECT_DOUBLE_EQ(half.options->zooms[0].height, 0.25);
  for (const char* zoom :
       {"0:0,0,32768,32768", "1:0,0,8191,8191", "1:40000,0,32768,32768", "1:0,0,65537,65536",
        "1:-1,0,32768,32768", "1:0,0,32768", "1:0,0,32768,32768,1", "1:0,0,,32768",
        "1 0,0,32768,32768", "1:0,0,99999999999,32768", "x:0,0,1,1"}) {
    auto args = base;
    args.push_back(zoom);
    const ParseResult parsed = ParseExportArguments(args);
    EXPECT_FALSE(parsed.options) << zoom;
    EXPECT_NE(parsed.error.find("--zoom"), std::string::npos) << zoom;
  }
}

}  // namespace
}  // namespace quorvex::exporter
