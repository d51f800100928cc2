// Video area of the main window: the newest frame from the appsink, painted as a QImage.
#include "shell/VideoWidget.h"

#include <QPainter>
#include <QPointer>
#include <QSvgRenderer>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

namespace quell {

namespace {

// Keeps the sample mapped while the QImage shows its pixels.
struct MappedFrame {
    GstSample* sample;
    GstVideoFrame frame;
};

void ReleaseMappedFrame(void* data)
{
    auto* mapped = static_cast<MappedFrame*>(data);
    gst_video_frame_unmap(&mapped->frame);
    gst_sample_unref(mapped->sample);
    delete mapped;
}

}  // namespace

CVideoWidget::CVideoWidget(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(1, 1);
    setMouseTracking(false);
}

CVideoWidget::~CVideoWidget()
{
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (m_pending)
        gst_sample_unref(m_pending);
    m_pending = nullptr;
}

GstElement* CVideoWidget::CreateSink()
{
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!sink)
        return nullptr;
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
    // Only the newest frame matters to the display: the sink drops the rest
    // and syncs to the clock, so a slow repaint never holds the pipeline up.
    g_object_set(sink, "caps", caps, "max-buffers", 1u, "drop", TRUE, "sync", TRUE, "qos", TRUE,
                 "emit-signals", TRUE, "enable-last-sample", FALSE, nullptr);
    gst_caps_unref(caps);
    ++m_generation;
    g_signal_connect(sink, "new-sample", G_CALLBACK(&CVideoWidget::OnNewSample), this);
    return sink;
}

GstFlowReturn CVideoWidget::OnNewSample(GstElement* sink, gpointer self)
{
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (sample)
        static_cast<CVideoWidget*>(self)->TakeSample(sample);
    return GST_FLOW_OK;
}

void CVideoWidget::TakeSample(GstSample* sample)
{
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        if (m_pending)
            gst_sample_unref(m_pending);
        m_pending = sample;
    }
    // One queued repaint at a time; it takes whatever frame is newest then.
    if (!m_updateQueued.exchange(true)) {
        QMetaObject::invokeMethod(this, [this] {
            m_updateQueued = false;
            update();
        }, Qt::QueuedConnection);
    }
}

void CVideoWidget::ClearFrame()
{
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        if (m_pending)
            gst_sample_unref(m_pending);
        m_pending = nullptr;
    }
    m_image = QImage();
    update();
}

void CVideoWidget::paintEvent(QPaintEvent*)
{
    GstSample* sample = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        sample = m_pending;
        m_pending = nullptr;
    }
    if (sample) {
        GstVideoInfo info;
        auto* mapped = new MappedFrame{sample, {}};
        GstCaps* caps = gst_sample_get_caps(sample);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (caps && buffer && gst_video_info_from_caps(&info, caps) &&
            gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ)) {
            // BGRx in memory is QImage's RGB32 on a little-endian machine.
            m_image = QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped->frame, 0)),
                             GST_VIDEO_FRAME_WIDTH(&mapped->frame), GST_VIDEO_FRAME_HEIGHT(&mapped->frame),
                             GST_VIDEO_FRAME_PLANE_STRIDE(&mapped->frame, 0), QImage::Format_RGB32,
                             &ReleaseMappedFrame, mapped);
            ++m_framesShown;
        } else {
            gst_sample_unref(sample);
            delete mapped;
        }
    }

    QPainter painter(this);
    if (m_image.isNull()) {
        // Until the first frame: the display's empty screen.
        painter.fillRect(rect(), Qt::black);
        if (!m_waiting)
            m_waiting = new QSvgRenderer(QStringLiteral(":/icons/waiting.svg"), this);
        m_waiting->render(&painter, rect());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(rect(), m_image);
}

}  // namespace quell
