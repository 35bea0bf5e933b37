#pragma once

// Turns decoded samples of any raw layout and size into Pictures of the size they are drawn,
// in the display's 32-bit pixel layout. A crop is cut from the decoded picture at its full
// resolution before the one scaling, so that an enlarged part stays as sharp as the source. One
// converter is kept while the input layout, the crop and the output size stay the same. Not
// thread-safe: one maker per thread that converts.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>

#include "platform/media/Crop.h"
#include "platform/media/Picture.h"

namespace quorvex::media {

class PictureMaker {
 public:
  explicit PictureMaker(GstVideoFormat out_format = GST_VIDEO_FORMAT_BGRx);
  ~PictureMaker();
  PictureMaker(const PictureMaker&) = delete;
  PictureMaker& operator=(const PictureMaker&) = delete;

  // The part `crop` of the sample's picture scaled to `width` x `height`, stamped with the
  // stream time of its buffer. Null when the sample holds no mappable raw video or the size is
  // empty.
  std::shared_ptr<Picture> Make(GstSample* sample, int32_t width, int32_t height,
                                const Crop& crop = {});

  // Stream time of a sample's buffer start and its duration (0 when unknown); false without
  // a time stamp.
  static bool Times(GstSample* sample, int64_t* start_ns, int64_t* duration_ns);
  // One frame at the stream's fixed rate (from its caps); 0 for a variable rate.
  static int64_t FramePeriod(GstSample* sample);

 private:
  void Reset();
  bool Prepare(const GstVideoInfo& in, int32_t width, int32_t height, const Crop::Pixels& cut);

  GstVideoFormat out_format_;
  // Scaling and the change of layout are two passes when the decoder's layout is YUV: the
  // scaling of YUV planes and the change of layout at one size each have a fast path, where
  // one pass that does both works line by line in a generic layout (three times the time).
  GstVideoConverter* scaler_ = nullptr;     // owned; null when one pass does it all
  GstVideoConverter* converter_ = nullptr;  // owned
  GstBuffer* scaled_ = nullptr;             // owned; the scaler's output, reused
  GstVideoInfo in_{};
  GstVideoInfo scaled_info_{};
  GstVideoInfo out_{};
  Crop::Pixels cut_{};  // of in_
};

}  // namespace quorvex::media
