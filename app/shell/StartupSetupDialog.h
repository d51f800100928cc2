// CStartupSetupDialog: the delayed start's seconds and countdown choice, and
// the buttons that put the program into the autostart folder or take it out.
#pragma once

#include "shell/CaptureSettings.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QCheckBox;
class QPushButton;
class QSpinBox;

namespace quell {

// The message boxes the dialog shows; tests answer them from a script.
struct StartupSetupMessages {
    // An OK/Cancel question; true for OK.
    std::function<bool(const QString& text)> askOkCancel;
    // A message with an OK button.
    std::function<void(const QString& text)> showMessage;
};

class CStartupSetupDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxSeconds = 600;

    // `messages` with empty members: modal message boxes titled "Quellvisor".
    explicit CStartupSetupDialog(QWidget* parent = nullptr, StartupSetupMessages messages = {});

    // The values the controls show when the dialog opens; OK takes them back
    // from the controls, Cancel leaves them. They live as long as the object,
    // so a second run shows what the first one ended with.
    void SetValues(int seconds, bool showCountdown);
    int Seconds() const { return m_seconds; }
    bool ShowCountdown() const { return m_showCountdown; }
    // The same values as setup.ini keeps them (STARTUP_DIALOG "on"/"off").
    void SetValues(const StartupSettings& settings);
    StartupSettings Values() const;

    // The program the autostart entry runs; the running program by default.
    void SetProgramPath(const std::string& path) { m_programPath = path; }

    // The two buttons' work, also reachable without clicking.
    void CreateEntry();
    void RemoveEntry();

    QSpinBox* SecondsBox() const { return m_secondsBox; }
    QCheckBox* CountdownBox() const { return m_countdownBox; }
    QPushButton* CreateButton() const { return m_create; }
    QPushButton* RemoveButton() const { return m_remove; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

public Q_SLOTS:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool AskOkCancel(const QString& text);
    void ShowMessage(const QString& text);

    StartupSetupMessages m_messages;
    std::string m_programPath;
    int m_seconds = 0;
    bool m_showCountdown = false;
    QSpinBox* m_secondsBox;
    QCheckBox* m_countdownBox;
    QPushButton* m_create;
    QPushButton* m_remove;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

}  // namespace quell
