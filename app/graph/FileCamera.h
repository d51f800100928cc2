// A picture or a video file as the camera (`capture --source FILE`): a device
// provider of the program's own whose one camera plays the file as a live
// source, so that the device choice and the capture graph treat it like any
// other camera.
#pragma once

#include <gst/gst.h>

#include <string>

namespace quell {

inline constexpr const char* kFileCameraProviderName = "quellfilecameraprovider";

// Makes the file at `path` the only camera. The file is read as a picture
// first (OpenCV); a picture becomes a 640x480 scene in gentle motion at 30
// frames a second, anything else must be a video that GStreamer can decode,
// which then plays in an endless loop. The provider is registered in-process
// (once; a later call replaces the file), its device is listed as class
// "Video/Source" named "ファイル: <file name>", and every other provider of
// video sources is lowered to GST_RANK_NONE so that no monitor lists them.
// On failure `error` says why (a text for the user) and nothing changed.
bool RegisterFileCamera(const std::string& path, std::string& error);

// True after RegisterFileCamera succeeded.
bool FileCameraActive();

// Lowers every device provider that offers video sources, other than the
// file camera's, to GST_RANK_NONE (GstDeviceMonitor takes only providers of
// rank MARGINAL or above). RegisterFileCamera does this itself.
void HideOtherCameraProviders();

// The file camera's source element for `path` (floating reference; null when
// it cannot be made): a bin with one "src" pad giving raw video, live,
// timestamped with the pipeline's running time, scaled and converted to
// whatever size, format and frame rate a capsfilter after it asks for.
GstElement* CreateFileCameraElement(const std::string& path, const char* name);

}  // namespace quell
