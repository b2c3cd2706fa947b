#include "gstcorvathdemux.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>

#include "corvath_stream.h"

GST_DEBUG_CATEGORY_STATIC(corvathdemux_debug);
#define GST_CAT_DEFAULT corvathdemux_debug

namespace {

// Everything the streaming thread works with. The seek handler changes it
// only while it holds the sink pad's stream lock, which the streaming thread
// holds for each turn of its loop.
struct DemuxState {
  gstcorvath::CorvathStream stream;
  bool opened = false;
  std::size_t next = 0;  // the frame pushed next
  GstSegment segment{};  // guarded by the object lock too, for queries
  bool need_segment = true;
  bool need_tags = true;
  bool discont = true;
  guint32 seqnum = GST_SEQNUM_INVALID;    // of the seek that made the segment
  GstFlowReturn read_flow = GST_FLOW_OK;  // of the last pull while opening

  DemuxState() { gst_segment_init(&segment, GST_FORMAT_TIME); }
};

}  // namespace

struct _GstCorvathDemux {
  GstElement parent;
  GstPad* sinkpad;
  GstPad* srcpad;  // added once the file's header is read
  DemuxState* state;
};

G_DEFINE_TYPE(GstCorvathDemux, gst_corvath_demux, GST_TYPE_ELEMENT)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_CORVATH_AVI_CAPS));

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("video_%u", GST_PAD_SRC, GST_PAD_SOMETIMES,
                            GST_STATIC_CAPS("video/x-corvath, width = (int) [ 1, MAX ], height = (int) [ 1, MAX ], "
                                            "bit-depth = (int) { 24, 32 }, framerate = (fraction) [ 0/1, MAX ], "
                                            "bottom-up = (boolean) { true, false }"));

static void demux_loop(GstCorvathDemux* self);

static void reset(GstCorvathDemux* self) {
  DemuxState* fresh = new DemuxState;
  GST_OBJECT_LOCK(self);
  DemuxState* old = self->state;
  self->state = fresh;
  GST_OBJECT_UNLOCK(self);
  delete old;
}

// Reads for the AVI reader through the upstream element (filesrc and the
// like): `out` filled from `offset` on, or false.
static bool pull_bytes(GstCorvathDemux* self, std::uint64_t offset, std::span<std::uint8_t> out) {
  if (out.size() > G_MAXUINT) return false;
  GstBuffer* buffer = nullptr;
  const GstFlowReturn flow = gst_pad_pull_range(self->sinkpad, offset, static_cast<guint>(out.size()), &buffer);
  self->state->read_flow = flow;
  if (flow != GST_FLOW_OK) return false;
  const bool whole =
      gst_buffer_get_size(buffer) == out.size() && gst_buffer_extract(buffer, 0, out.data(), out.size()) == out.size();
  gst_buffer_unref(buffer);
  return whole;
}

static GstCaps* stream_caps(const gstcorvath::CorvathStream& s) {
  return gst_caps_new_simple("video/x-corvath", "width", G_TYPE_INT, s.width(), "height", G_TYPE_INT, s.height(),
                             "bit-depth", G_TYPE_INT, s.bit_depth(), "framerate", GST_TYPE_FRACTION, s.rate_numerator(),
                             s.rate_denominator(), "bottom-up", G_TYPE_BOOLEAN, gboolean{s.bottom_up()}, nullptr);
}

static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query);
static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event);

