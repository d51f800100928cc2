// The questions and messages the capture graph and the device choice put to
// the user. The main window answers them with modal Qt dialogs; tests answer
// them from a script.
#pragma once

#include <gst/gst.h>

#include <string>
#include <vector>

namespace quell {

// One format a camera offers: raw video ("video/x-raw") or JPEG
// ("image/jpeg"), a size, and a frame rate (0/1 when the rate is unknown).
struct CameraFormatChoice {
    std::string media;
    int width = 0;
    int height = 0;
    int rateNum = 0;
    int rateDen = 1;

    bool operator==(const CameraFormatChoice&) const = default;
};

class IPrompts {
public:
    virtual ~IPrompts() = default;

    // A modal message box with an OK button and the application's title.
    virtual void ShowMessage(const std::string& text) = 0;

    // A modal Yes/No question without an icon; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;

    // Runs the device choice dialog once over `names` with `initial`
    // selected. Returns true when it ended with OK and sets `selection` to
    // the chosen index (-1 when nothing was chosen); false when it was
    // cancelled or closed. `cancellable` is false for the camera choice,
    // whose caller asks again until it gets a selection.
    virtual bool RunDeviceDialog(const std::vector<std::string>& names, int initial, bool cancellable,
                                 int& selection) = 0;

    // The camera's format page over `formats` with `current` selected (-1:
    // none). True when it ended with OK and sets `chosen`; false when it was
    // cancelled. The default takes the current format without asking.
    virtual bool ChooseCameraFormat(const std::vector<CameraFormatChoice>& formats, int current, int& chosen)
    {
        (void)formats;
        chosen = current;
        return true;
    }

    // The camera's picture controls (brightness, contrast, ...) while the
    // pipeline runs, so that changes are seen at once. Default: nothing.
    virtual void ShowCameraControls(GstElement* camera) { (void)camera; }

    // One page per element of the running pipeline that has properties
    // which may change while it plays. Default: nothing.
    virtual void ShowPropertyPages(GstElement* pipeline) { (void)pipeline; }

    // A message box with the information icon. Default: a plain message.
    virtual void ShowInformation(const std::string& text) { ShowMessage(text); }

    // The version information box. Default: nothing.
    virtual void ShowAbout() {}
};

}  // namespace quell
