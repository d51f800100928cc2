// Owning handles for the GStreamer and GLib values that are not GstObjects
// (caps, messages, errors, strings), in the manner of GstRef.h.
#pragma once

#include <gst/gst.h>

#include <memory>

namespace quell {

struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using CapsRef = std::unique_ptr<GstCaps, GstCapsUnref>;

struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using MessageRef = std::unique_ptr<GstMessage, GstMessageUnref>;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorRef = std::unique_ptr<GError, GErrorFree>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharRef = std::unique_ptr<gchar, GFree>;

}  // namespace quell