// Parses the file and adds the source pad. False when the file cannot be
// read as a Corvath AVI (the error is posted) or a flush stopped the reads.
static bool open_file(GstCorvathDemux* self) {
  DemuxState& s = *self->state;
  gint64 size = -1;
  if (!gst_pad_peer_query_duration(self->sinkpad, GST_FORMAT_BYTES, &size) || size < 0) {
    GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("Could not find the length of the file."), (nullptr));
    return false;
  }
  s.read_flow = GST_FLOW_OK;
  bool opened = false;
  try {
    opened = s.stream.open(static_cast<std::uint64_t>(size), [self](std::uint64_t offset, std::span<std::uint8_t> out) {
      return pull_bytes(self, offset, out);
    });
  } catch (const std::bad_alloc&) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Not enough memory to read the file."), (nullptr));
    return false;
  }
  if (!opened) {
    if (s.read_flow == GST_FLOW_FLUSHING) return false;
    GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("Could not read the Corvath AVI file: %s.", s.stream.error().c_str()),
                      (nullptr));
    return false;
  }
  GST_INFO_OBJECT(self, "%d x %d, %d bits, %d/%d fps, %zu frames", s.stream.width(), s.stream.height(),
                  s.stream.bit_depth(), s.stream.rate_numerator(), s.stream.rate_denominator(), s.stream.frame_count());
  if (!s.stream.unfinished().empty()) {
    GST_ELEMENT_WARNING(
        self, STREAM, DEMUX,
        ("The Corvath AVI file was not completed: only its %zu whole frames are read.", s.stream.frame_count()),
        ("%s", s.stream.unfinished().c_str()));
  }

  GstPad* pad = gst_pad_new_from_static_template(&src_template, "video_0");
  gst_pad_set_query_function(pad, src_query);
  gst_pad_set_event_function(pad, src_event);
  gst_pad_use_fixed_caps(pad);
  gst_pad_set_active(pad, TRUE);
  gchar* stream_id = gst_pad_create_stream_id(pad, GST_ELEMENT(self), "video");
  GstEvent* start = gst_event_new_stream_start(stream_id);
  g_free(stream_id);
  gst_event_set_group_id(start, gst_util_group_id_next());
  gst_pad_push_event(pad, start);
  GstCaps* caps = stream_caps(s.stream);
  gst_pad_set_caps(pad, caps);
  gst_caps_unref(caps);
  GST_OBJECT_LOCK(self);
  s.segment.duration = s.stream.duration();
  s.opened = true;
  self->srcpad = pad;
  GST_OBJECT_UNLOCK(self);
  gst_element_add_pad(GST_ELEMENT(self), pad);
  gst_element_no_more_pads(GST_ELEMENT(self));
  return true;
}

static void push_end(GstCorvathDemux* self) {
  DemuxState& s = *self->state;
  if (self->srcpad == nullptr) return;
  if ((s.segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0) {
    const guint64 end = s.segment.stop != static_cast<guint64>(-1) ? s.segment.stop : s.stream.duration();
    const auto stop = static_cast<gint64>(end);
    GstMessage* message = gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, stop);
    GstEvent* event = gst_event_new_segment_done(GST_FORMAT_TIME, stop);
    if (s.seqnum != GST_SEQNUM_INVALID) {
      gst_message_set_seqnum(message, s.seqnum);
      gst_event_set_seqnum(event, s.seqnum);
    }
    gst_element_post_message(GST_ELEMENT(self), message);
    gst_pad_push_event(self->srcpad, event);
    return;
  }
  GstEvent* eos = gst_event_new_eos();
  if (s.seqnum != GST_SEQNUM_INVALID) gst_event_set_seqnum(eos, s.seqnum);
  gst_pad_push_event(self->srcpad, eos);
}

// Stops the loop after `flow`: at the end of the segment, on an error of the
// demuxer's own (already posted) or downstream's, or on a flush.
static void pause(GstCorvathDemux* self, GstFlowReturn flow, bool posted = false) {
  GST_DEBUG_OBJECT(self, "pausing: %s", gst_flow_get_name(flow));
  gst_pad_pause_task(self->sinkpad);
  if (flow == GST_FLOW_FLUSHING) return;
  if (flow == GST_FLOW_EOS) {
    push_end(self);
    return;
  }
  if (!posted && (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS)) GST_ELEMENT_FLOW_ERROR(self, flow);
  if (self->srcpad != nullptr) gst_pad_push_event(self->srcpad, gst_event_new_eos());
}

static void push_segment_and_tags(GstCorvathDemux* self) {
  DemuxState& s = *self->state;
  if (s.need_segment) {
    GstEvent* event = gst_event_new_segment(&s.segment);
    if (s.seqnum != GST_SEQNUM_INVALID) gst_event_set_seqnum(event, s.seqnum);
    gst_pad_push_event(self->srcpad, event);
    s.need_segment = false;
  }
  if (s.need_tags) {
    GstTagList* tags =
        gst_tag_list_new(GST_TAG_VIDEO_CODEC, "Corvath lossless video", GST_TAG_CONTAINER_FORMAT, "AVI", nullptr);
    gst_tag_list_set_scope(tags, GST_TAG_SCOPE_STREAM);
    gst_pad_push_event(self->srcpad, gst_event_new_tag(tags));
    s.need_tags = false;
  }
}

