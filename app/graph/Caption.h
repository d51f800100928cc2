// The main window's caption after a graph build.
#pragma once

#include <string>

namespace quell {

// The UTF-8 `name` cut so that its code page 932 form holds at most
// `maxBytes` bytes, never inside a character, with "..." appended when it
// was cut. A name that cannot be converted is cut by the same rule on its
// characters counted as they would be in CP932 (two bytes for anything
// outside ASCII and the half-width katakana).
std::string ShortenCameraName(const std::string& name, std::size_t maxBytes = 12);

// "Quellvisor - <short name> (<w>x<h>) :  <録画中 or nothing>"
std::string MakeCaption(const std::string& cameraName, int width, int height, bool recording);

}  // namespace quell
