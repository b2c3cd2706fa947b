#include "gstcorvathdec.h"

#include <corvath.h>
#include <gst/video/video.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(corvathdec_debug);
#define GST_CAT_DEFAULT corvathdec_debug

namespace {

struct DecoderState {
  crvt_decoder* decoder = nullptr;
  int width = 0;
  int height = 0;
  int bit_depth = 24;
  bool bottom_up = true;
  std::vector<std::uint8_t> picture;  // the decoded frame, rows as stored
  GstVideoInfo output{};

  ~DecoderState() { crvt_decoder_destroy(decoder); }

  // A decoder in its initial state: what a stream starts from.
  crvt_status restart() {
    crvt_decoder_destroy(decoder);
    decoder = nullptr;
    return crvt_decoder_create(width, height, bit_depth, &decoder);
  }
};

}  // namespace

struct _GstCorvathDec {
  GstVideoDecoder parent;
  DecoderState* state;
};

G_DEFINE_TYPE(GstCorvathDec, gst_corvath_dec, GST_TYPE_VIDEO_DECODER)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-corvath, width = (int) [ 1, MAX ], height = (int) [ 1, MAX ], "
                                            "bit-depth = (int) { 24, 32 }"));

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ BGR, BGRA }")));

static gboolean dec_start(GstVideoDecoder* decoder) {
  GstCorvathDec* self = GST_CORVATH_DEC(decoder);
  delete self->state;
  self->state = new (std::nothrow) DecoderState;
  return self->state != nullptr;
}

static gboolean dec_stop(GstVideoDecoder* decoder) {
  GstCorvathDec* self = GST_CORVATH_DEC(decoder);
  delete self->state;
  self->state = nullptr;
  return TRUE;
}

static gboolean dec_set_format(GstVideoDecoder* decoder, GstVideoCodecState* input) {
  GstCorvathDec* self = GST_CORVATH_DEC(decoder);
  DecoderState& s = *self->state;
  const GstStructure* caps = gst_caps_get_structure(input->caps, 0);
  int width = 0;
  int height = 0;
  int bit_depth = 0;
  gboolean bottom_up = TRUE;
  if (!gst_structure_get_int(caps, "width", &width) || !gst_structure_get_int(caps, "height", &height) ||
      !gst_structure_get_int(caps, "bit-depth", &bit_depth)) {
    return FALSE;
  }
  // Bitmaps of AVI files put the bottom row first unless they say otherwise.
  if (!gst_structure_get_boolean(caps, "bottom-up", &bottom_up)) bottom_up = TRUE;
  s.width = width;
  s.height = height;
  s.bit_depth = bit_depth;
  s.bottom_up = bottom_up != FALSE;
  const crvt_status status = s.restart();
  if (status != CRVT_OK) {
    GST_ELEMENT_ERROR(self, STREAM, DECODE,
                      ("Cannot decode Corvath frames of %d x %d pixels, %d bits.", width, height, bit_depth),
                      ("%s", crvt_status_message(status)));
    return FALSE;
  }
  try {
    s.picture.resize(crvt_frame_size(width, height, bit_depth));
  } catch (const std::bad_alloc&) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Not enough memory for frames of %d x %d pixels.", width, height),
                      (nullptr));
    return FALSE;
  }
  GstVideoCodecState* output = gst_video_decoder_set_output_state(
      decoder, bit_depth == 32 ? GST_VIDEO_FORMAT_BGRA : GST_VIDEO_FORMAT_BGR, width, height, input);
  s.output = output->info;
  gst_video_codec_state_unref(output);
  return gst_video_decoder_negotiate(decoder);
}

// The decoded frame into the output picture, top row first, with its
// strides. A 32-bit stream may hold frames whose encoder dropped the fourth
// byte: those are shown opaque.
static void copy_picture(const DecoderState& s, std::size_t decoded, GstVideoFrame& frame) {
  const int pixel = decoded == std::size_t(s.width) * std::size_t(s.height) * 4 ? 4 : 3;
  const std::size_t row = std::size_t(s.width) * pixel;
  auto* out = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const std::size_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  for (int r = 0; r < s.height; ++r) {
    const std::uint8_t* in = s.picture.data() + row * std::size_t(s.bottom_up ? s.height - 1 - r : r);
    std::uint8_t* to = out + stride * std::size_t(r);
    if (pixel == 4 || s.bit_depth == 24) {
      std::memcpy(to, in, row);
      continue;
    }
    for (int x = 0; x < s.width; ++x, in += 3, to += 4) {
      to[0] = in[0];
      to[1] = in[1];
      to[2] = in[2];
      to[3] = 0xFF;
    }
  }
}

