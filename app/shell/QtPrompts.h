// The capture program's messages and questions as modal Qt dialogs.
#pragma once

#include "graph/Prompts.h"

class QWidget;

namespace quell {

// The title of every message box of the program.
inline constexpr const char* kAppTitle = "Quellvisor";

class CQtPrompts : public IPrompts {
public:
    explicit CQtPrompts(QWidget* owner) : m_owner(owner) {}

    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    bool RunDeviceDialog(const std::vector<std::string>& names, int initial, bool cancellable,
                         int& selection) override;
    bool ChooseCameraFormat(const std::vector<CameraFormatChoice>& formats, int current, int& chosen) override;
    void ShowCameraControls(GstElement* camera) override;
    void ShowPropertyPages(GstElement* pipeline) override;
    void ShowInformation(const std::string& text) override;
    void ShowAbout() override;

private:
    QWidget* m_owner;
};

}  // namespace quell
