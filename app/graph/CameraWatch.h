// CCameraWatch: follows the cameras that come and go through a running
// GstDeviceMonitor and tells the GUI thread when the camera in use goes away
// and when, while it is away, a camera of its name appears again.
#pragma once

#include "graph/GstRef.h"

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QObject;

namespace quell {

class CCameraWatch {
public:
    // Both handlers run on the thread that made the watch (the GUI thread),
    // from its event loop, never inside a call of the watch.
    //   removed: the watched camera went away; the watch is now "away".
    //   back:    while away, a camera with the lost camera's display name
    //            appeared; `device` is the new device.
    using RemovedHandler = std::function<void()>;
    using BackHandler = std::function<void(GstDevice* device)>;

    CCameraWatch(RemovedHandler removed, BackHandler back);
    ~CCameraWatch();

    CCameraWatch(const CCameraWatch&) = delete;
    CCameraWatch& operator=(const CCameraWatch&) = delete;

    // Starts the monitor of "Video/Source" and "Audio/Source" devices.
    // False when no monitor could start: then nothing is ever reported.
    bool Start();

    // The running monitor (null before Start or after it failed). The
    // device choice lists through it (CDeviceChooser::ListThrough): under
    // GStreamer 1.22 a second monitor would take the providers' messages
    // away from this one, and so the devices the choice lists are the very
    // objects this watch hears of.
    GstDeviceMonitor* Monitor() const { return m_started ? m_monitor.get() : nullptr; }

    // The camera of a complete build (null: none); ends the "away" state.
    void Watch(GstDevice* camera);

    // The watched camera went away and nothing has been watched since.
    bool CameraAway() const { return m_away; }

private:
    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void Post(GstMessageType type, GstDevice* device);
    void OnRemoved(GstDevice* device);
    void OnAdded(GstDevice* device);
    bool IsWatched(GstDevice* device) const;

    RemovedHandler m_removed;
    BackHandler m_back;
    GstRef<GstDeviceMonitor> m_monitor;
    GstRef<GstBus> m_bus;
    bool m_started = false;

    // Queued calls into the GUI thread go through this object: those still
    // waiting when the watch goes are dropped with it.
    std::unique_ptr<QObject> m_context;
    // Guards m_posting: the bus handler runs on the providers' threads.
    std::mutex m_postLock;
    bool m_posting = true;

    GstRef<GstDevice> m_camera;   // the camera in use, as the monitor lists it
    bool m_listed = false;        // m_camera is one of the monitor's own devices
    std::string m_cameraName;     // its display name, kept while it is away
    std::string m_cameraId;       // its stable id
    bool m_away = false;
};

}  // namespace quell
