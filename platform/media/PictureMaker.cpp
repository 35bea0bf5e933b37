#include "platform/media/PictureMaker.h"

#include <algorithm>

namespace quorvex::media {
namespace {

// Frame times are rounded to the container's time base: a picture shorter than the frame
// period by less than this is whole.
constexpr int64_t kClipToleranceNs = 1000;

}  // namespace

PictureMaker::PictureMaker(GstVideoFormat out_format) : out_format_(out_format) {
  gst_video_info_init(&in_);
  gst_video_info_init(&out_);
}

PictureMaker::~PictureMaker() {
  Reset();
}

bool PictureMaker::Times(GstSample* sample, int64_t* start_ns, int64_t* duration_ns) {
  GstBuffer* buffer = sample ? gst_sample_get_buffer(sample) : nullptr;
  const GstSegment* segment = sample ? gst_sample_get_segment(sample) : nullptr;
  if (!buffer || !segment || !GST_BUFFER_PTS_IS_VALID(buffer))
    return false;
  // Buffer stamps may be offset from the movie's time (an edit list): the segment maps them,
  // also for a picture that starts before the segment (the one an accurate seek lands in).
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  guint64 start = 0;
  const int sign = gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, pts, &start);
  if (sign == 0)
    return false;
  *start_ns = sign > 0 ? int64_t(start) : -int64_t(start);
  *duration_ns = GST_BUFFER_DURATION_IS_VALID(buffer) ? int64_t(GST_BUFFER_DURATION(buffer)) : 0;
  // A seek into the middle of a picture makes the decoder clip it to start at the target (the
  // segment's start); at a fixed rate its own start is one frame before its end. A picture that
  // is merely short (a variable rate) starts where its stamp says.
  const int64_t period = FramePeriod(sample);
  const bool at_segment_start = segment->start > 0 && pts == segment->start;
  if (at_segment_start && period > 0 && *duration_ns > 0 &&
      *duration_ns < period - kClipToleranceNs) {
    *start_ns = std::max<int64_t>(*start_ns + *duration_ns - period, 0);
    *duration_ns = period;
  }
  return true;
}

int64_t PictureMaker::FramePeriod(GstSample* sample) {
  GstCaps* caps = sample ? gst_sample_get_caps(sample) : nullptr;
  const GstStructure* s = caps && gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
  int n = 0, d = 0;
  if (!s || !gst_structure_get_fraction(s, "framerate", &n, &d) || n <= 0 || d <= 0)
    return 0;
  return int64_t(gst_util_uint64_scale_int(GST_SECOND, d, n));
}

namespace {

GstStructure* ConverterConfig(const Crop::Pixels& cut) {
  // Bilinear, as the scaler of a video sink: a picture is drawn within a few milliseconds
  // while playing. The whole area is filled: it already has the picture's aspect ratio. The same
  // settings on every path keep a picture from the cache equal to a freshly decoded one.
  return gst_structure_new(
      "config", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
      GST_VIDEO_RESAMPLER_METHOD_LINEAR, GST_VIDEO_CONVERTER_OPT_CHROMA_RESAMPLER_METHOD,
      GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
      GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE,
      GST_VIDEO_CONVERTER_OPT_THREADS, G_TYPE_UINT, 1u,
      // The crop is read from the decoded picture itself, so that it is scaled only once.
      GST_VIDEO_CONVERTER_OPT_SRC_X, G_TYPE_INT, cut.x, GST_VIDEO_CONVERTER_OPT_SRC_Y, G_TYPE_INT,
      cut.y, GST_VIDEO_CONVERTER_OPT_SRC_WIDTH, G_TYPE_INT, cut.width,
      GST_VIDEO_CONVERTER_OPT_SRC_HEIGHT, G_TYPE_INT, cut.height, nullptr);
}

void WithRate(GstVideoInfo* info, const GstVideoInfo& of) {
  GST_VIDEO_INFO_FPS_N(info) = GST_VIDEO_INFO_FPS_N(&of);  // the converter wants them equal
  GST_VIDEO_INFO_FPS_D(info) = GST_VIDEO_INFO_FPS_D(&of);
}

}  // namespace

