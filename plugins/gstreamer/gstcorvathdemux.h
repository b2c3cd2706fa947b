// corvathdemux: reads the Corvath video stream of an AVI file (one RIFF part
// or OpenDML parts) in pull mode and hands out its frames as
// video/x-corvath, with timestamps, durations and time seeks.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_CORVATH_DEMUX (gst_corvath_demux_get_type())
G_DECLARE_FINAL_TYPE(GstCorvathDemux, gst_corvath_demux, GST, CORVATH_DEMUX, GstElement)

G_END_DECLS

// The caps that type finding gives Corvath AVI files, which the demuxer takes.
#define GST_CORVATH_AVI_CAPS "video/x-corvath-avi"
