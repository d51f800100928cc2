// The formats a camera offers, as a list of sizes and frame rates to choose
// from, and the fixed caps that ask the camera for one of them.
#pragma once

#include "graph/GraphRefs.h"
#include "graph/Prompts.h"

#include <gst/gst.h>

#include <vector>

namespace quell {

// Every raw and JPEG size x frame rate in `offered`, without repeats (pixel
// formats are not told apart). Ranges become the common sizes and rates
// inside them. Raw before JPEG, larger sizes first, faster rates first. A
// structure without a rate lists its sizes with the unknown rate 0/1.
std::vector<CameraFormatChoice> ListCameraFormats(const GstCaps* offered);

// Fixed caps for `choice`; the rate is left out when it is unknown.
CapsRef CapsForChoice(const CameraFormatChoice& choice);

// The index of the entry that fixed `caps` describe; -1 when none.
int FindCameraFormat(const std::vector<CameraFormatChoice>& formats, const GstCaps* caps);

}  // namespace quell