void PictureMaker::Reset() {
  if (scaler_)
    gst_video_converter_free(scaler_);
  if (converter_)
    gst_video_converter_free(converter_);
  if (scaled_)
    gst_buffer_unref(scaled_);
  scaler_ = converter_ = nullptr;
  scaled_ = nullptr;
}

bool PictureMaker::Prepare(const GstVideoInfo& in, int32_t width, int32_t height,
                           const Crop::Pixels& cut) {
  if (converter_ && gst_video_info_is_equal(&in, &in_) && GST_VIDEO_INFO_WIDTH(&out_) == width &&
      GST_VIDEO_INFO_HEIGHT(&out_) == height && cut == cut_)
    return true;
  Reset();
  in_ = in;
  cut_ = cut;
  gst_video_info_set_format(&out_, out_format_, guint(width), guint(height));
  WithRate(&out_, in);
  const bool scales = cut.width != width || cut.height != height;
  const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&in);
  if (scales && GST_VIDEO_INFO_IS_YUV(&in) && GST_VIDEO_INFO_N_PLANES(&in) > 1 &&
      format != out_format_) {
    gst_video_info_set_format(&scaled_info_, format, guint(width), guint(height));
    WithRate(&scaled_info_, in);
    GST_VIDEO_INFO_COLORIMETRY(&scaled_info_) = GST_VIDEO_INFO_COLORIMETRY(&in);
    GST_VIDEO_INFO_CHROMA_SITE(&scaled_info_) = GST_VIDEO_INFO_CHROMA_SITE(&in);
    scaler_ = gst_video_converter_new(&in_, &scaled_info_, ConverterConfig(cut));
    scaled_ = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&scaled_info_), nullptr);
    converter_ = gst_video_converter_new(&scaled_info_, &out_,
                                         ConverterConfig({0, 0, width, height}));
    if (!scaler_ || !scaled_ || !converter_)
      Reset();
    return converter_ != nullptr;
  }
  converter_ = gst_video_converter_new(&in_, &out_, ConverterConfig(cut));
  return converter_ != nullptr;
}

std::shared_ptr<Picture> PictureMaker::Make(GstSample* sample, int32_t width, int32_t height,
                                            const Crop& crop) {
  if (!sample || width <= 0 || height <= 0)
    return nullptr;
  GstVideoInfo in;
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  if (!caps || !buffer || !gst_video_info_from_caps(&in, caps) ||
      !Prepare(in, width, height,
               crop.InPixels(GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in))))
    return nullptr;
  auto picture = std::make_shared<Picture>();
  if (!Times(sample, &picture->start_ns, &picture->duration_ns))
    picture->start_ns = -1;
  picture->nominal_ns = FramePeriod(sample);
  picture->width = width;
  picture->height = height;
  picture->crop = crop;
  picture->pixels.resize(size_t(width) * size_t(height) * 4);
  GstVideoFrame src, dst;
  if (!gst_video_frame_map(&src, &in_, buffer, GST_MAP_READ))
    return nullptr;
  GstBuffer* out = gst_buffer_new_wrapped_full(GstMemoryFlags(0), picture->pixels.data(),
                                               picture->pixels.size(), 0, picture->pixels.size(),
                                               nullptr, nullptr);
  bool mapped = gst_video_frame_map(&dst, &out_, out, GST_MAP_WRITE);
  if (mapped && scaler_) {
    GstVideoFrame between;
    mapped = gst_video_frame_map(&between, &scaled_info_, scaled_, GST_MAP_READWRITE);
    if (mapped) {
      gst_video_converter_frame(scaler_, &src, &between);
      gst_video_converter_frame(converter_, &between, &dst);
      gst_video_frame_unmap(&between);
    }
    gst_video_frame_unmap(&dst);
  } else if (mapped) {
    gst_video_converter_frame(converter_, &src, &dst);
    gst_video_frame_unmap(&dst);
  }
  gst_video_frame_unmap(&src);
  gst_buffer_unref(out);
  return mapped ? picture : nullptr;
}

}  // namespace quorvex::media
