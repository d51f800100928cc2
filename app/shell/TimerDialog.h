// CTimerDialog: the countdown before a delayed start, from which the user can
// start at once, hide the countdown or cancel the start.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class QTimer;

namespace quell {

class CTimerDialog : public QDialog {
    Q_OBJECT
public:
    // Counts `seconds` down once a second from the moment it is shown.
    explicit CTimerDialog(int seconds, QWidget* parent = nullptr);
    ~CTimerDialog() override;

    // Runs the dialog application-modal until it ends: Accepted to start the
    // program, Rejected not to. Unlike QDialog's own loop this one goes on
    // while the dialog is hidden with "非表示".
    int exec() override;

    // One timer tick: shows the remaining seconds and counts down, or ends
    // the dialog with OK once they have run out. With N seconds the text
    // stays empty until the first tick, shows N … 1 at ticks 1 … N, and the
    // dialog ends at tick N + 1.
    void Tick();

    QString Text() const { return m_text; }
    int Remaining() const { return m_remaining; }
    // The tick period, 1000 ms; tests shorten it.
    void SetTickInterval(int milliseconds);

    QLineEdit* TextField() const { return m_field; }
    QPushButton* StartButton() const { return m_start; }
    QPushButton* HideButton() const { return m_hide; }
    QPushButton* CancelButton() const { return m_cancel; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    int m_remaining;
    QString m_text;
    bool m_ended = false;
    QTimer* m_timer;
    QLineEdit* m_field;
    QPushButton* m_start;
    QPushButton* m_hide;
    QPushButton* m_cancel;
};

}  // namespace quell
