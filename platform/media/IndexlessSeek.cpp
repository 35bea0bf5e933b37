#include "platform/media/IndexlessSeek.h"

#include <string_view>

#include "platform/media/GstRef.h"

namespace quorvex::media {
namespace {

// The demuxer's own backing off before the target of an accurate seek (its source: 2.5 s).
constexpr int64_t kDemuxerBackOffNs = 2500 * GST_MSECOND;

GstElement* FindDemuxer(GstElement* pipeline) {
  GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
  GstElement* found = nullptr;
  GValue item = G_VALUE_INIT;
  while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* element = GST_ELEMENT(g_value_get_object(&item));
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && std::string_view(GST_OBJECT_NAME(factory)) == "tsdemux")
      found = GST_ELEMENT(gst_object_ref(element));
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return found;
}

}  // namespace

std::unique_ptr<IndexlessSeek> IndexlessSeek::For(GstElement* pipeline) {
  GstRef<GstElement> demuxer(FindDemuxer(pipeline));
  if (!demuxer)
    return nullptr;
  std::unique_ptr<IndexlessSeek> seek(new IndexlessSeek());
  GstIterator* it = gst_element_iterate_src_pads(demuxer.get());
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* pad = GST_PAD(g_value_dup_object(&item));
    const gulong id =
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &OnEvent, seek.get(), nullptr);
    seek->probes_.emplace_back(pad, id);
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  if (seek->probes_.empty())
    return nullptr;
  return seek;
}

IndexlessSeek::~IndexlessSeek() {
  for (auto& [pad, id] : probes_) {
    gst_pad_remove_probe(pad, id);
    gst_object_unref(pad);
  }
}

bool IndexlessSeek::Send(GstElement* pipeline, int64_t target_ns, GstClockTime stop) {
  const int64_t asked = target_ns + kDemuxerBackOffNs - kLeadNs;
  if (target_ns < kDemuxerBackOffNs ||
      (GST_CLOCK_TIME_IS_VALID(stop) && GstClockTime(asked) >= stop))
    return false;
  {
    std::lock_guard lock(mutex_);
    asked_ns_ = asked;
    target_ns_ = target_ns;
  }
  const bool sent = gst_element_seek(
      pipeline, 1.0, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
      GST_SEEK_TYPE_SET, GstClockTime(asked), GST_SEEK_TYPE_SET, stop);
  if (!sent) {
    std::lock_guard lock(mutex_);
    asked_ns_ = -1;
  }
  return sent;
}

void IndexlessSeek::Disarm() {
  std::lock_guard lock(mutex_);
  asked_ns_ = -1;
}

// On the demuxer's streaming thread: the segment that answers the seek starts at the target.
GstPadProbeReturn IndexlessSeek::OnEvent(GstPad*, GstPadProbeInfo* info, gpointer self) {
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
    return GST_PAD_PROBE_OK;
  auto* seek = static_cast<IndexlessSeek*>(self);
  const GstSegment* segment = nullptr;
  gst_event_parse_segment(event, &segment);
  std::lock_guard lock(seek->mutex_);
  if (seek->asked_ns_ < 0 || segment->format != GST_FORMAT_TIME ||
      segment->start != guint64(seek->asked_ns_))
    return GST_PAD_PROBE_OK;
  GstSegment moved = *segment;
  const guint64 shift = segment->start - guint64(seek->target_ns_);
  moved.start = guint64(seek->target_ns_);
  moved.position = moved.start;
  moved.time = segment->time >= shift ? segment->time - shift : 0;
  GstEvent* replaced = gst_event_new_segment(&moved);
  gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
  gst_event_unref(event);
  GST_PAD_PROBE_INFO_DATA(info) = replaced;
  return GST_PAD_PROBE_OK;
}

}  // namespace quorvex::media
