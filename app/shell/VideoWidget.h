// The main window's video area: paints the newest frame of the display
// branch's appsink, scaled to the widget.
#pragma once

#include <QImage>
#include <QWidget>

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <mutex>

class QSvgRenderer;

namespace quell {

class CVideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit CVideoWidget(QWidget* parent = nullptr);
    ~CVideoWidget() override;

    // A new appsink for the display branch (floating reference). Its frames
    // arrive on a streaming thread; only the newest one is kept and the
    // widget repaints on the GUI thread. One sink at a time feeds the widget.
    GstElement* CreateSink();

    // Forgets the last frame and shows the waiting picture again.
    void ClearFrame();

    // Frames that reached the widget (for tests and the status figures).
    std::uint64_t FramesShown() const { return m_framesShown.load(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static GstFlowReturn OnNewSample(GstElement* sink, gpointer self);
    void TakeSample(GstSample* sample);

    std::mutex m_frameLock;       // guards m_pending (streaming thread -> GUI thread)
    GstSample* m_pending = nullptr;
    std::atomic<bool> m_updateQueued{false};
    GstSample* m_shown = nullptr; // GUI thread only; keeps m_image's pixels alive
    QImage m_image;
    QSvgRenderer* m_waiting = nullptr;  // the picture shown until the first frame (child, made at first use)
    std::atomic<std::uint64_t> m_framesShown{0};
    std::atomic<std::uint64_t> m_generation{0};
};

}  // namespace quell
