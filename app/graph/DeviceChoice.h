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

// A device's stable id, which tells twin cameras apart when their numbered
// names shift: the first of its bus position, device path or serial that its
// provider gives (see kStableIdKeys in DeviceChoice.cpp); empty when none.
std::string StableDeviceId(GstDevice* device);

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
    // `cameraId`, when given, is the saved camera's stable id on the way in:
    // the one listed camera of the saved name's model with that id is taken
    // even when the numbering of twins has shifted. On the way out it holds
    // the chosen camera's id (empty when it has none).
    bool SelectCamera(bool reuseCamera, bool& cameraChanged, std::string& cameraName,
                      GstRef<GstElement>& camera, std::string* cameraId = nullptr);

    // Picks the audio input, "録音なし" first. `audio` stays empty for no
    // sound. Returns false when the user cancelled the dialog, or (after its
    // message) when the device monitor cannot start.
    bool SelectAudioDevice(bool reuseAudio, std::string& audioName, GstRef<GstElement>& audio);

    // The device of the last successful camera choice (null before one).
    GstDevice* ChosenCamera() const { return m_chosenCamera.get(); }

    // Lists through this running monitor from now on (null: a monitor of
    // its own for every listing, as before). GStreamer 1.22 hands a
    // provider's hot-plug messages only to the monitor made last, so the
    // camera watch's monitor has to be the only one while it runs. It must
    // have filters for "Video/Source" and "Audio/Source".
    void ListThrough(GstDeviceMonitor* monitor);

    // The numbered name under which `device` is listed now among the
    // cameras; empty when it is not listed (any more).
    std::string ListedCameraName(GstDevice* device);

    // For rebuilds nobody asked for (a camera that came back): while set,
    // no dialog is shown. A saved camera that is not listed fails the
    // choice without a message; a saved audio input that is not listed
    // gives no sound this time and its name stays saved.
    void SetAskNothing(bool askNothing) { m_askNothing = askNothing; }

private:
    IPrompts& m_prompts;
    GstRef<GstDevice> m_chosenCamera;
    GstRef<GstDeviceMonitor> m_monitor;
    bool m_askNothing = false;
};

}  // namespace quell
