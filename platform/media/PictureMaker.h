#pragma once

// Turns decoded samples of any raw layout and size into Pictures of the size they are drawn,
// as I420 (PictureLayout): 12 bits a pixel, so that the cache holds 2.7 times the pictures of
// 32-bit ones, and scaling decoded YUV into YUV takes the converter's fast path. The window
// turns them into the display's layout while drawing. A crop is cut from the decoded picture at
// its full resolution before the one scaling, so that an enlarged part stays as sharp as the
// source. One converter is kept while the input layout, the crop and the output size stay the
// same. Not thread-safe: one maker per thread that converts.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>
#include <string>

#include "platform/media/Crop.h"
#include "platform/media/Picture.h"

namespace quorvex::media {

// How a Picture's pixels lie: I420 planes of its width and height as GStreamer lays them out
// (rows rounded up to 4 bytes), in the decoded picture's colorimetry, so that scaling needs no
// change of colours. The same on every side that makes or reads pictures.
GstVideoInfo PictureLayout(int32_t width, int32_t height, const std::string& colorimetry);

class PictureMaker {
 public:
  PictureMaker();
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
  bool Prepare(const GstVideoInfo& in, int32_t width, int32_t height, const Crop::Pixels& cut);

  GstVideoConverter* converter_ = nullptr;  // owned
  GstVideoInfo in_{};
  GstVideoInfo out_{};
  Crop::Pixels cut_{};  // of in_
  std::string colorimetry_;  // of out_
};

}  // namespace quorvex::media
