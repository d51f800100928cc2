// Listing, numbering and choice of the camera and the audio input.
#include "graph/DeviceChoice.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace quell {

namespace {

constexpr const char* kMsgNoEnumerator = "ERROR: CoCreateInstance SystemDeviceEnum";
constexpr const char* kMsgNoCamera = "映像入力デバイスが見つかりませんでした";
constexpr const char* kMsgNoCameraName = "映像入力デバイスの名前を読み取れませんでした。";
constexpr const char* kMsgCreateFailed = "ERROR: BindToObject";

// Device properties that name one device while it stays where it is plugged
// in, best first: the USB port (the same after a replug into the same port,
// different for twins), the device node, and last a serial, which twins of
// a cheap make often share.
constexpr const char* kStableIdKeys[] = {"api.v4l2.cap.bus_info", "device.bus_path", "device.path",
                                         "api.v4l2.path",         "object.path",     "device.serial"};

struct GstStructureFree {
    void operator()(GstStructure* structure) const { gst_structure_free(structure); }
};

// The devices of one class with their names as read (not yet numbered).
struct DeviceList {
    bool ok = true;          // false: the monitor could not start
    std::size_t found = 0;   // devices listed, with or without a name
    std::vector<std::string> names;
    std::vector<GstRef<GstDevice>> devices;  // in step with names
};

// The devices of `deviceClass` among those of a monitor that runs anyway
// (the camera watch's, which lists every class the program uses).
GList* RunningDevices(GstDeviceMonitor* running, const char* deviceClass)
{
    GList* kept = nullptr;
    GList* devices = gst_device_monitor_get_devices(running);
    for (GList* item = devices; item; item = item->next) {
        if (gst_device_has_classes(GST_DEVICE(item->data), deviceClass))
            kept = g_list_prepend(kept, item->data);
        else
            gst_object_unref(item->data);
    }
    g_list_free(devices);
    return g_list_reverse(kept);
}

// Whether the running monitor can list `deviceClass`: one of its providers
// of the class runs, or it has none (no device of the class). As with a
// monitor of its own, providers that exist but could not start fail it.
bool ClassListable(GstDeviceMonitor* running, const char* deviceClass)
{
    bool any = false;
    bool started = false;
    gchar** names = gst_device_monitor_get_providers(running);
    for (gchar** name = names; name && *name; ++name) {
        GstRef<GstDeviceProviderFactory> factory(gst_device_provider_factory_find(*name));
        if (!factory || !gst_device_provider_factory_has_classes(factory.get(), deviceClass))
            continue;
        any = true;
        GstRef<GstDeviceProvider> provider(gst_device_provider_factory_get(factory.get()));
        started = started || (provider && gst_device_provider_is_started(provider.get()));
    }
    g_strfreev(names);
    return !any || started;
}

// Lists through `running` when given, else through a monitor of its own.
DeviceList ReadDevices(const char* deviceClass, GstDeviceMonitor* running)
{
    DeviceList list;
    GList* devices = nullptr;
    if (running) {
        if (!ClassListable(running, deviceClass)) {
            list.ok = false;
            return list;
        }
        devices = RunningDevices(running, deviceClass);
    } else {
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
        devices = gst_device_monitor_get_devices(monitor.get());
        gst_device_monitor_stop(monitor.get());
    }

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

// True when `saved` names a device of the model `name`: the name itself or
// the name with the number that twins get ("Cam (2)").
bool SameModel(const std::string& name, const std::string& saved)
{
    if (saved == name)
        return true;
    const std::string prefix = name + " (";
    if (saved.size() < prefix.size() + 2 || saved.compare(0, prefix.size(), prefix) != 0 || saved.back() != ')')
        return false;
    const std::string number = saved.substr(prefix.size(), saved.size() - prefix.size() - 1);
    return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The one listed device of the saved name's model that has the stable id
// `id`; -1 when there is none, or several (an id twins share tells nothing).
int FindById(const DeviceList& list, const std::string& savedName, const std::string& id)
{
    if (id.empty())
        return -1;
    int found = -1;
    for (std::size_t i = 0; i < list.names.size(); ++i) {
        if (!SameModel(list.names[i], savedName) || StableDeviceId(list.devices[i].get()) != id)
            continue;
        if (found >= 0)
            return -1;
        found = static_cast<int>(i);
    }
    return found;
}

}  // namespace

std::string StableDeviceId(GstDevice* device)
{
    if (!device)
        return {};
    const std::unique_ptr<GstStructure, GstStructureFree> properties(gst_device_get_properties(device));
    if (!properties)
        return {};
    for (const char* key : kStableIdKeys) {
        const gchar* value = gst_structure_get_string(properties.get(), key);
        if (value && value[0] != '\0')
            return value;
    }
    return {};
}

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
    DeviceList list = ReadDevices(deviceClass, nullptr);
    ok = list.ok;
    const std::vector<std::string> names = NumberDuplicateNames(list.names);
    std::vector<ListedDevice> listed;
    listed.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        listed.push_back(ListedDevice{names[i], std::move(list.devices[i])});
    return listed;
}

void CDeviceChooser::ListThrough(GstDeviceMonitor* monitor)
{
    m_monitor = Share(monitor);
}

std::string CDeviceChooser::ListedCameraName(GstDevice* device)
{
    const DeviceList list = ReadDevices("Video/Source", m_monitor.get());
    const std::vector<std::string> names = NumberDuplicateNames(list.names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (list.devices[i].get() == device)
            return names[i];
    }
    return {};
}

bool CDeviceChooser::SelectCamera(bool reuseCamera, bool& cameraChanged, std::string& cameraName,
                                  GstRef<GstElement>& camera, std::string* cameraId)
{
    cameraChanged = false;
    int found = -1;
    m_chosenCamera.reset();

    DeviceList list = ReadDevices("Video/Source", m_monitor.get());
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
    // The saved id wins over the name: unplugging the first of two twins
    // renames the second from "Cam (2)" to "Cam", and after a replug the
    // numbers follow the order in which the devices are listed.
    if (cameraId) {
        const int byId = FindById(list, cameraName, *cameraId);
        if (byId >= 0)
            found = byId;
    }
    if (reuseCamera && found == -1)
        cameraChanged = true;

    if (found == -1 || !reuseCamera) {
        if (m_askNothing) {
            if (found == -1)
                return false;
        } else if (names.size() == 1) {
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

    GstDevice* device = list.devices[static_cast<std::size_t>(found)].get();
    CreateElement(m_prompts, device, "Capture Filter", camera);
    cameraName = names[static_cast<std::size_t>(found)];
    if (cameraId)
        *cameraId = StableDeviceId(device);
    m_chosenCamera = Share(device);
    return true;
}

bool CDeviceChooser::SelectAudioDevice(bool reuseAudio, std::string& audioName, GstRef<GstElement>& audio)
{
    int found = -1;

    DeviceList list = ReadDevices("Audio/Source", m_monitor.get());
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

    if (m_askNothing) {
        // A rebuild nobody asked for goes without sound rather than ask; the
        // saved name stays for the day the device is back.
        if (found == -1) {
            audio.reset();
            return true;
        }
    } else if (found == -1 || !reuseAudio) {
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
