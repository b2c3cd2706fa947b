// corvathavisink: writes video/x-raw BGR pictures into a Corvath AVI file,
// with the project's codec and AVI writer: the bytes quelmux writes for the
// same frames.
#pragma once

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_CORVATH_AVI_SINK (gst_corvath_avi_sink_get_type())
G_DECLARE_FINAL_TYPE(GstCorvathAviSink, gst_corvath_avi_sink, GST, CORVATH_AVI_SINK, GstBaseSink)

G_END_DECLS
