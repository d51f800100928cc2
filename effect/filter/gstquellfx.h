// The quellfx element: a GstVideoFilter that runs the effect's frame step in
// place on BGRx frames.
#pragma once

#include <gst/gst.h>
#include <gst/video/gstvideofilter.h>

#include <cstdint>

G_BEGIN_DECLS

#define GST_TYPE_QUELL_FX (gst_quell_fx_get_type())
G_DECLARE_FINAL_TYPE(GstQuellFx, gst_quell_fx, GST, QUELL_FX, GstVideoFilter)

GST_ELEMENT_REGISTER_DECLARE(quellfx);

G_END_DECLS

namespace quell {
class IClock;
class ISoundPlayer;

// Replaces the element's clock and sound player, for tests that move time by
// hand and record the sounds, and optionally the calendar seconds that seed
// each new face's profile. Clock and player must outlive the element. Call it
// before frames flow; the followed faces start afresh, the properties are
// kept.
void SetElementPlatformForTesting(GstElement* element, IClock* clock, ISoundPlayer* sound,
                                  uint32_t (*calendarSeconds)() = nullptr);
}  // namespace quell
