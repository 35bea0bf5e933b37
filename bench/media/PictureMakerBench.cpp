// Turning one decoded 1080p picture into what the window draws, the work done for every picture
// while a movie plays: the decoder's I420 at full size, cut and scaled to the drawn size in
// the display's 32-bit layout. The content is noise; the converter's work does not depend on it.
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <random>

#include "platform/media/PictureMaker.h"

namespace {

GstSample* NoisePicture(int width, int height) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, guint(width), guint(height));
  GST_VIDEO_INFO_FPS_N(&info) = 60;
  GST_VIDEO_INFO_FPS_D(&info) = 1;
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  std::mt19937 random(7);
  for (gsize i = 0; i < map.size; ++i)
    map.data[i] = uint8_t(random());
  gst_buffer_unmap(buffer, &map);
  GST_BUFFER_PTS(buffer) = GST_SECOND;
  GST_BUFFER_DURATION(buffer) = GST_SECOND / 60;
  GstCaps* caps = gst_video_info_to_caps(&info);
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_TIME);
  GstSample* sample = gst_sample_new(buffer, caps, &segment, nullptr);
  gst_caps_unref(caps);
  gst_buffer_unref(buffer);
  return sample;
}

// The drawn width (16:9) and the zoom (1: whole picture; 4: a quarter of its width).
void BM_MakePicture(benchmark::State& state) {
  gst_init(nullptr, nullptr);
  const int width = int(state.range(0));
  const int zoom = int(state.range(1));
  GstSample* sample = NoisePicture(1920, 1080);
  quorvex::media::Crop crop;
  if (zoom > 1)
    crop = quorvex::media::Crop{0.25, 0.25, 1.0 / zoom, 1.0 / zoom};
  quorvex::media::PictureMaker maker;
  for (auto _ : state)
    benchmark::DoNotOptimize(maker.Make(sample, width, width * 9 / 16, crop));
  gst_sample_unref(sample);
}
BENCHMARK(BM_MakePicture)
    ->ArgsProduct({{480, 960, 1920}, {1}})
    ->Args({960, 4})
    ->ArgNames({"width", "zoom"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
