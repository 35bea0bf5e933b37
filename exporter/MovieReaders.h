#pragma once

// The two decodings an export reads from: the pictures of one movie, scaled to its tile and
// held from one output picture to the next, and the sound of one movie through the player's
// pitch filter. Each runs its own pipeline whose streaming threads decode ahead into an
// application sink (a few pictures or buffers at most); the calls below belong to the export's
// one thread. Failures are reported as a text for the user; nothing throws.

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvex::exporter {

// The text of an error message on a pipeline's bus.
std::string ErrorText(GstMessage* message);
// Takes the first error the pipeline posted since, if any, into `error`.
bool PopError(GstBus* bus, std::string& error);

struct PipelineParts;

class PictureReader {
 public:
  PictureReader();
  ~PictureReader();
  PictureReader(const PictureReader&) = delete;
  PictureReader& operator=(const PictureReader&) = delete;

  // Opens `path` and decodes its first picture. False (with `error`) when the file does not
  // open or has no picture.
  bool Open(const std::string& path, std::string& error);
  // The displayed aspect ratio (sample aspect and rotation applied), reduced.
  int aspect_x() const { return aspect_x_; }
  int aspect_y() const { return aspect_y_; }
  // Seconds; negative when the file does not say.
  double duration_seconds() const { return duration_seconds_; }

  // From Start on, shows only the part left, top, width, height of the upright picture
  // (fractions of it), cut from the decoded picture before it is scaled. After Open.
  void SetCrop(double left, double top, double width, double height);
  // Scales every picture to width x height and decodes from an accurate seek to `start_ns`.
  bool Start(int width, int height, int64_t start_ns, std::string& error);
  // The picture that an accurate seek to `position_ns` shows: the last one that starts at or
  // before it (the first picture when none does); after the end, the last picture. Positions
  // must not decrease from call to call. Borrowed: valid until the next call. Null on failure.
  GstBuffer* PictureAt(int64_t position_ns, std::string& error);

 private:
  bool PullNext(std::string& error);

  std::unique_ptr<PipelineParts> parts_;
  int aspect_x_ = 4;
  int aspect_y_ = 3;
  double duration_seconds_ = -1.0;
  int picture_width_ = 1, picture_height_ = 1;  // upright, as decoded
  int width_ = 0;
  int height_ = 0;
  GstSample* current_ = nullptr;  // the picture shown, owned
  GstSample* next_ = nullptr;     // the one after it, owned, when already pulled
  int64_t next_ns_ = 0;
  bool ended_ = false;
};

// Interleaved S16 sound of one movie from an accurate seek, slowed to a rate by the pitch
// filter with its pitch kept, and aligned so that frame 0 is the start position.
class SoundReader {
 public:
  SoundReader();
  ~SoundReader();
  SoundReader(const SoundReader&) = delete;
  SoundReader& operator=(const SoundReader&) = delete;

  // False with an empty `error` when the movie has no sound, with a text when it fails.
  bool Open(const std::string& path, int64_t start_ns, double rate, std::string& error);
  int sample_rate() const { return sample_rate_; }
  int channels() const { return channels_; }
  // The caps of what Read returns.
  GstCaps* caps() const { return caps_; }
  // Appends exactly `frames` frames to `out`; silence once the sound has ended. False on a
  // failure of the decoding.
  bool Read(int64_t frames, std::vector<int16_t>& out, std::string& error);

 private:
  std::unique_ptr<PipelineParts> parts_;
  GstCaps* caps_ = nullptr;
  int sample_rate_ = 0;
  int channels_ = 0;
  int64_t skip_frames_ = 0;           // the filter's delay, dropped from the start
  std::vector<int16_t> pending_;      // pulled but not yet read
  size_t pending_offset_ = 0;
  bool ended_ = false;
};

}  // namespace quorvex::exporter
