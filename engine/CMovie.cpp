#include "engine/CMovie.h"

#include <gst/gst.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "audio/gst/PitchShiftElement.h"
#include "engine/Clock.h"
#include "engine/Log.h"
#include "engine/MovieUtils.h"
#include "platform/ipc/Siblings.h"

namespace quorvex {
namespace {

using media::E_INVALIDARG;
using media::E_NOTIMPL;
using media::E_POINTER;
using media::E_UNEXPECTED;
using media::HRESULT;
using media::S_OK;

constexpr char kPitchFilterFactory[] = "quorvexpitchshift";
constexpr char kPitchFilterName[] = "PitchShift filter";
constexpr char kClockName[] = "myrefclock";
constexpr int32_t kSilentVolume = -10000;
using media::kNsPerUnit;
// The filter stretches by 1/rate in whole numbers, and the clock divides by the rate: rates
// beyond these would make nonsense of both.
constexpr double kSlowestRate = 1.0 / 64;
constexpr double kFastestRate = 64.0;

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate names no file
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A time of the graph as the channel carries it: 100 ns units, E_FAIL when there is none.
HRESULT ReplyUnits(std::optional<int64_t> ns, int64_t* units) {
  if (!units)
    return E_POINTER;
  if (!ns)
    return media::E_FAIL;
  *units = media::UnitsFromNs(*ns);
  return S_OK;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum))
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return sum;
}

// A position in 100 ns units stands for the whole 100 ns from there: picture times in ns are
// rarely whole units, and a picture that starts within the unit must count as reached, so
// that a position read back (truncated to units) seeks to the picture it was read at.
int64_t SeekTargetNs(int64_t units) {
  // Saturates: a target beyond any stream (a movie of unknown length) must not wrap around.
  return SaturatingAdd(media::NsFromUnits(units), kNsPerUnit - 1);
}

// The graph's events as the channel's event interface numbered them.
int32_t EventCode(const media::GraphEvent& event) {
  switch (event.kind) {
    case media::GraphEvent::Kind::kEndOfStream:
      return media::EC_COMPLETE;
    case media::GraphEvent::Kind::kError:
      return media::EC_ERRORABORT;
  }
  return media::EC_ERRORABORT;
}

// The errors that stopped the open, in the decoders' own words.
QString WhyNotOpened(media::Graph& graph) {
  // The first error is the cause; those after it are what it brought down.
  QString cause;
  while (const std::optional<media::GraphEvent> event = graph.events().Take(0)) {
    if (event->kind == media::GraphEvent::Kind::kError && cause.isEmpty())
      cause = QString::fromStdString(event->text);
  }
  if (!cause.isEmpty())
    return cause;
  return graph.has_video() || graph.has_audio()
             ? QStringLiteral("it did not get ready within the open's time limit")
             : QStringLiteral("it holds neither pictures nor sound");
}

}  // namespace

CMovie::CMovie() = default;

CMovie::~CMovie() {
  if (graph_)
    graph_->Stop();
  clock_ = nullptr;
  pitch_filter_ = nullptr;
  graph_.reset();  // the clock and the filter go with the graph
}

bool CMovie::InitializeGraph(const std::u16string& file_name, int32_t owner_window) {
  const std::string path = ToUtf8(file_name);
  const auto failed = [&path](const QString& why) {
    qCWarning(EngineLog).noquote() << "cannot open" << QString::fromStdString(path) + ":" << why;
    return false;
  };
  if (graph_)
    return failed(QStringLiteral("this server has opened a movie already"));
  graph_ = std::make_unique<media::Graph>();

  // In the graph before the file is opened, so that decoded audio goes through it.
  RegisterPitchShiftElement();
  GstElement* made = gst_element_factory_make(kPitchFilterFactory, nullptr);
  if (!made)
    return failed(QStringLiteral("the pitch filter element is not registered"));
  media::GstRef<GstElement> filter(GST_ELEMENT(gst_object_ref_sink(made)));
  if (!graph_->AddFilter(filter.get(), kPitchFilterName))
    return failed(QStringLiteral("the pitch filter cannot join the graph"));
  pitch_filter_ = filter.get();
  if (!graph_->Open(path))
    return failed(WhyNotOpened(*graph_));

  media::GstRef<GstClock> clock = Clock::Create(kClockName);
  graph_->UseClock(clock.get());
  clock_ = Clock::From(clock.get());
  // A graph without a picture fails here: it has no video window.
  if (!graph_->SetOwner(owner_window))
    return failed(graph_->has_video()
                      ? QStringLiteral("the window %1 to draw into is gone").arg(owner_window)
                      : QStringLiteral("it has no picture"));
  return true;
}

