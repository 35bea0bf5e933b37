#include "audio/gst/PitchShiftElement.h"

#include <gst/audio/audio.h>
#include <gst/base/gstbasetransform.h>

#include <climits>
#include <memory>

#include "audio/CPitchShiftFilter.h"
#include "audio/MediaSample.h"

namespace {

using quorvex::CPitchShiftFilter;
using quorvex::audio::ALLOCATOR_PROPERTIES;
using quorvex::audio::GrantingAllocator;
using quorvex::audio::HRESULT;
using quorvex::audio::MediaType;
using quorvex::audio::MemorySample;

constexpr char kFactoryName[] = "quorvexpitchshift";

// The element's C++ state, owned through the instance and deleted in finalize.
struct ElementState {
  // Created with the element; its rate and switch are the element's properties.
  std::unique_ptr<CPitchShiftFilter> filter = std::make_unique<CPitchShiftFilter>();

  // Streaming thread only (caps, events and buffers all arrive on it).
  GrantingAllocator output;  // takes what the filter asks of the output
  GstAudioInfo info{};
  bool configured = false;
  GstSegment segment{};  // the input's segment, stop included
  std::unique_ptr<uint8_t[]> scratch;
  int64_t scratch_bytes = 0;
};

}  // namespace

struct QuorvexPitchShift {
  GstBaseTransform parent;
  ElementState* state;
};

struct QuorvexPitchShiftClass {
  GstBaseTransformClass parent_class;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
G_DEFINE_TYPE(QuorvexPitchShift, quorvex_pitch_shift, GST_TYPE_BASE_TRANSFORM)
#pragma GCC diagnostic pop

namespace {

enum { PROP_0, PROP_RATE, PROP_PITCH_CORRECTION };

ElementState& StateOf(gpointer object) {
  return *reinterpret_cast<QuorvexPitchShift*>(object)->state;
}

GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(
        S16) ", layout = (string) "
             "interleaved, rate = (int) [ 1, MAX ], channels = (int) [ 1, 2 ]"));
GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(
        S16) ", layout = (string) "
             "interleaved, rate = (int) [ 1, MAX ], channels = (int) [ 1, 2 ]"));

// The input buffer's properties as a sample has them: times from PTS and DURATION (or the
// sample count), media times from the offsets.
void CopyProperties(GstBuffer* buffer, const GstAudioInfo& info, MemorySample* sample) {
  if (GST_BUFFER_PTS_IS_VALID(buffer)) {
    const int64_t start = int64_t(GST_BUFFER_PTS(buffer));
    int64_t duration = int64_t(GST_BUFFER_DURATION(buffer));
    if (!GST_BUFFER_DURATION_IS_VALID(buffer)) {
      const guint64 frames = gst_buffer_get_size(buffer) / guint(GST_AUDIO_INFO_BPF(&info));
      duration = int64_t(gst_util_uint64_scale_int(frames, GST_SECOND, GST_AUDIO_INFO_RATE(&info)));
    }
    const int64_t stop = start + duration;
    sample->SetTime(&start, &stop);
  }
  if (GST_BUFFER_OFFSET_IS_VALID(buffer) && GST_BUFFER_OFFSET_END_IS_VALID(buffer)) {
    const int64_t start = int64_t(GST_BUFFER_OFFSET(buffer));
    const int64_t stop = int64_t(GST_BUFFER_OFFSET_END(buffer));
    sample->SetMediaTime(&start, &stop);
  }
}

GstBuffer* BufferOf(MemorySample& sample) {
  uint8_t* data = nullptr;
  sample.GetPointer(&data);
  GstBuffer* buffer = gst_buffer_new_memdup(data, gsize(sample.GetActualDataLength()));
  int64_t start;
  int64_t stop;
  if (sample.GetTime(&start, &stop) == quorvex::media::S_OK && start >= 0) {
    GST_BUFFER_PTS(buffer) = GstClockTime(start);
    if (stop >= start) {
      GST_BUFFER_DURATION(buffer) = GstClockTime(stop - start);
    }
  }
  if (sample.GetMediaTime(&start, &stop) == quorvex::media::S_OK) {
    GST_BUFFER_OFFSET(buffer) = guint64(start);
    GST_BUFFER_OFFSET_END(buffer) = guint64(stop);
  }
  return buffer;
}

