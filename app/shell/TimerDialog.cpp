// The countdown dialog of the delayed start.
#include "shell/TimerDialog.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace quell {

CTimerDialog::CTimerDialog(int seconds, QWidget* parent)
    : QDialog(parent),
      m_remaining(seconds),
      m_timer(new QTimer(this)),
      m_field(new QLineEdit(this)),
      m_start(new QPushButton(QStringLiteral("今すぐ起動"), this)),
      m_hide(new QPushButton(QStringLiteral("非表示"), this)),
      m_cancel(new QPushButton(QStringLiteral("起動しない"), this))
{
    setWindowTitle(QStringLiteral("Quellvisor 起動タイマー"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    m_field->setReadOnly(true);
    m_field->setAlignment(Qt::AlignCenter);
    m_field->setFocusPolicy(Qt::NoFocus);
    // Wide enough for the longest text the settings allow (600 seconds).
    m_field->setMinimumWidth(m_field->fontMetrics().horizontalAdvance(QStringLiteral("600秒後にQuellvisorを起動します")) +
                             24);

    m_start->setDefault(true);
    m_hide->setAutoDefault(false);
    m_cancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_hide);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_field);
    layout->addLayout(buttons);

    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &CTimerDialog::Tick);
    connect(m_start, &QPushButton::clicked, this, &QDialog::accept);
    // Hidden, the count goes on and still starts the program at its end;
    // nothing brings the dialog back.
    connect(m_hide, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this] {
        m_timer->stop();
        m_ended = true;
    });
}

CTimerDialog::~CTimerDialog() = default;

void CTimerDialog::SetTickInterval(int milliseconds)
{
    m_timer->setInterval(milliseconds);
}

void CTimerDialog::showEvent(QShowEvent* event)
{
    if (!event->spontaneous() && !m_timer->isActive() && !m_ended) {
        m_start->setFocus();
        m_timer->start();
    }
    QDialog::showEvent(event);
}

void CTimerDialog::Tick()
{
    if (m_ended)
        return;
    if (m_remaining > 0) {
        m_text = QStringLiteral("%1秒後にQuellvisorを起動します").arg(m_remaining);
        m_field->setText(m_text);
        --m_remaining;
    } else {
        accept();
    }
}

int CTimerDialog::exec()
{
    // QDialog's own loop ends as soon as the dialog is hidden, which would
    // turn "非表示" into a cancel; this loop ends only with the dialog.
    setResult(Rejected);
    if (!isVisible())
        setWindowModality(Qt::ApplicationModal);
    QPointer<CTimerDialog> alive(this);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    m_ended = false;
    show();
    if (!m_ended)
        loop.exec(QEventLoop::DialogExec);
    return alive ? result() : Rejected;
}

}  // namespace quell
