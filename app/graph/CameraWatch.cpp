// The camera watch: a device monitor whose bus messages are handed to the
// GUI thread, and the state of the camera in use (watched or away).
#include "graph/CameraWatch.h"

#include "graph/DeviceChoice.h"
#include "graph/GraphRefs.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace quell {

namespace {

std::string DisplayName(GstDevice* device)
{
    const GCharRef name(gst_device_get_display_name(device));
    return name ? name.get() : "";
}

}  // namespace

CCameraWatch::CCameraWatch(RemovedHandler removed, BackHandler back)
    : m_removed(std::move(removed)), m_back(std::move(back)), m_context(std::make_unique<QObject>())
{
}

CCameraWatch::~CCameraWatch()
{
    {
        std::lock_guard lock(m_postLock);
        m_posting = false;
    }
    if (m_bus)
        gst_bus_set_sync_handler(m_bus.get(), nullptr, nullptr, nullptr);
    if (m_started)
        gst_device_monitor_stop(m_monitor.get());
}

bool CCameraWatch::Start()
{
    if (m_started)
        return true;
    m_monitor.reset(gst_device_monitor_new());  // full reference already
    // Without any provider of cameras there is nothing to watch (and
    // starting would only warn). Audio inputs are listed too, for the
    // device choice that lists through this monitor.
    if (gst_device_monitor_add_filter(m_monitor.get(), "Video/Source", nullptr) == 0)
        return false;
    gst_device_monitor_add_filter(m_monitor.get(), "Audio/Source", nullptr);

    // A sync handler rather than a bus watch: it sees each message on the
    // thread that posts it and queues it into the Qt event loop, whatever
    // main loop the program runs.
    m_bus.reset(gst_device_monitor_get_bus(m_monitor.get()));
    gst_bus_set_sync_handler(m_bus.get(), &CCameraWatch::OnBusMessage, this, nullptr);
    m_started = gst_device_monitor_start(m_monitor.get());
    if (!m_started)
        gst_bus_set_sync_handler(m_bus.get(), nullptr, nullptr, nullptr);
    return m_started;
}

void CCameraWatch::Watch(GstDevice* camera)
{
    m_away = false;
    m_camera = Share(camera);
    m_listed = false;
    m_cameraName = camera ? DisplayName(camera) : "";
    m_cameraId = camera ? StableDeviceId(camera) : "";
    if (!camera || !m_started)
        return;
    // The monitor's providers are the ones the device choice used, so the
    // chosen device is normally one of the monitor's own objects, and the
    // removal names exactly that object, also among twins without an id.
    GList* devices = gst_device_monitor_get_devices(m_monitor.get());
    for (GList* item = devices; item; item = item->next) {
        GstRef<GstDevice> device(GST_DEVICE(item->data));  // takes the list's reference
        if (device.get() == camera)
            m_listed = true;
    }
    g_list_free(devices);
}

GstBusSyncReply CCameraWatch::OnBusMessage(GstBus*, GstMessage* message, gpointer self)
{
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    GstDevice* device = nullptr;
    if (type == GST_MESSAGE_DEVICE_ADDED)
        gst_message_parse_device_added(message, &device);
    else if (type == GST_MESSAGE_DEVICE_REMOVED)
        gst_message_parse_device_removed(message, &device);
    if (device)
        static_cast<CCameraWatch*>(self)->Post(type, device);
    return GST_BUS_DROP;
}

// Any thread. Takes over the reference to `device`.
void CCameraWatch::Post(GstMessageType type, GstDevice* device)
{
    const std::shared_ptr<GstDevice> held(device, GstObjectUnref());
    std::lock_guard lock(m_postLock);
    if (!m_posting)
        return;
    QMetaObject::invokeMethod(
        m_context.get(),
        [this, type, held] {
            if (type == GST_MESSAGE_DEVICE_ADDED)
                OnAdded(held.get());
            else
                OnRemoved(held.get());
        },
        Qt::QueuedConnection);
}

bool CCameraWatch::IsWatched(GstDevice* device) const
{
    if (m_away || !m_camera || !gst_device_has_classes(device, "Video/Source"))
        return false;
    if (m_listed)
        return device == m_camera.get();
    // A camera the monitor did not list when it was chosen (it went in the
    // meantime, or its provider cannot be watched): known by name and id.
    return DisplayName(device) == m_cameraName && StableDeviceId(device) == m_cameraId;
}

void CCameraWatch::OnRemoved(GstDevice* device)
{
    if (!IsWatched(device))
        return;
    // The name and id stay: a camera of that name coming back is awaited.
    m_camera.reset();
    m_listed = false;
    m_away = true;
    if (m_removed)
        m_removed();
}

void CCameraWatch::OnAdded(GstDevice* device)
{
    if (m_away && m_back && gst_device_has_classes(device, "Video/Source") && DisplayName(device) == m_cameraName)
        m_back(device);
}

}  // namespace quell