// Clips a (possibly stretched) buffer to the segment: its samples spread evenly over
// [PTS, PTS + DURATION], whatever their number. Returns null when nothing is left.
GstBuffer* ClipToSegment(const GstSegment& segment, GstBuffer* buffer, gint bytes_per_frame) {
  if (segment.format != GST_FORMAT_TIME || !GST_BUFFER_PTS_IS_VALID(buffer) ||
      !GST_BUFFER_DURATION_IS_VALID(buffer) || GST_BUFFER_DURATION(buffer) == 0) {
    return buffer;
  }
  const guint64 start = GST_BUFFER_PTS(buffer);
  const guint64 duration = GST_BUFFER_DURATION(buffer);
  const guint64 stop = start + duration;
  guint64 clipped_start;
  guint64 clipped_stop;
  if (!gst_segment_clip(&segment, GST_FORMAT_TIME, start, stop, &clipped_start, &clipped_stop)) {
    gst_buffer_unref(buffer);
    return nullptr;
  }
  if (clipped_start == start && clipped_stop == stop) {
    return buffer;
  }
  const guint64 frames = gst_buffer_get_size(buffer) / guint(bytes_per_frame);
  const guint64 head = gst_util_uint64_scale_round(frames, clipped_start - start, duration);
  const guint64 tail = gst_util_uint64_scale_round(frames, stop - clipped_stop, duration);
  if (head + tail >= frames) {
    gst_buffer_unref(buffer);
    return nullptr;
  }
  buffer = gst_buffer_make_writable(buffer);
  gst_buffer_resize(buffer, gssize(head * guint(bytes_per_frame)),
                    gssize((frames - head - tail) * guint(bytes_per_frame)));
  GST_BUFFER_PTS(buffer) = clipped_start;
  GST_BUFFER_DURATION(buffer) = clipped_stop - clipped_start;
  return buffer;
}

bool EnsureScratch(ElementState& state, int64_t bytes) {
  if (bytes > INT32_MAX) {
    return false;
  }
  if (state.scratch_bytes < bytes) {
    // Left uninitialised: only the pages a stretch writes become resident.
    state.scratch.reset(new uint8_t[size_t(bytes)]);
    state.scratch_bytes = bytes;
  }
  return true;
}

// Runs the filter over one input buffer; *result is the output to push, or null.
GstFlowReturn Process(GstBaseTransform* trans, GstBuffer* input, GstBuffer** result) {
  ElementState& state = StateOf(trans);
  GstMapInfo map;
  if (!gst_buffer_map(input, &map, GST_MAP_READ)) {
    GST_ELEMENT_ERROR(trans, STREAM, FAILED, (nullptr), ("cannot map the input buffer"));
    return GST_FLOW_ERROR;
  }
  HRESULT hr = quorvex::audio::VFW_E_BUFFER_OVERFLOW;
  const int32_t length = map.size > INT32_MAX ? -1 : int32_t(map.size);
  MemorySample output(nullptr, 0);
  if (length >= 0 && EnsureScratch(state, state.filter->OutputBytesBound(length))) {
    MemorySample sample(map.data, length, length);
    CopyProperties(input, state.info, &sample);
    output = MemorySample(state.scratch.get(), int32_t(state.scratch_bytes));
    CopyProperties(input, state.info, &output);
    hr = state.filter->Transform(&sample, &output);
  }
  gst_buffer_unmap(input, &map);
  if (quorvex::media::FAILED(hr)) {
    GST_ELEMENT_ERROR(
        trans, STREAM, FAILED, (nullptr),
        ("the pitch-shift filter failed (0x%08x) on a buffer of %" G_GSIZE_FORMAT " bytes",
         guint(hr), map.size));
    return GST_FLOW_ERROR;
  }
  if (output.GetActualDataLength() > 0) {
    *result = ClipToSegment(state.segment, BufferOf(output), GST_AUDIO_INFO_BPF(&state.info));
  }
  return GST_FLOW_OK;
}

GstFlowReturn GenerateOutput(GstBaseTransform* trans, GstBuffer** outbuf) {
  *outbuf = nullptr;
  GstBuffer* input = trans->queued_buf;
  trans->queued_buf = nullptr;
  if (!input) {
    return GST_FLOW_OK;
  }
  const GstFlowReturn ret = Process(trans, input, outbuf);
  gst_buffer_unref(input);
  return ret;
}

gboolean SetCaps(GstBaseTransform* trans, GstCaps* incaps, GstCaps*) {
  ElementState& state = StateOf(trans);
  GstAudioInfo info;
  if (!gst_audio_info_from_caps(&info, incaps)) {
    return FALSE;
  }
  if (state.configured && gst_audio_info_is_equal(&info, &state.info)) {
    return TRUE;
  }
  const MediaType type = quorvex::audio::PcmType(uint16_t(GST_AUDIO_INFO_CHANNELS(&info)),
                                                 uint32_t(GST_AUDIO_INFO_RATE(&info)),
                                                 uint16_t(GST_AUDIO_INFO_WIDTH(&info)));
  state.configured = false;
  if (state.filter->ConnectInput(type) != quorvex::media::S_OK) {
    GST_WARNING_OBJECT(trans, "refused caps %" GST_PTR_FORMAT, incaps);
    return FALSE;
  }
  ALLOCATOR_PROPERTIES request;
  if (quorvex::media::FAILED(state.filter->DecideBufferSize(&state.output, &request))) {
    GST_WARNING_OBJECT(trans, "cannot size the buffers for %" GST_PTR_FORMAT, incaps);
    state.filter->DisconnectInput();
    return FALSE;
  }
  state.info = info;
  state.configured = true;
  return TRUE;
}

