// What the capture graph needs from the main window that owns it.
#pragma once

#include "graph/Prompts.h"

#include <gst/gst.h>

#include <string>

namespace quell {

class IGraphHost {
public:
    virtual ~IGraphHost() = default;

    virtual IPrompts& Prompts() = 0;

    // A new sink element for the display branch (the window's appsink that
    // paints into the video area; a test's own sink). Floating reference.
    virtual GstElement* CreateVideoRenderer() = 0;

    // The window's caption after a complete build.
    virtual void SetCaption(const std::string& caption) = 0;

    // Resizes the window so that its client area is width x height.
    virtual void SetClientSize(int width, int height) = 0;

    // Writes setup.ini (after every complete build).
    virtual void SaveSettings() = 0;

    // The folder recordings go to (created when missing).
    virtual std::string VideoFolder() = 0;

    // The graph ended a recording on its own: its file or its sound input
    // failed while the camera still works. The window leaves recording and
    // builds its preview again. Default: nothing.
    virtual void RecordingEnded() {}
};

}  // namespace quell
