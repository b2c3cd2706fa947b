// The GStreamer plug-in "corvath": type finding for Corvath AVI files,
// corvathdemux, corvathdec and corvathavisink.
#include <gst/gst.h>

#include <cstdint>

#include "corvath_probe.h"
#include "gstcorvathavisink.h"
#include "gstcorvathdec.h"
#include "gstcorvathdemux.h"

#ifndef QUELMUX_VERSION
#define QUELMUX_VERSION "unknown"
#endif
// The source module that GST_PLUGIN_DEFINE names.
#define PACKAGE "quelmux"

// Runs before the stock AVI type finder (rank primary), and says nothing of
// other AVI files, which it then finds as before.
static void find_corvath_avi(GstTypeFind* find, gpointer) {
  const gstcorvath::PeekFunction peek = [find](std::uint64_t offset, std::size_t size) -> const std::uint8_t* {
    if (offset > G_MAXINT64 || size > G_MAXUINT) return nullptr;
    return gst_type_find_peek(find, static_cast<gint64>(offset), static_cast<guint>(size));
  };
  if (gstcorvath::is_corvath_avi(peek)) {
    gst_type_find_suggest_empty_simple(find, GST_TYPE_FIND_MAXIMUM, GST_CORVATH_AVI_CAPS);
  }
}

static gboolean plugin_init(GstPlugin* plugin) {
  GstCaps* caps = gst_caps_new_empty_simple(GST_CORVATH_AVI_CAPS);
  const gboolean found = gst_type_find_register(plugin, GST_CORVATH_AVI_CAPS, GST_RANK_PRIMARY + 1, find_corvath_avi,
                                                "avi", caps, nullptr, nullptr);
  gst_caps_unref(caps);
  return found && gst_element_register(plugin, "corvathdemux", GST_RANK_PRIMARY, GST_TYPE_CORVATH_DEMUX) &&
         gst_element_register(plugin, "corvathdec", GST_RANK_PRIMARY, GST_TYPE_CORVATH_DEC) &&
         gst_element_register(plugin, "corvathavisink", GST_RANK_NONE, GST_TYPE_CORVATH_AVI_SINK);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, corvath,
                  "Corvath lossless video: reads and writes the Corvath AVI files of quelmux", plugin_init,
                  QUELMUX_VERSION, GST_LICENSE_UNKNOWN, "quelmux", "https://example.org/quelmux")
