// The questions and messages the capture graph and the device choice put to
// the user. The main window answers them with modal Qt dialogs; tests answer
// them from a script.
#pragma once

#include <string>
#include <vector>

namespace quell {

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
};

}  // namespace quell
