// The camera's picture format: matching the saved size and frame time
// against the caps a camera offers, and the decoder its format needs.
#pragma once

#include "graph/GraphRefs.h"

#include <gst/gst.h>

#include <cstdint>

namespace quell {

// Frame time in 100 ns units of the frame rate num/den, truncated; 0 when
// the rate is not positive (a variable or unknown rate).
std::int64_t FrameTimeOf(int num, int den);

// True when the rate num/den has a frame time within 1 of `frameTime`
// (333333 matches 30/1, 333667 matches 30000/1001).
bool RateMatchesFrameTime(int num, int den, std::int64_t frameTime);

// A simple fraction whose frame time is `frameTime` (666666 gives 15/1,
// 333667 gives 30000/1001). `frameTime` must be positive.
void RateForFrameTime(std::int64_t frameTime, int& num, int& den);

// Fixed caps for the camera's format filter when the camera offers
// width x height at `frameTime` as raw video, or failing that as JPEG;
// null when it offers neither. Raw caps carry no pixel format, so the
// camera keeps its own. A frame time <= 0 leaves the rate open.
CapsRef MatchSavedFormat(const GstCaps* offered, int width, int height, std::int64_t frameTime);

// The camera's own first format (raw or JPEG), fixed nearest to the saved
// values; null when the camera states no size.
CapsRef PreferredFormat(const GstCaps* offered, int width, int height, std::int64_t frameTime);

// Reads width, height and frame time from fixed caps; false when a field
// is missing. The frame time is 0 for a rate of 0 or none.
bool ReadFormat(const GstCaps* caps, int& width, int& height, std::int64_t& frameTime);

// The decoder between a camera and the colour converter: "jpegdec" when
// the camera will deliver JPEG (the chosen format is JPEG, or no format is
// chosen and the camera offers JPEG but no raw video), else "decodebin".
const char* DecoderFor(const GstCaps* offered, const GstCaps* chosen);

}  // namespace quell
