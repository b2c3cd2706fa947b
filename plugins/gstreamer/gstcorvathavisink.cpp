#include "gstcorvathavisink.h"

#include <corvath.h>
#include <gst/video/video.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "avi/avi_writer.h"

GST_DEBUG_CATEGORY_STATIC(corvathavisink_debug);
#define GST_CAT_DEFAULT corvathavisink_debug

namespace {

// The file being written, from the first picture to its completion.
struct Output {
  std::string location;  // AviWriter keeps a pointer to it until flush()
  crvt_encoder* encoder = nullptr;
  std::vector<std::uint8_t> picture;  // bottom-up B, G, R rows, packed
  std::vector<std::uint8_t> packet;   // a coded frame and the writer's fill
  AviWriter writer;
  bool writing = false;  // between a successful init() and flush()

  ~Output() { crvt_encoder_destroy(encoder); }
};

}  // namespace

struct _GstCorvathAviSink {
  GstBaseSink parent;
  // Properties, under the object lock.
  gchar* location;
  gboolean skip_unchanged;
  // Streaming thread only.
  GstVideoInfo info;  // the pictures negotiated
  gboolean have_info;
  Output* output;
  gboolean failed;  // an error was posted: the file is not written on
};

enum { PROP_0, PROP_LOCATION, PROP_SKIP_UNCHANGED };

G_DEFINE_TYPE(GstCorvathAviSink, gst_corvath_avi_sink, GST_TYPE_BASE_SINK)

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) BGR, width = (int) [ 1, MAX ], height = (int) [ 1, MAX ], "
                    "framerate = (fraction) [ 0/1, MAX ]"));

// The AVI writer zeroes the 3 bytes behind each frame it is given.
constexpr std::size_t kWriterFill = 3;

// Completes the file with the frames written so far: indexes, header and
// parts. False (the error posted) when it could not be completed.
static bool complete_file(GstCorvathAviSink* self) {
  Output* out = self->output;
  if (out == nullptr || !out->writing) return true;
  out->writing = false;
  const AviStatus flushed = out->writer.flush();
  if (flushed) {
    GST_INFO_OBJECT(self, "%s complete with %d frames", out->location.c_str(), out->writer.frames_written());
    return true;
  }
  GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", flushed.message.c_str()), ("%s", g_strerror(errno)));
  self->failed = TRUE;
  return false;
}

static void close_output(GstCorvathAviSink* self) {
  delete self->output;
  self->output = nullptr;
}

// A file that cannot be created fails the start, as with filesink; what
// the file holds is written from the first picture on.
static gboolean sink_start(GstBaseSink* sink) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(sink);
  GST_OBJECT_LOCK(self);
  const std::string location = self->location != nullptr ? self->location : "";
  GST_OBJECT_UNLOCK(self);
  if (location.empty()) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No file name specified for writing."), (nullptr));
    return FALSE;
  }
  std::FILE* file = std::fopen(location.c_str(), "wb");
  if (file == nullptr) {
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("Could not open file \"%s\" for writing.", location.c_str()),
                      ("%s", g_strerror(errno)));
    return FALSE;
  }
  std::fclose(file);
  self->have_info = FALSE;
  self->failed = FALSE;
  return TRUE;
}

// Completes the file also when the pipeline stops before end-of-stream.
static gboolean sink_stop(GstBaseSink* sink) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(sink);
  const bool complete = complete_file(self);
  close_output(self);
  return complete;
}

static bool same_stream(const GstVideoInfo& a, const GstVideoInfo& b) {
  return GST_VIDEO_INFO_WIDTH(&a) == GST_VIDEO_INFO_WIDTH(&b) &&
         GST_VIDEO_INFO_HEIGHT(&a) == GST_VIDEO_INFO_HEIGHT(&b) &&
         GST_VIDEO_INFO_FPS_N(&a) == GST_VIDEO_INFO_FPS_N(&b) && GST_VIDEO_INFO_FPS_D(&a) == GST_VIDEO_INFO_FPS_D(&b);
}