void CMovie::SetVideoSize(int32_t width, int32_t height) {
  int32_t x = 0, y = 0;
  GetAspectRatio(x, y);
  int32_t w = 0, h = 0;
  MovieUtils::CalcActualVideoSize(width, height, x, y, w, h);
  graph_->SetVideoArea(0, 0, w, h);
}

void CMovie::GraphNotifyProc() {
  while (const std::optional<media::GraphEvent> event = graph_->events().Take(0)) {
    if (event->kind == media::GraphEvent::Kind::kError)
      qCWarning(EngineLog).noquote() << "playing failed:" << QString::fromStdString(event->text);
    if (EventCode(*event) == media::EC_COMPLETE)
      Pause();
  }
}

void CMovie::SetRate(double rate) {
  // The clock cannot run backwards and the filter's factor is 1/rate: only a positive finite
  // rate within reason means anything.
  if (!(rate >= kSlowestRate && rate <= kFastestRate))
    return;
  const double current = clock_->GetRate();
  if (rate == current)
    return;
  // Never a moment with the audio stretched less than the clock is slowed: the sink would run
  // out of sound.
  if (rate < current) {
    clock_->SetRate(rate);
    SetFilterRate(rate);
  } else {
    SetFilterRate(rate);
    clock_->SetRate(rate);
  }
  graph_->RateChanged();
}

double CMovie::GetRate() {
  return clock_->GetRate();
}

void CMovie::SetFilterRate(double rate) {
  g_object_set(pitch_filter_, "rate", rate, nullptr);
}

void CMovie::Pause() {
  ShareCacheBudget();
  graph_->Pause();
  playing_ = false;
  stopped_ = false;
}

// All movie servers of one user interface keep their pictures within one budget: the smaller
// of 128 MiB and an eighth of the memory, in equal shares. Each server counts its siblings when
// it pauses (not more often than every 2 s: it reads /proc).
void CMovie::ShareCacheBudget() {
  constexpr size_t kMostBytes = size_t(128) << 20;
  const auto now = std::chrono::steady_clock::now();
  if (budget_counted_ && now - *budget_counted_ < std::chrono::seconds(2))
    return;
  budget_counted_ = now;
  const size_t memory = ipc::PhysicalMemoryBytes();
  const size_t budget = memory ? std::min(kMostBytes, memory / 8) : kMostBytes;
  // The servers' switch: they are started as `quorvex /s <id>`.
  graph_->ShareCache(budget / size_t(ipc::CountSiblings("/s")));
}

void CMovie::Run() {
  graph_->Play();
  playing_ = true;
  stopped_ = false;
}

void CMovie::Stop() {
  graph_->Stop();
  playing_ = false;
  stopped_ = true;
}

bool CMovie::IsPlaying() {
  return playing_;
}

void CMovie::EnablePitchShift(bool enable) {
  g_object_set(pitch_filter_, "pitch-correction", gboolean(enable), nullptr);
}

// The graph steps in the stream's own pictures: exact where the rate varies, pictures were
// dropped or the time scale holds no whole number of 100 ns units.
bool CMovie::StepFrames(int32_t frames) {
  if (frames == 0)
    return false;
  playing_ = false;
  return graph_->StepPictures(frames);
}

HRESULT CMovie::SetZoom(int32_t left, int32_t top, int32_t width, int32_t height) {
  constexpr double kUnits = kZoomUnits;
  return graph_->SetZoom({left / kUnits, top / kUnits, width / kUnits, height / kUnits})
             ? S_OK
             : media::E_FAIL;
}

void CMovie::GetAspectRatio(int32_t& x, int32_t& y) {
  x = 4;
  y = 3;
  int32_t px = 0, py = 0;
  if (graph_->AspectRatio(&px, &py)) {
    x = px;
    y = py;
  }
}

HRESULT CMovie::SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance) {
  graph_->events().SetNotifyWindow(hwnd, message, instance);
  return S_OK;
}

HRESULT CMovie::GetDuration(int64_t* units) {
  return ReplyUnits(graph_->Duration(), units);
}

HRESULT CMovie::GetCurrentPosition(int64_t* units) {
  return ReplyUnits(graph_->Position(), units);
}

