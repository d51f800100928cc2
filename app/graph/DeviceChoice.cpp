// Listing, numbering and choice of the camera and the audio input.
#include "graph/DeviceChoice.h"

#include <algorithm>
#include <utility>

namespace quell {

namespace {

constexpr const char* kMsgNoEnumerator = "ERROR: CoCreateInstance SystemDeviceEnum";
constexpr const char* kMsgNoCamera = "映像入力デバイスが見つかりませんでした";
constexpr const char* kMsgNoCameraName = "映像入力デバイスの名前を読み取れませんでした。";
constexpr const char* kMsgCreateFailed = "ERROR: BindToObject";

// The devices of one class with their names as read (not yet numbered).
struct DeviceList {
    bool ok = true;          // false: the monitor could not start
    std::size_t found = 0;   // devices listed, with or without a name
    std::vector<std::string> names;
    std::vector<GstRef<GstDevice>> devices;  // in step with names
};

DeviceList ReadDevices(const char* deviceClass)
{
    DeviceList list;
    GstRef<GstDeviceMonitor> monitor(gst_device_monitor_new());  // full reference already
    gst_device_monitor_add_filter(monitor.get(), deviceClass, nullptr);

    // No provider for the class at all is the same as no device of it; only
    // providers that exist but cannot start make the listing itself fail.
    gchar** providers = gst_device_monitor_get_providers(monitor.get());
    const bool anyProvider = providers && providers[0];
    g_strfreev(providers);
    if (!anyProvider)
        return list;
    if (!gst_device_monitor_start(monitor.get())) {
        list.ok = false;
        return list;
    }
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    gst_device_monitor_stop(monitor.get());

    for (GList* item = devices; item; item = item->next) {
        GstRef<GstDevice> device(GST_DEVICE(item->data));  // takes the list's reference
        ++list.found;
        gchar* name = gst_device_get_display_name(device.get());
        if (name && name[0] != '\0') {
            list.names.emplace_back(name);
            list.devices.push_back(std::move(device));
        }
        g_free(name);
    }
    g_list_free(devices);
    return list;
}

// Makes the chosen device's source element under `name` (a floating
// reference taken over), or shows the failure and leaves `element` empty.
void CreateElement(IPrompts& prompts, GstDevice* device, const char* name, GstRef<GstElement>& element)
{
    element = Adopt(gst_device_create_element(device, name));
    if (!element)
        prompts.ShowMessage(kMsgCreateFailed);
}

int FindName(const std::vector<std::string>& names, const std::string& name)
{
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

bool ValidSelection(int selection, std::size_t count)
{
    return selection >= 0 && static_cast<std::size_t>(selection) < count;
}

}  // namespace

std::vector<std::string> NumberDuplicateNames(const std::vector<std::string>& names)
{
    std::vector<std::string> numbered = names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto total = std::count(names.begin(), names.end(), names[i]);
        if (total > 1) {
            const auto before = std::count(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), names[i]);
            numbered[i] = names[i] + " (" + std::to_string(before + 1) + ")";
        }
    }
    return numbered;
}

std::vector<ListedDevice> ListDevices(const char* deviceClass, bool& ok)
{
    DeviceList list = ReadDevices(deviceClass);
    ok = list.ok;
    const std::vector<std::string> names = NumberDuplicateNames(list.names);
    std::vector<ListedDevice> listed;
    listed.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        listed.push_back(ListedDevice{names[i], std::move(list.devices[i])});
    return listed;
}

bool CDeviceChooser::SelectCamera(bool reuseCamera, bool& cameraChanged, std::string& cameraName,
                                  GstRef<GstElement>& camera)
{
    cameraChanged = false;
    int found = -1;

    DeviceList list = ReadDevices("Video/Source");
    if (!list.ok) {
        m_prompts.ShowMessage(kMsgNoEnumerator);
        return false;
    }
    if (list.found == 0) {
        m_prompts.ShowMessage(kMsgNoCamera);
        return false;
    }
    // Devices exist but none can be named: the choice would offer nothing
    // and could never end, so it is reported instead.
    if (list.names.empty()) {
        m_prompts.ShowMessage(kMsgNoCameraName);
        return false;
    }

    const std::vector<std::string> names = NumberDuplicateNames(list.names);
    found = FindName(names, cameraName);
    if (reuseCamera && found == -1)
        cameraChanged = true;

    if (found == -1 || !reuseCamera) {
        if (names.size() == 1) {
            found = 0;
        } else {
            // The camera choice cannot be cancelled: it is asked again until
            // it ends with OK and an entry.
            int selection = -1;
            while (!m_prompts.RunDeviceDialog(names, std::max(found, 0), false, selection) ||
                   !ValidSelection(selection, names.size())) {
            }
            found = selection;
        }
    }

    CreateElement(m_prompts, list.devices[static_cast<std::size_t>(found)].get(), "Capture Filter", camera);
    cameraName = names[static_cast<std::size_t>(found)];
    return true;
}

bool CDeviceChooser::SelectAudioDevice(bool reuseAudio, std::string& audioName, GstRef<GstElement>& audio)
{
    int found = -1;

    DeviceList list = ReadDevices("Audio/Source");
    if (!list.ok) {
        m_prompts.ShowMessage(kMsgNoEnumerator);
        return false;
    }
    if (list.found == 0) {
        // No audio input at all: the graph goes without sound, and the saved
        // name stays for the day the device is back.
        audio.reset();
        return true;
    }

    std::vector<std::string> raw;
    raw.reserve(list.names.size() + 1);
    raw.emplace_back(kNoAudioName);
    raw.insert(raw.end(), list.names.begin(), list.names.end());
    const std::vector<std::string> names = NumberDuplicateNames(raw);
    found = FindName(names, audioName);

    if (found == -1 || !reuseAudio) {
        if (names.size() == 1) {
            found = 0;
        } else {
            int selection = -1;
            do {
                if (!m_prompts.RunDeviceDialog(names, std::max(found, 0), true, selection))
                    return false;
            } while (!ValidSelection(selection, names.size()));
            found = selection;
        }
    }

    if (found == 0) {
        audioName = kNoAudioName;
        audio.reset();
        return true;
    }
    audioName = names[static_cast<std::size_t>(found)];
    CreateElement(m_prompts, list.devices[static_cast<std::size_t>(found) - 1].get(), "Audio Capture", audio);
    return true;
}

}  // namespace quell
