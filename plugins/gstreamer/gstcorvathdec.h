// corvathdec: decodes video/x-corvath frames into video/x-raw pictures, BGR
// for 24-bit streams and BGRA for 32-bit ones, top row first.
#pragma once

#include <gst/gst.h>
#include <gst/video/gstvideodecoder.h>

G_BEGIN_DECLS

#define GST_TYPE_CORVATH_DEC (gst_corvath_dec_get_type())
G_DECLARE_FINAL_TYPE(GstCorvathDec, gst_corvath_dec, GST, CORVATH_DEC, GstVideoDecoder)

G_END_DECLS