HRESULT CMovie::SetPositions(int64_t* current, uint32_t current_flags, int64_t* stop,
                             uint32_t stop_flags) {
  using namespace media;
  const uint32_t current_mode = current_flags & AM_SEEKING_PositioningBitsMask;
  const uint32_t stop_mode = stop_flags & AM_SEEKING_PositioningBitsMask;
  if ((current_mode != AM_SEEKING_NoPositioning && !current) ||
      (stop_mode != AM_SEEKING_NoPositioning && !stop))
    return E_POINTER;
  if (current_mode == AM_SEEKING_IncrementalPositioning)
    return E_INVALIDARG;

  int64_t now = 0;
  GetCurrentPosition(&now);
  int64_t duration = -1;
  GetDuration(&duration);
  int64_t target = now;
  if (current_mode == AM_SEEKING_AbsolutePositioning)
    target = *current;
  else if (current_mode == AM_SEEKING_RelativePositioning)
    target = SaturatingAdd(now, *current);
  target = std::max<int64_t>(target, 0);
  if (duration >= 0)
    target = std::min(target, duration);

  const std::optional<int64_t> old_stop = graph_->stop();
  int64_t end = old_stop ? media::UnitsFromNs(*old_stop) : -1;
  const int64_t old_end = end >= 0 ? end : duration;
  if (stop_mode == AM_SEEKING_AbsolutePositioning)
    end = *stop;
  else if (stop_mode == AM_SEEKING_RelativePositioning)
    end = SaturatingAdd(old_end, *stop);
  else if (stop_mode == AM_SEEKING_IncrementalPositioning)
    end = SaturatingAdd(target, *stop);
  if (end >= 0 && duration >= 0 && end >= duration)
    end = -1;  // the end of the movie, wherever that turns out to be
  end = end < 0 ? -1 : std::max(end, target);

  if (current_mode == AM_SEEKING_NoPositioning && stop_mode == AM_SEEKING_NoPositioning)
    return S_OK;
  const std::optional<int64_t> stop_ns =
      end < 0 ? std::nullopt : std::optional<int64_t>(SeekTargetNs(end));
  const std::optional<media::Graph::Shown> before = graph_->shown();
  bool ok = graph_->Seek(SeekTargetNs(target), stop_ns,
                         (current_flags & AM_SEEKING_SeekToKeyFrame) != 0);
  // The end itself stays the end, where the container's length may reach beyond the last
  // picture.
  if (current_mode != AM_SEEKING_NoPositioning && !playing_ && !stopped_ && target != duration)
    ok = KeptAtShownPicture(ok, before, SeekTargetNs(target), stop_ns);
  if (current && (current_flags & AM_SEEKING_ReturnTime) && GetCurrentPosition(current) != S_OK)
    *current = target;
  if (stop && (stop_flags & AM_SEEKING_ReturnTime))
    *stop = end >= 0 ? end : std::max<int64_t>(duration, 0);
  return ok ? S_OK : E_FAIL;
}

// A paused seek that failed, or that showed no new picture though its target lies beyond the
// one shown (a file cut short, a decoder error), leaves the movie where its window stands: the
// position becomes the start of the picture shown, so that a lap taken now stores the time the
// user sees. False then. (A target just before the picture shown is how a step back probes:
// that seek reached what lies there.)
bool CMovie::KeptAtShownPicture(bool sought, const std::optional<media::Graph::Shown>& before,
                                int64_t target_ns, std::optional<int64_t> stop_ns) {
  const std::optional<media::Graph::Shown> after = graph_->shown();
  if (!after)
    return sought;  // nothing shown: nothing to follow
  const bool moved = !before || before->start_ns != after->start_ns;
  if (sought && (moved || target_ns < after->stop_ns()))
    return true;
  graph_->Seek(after->start_ns, stop_ns, false);
  return false;
}

HRESULT CMovie::put_Volume(int32_t hundredths_db) {
  if (hundredths_db > 0 || hundredths_db < kSilentVolume)
    return E_INVALIDARG;
  const double linear =
      hundredths_db == kSilentVolume ? 0.0 : std::pow(10.0, hundredths_db / 2000.0);
  if (!graph_->SetVolume(linear))
    return E_NOTIMPL;
  volume_ = hundredths_db;
  return S_OK;
}

HRESULT CMovie::get_Volume(int32_t* hundredths_db) {
  if (!hundredths_db)
    return E_POINTER;
  if (!graph_->has_audio())
    return E_NOTIMPL;
  *hundredths_db = volume_;
  return S_OK;
}

}  // namespace quorvex