static void demux_loop(GstCorvathDemux* self) {
  DemuxState& s = *self->state;
  push_segment_and_tags(self);
  const std::size_t i = s.next;
  if (i >= s.stream.frame_count() ||
      (s.segment.stop != static_cast<guint64>(-1) && s.stream.time(i) >= s.segment.stop)) {
    pause(self, GST_FLOW_EOS);
    return;
  }
  const avi::Frame& frame = s.stream.frame(i);
  GstBuffer* buffer = nullptr;
  if (frame.size == 0) {
    // A null frame: the decoder repeats the picture before it.
    buffer = gst_buffer_new();
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
  } else {
    const GstFlowReturn flow = gst_pad_pull_range(self->sinkpad, frame.offset, frame.size, &buffer);
    if (flow != GST_FLOW_OK || gst_buffer_get_size(buffer) != frame.size) {
      if (flow == GST_FLOW_OK) gst_buffer_unref(buffer);
      if (flow == GST_FLOW_FLUSHING) {
        pause(self, flow);
        return;
      }
      GST_ELEMENT_ERROR(
          self, STREAM, DEMUX, ("Frame %zu of the Corvath AVI file could not be read.", i),
          ("%u bytes at offset %" G_GUINT64_FORMAT ": %s", frame.size, frame.offset, gst_flow_get_name(flow)));
      pause(self, GST_FLOW_ERROR, true);
      return;
    }
  }
  const std::uint64_t start = s.stream.time(i);
  GST_BUFFER_PTS(buffer) = start;
  GST_BUFFER_DTS(buffer) = start;
  GST_BUFFER_DURATION(buffer) = s.stream.time(i + 1) - start;
  GST_BUFFER_OFFSET(buffer) = i;
  GST_BUFFER_OFFSET_END(buffer) = i + 1;
  if (s.discont) {
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    s.discont = false;
  }
  GST_OBJECT_LOCK(self);
  s.segment.position = start;
  GST_OBJECT_UNLOCK(self);
  s.next = i + 1;
  const GstFlowReturn flow = gst_pad_push(self->srcpad, buffer);
  if (flow != GST_FLOW_OK) pause(self, flow);
}

// A seek in time. Decoding starts at the frame that holds the picture shown
// at the new position (for a null frame, the frame it repeats); the segment
// starts at the position itself, so that what lies before it is clipped.
static gboolean handle_seek(GstCorvathDemux* self, GstEvent* event) {
  gdouble rate = 1.0;
  GstFormat format = GST_FORMAT_UNDEFINED;
  GstSeekFlags flags = GST_SEEK_FLAG_NONE;
  GstSeekType start_type = GST_SEEK_TYPE_NONE;
  GstSeekType stop_type = GST_SEEK_TYPE_NONE;
  gint64 start = 0;
  gint64 stop = 0;
  gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
  if (format != GST_FORMAT_TIME || rate <= 0.0) {
    GST_DEBUG_OBJECT(self, "refusing a seek in %s at rate %g", gst_format_get_name(format), rate);
    return FALSE;
  }
  const guint32 seqnum = gst_event_get_seqnum(event);
  const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
  if (flush) {
    GstEvent* flush_start = gst_event_new_flush_start();
    gst_event_set_seqnum(flush_start, seqnum);
    gst_pad_push_event(self->srcpad, flush_start);
  } else {
    gst_pad_pause_task(self->sinkpad);
  }
  GST_PAD_STREAM_LOCK(self->sinkpad);
  DemuxState& s = *self->state;
  GstSegment segment = s.segment;
  gboolean update = FALSE;
  gst_segment_do_seek(&segment, rate, format, flags, start_type, start, stop_type, stop, &update);
  const std::size_t shown = s.stream.frame_at(segment.position);
  const std::size_t first = s.stream.decode_start(shown);
  if ((flags & GST_SEEK_FLAG_KEY_UNIT) != 0) {
    segment.start = segment.time = segment.position = s.stream.time(first);
  }
  GST_DEBUG_OBJECT(self, "seek to %" GST_TIME_FORMAT ": frame %zu, decoding from %zu", GST_TIME_ARGS(segment.position),
                   shown, first);
  if (flush) {
    GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
    gst_event_set_seqnum(flush_stop, seqnum);
    gst_pad_push_event(self->srcpad, flush_stop);
  }
  GST_OBJECT_LOCK(self);
  s.segment = segment;
  GST_OBJECT_UNLOCK(self);
  s.next = first;
  s.need_segment = true;
  s.discont = true;
  s.seqnum = seqnum;
  if ((segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0) {
    GstMessage* message = gst_message_new_segment_start(GST_OBJECT(self), GST_FORMAT_TIME, segment.position);
    gst_message_set_seqnum(message, seqnum);
    gst_element_post_message(GST_ELEMENT(self), message);
  }
  gst_pad_start_task(self->sinkpad, reinterpret_cast<GstTaskFunction>(demux_loop), self, nullptr);
  GST_PAD_STREAM_UNLOCK(self->sinkpad);
  return TRUE;
}

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstCorvathDemux* self = GST_CORVATH_DEMUX(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
    const gboolean done = handle_seek(self, event);
    gst_event_unref(event);
    return done;
  }
  return gst_pad_event_default(pad, parent, event);
}