// An AVI file holds one size and one rate.
static gboolean sink_set_caps(GstBaseSink* sink, GstCaps* caps) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(sink);
  GstVideoInfo info;
  if (self->failed || !gst_video_info_from_caps(&info, caps)) return FALSE;
  const int width = GST_VIDEO_INFO_WIDTH(&info);
  const int height = GST_VIDEO_INFO_HEIGHT(&info);
  const int rate = GST_VIDEO_INFO_FPS_N(&info);
  const int scale = GST_VIDEO_INFO_FPS_D(&info);
  if (self->output != nullptr && !same_stream(self->info, info)) {
    GST_ELEMENT_ERROR(
        self, STREAM, FORMAT, ("The picture size or frame rate changed while writing."),
        ("%d x %d at %d/%d after %d x %d at %d/%d", width, height, rate, scale, GST_VIDEO_INFO_WIDTH(&self->info),
         GST_VIDEO_INFO_HEIGHT(&self->info), GST_VIDEO_INFO_FPS_N(&self->info), GST_VIDEO_INFO_FPS_D(&self->info)));
    self->failed = TRUE;
    return FALSE;
  }
  if (rate <= 0 || scale <= 0) {
    GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                      ("An AVI file needs a fixed frame rate: put videorate and a caps filter with a framerate "
                       "in front of corvathavisink."),
                      ("framerate %d/%d", rate, scale));
    self->failed = TRUE;
    return FALSE;
  }
  const std::size_t bound = crvt_encode_bound(width, height, 24);
  if (bound == 0 || bound > INT_MAX) {
    GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("Pictures of %d x %d pixels are too large for Corvath.", width, height),
                      (nullptr));
    self->failed = TRUE;
    return FALSE;
  }
  self->info = info;
  self->have_info = TRUE;
  return TRUE;
}

// Starts the file: the codec, its buffers and the AVI header. False (the
// error posted) when it cannot.
static bool open_output(GstCorvathAviSink* self) {
  const int width = GST_VIDEO_INFO_WIDTH(&self->info);
  const int height = GST_VIDEO_INFO_HEIGHT(&self->info);
  const int rate = GST_VIDEO_INFO_FPS_N(&self->info);
  const int scale = GST_VIDEO_INFO_FPS_D(&self->info);
  auto out = std::unique_ptr<Output>(new (std::nothrow) Output);
  crvt_status status = CRVT_ERROR_MEMORY;
  if (out != nullptr) {
    GST_OBJECT_LOCK(self);
    out->location = self->location != nullptr ? self->location : "";
    const unsigned flags = self->skip_unchanged ? CRVT_SKIP_UNCHANGED : 0u;
    GST_OBJECT_UNLOCK(self);
    try {
      out->picture.resize(crvt_frame_size(width, height, 24));
      out->packet.resize(crvt_encode_bound(width, height, 24) + kWriterFill);
      status = crvt_encoder_create(width, height, 24, flags, &out->encoder);
    } catch (const std::bad_alloc&) {
    }
  }
  self->failed = TRUE;
  if (status != CRVT_OK) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Cannot encode pictures of %d x %d pixels.", width, height),
                      ("%s", crvt_status_message(status)));
    return false;
  }
  if (const AviStatus begun = out->writer.init(out->location.c_str(), width, height, rate, scale, 1); !begun) {
    if (begun.code == AviStatus::Code::cannot_open) {
      GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("%s", begun.message.c_str()), ("%s", g_strerror(errno)));
    } else {
      GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", begun.message.c_str()), ("%s", g_strerror(errno)));
    }
    return false;
  }
  out->writing = true;
  self->failed = FALSE;
  GST_INFO_OBJECT(self, "writing %s: %d x %d at %d/%d", out->location.c_str(), width, height, rate, scale);
  self->output = out.release();
  return true;
}

// Rows of the picture, top first with their strides, into the AVI's
// bottom-up packed rows.
static void pack_bottom_up(const GstVideoFrame& frame, Output& out) {
  const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
  const std::size_t row = std::size_t(GST_VIDEO_FRAME_WIDTH(&frame)) * 3;
  const auto* in = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const std::size_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  for (int r = 0; r < height; ++r) {
    std::memcpy(out.picture.data() + row * std::size_t(height - 1 - r), in + stride * std::size_t(r), row);
  }
}

static GstFlowReturn sink_render(GstBaseSink* sink, GstBuffer* buffer) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(sink);
  if (self->failed) return GST_FLOW_ERROR;
  if (!self->have_info) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("A picture came before its format."), (nullptr));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  if (self->output == nullptr && !open_output(self)) return GST_FLOW_ERROR;
  Output* out = self->output;
  if (!out->writing) return GST_FLOW_ERROR;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &self->info, buffer, GST_MAP_READ)) {
    GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("A picture could not be read."), (nullptr));
    return GST_FLOW_ERROR;
  }
  pack_bottom_up(frame, *out);
  gst_video_frame_unmap(&frame);
  std::size_t size = 0;
  const crvt_status status = crvt_encode(out->encoder, out->picture.data(), out->picture.size(), out->packet.data(),
                                         out->packet.size() - kWriterFill, &size);
  if (status != CRVT_OK) {
    GST_ELEMENT_ERROR(self, STREAM, ENCODE, ("A picture could not be encoded."), ("%s", crvt_status_message(status)));
    return GST_FLOW_ERROR;
  }
  // A full file is completed with the frames it holds.
  if (!out->writer.fits(size)) {
    const int frames = out->writer.frames_written();
    if (complete_file(self)) {
      GST_ELEMENT_ERROR(
          self, RESOURCE, NO_SPACE_LEFT,
          ("The file \"%s\" is full: it holds the first %d frames.", out->location.c_str(), frames),
          ("an AVI file holds at most %llu parts of %llu bytes", static_cast<unsigned long long>(AviWriter::kMaxParts),
           static_cast<unsigned long long>(out->writer.part_limit())));
    }
    return GST_FLOW_ERROR;
  }
  // A null frame (0 bytes) is no key frame, as quelmux writes them.
  if (const AviStatus written =
          out->writer.write_frame(out->packet.data(), static_cast<int>(size), size != 0 ? AVIIF_KEYFRAME : 0);
      !written) {
    out->writing = false;
    self->failed = TRUE;
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", written.message.c_str()), ("%s", g_strerror(errno)));
    return GST_FLOW_ERROR;
  }
  return GST_FLOW_OK;
}

