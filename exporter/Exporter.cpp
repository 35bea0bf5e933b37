#include "exporter/Exporter.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "exporter/ExportPlan.h"
#include "exporter/MovieReaders.h"
#include "laps/LapFile.h"

namespace quorvex::exporter {

namespace {

constexpr GstClockTime kFinishTimeout = 120 * GST_SECOND;
constexpr double kLongestSeconds = 1e7;

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// The temporary file beside the target, removed unless it has been renamed over the target.
class TempTarget {
 public:
  ~TempTarget() {
    if (!path_.empty())
      unlink(path_.c_str());
  }

  bool Create(const std::string& target, std::string& error) {
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      error = "cannot write " + Quoted(target) + ": it is a folder";
      return false;
    }
    const QFileInfo info(QString::fromLocal8Bit(target.c_str()));
    const std::string name = "." + info.fileName().toLocal8Bit().toStdString() + ".XXXXXX";
    std::string pattern = info.path().toLocal8Bit().toStdString() + "/" + name;
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
      error = "cannot write " + Quoted(target) + ": " + std::strerror(errno);
      return false;
    }
    // What an ordinary new file gets, not mkstemp's owner-only mode.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    path_ = pattern;
    target_ = target;
    return true;
  }

  const std::string& path() const { return path_; }

  bool Commit(std::string& error) {
    if (rename(path_.c_str(), target_.c_str()) != 0) {
      error = "cannot write " + Quoted(target_) + ": " + std::strerror(errno);
      return false;
    }
    path_.clear();
    return true;
  }

 private:
  std::string path_;
  std::string target_;
};

struct Movie {
  std::string path;
  QString file_name;
  PictureReader reader;
  Rect tile;
  int64_t base_ns = 0;
  double end_seconds = -1.0;  // the movie's end after its base; negative when unknown
};

// What the text over one tile needs; read on that tile's streaming thread.
struct TileText {
  const laps::LapLists* lists = nullptr;
  int movie = 0;
  int base_movie = 0;
  QString file_name;
  double end_seconds = -1.0;
  double rate = 1.0;
  QLocale locale;
  GstElement* overlay = nullptr;
};

// The text follows each picture's output time: set just before the overlay draws it.
GstPadProbeReturn OnTilePicture(GstPad*, GstPadProbeInfo* info, gpointer data) {
  const auto* text = static_cast<const TileText*>(data);
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  const double seconds = double(GST_BUFFER_PTS(buffer)) / GST_SECOND;
  const QString markup = TileMarkup(*text->lists, text->movie, text->base_movie, text->file_name,
                                    text->end_seconds, text->rate, seconds, text->locale);
  g_object_set(text->overlay, "text", markup.toUtf8().constData(), nullptr);
  return GST_PAD_PROBE_OK;
}

GstElement* Add(GstElement* pipeline, const char* factory, std::string& missing) {
  GstElement* e = gst_element_factory_make(factory, nullptr);
  if (e == nullptr) {
    missing += missing.empty() ? factory : std::string(", ") + factory;
    return nullptr;
  }
  gst_bin_add(GST_BIN(pipeline), e);
  return e;
}

// Copies `tile` (an I420 picture of rect's size) into the I420 picture `out` at rect's place.
// Offsets and sides are even, so the half-size chroma planes line up.
void CopyTile(const GstVideoFrame& tile, GstVideoFrame& out, const Rect& rect) {
  for (int plane = 0; plane < 3; ++plane) {
    const int shift = plane == 0 ? 0 : 1;
    const int rows = rect.height >> shift;
    const int bytes = rect.width >> shift;
    const int in_stride = GST_VIDEO_FRAME_PLANE_STRIDE(&tile, plane);
    const int out_stride = GST_VIDEO_FRAME_PLANE_STRIDE(&out, plane);
    const auto* from = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&tile, plane));
    auto* to = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&out, plane)) +
               (rect.y >> shift) * out_stride + (rect.x >> shift);
    for (int row = 0; row < rows; ++row)
      std::memcpy(to + row * out_stride, from + row * in_stride, size_t(bytes));
  }
}

// appsrc (the tiles, copied here) > textoverlay per tile > queue > x264enc > mp4mux > filesink,
// and appsrc > audioconvert > AAC encoder > queue > mp4mux for the sound. One source of
// pictures: the compositor's pads negotiate each on its own thread, and with several tiles of
// different sizes that negotiation failed now and then ("not-negotiated").
class Encoder {
 public:
  ~Encoder() {
    if (pipeline_) {
      gst_element_set_state(pipeline_, GST_STATE_NULL);
      gst_object_unref(bus_);
      gst_object_unref(pipeline_);
    }
  }