static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
  GstCorvathDemux* self = GST_CORVATH_DEMUX(parent);
  // The state is replaced, under the object lock, when the element goes back
  // to READY.
  GST_OBJECT_LOCK(self);
  const gint64 duration = static_cast<gint64>(self->state->stream.duration());
  const gint64 frames = static_cast<gint64>(self->state->stream.frame_count());
  const gint64 position = static_cast<gint64>(self->state->segment.position);
  GST_OBJECT_UNLOCK(self);
  GstFormat format = GST_FORMAT_UNDEFINED;
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION:
      gst_query_parse_duration(query, &format, nullptr);
      if (format != GST_FORMAT_TIME && format != GST_FORMAT_DEFAULT) return FALSE;
      gst_query_set_duration(query, format, format == GST_FORMAT_TIME ? duration : frames);
      return TRUE;
    case GST_QUERY_POSITION:
      gst_query_parse_position(query, &format, nullptr);
      if (format != GST_FORMAT_TIME) return FALSE;
      gst_query_set_position(query, format, position);
      return TRUE;
    case GST_QUERY_SEEKING:
      gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
      if (format != GST_FORMAT_TIME) {
        gst_query_set_seeking(query, format, FALSE, -1, -1);
      } else {
        gst_query_set_seeking(query, format, TRUE, 0, duration);
      }
      return TRUE;
    default: return gst_pad_query_default(pad, parent, query);
  }
}

// The demuxer reads at the offsets the file's index gives: it needs an
// upstream element that can be read at random (pull mode).
static gboolean sink_activate(GstPad* pad, GstObject* parent) {
  GstQuery* query = gst_query_new_scheduling();
  const bool pull = gst_pad_peer_query(pad, query) &&
                    gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
  gst_query_unref(query);
  if (!pull) {
    GST_ELEMENT_ERROR(parent, STREAM, DEMUX,
                      ("corvathdemux reads Corvath AVI files only from sources that allow random access, such as "
                       "filesrc."),
                      (nullptr));
    return FALSE;
  }
  return gst_pad_activate_mode(pad, GST_PAD_MODE_PULL, TRUE);
}

// The file's header is read here, on the way to PAUSED, so that a file that
// cannot be read fails the state change with its error: decodebin drops
// errors that a new element posts while it brings it up.
static gboolean sink_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
  GstCorvathDemux* self = GST_CORVATH_DEMUX(parent);
  if (mode != GST_PAD_MODE_PULL) return FALSE;
  if (!active) return gst_pad_stop_task(pad);
  if (!self->state->opened && !open_file(self)) return FALSE;
  return gst_pad_start_task(pad, reinterpret_cast<GstTaskFunction>(demux_loop), self, nullptr);
}

static GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
  GstCorvathDemux* self = GST_CORVATH_DEMUX(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) reset(self);
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(gst_corvath_demux_parent_class)->change_state(element, transition);
  if (result == GST_STATE_CHANGE_FAILURE) return result;
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    if (self->srcpad != nullptr) {
      GstPad* pad = self->srcpad;
      GST_OBJECT_LOCK(self);
      self->srcpad = nullptr;
      GST_OBJECT_UNLOCK(self);
      gst_element_remove_pad(element, pad);
    }
    reset(self);
  }
  return result;
}

static void finalize(GObject* object) {
  GstCorvathDemux* self = GST_CORVATH_DEMUX(object);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(gst_corvath_demux_parent_class)->finalize(object);
}

static void gst_corvath_demux_class_init(GstCorvathDemuxClass* klass) {
  GST_DEBUG_CATEGORY_INIT(corvathdemux_debug, "corvathdemux", 0, "Corvath AVI demuxer");
  G_OBJECT_CLASS(klass)->finalize = finalize;
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  element_class->change_state = change_state;
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(element_class, "Corvath AVI demuxer", "Codec/Demuxer",
                                        "Reads the Corvath video stream of AVI files written by quelmux, "
                                        "OpenDML files of several parts included",
                                        "quelmux developers <quelmux@example.org>");
}

static void gst_corvath_demux_init(GstCorvathDemux* self) {
  self->state = new DemuxState;
  self->srcpad = nullptr;
  self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_activate_function(self->sinkpad, sink_activate);
  gst_pad_set_activatemode_function(self->sinkpad, sink_activate_mode);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
}