gboolean SinkEvent(GstBaseTransform* trans, GstEvent* event) {
  ElementState& state = StateOf(trans);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEGMENT: {
      const GstSegment* segment;
      gst_event_parse_segment(event, &segment);
      gst_segment_copy_into(segment, &state.segment);
      if (segment->format == GST_FORMAT_TIME && segment->rate > 0 && segment->stop != guint64(-1)) {
        GstSegment open = *segment;
        open.stop = guint64(-1);
        GstEvent* replaced = gst_event_new_segment(&open);
        gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
        gst_event_unref(event);
        event = replaced;
      }
      break;
    }
    case GST_EVENT_FLUSH_STOP:
      // After a seek the times go on from wherever it went, often no lower than before.
      state.filter->Flush();
      break;
    case GST_EVENT_EOS:
      state.filter->EndOfStream();
      break;
    default:
      break;
  }
  return GST_BASE_TRANSFORM_CLASS(quorvex_pitch_shift_parent_class)->sink_event(trans, event);
}

gboolean Stop(GstBaseTransform* trans) {
  ElementState& state = StateOf(trans);
  state.configured = false;
  state.filter->DisconnectInput();
  gst_segment_init(&state.segment, GST_FORMAT_UNDEFINED);
  return TRUE;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  ElementState& state = StateOf(object);
  switch (id) {
    case PROP_RATE:
      state.filter->SetRate(g_value_get_double(value));
      break;
    case PROP_PITCH_CORRECTION:
      state.filter->EnablePitchShift(g_value_get_boolean(value));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  ElementState& state = StateOf(object);
  switch (id) {
    case PROP_RATE:
      g_value_set_double(value, state.filter->GetRate());
      break;
    case PROP_PITCH_CORRECTION:
      g_value_set_boolean(value, state.filter->IsPitchShiftEnabled());
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
}

void Finalize(GObject* object) {
  delete reinterpret_cast<QuorvexPitchShift*>(object)->state;
  G_OBJECT_CLASS(quorvex_pitch_shift_parent_class)->finalize(object);
}

void InstallProperties(GObjectClass* object_class) {
  const auto flags =
      GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      object_class, PROP_RATE,
      g_param_spec_double("rate", "Rate",
                          "Play rate of the slowed graph: the audio becomes 1/rate times longer "
                          "(whole factors up to 16; not positive or above 1: unchanged)",
                          -G_MAXDOUBLE, G_MAXDOUBLE, 1.0, flags));
  g_object_class_install_property(
      object_class, PROP_PITCH_CORRECTION,
      g_param_spec_boolean("pitch-correction", "Pitch correction",
                           "Keep the pitch of the stretched audio", FALSE, flags));
}

}  // namespace

static void quorvex_pitch_shift_class_init(QuorvexPitchShiftClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = SetProperty;
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;
  InstallProperties(object_class);

  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(
      element_class, "Quorvex pitch shift", "Filter/Effect/Audio",
      "Makes 16-bit audio 1/rate times longer for a slowed clock, keeping its pitch on request",
      "Quorvex");

  GstBaseTransformClass* transform_class = GST_BASE_TRANSFORM_CLASS(klass);
  transform_class->set_caps = SetCaps;
  transform_class->generate_output = GenerateOutput;
  transform_class->sink_event = SinkEvent;
  transform_class->stop = Stop;
  transform_class->passthrough_on_same_caps = FALSE;
}

static void quorvex_pitch_shift_init(QuorvexPitchShift* self) {
  self->state = new ElementState;
  gst_segment_init(&self->state->segment, GST_FORMAT_UNDEFINED);
  // Without a transform function the base class would start in passthrough.
  gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), FALSE);
}

namespace quorvex {

void RegisterPitchShiftElement() {
  RegisterPitchShiftElement(nullptr);
}

bool RegisterPitchShiftElement(GstPlugin* plugin) {
  return gst_element_register(plugin, kFactoryName, GST_RANK_NONE, quorvex_pitch_shift_get_type());
}

}  // namespace quorvex