// End-of-stream completes the file; caps without a picture give a file of
// no frames.
static gboolean sink_event(GstBaseSink* sink, GstEvent* event) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(sink);
  if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && !self->failed) {
    bool complete = false;
    if (self->output != nullptr || (self->have_info && open_output(self))) {
      complete = complete_file(self);
    } else if (!self->have_info) {
      GST_ELEMENT_ERROR(self, STREAM, FAILED, ("No video reached corvathavisink: the file holds nothing."), (nullptr));
      self->failed = TRUE;
    }
    if (!complete) {
      gst_event_unref(event);
      return FALSE;
    }
  }
  return GST_BASE_SINK_CLASS(gst_corvath_avi_sink_parent_class)->event(sink, event);
}

static void set_property(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(object);
  switch (id) {
    case PROP_LOCATION: {
      GstState state = GST_STATE_NULL;
      GST_OBJECT_LOCK(self);
      state = GST_STATE(self);
      if (state == GST_STATE_NULL || state == GST_STATE_READY) {
        g_free(self->location);
        self->location = g_value_dup_string(value);
      }
      GST_OBJECT_UNLOCK(self);
      if (state != GST_STATE_NULL && state != GST_STATE_READY) {
        g_warning("corvathavisink: the location can only be changed in the NULL or READY state");
      }
      break;
    }
    case PROP_SKIP_UNCHANGED:
      GST_OBJECT_LOCK(self);
      self->skip_unchanged = g_value_get_boolean(value);
      GST_OBJECT_UNLOCK(self);
      break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

static void get_property(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_LOCATION: g_value_set_string(value, self->location); break;
    case PROP_SKIP_UNCHANGED: g_value_set_boolean(value, self->skip_unchanged); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
  GST_OBJECT_UNLOCK(self);
}

static void finalize(GObject* object) {
  GstCorvathAviSink* self = GST_CORVATH_AVI_SINK(object);
  close_output(self);
  g_free(self->location);
  G_OBJECT_CLASS(gst_corvath_avi_sink_parent_class)->finalize(object);
}

static void gst_corvath_avi_sink_class_init(GstCorvathAviSinkClass* klass) {
  GST_DEBUG_CATEGORY_INIT(corvathavisink_debug, "corvathavisink", 0, "Corvath AVI file writer");
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = set_property;
  object_class->get_property = get_property;
  object_class->finalize = finalize;
  g_object_class_install_property(
      object_class, PROP_LOCATION,
      g_param_spec_string(
          "location", "File location", "The AVI file to write (created or overwritten)", nullptr,
          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
  g_object_class_install_property(
      object_class, PROP_SKIP_UNCHANGED,
      g_param_spec_boolean(
          "skip-unchanged", "Skip unchanged frames",
          "Store a picture equal to the one before as a null frame of 0 bytes (pays for screen "
          "captures; the file is no longer the one quelmux writes)",
          FALSE, static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_set_static_metadata(element_class, "Corvath AVI file writer", "Sink/File/Video",
                                        "Writes BGR video into an AVI file of Corvath lossless frames, going on "
                                        "in OpenDML parts past 1 GiB",
                                        "quelmux developers <quelmux@example.org>");
  GstBaseSinkClass* sink_class = GST_BASE_SINK_CLASS(klass);
  sink_class->start = sink_start;
  sink_class->stop = sink_stop;
  sink_class->set_caps = sink_set_caps;
  sink_class->render = sink_render;
  sink_class->event = sink_event;
}

static void gst_corvath_avi_sink_init(GstCorvathAviSink* self) {
  self->location = nullptr;
  self->skip_unchanged = FALSE;
  self->output = nullptr;
  self->have_info = FALSE;
  self->failed = FALSE;
  gst_video_info_init(&self->info);
  gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}