static GstFlowReturn dec_handle_frame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame) {
  GstCorvathDec* self = GST_CORVATH_DEC(decoder);
  DecoderState& s = *self->state;
  GstMapInfo in;
  if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ)) {
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_ERROR;
  }
  std::size_t decoded = 0;
  const crvt_status status =
      crvt_decode(s.decoder, in.size != 0 ? in.data : nullptr, in.size, s.picture.data(), s.picture.size(), &decoded);
  gst_buffer_unmap(frame->input_buffer, &in);
  if (status != CRVT_OK) {
    // Counted against max-errors as decoders do; below that the frame is
    // dropped, and said so rather than in the debug log alone.
    GstFlowReturn result = GST_FLOW_OK;
    const guint64 number = GST_BUFFER_OFFSET(frame->input_buffer);
    gchar* what = number != GST_BUFFER_OFFSET_NONE
                      ? g_strdup_printf("Corvath frame %" G_GUINT64_FORMAT " does not decode.", number)
                      : g_strdup("A Corvath frame does not decode.");
    GST_VIDEO_DECODER_ERROR(self, 1, STREAM, DECODE, ("%s", what),
                            ("%s (%" G_GSIZE_FORMAT " bytes)", crvt_status_message(status), in.size), result);
    if (result == GST_FLOW_OK) {
      GST_ELEMENT_WARNING(self, STREAM, DECODE, ("%s", what), ("%s", crvt_status_message(status)));
    }
    g_free(what);
    gst_video_decoder_drop_frame(decoder, frame);
    return result;
  }
  GstFlowReturn result = gst_video_decoder_allocate_output_frame(decoder, frame);
  if (result != GST_FLOW_OK) {
    gst_video_decoder_drop_frame(decoder, frame);
    return result;
  }
  GstVideoFrame picture;
  if (!gst_video_frame_map(&picture, &s.output, frame->output_buffer, GST_MAP_WRITE)) {
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_ERROR;
  }
  copy_picture(s, decoded, picture);
  gst_video_frame_unmap(&picture);
  return gst_video_decoder_finish_frame(decoder, frame);
}

// After a flush (a seek) the stream may go on with a null frame at its very
// start, which repeats the decoder's initial picture.
static gboolean dec_flush(GstVideoDecoder* decoder) {
  GstCorvathDec* self = GST_CORVATH_DEC(decoder);
  if (self->state == nullptr || self->state->decoder == nullptr) return TRUE;
  return self->state->restart() == CRVT_OK;
}

// Pictures go into downstream's buffers with their strides, given by video
// metadata when downstream takes it.
static gboolean dec_decide_allocation(GstVideoDecoder* decoder, GstQuery* query) {
  if (!GST_VIDEO_DECODER_CLASS(gst_corvath_dec_parent_class)->decide_allocation(decoder, query)) return FALSE;
  GstBufferPool* pool = nullptr;
  if (gst_query_get_n_allocation_pools(query) > 0) {
    gst_query_parse_nth_allocation_pool(query, 0, &pool, nullptr, nullptr, nullptr);
  }
  if (pool == nullptr) return TRUE;
  if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr)) {
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    gst_buffer_pool_set_config(pool, config);
  }
  gst_object_unref(pool);
  return TRUE;
}

static void finalize(GObject* object) {
  GstCorvathDec* self = GST_CORVATH_DEC(object);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(gst_corvath_dec_parent_class)->finalize(object);
}

static void gst_corvath_dec_class_init(GstCorvathDecClass* klass) {
  GST_DEBUG_CATEGORY_INIT(corvathdec_debug, "corvathdec", 0, "Corvath video decoder");
  G_OBJECT_CLASS(klass)->finalize = finalize;
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(element_class, "Corvath video decoder", "Codec/Decoder/Video",
                                        "Decodes Corvath (CRVT) lossless video",
                                        "quelmux developers <quelmux@example.org>");
  GstVideoDecoderClass* decoder_class = GST_VIDEO_DECODER_CLASS(klass);
  decoder_class->start = dec_start;
  decoder_class->stop = dec_stop;
  decoder_class->set_format = dec_set_format;
  decoder_class->handle_frame = dec_handle_frame;
  decoder_class->flush = dec_flush;
  decoder_class->decide_allocation = dec_decide_allocation;
}

static void gst_corvath_dec_init(GstCorvathDec* self) {
  self->state = nullptr;
  gst_video_decoder_set_packetized(GST_VIDEO_DECODER(self), TRUE);
  gst_video_decoder_set_needs_format(GST_VIDEO_DECODER(self), TRUE);
}
