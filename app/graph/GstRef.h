// Owning handles for GStreamer objects, so that every reference the program
// holds is released exactly once.
#pragma once

#include <gst/gst.h>

#include <memory>

namespace quell {

struct GstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};

// One full reference to a GstObject (element, pad, bus, device, ...).
template <typename T>
using GstRef = std::unique_ptr<T, GstObjectUnref>;

// Takes over a newly made object: sinks a floating reference (what
// gst_element_factory_make returns) and leaves a full one, or adopts a full
// reference as it is. A null pointer gives an empty handle.
template <typename T>
GstRef<T> Adopt(T* object)
{
    // ref_sink on an object that is not floating would add a reference.
    if (object && g_object_is_floating(object))
        gst_object_ref_sink(object);
    return GstRef<T>(object);
}

// Takes one more reference to an object somebody else owns.
template <typename T>
GstRef<T> Share(T* object)
{
    if (object)
        gst_object_ref(object);
    return GstRef<T>(object);
}

}  // namespace quell
