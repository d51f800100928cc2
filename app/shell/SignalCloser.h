// Turns SIGTERM and SIGINT (logout, Ctrl+C) into a normal close of the main
// window, so that a recording is finished and the settings are saved.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace quell {

class CSignalCloser : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; `onSignal` runs on the GUI thread.
    explicit CSignalCloser(std::function<void()> onSignal, QObject* parent = nullptr);
    ~CSignalCloser() override;

private:
    std::function<void()> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace quell
