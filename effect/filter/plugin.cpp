// Registers the quellfx element with GStreamer.
#include "filter/gstquellfx.h"

static gboolean plugin_init(GstPlugin* plugin)
{
    return GST_ELEMENT_REGISTER(quellfx, plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quellfx, "Quellvisor power meter effect", plugin_init, VERSION,
                  "LGPL", PACKAGE, "https://quellvisor.invalid")
