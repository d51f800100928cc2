// The camera's picture controls (brightness, contrast, gain, exposure, ...)
// as sliders that change the running picture at once.
#pragma once

#include <gst/gst.h>

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

namespace quell {

// One adjustable value of a camera.
struct CameraControl {
    std::string label;          // shown to the user
    int minimum = 0;
    int maximum = 0;
    bool toggle = false;        // on/off (0/1) rather than a scale
    std::function<int()> get;
    std::function<void(int)> set;
};

// The controls the camera offers: the colour balance channels of the camera
// element or of an element inside it, and for a V4L2 device its integer and
// on/off controls that the colour balance does not already cover.
std::vector<CameraControl> CameraControlsOf(GstElement* camera);

class CCameraControlsDialog : public QDialog {
    Q_OBJECT
public:
    CCameraControlsDialog(std::vector<CameraControl> controls, QWidget* parent = nullptr);

    // The editor of the control labelled `label` (a QSlider or QCheckBox).
    QWidget* Editor(const std::string& label) const;

    // Shows the dialog modally when the camera has any controls.
    static void Run(GstElement* camera, QWidget* parent);

private:
    std::vector<CameraControl> m_controls;
    std::vector<QWidget*> m_editors;
};

}  // namespace quell
