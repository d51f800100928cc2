// Choice of the camera and the audio input among the devices that
// GstDeviceMonitor lists, by their (numbered) display names.
#pragma once

#include "graph/GstRef.h"
#include "graph/Prompts.h"

#include <gst/gst.h>

#include <string>
#include <vector>

namespace quell {

// The entry of the audio list that stands for recording without sound.
inline constexpr const char* kNoAudioName = "録音なし";

// Numbers the members of every group of equal names in order:
// A, B, A, A becomes A (1), B, A (2), A (3). Names that occur once stay.
std::vector<std::string> NumberDuplicateNames(const std::vector<std::string>& names);

// One listed device: the name shown and saved, and the device itself.
struct ListedDevice {
    std::string name;
    GstRef<GstDevice> device;
};

// Lists the devices of one class ("Video/Source" or "Audio/Source") through
// a GstDeviceMonitor, in the monitor's order, numbered. A device without a
// readable display name is left out together with its entry, so that names
// and devices stay in step. `ok` is false when the monitor cannot start.
std::vector<ListedDevice> ListDevices(const char* deviceClass, bool& ok);

class CDeviceChooser {
public:
    explicit CDeviceChooser(IPrompts& prompts) : m_prompts(prompts) {}

    // Picks the camera: the saved `cameraName` when `reuseCamera` and it is
    // listed; otherwise the only camera, or the user's choice (asked again
    // until OK with a selection). `cameraChanged` becomes true when the
    // saved name was to be reused but is not listed. On success `camera`
    // holds the new source element and `cameraName` the chosen name.
    // Failure (no camera, no readable name) shows its message and returns false.
    bool SelectCamera(bool reuseCamera, bool& cameraChanged, std::string& cameraName,
                      GstRef<GstElement>& camera);

    // Picks the audio input, "録音なし" first. `audio` stays empty for no
    // sound. Returns false when the user cancelled the dialog, or (after its
    // message) when the device monitor cannot start.
    bool SelectAudioDevice(bool reuseAudio, std::string& audioName, GstRef<GstElement>& audio);

private:
    IPrompts& m_prompts;
};

}  // namespace quell