  bool Build(const ExportOptions& options, const std::vector<std::unique_ptr<Movie>>& movies,
             const laps::LapLists& lists, GstCaps* sound_caps, const std::string& location,
             std::string& error) {
    pipeline_ = gst_pipeline_new("export");
    bus_ = gst_element_get_bus(pipeline_);
    std::string missing;
    GstElement* source = Add(pipeline_, "appsrc", missing);
    std::vector<GstElement*> overlays;
    for (size_t m = 0; m < movies.size(); ++m)
      overlays.push_back(Add(pipeline_, "textoverlay", missing));
    GstElement* queue = Add(pipeline_, "queue", missing);
    GstElement* h264 = Add(pipeline_, "x264enc", missing);
    GstElement* mux = Add(pipeline_, "mp4mux", missing);
    GstElement* file = Add(pipeline_, "filesink", missing);
    if (!missing.empty()) {
      error = "GStreamer elements are missing: " + missing;
      return false;
    }
    fps_ = options.fps;
    GstCaps* caps = gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, options.width,
        "height", G_TYPE_INT, options.height, "framerate", GST_TYPE_FRACTION, options.fps, 1,
        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    gst_video_info_from_caps(&info_, caps);
    // Not blocking: a push that waits inside the source would wait for ever once the encoder
    // has failed; PushPicture waits itself, watching for failures.
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "block", FALSE, "max-bytes",
                 guint64(0), nullptr);
    gst_caps_unref(caps);
    // Four 1080p decodings already take most of two cores; "superfast" keeps the encoder to
    // about a third of the work and still uses CABAC and B-frames.
    gst_util_set_object_arg(G_OBJECT(h264), "speed-preset", "superfast");
    gst_util_set_object_arg(G_OBJECT(h264), "pass", "qual");
    g_object_set(h264, "quantizer", 20u, "key-int-max", guint(options.fps * 2), nullptr);
    g_object_set(file, "location", location.c_str(), nullptr);
    GstElement* previous = source;
    for (size_t m = 0; m < movies.size(); ++m) {
      SetUpOverlay(overlays[m], int(m), *movies[m], options, lists);
      if (!gst_element_link(previous, overlays[m])) {
        error = "the text overlay cannot be linked";
        return false;
      }
      previous = overlays[m];
    }
    if (!gst_element_link_many(previous, queue, h264, mux, file, nullptr)) {
      error = "the encoder cannot be linked";
      return false;
    }
    picture_source_ = source;
    for (const auto& movie : movies)
      tiles_.push_back(movie->tile);
    if (sound_caps && !AddSound(sound_caps, mux, error))
      return false;
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
      if (!Failed(error))
        error = "the encoder does not start";
      return false;
    }
    return true;
  }

  // Output picture `index` from one picture per tile, in the order of the movies.
  bool PushPicture(const std::vector<GstBuffer*>& pictures, int64_t index, std::string& error) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, info_.size, nullptr);
    GstVideoFrame out;
    if (!gst_video_frame_map(&out, &info_, buffer, GST_MAP_WRITE)) {
      gst_buffer_unref(buffer);
      return false;
    }
    // Black around the tiles: Y 16, U and V 128.
    for (int plane = 0; plane < 3; ++plane) {
      std::memset(GST_VIDEO_FRAME_PLANE_DATA(&out, plane), plane == 0 ? 16 : 128,
                  size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&out, plane)) *
                      GST_VIDEO_FRAME_COMP_HEIGHT(&out, plane));
    }
    bool copied = true;
    for (size_t m = 0; m < pictures.size(); ++m) {
      GstVideoInfo tile_info;
      gst_video_info_set_format(&tile_info, GST_VIDEO_FORMAT_I420, guint(tiles_[m].width),
                                guint(tiles_[m].height));
      GstVideoFrame tile;
      if (!gst_video_frame_map(&tile, &tile_info, pictures[m], GST_MAP_READ)) {
        copied = false;
        continue;
      }
      CopyTile(tile, out, tiles_[m]);
      gst_video_frame_unmap(&tile);
    }
    gst_video_frame_unmap(&out);
    if (!copied) {
      gst_buffer_unref(buffer);
      return false;
    }
    const GstClockTime start = gst_util_uint64_scale(index, GST_SECOND, fps_);
    GST_BUFFER_PTS(buffer) = start;
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(index + 1, GST_SECOND, fps_) - start;
    if (!WaitForRoom(error)) {
      gst_buffer_unref(buffer);
      return false;
    }
    return gst_app_src_push_buffer(GST_APP_SRC(picture_source_), buffer) == GST_FLOW_OK;
  }

  bool PushSound(const std::vector<int16_t>& samples, int64_t first_frame, int channels,
                 int sample_rate) {
    const gsize bytes = samples.size() * sizeof(int16_t);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
    gst_buffer_fill(buffer, 0, samples.data(), bytes);
    const int64_t frames = int64_t(samples.size()) / channels;
    const GstClockTime start = gst_util_uint64_scale(first_frame, GST_SECOND, sample_rate);
    GST_BUFFER_PTS(buffer) = start;
    GST_BUFFER_DURATION(buffer) =
        gst_util_uint64_scale(first_frame + frames, GST_SECOND, sample_rate) - start;
    return gst_app_src_push_buffer(GST_APP_SRC(sound_source_), buffer) == GST_FLOW_OK;
  }

  // Ends every input and waits until the file is complete.
  bool Finish(std::string& error) {
    gst_app_src_end_of_stream(GST_APP_SRC(picture_source_));
    if (sound_source_)
      gst_app_src_end_of_stream(GST_APP_SRC(sound_source_));
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus_, kFinishTimeout, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message == nullptr) {
      error = "the encoder does not finish";
      return false;
    }
    const bool ended = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (!ended)
      error = ErrorText(message);
    gst_message_unref(message);
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    return ended;
  }

  bool Failed(std::string& error) { return PopError(bus_, error); }

 private:
  // Two pictures ahead of the overlays at most, so that memory stays small.
  bool WaitForRoom(std::string& error) {
    GstClockTime waited = 0;
    while (gst_app_src_get_current_level_bytes(GST_APP_SRC(picture_source_)) >= 2 * info_.size) {
      if (Failed(error))
        return false;
      if (waited > kFinishTimeout) {
        error = "the encoder stalled";
        return false;
      }
      g_usleep(1000);
      waited += GST_MSECOND;
    }
    return true;
  }

  // The overlay writes tile m's text at the tile's top left corner, in a size that suits it.
  void SetUpOverlay(GstElement* overlay, int m, const Movie& movie, const ExportOptions& options,
                    const laps::LapLists& lists) {
    const int font_px = std::max(10, std::min(movie.tile.height / 16, movie.tile.width / 28));
    const std::string font = "Sans " + std::to_string(font_px) + "px";
    g_object_set(overlay, "font-desc", font.c_str(), "auto-resize", FALSE, "shaded-background",
                 TRUE, "wait-text", FALSE, "deltax", movie.tile.x, "deltay", movie.tile.y,
                 nullptr);
    gst_util_set_object_arg(G_OBJECT(overlay), "halignment", "left");
    gst_util_set_object_arg(G_OBJECT(overlay), "valignment", "top");
    gst_util_set_object_arg(G_OBJECT(overlay), "line-alignment", "left");
    auto text = std::make_unique<TileText>();
    text->lists = &lists;
    text->movie = m;
    text->base_movie = options.base_movie;
    text->file_name = movie.file_name;
    text->end_seconds = movie.end_seconds;
    text->rate = options.rate;
    text->overlay = overlay;
    GstPad* video_in = gst_element_get_static_pad(overlay, "video_sink");
    gst_pad_add_probe(video_in, GST_PAD_PROBE_TYPE_BUFFER, OnTilePicture, text.get(), nullptr);
    gst_object_unref(video_in);
    texts_.push_back(std::move(text));
  }

  bool AddSound(GstCaps* caps, GstElement* mux, std::string& error) {
    std::string missing;
    GstElement* source = Add(pipeline_, "appsrc", missing);
    GstElement* convert = Add(pipeline_, "audioconvert", missing);
    GstElement* queue = Add(pipeline_, "queue", missing);
    GstElement* aac = gst_element_factory_make("avenc_aac", nullptr);
    if (aac == nullptr)
      aac = gst_element_factory_make("voaacenc", nullptr);
    if (aac == nullptr)
      missing += " avenc_aac or voaacenc";
    if (!missing.empty()) {
      error = "GStreamer elements are missing: " + missing;
      return false;
    }
    gst_bin_add(GST_BIN(pipeline_), aac);
    // Unbounded: the sound runs ahead of the pictures only by the video encoder's delay, and a
    // bound here could stop the one thread that feeds both while the muxer waits for pictures.
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "block", FALSE, "max-bytes",
                 guint64(0), nullptr);
    if (!gst_element_link_many(source, convert, aac, queue, mux, nullptr)) {
      error = "the sound cannot be linked to the encoder";
      return false;
    }
    sound_source_ = source;
    return true;
  }

  GstElement* pipeline_ = nullptr;
  GstBus* bus_ = nullptr;
  int fps_ = 30;
  GstVideoInfo info_;
  GstElement* picture_source_ = nullptr;
  std::vector<Rect> tiles_;
  GstElement* sound_source_ = nullptr;
  std::vector<std::unique_ptr<TileText>> texts_;
};

