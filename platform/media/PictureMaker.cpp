#include "platform/media/PictureMaker.h"

#include <algorithm>

namespace quorvex::media {
namespace {

// Frame times are rounded to the container's time base: a picture shorter than the frame
// period by less than this is whole.
constexpr int64_t kClipToleranceNs = 1000;

}  // namespace

PictureMaker::PictureMaker() {
  gst_video_info_init(&in_);
  gst_video_info_init(&out_);
}

PictureMaker::~PictureMaker() {
  if (converter_)
    gst_video_converter_free(converter_);
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

GstVideoInfo PictureLayout(int32_t width, int32_t height, const std::string& colorimetry) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, guint(std::max(width, 1)),
                            guint(std::max(height, 1)));
  GstVideoColorimetry decoded;
  if (!colorimetry.empty() && gst_video_colorimetry_from_string(&decoded, colorimetry.c_str()))
    GST_VIDEO_INFO_COLORIMETRY(&info) = decoded;
  return info;
}

bool PictureMaker::Prepare(const GstVideoInfo& in, int32_t width, int32_t height,
                           const Crop::Pixels& cut) {
  if (converter_ && gst_video_info_is_equal(&in, &in_) && GST_VIDEO_INFO_WIDTH(&out_) == width &&
      GST_VIDEO_INFO_HEIGHT(&out_) == height && cut == cut_)
    return true;
  if (converter_)
    gst_video_converter_free(converter_);
  in_ = in;
  cut_ = cut;
  // RGB pictures have no YUV colorimetry to keep: the layout's own is used.
  char* colorimetry =
      GST_VIDEO_INFO_IS_YUV(&in) ? gst_video_colorimetry_to_string(&in.colorimetry) : nullptr;
  colorimetry_ = colorimetry ? colorimetry : "";
  g_free(colorimetry);
  out_ = PictureLayout(width, height, colorimetry_);
  GST_VIDEO_INFO_FPS_N(&out_) = GST_VIDEO_INFO_FPS_N(&in);  // the converter wants them equal
  GST_VIDEO_INFO_FPS_D(&out_) = GST_VIDEO_INFO_FPS_D(&in);
  // Bilinear, as the scaler of a video sink: a picture is drawn within a few milliseconds
  // while playing. The whole area is filled: it already has the picture's aspect ratio. The same
  // settings on every path keep a picture from the cache equal to a freshly decoded one.
  GstStructure* config = gst_structure_new(
      "config", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
      GST_VIDEO_RESAMPLER_METHOD_LINEAR, GST_VIDEO_CONVERTER_OPT_CHROMA_RESAMPLER_METHOD,
      GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
      GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE,
      GST_VIDEO_CONVERTER_OPT_THREADS, G_TYPE_UINT, 1u,
      // The crop is read from the decoded picture itself, so that it is scaled only once.
      GST_VIDEO_CONVERTER_OPT_SRC_X, G_TYPE_INT, cut.x, GST_VIDEO_CONVERTER_OPT_SRC_Y, G_TYPE_INT,
      cut.y, GST_VIDEO_CONVERTER_OPT_SRC_WIDTH, G_TYPE_INT, cut.width,
      GST_VIDEO_CONVERTER_OPT_SRC_HEIGHT, G_TYPE_INT, cut.height, nullptr);
  converter_ = gst_video_converter_new(&in_, &out_, config);
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
  picture->colorimetry = colorimetry_;
  picture->pixels.resize(GST_VIDEO_INFO_SIZE(&out_));
  GstVideoFrame src, dst;
  if (!gst_video_frame_map(&src, &in_, buffer, GST_MAP_READ))
    return nullptr;
  GstBuffer* out = gst_buffer_new_wrapped_full(GstMemoryFlags(0), picture->pixels.data(),
                                               picture->pixels.size(), 0, picture->pixels.size(),
                                               nullptr, nullptr);
  const bool mapped = gst_video_frame_map(&dst, &out_, out, GST_MAP_WRITE);
  if (mapped) {
    gst_video_converter_frame(converter_, &src, &dst);
    gst_video_frame_unmap(&dst);
  }
  gst_video_frame_unmap(&src);
  gst_buffer_unref(out);
  return mapped ? picture : nullptr;
}

}  // namespace quorvex::media