// Opens every movie, arranges the tiles and starts their decoding at the bases.
bool OpenMovies(const laps::LapFile& file, const ExportOptions& options,
                std::vector<std::unique_ptr<Movie>>& movies, std::string& error) {
  for (int m = 0; m < file.file_names.size(); ++m) {
    auto movie = std::make_unique<Movie>();
    movie->path = file.file_names[m].toLocal8Bit().toStdString();
    movie->file_name = QFileInfo(file.file_names[m]).fileName();
    movie->base_ns = llround(file.time_list[m][0] * GST_SECOND);
    std::string why;
    if (!movie->reader.Open(movie->path, why)) {
      error = "cannot open movie No." + std::to_string(m + 1) + " " + Quoted(movie->path) + ": " +
              why;
      return false;
    }
    if (movie->reader.duration_seconds() >= 0)
      movie->end_seconds = movie->reader.duration_seconds() - file.time_list[m][0];
    movies.push_back(std::move(movie));
  }
  const GridShape grid = ChooseGrid(int(movies.size()), options.width, options.height,
                                    movies[0]->reader.aspect_x(), movies[0]->reader.aspect_y());
  for (size_t m = 0; m < movies.size(); ++m) {
    Movie& movie = *movies[m];
    movie.tile = FitTile(CellRect(grid, options.width, options.height, int(m)),
                         movie.reader.aspect_x(), movie.reader.aspect_y());
    for (const ExportOptions::Zoom& zoom : options.zooms) {
      if (zoom.movie == int(m))
        movie.reader.SetCrop(zoom.left, zoom.top, zoom.width, zoom.height);
    }
    std::string why;
    if (!movie.reader.Start(movie.tile.width, movie.tile.height, movie.base_ns, why)) {
      error = "cannot decode movie No." + std::to_string(m + 1) + " " + Quoted(movie.path) +
              ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string RunExport(const ExportOptions& options, const ProgressReport& progress,
                      const std::atomic<bool>& cancel) {
  const laps::LapFileReadResult read =
      laps::ReadLapFile(QString::fromLocal8Bit(options.lap_file_path.c_str()));
  if (!read.file)
    return "cannot load the lap file " + Quoted(options.lap_file_path) + ": " +
           read.error.toStdString();
  const laps::LapFile& file = *read.file;
  const int count = int(file.file_names.size());
  // Positions beyond a few months cannot come from a movie; they would only overflow the
  // nanosecond times below.
  for (const std::vector<double>& list : file.time_list) {
    for (double seconds : list) {
      if (!(std::fabs(seconds) < kLongestSeconds))
        return "cannot use the lap file " + Quoted(options.lap_file_path) +
               ": a position is out of range";
    }
  }
  const std::string has = ": the lap file has " + std::to_string(count) + " movie" +
                          (count == 1 ? "" : "s");
  if (options.base_movie >= count)
    return "--base " + std::to_string(options.base_movie + 1) + has;
  const std::optional<int> sound_movie = options.SoundMovie();
  if (sound_movie && *sound_movie >= count)
    return "--audio " + std::to_string(*sound_movie + 1) + has;
  TempTarget target;
  std::string error;
  if (!target.Create(options.output_path, error))
    return error;
  std::vector<std::unique_ptr<Movie>> movies;
  if (!OpenMovies(file, options, movies, error))
    return error;
  std::vector<double> durations;
  for (const auto& movie : movies)
    durations.push_back(movie->reader.duration_seconds());
  const int64_t frames =
      OutputFrameCount(ExportMovieSeconds(file.time_list, durations, options.to_end), options.rate,
                       options.fps);
  if (frames <= 0)
    return "nothing to export: every base is at or past its movie's end";
  if (frames / options.fps > int64_t(kLongestSeconds))
    return "the movie would be too long";
  SoundReader sound;
  bool with_sound = false;
  if (sound_movie) {
    const Movie& source = *movies[*sound_movie];
    with_sound = sound.Open(source.path, source.base_ns, options.rate, error);
    if (!with_sound && !error.empty())
      return "cannot decode the sound of No." + std::to_string(*sound_movie + 1) + " " +
             Quoted(source.path) + ": " + error;
    if (!with_sound && progress)
      std::fprintf(stderr, "quorvex --export: No.%d has no sound; the movie is written without\n",
                   *sound_movie + 1);
  }
  Encoder encoder;
  if (!encoder.Build(options, movies, file.time_list, with_sound ? sound.caps() : nullptr,
                     target.path(), error))
    return "cannot encode: " + error;
  // The rates are 1/d for whole d: positions are whole nanoseconds of picture index / (fps d).
  const int64_t slowdown = llround(1.0 / options.rate);
  const double total_seconds = double(frames) / options.fps;
  int64_t sound_frames = 0;
  std::vector<int16_t> samples;
  std::vector<GstBuffer*> pictures(movies.size());
  for (int64_t k = 0; k < frames; ++k) {
    if (cancel.load())
      return "cancelled";
    if (encoder.Failed(error))
      return "cannot encode: " + error;
    const int64_t advance_ns = gst_util_uint64_scale(k, GST_SECOND, guint64(options.fps) * slowdown);
    for (size_t m = 0; m < movies.size(); ++m) {
      pictures[m] = movies[m]->reader.PictureAt(movies[m]->base_ns + advance_ns, error);
      if (pictures[m] == nullptr)
        return "cannot decode movie No." + std::to_string(m + 1) + ": " + error;
    }
    if (!encoder.PushPicture(pictures, k, error)) {
      return "cannot encode: " + (error.empty() ? std::string("a picture was refused") : error);
    }
    if (with_sound) {
      const int64_t until = gst_util_uint64_scale(k + 1, sound.sample_rate(), options.fps);
      samples.clear();
      if (!sound.Read(until - sound_frames, samples, error))
        return "cannot decode the sound: " + error;
      if (!samples.empty() &&
          !encoder.PushSound(samples, sound_frames, sound.channels(), sound.sample_rate()))
        return "cannot encode the sound";
      sound_frames = until;
    }
    if (progress && ((k + 1) % options.fps == 0 || k + 1 == frames))
      progress(double(k + 1) / options.fps, total_seconds);
  }
  if (!encoder.Finish(error))
    return "cannot encode: " + error;
  if (!target.Commit(error))
    return error;
  return {};
}

namespace {

std::atomic<bool> g_cancel{false};

extern "C" void OnCancelSignal(int) {
  g_cancel.store(true);
}

}  // namespace

int ExportMain(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help") {
      std::fputs(ExportUsage().c_str(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
  const ParseResult parsed = ParseExportArguments(args);
  if (!parsed.options) {
    std::fprintf(stderr, "quorvex --export: %s\n%s", parsed.error.c_str(), ExportUsage().c_str());
    return 2;
  }
  GError* init_error = nullptr;
  if (!gst_init_check(nullptr, nullptr, &init_error)) {
    std::fprintf(stderr, "quorvex --export: GStreamer does not start: %s\n",
                 init_error ? init_error->message : "unknown error");
    g_clear_error(&init_error);
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnCancelSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const ExportOptions& options = *parsed.options;
  const auto report = [](double written, double total) {
    std::fprintf(stderr, "quorvex --export: %.1f of %.1f s (%d%%)\n", written, total,
                 int(total > 0 ? 100.0 * written / total : 100.0));
  };
  const std::string error = RunExport(options, report, g_cancel);
  if (!error.empty()) {
    std::fprintf(stderr, "quorvex --export: %s; nothing was written to \"%s\"\n", error.c_str(),
                 options.output_path.c_str());
    return 1;
  }
  std::fprintf(stderr, "quorvex --export: wrote \"%s\"\n", options.output_path.c_str());
  return 0;
}

}  // namespace quorvex::exporter
