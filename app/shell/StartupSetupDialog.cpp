// The start-up settings dialog.
#include "shell/StartupSetupDialog.h"

#include "shell/Autostart.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

namespace quell {

namespace {

constexpr const char* kTitle = "Quellvisor";

// The number is set with the arrows (buttons, keys, wheel) only; typing
// into it does nothing.
class CArrowOnlySpinBox : public QSpinBox {
public:
    explicit CArrowOnlySpinBox(QWidget* parent) : QSpinBox(parent) { lineEdit()->setReadOnly(true); }
};

std::string RunningProgram()
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace

CStartupSetupDialog::CStartupSetupDialog(QWidget* parent, StartupSetupMessages messages)
    : QDialog(parent),
      m_messages(std::move(messages)),
      m_programPath(RunningProgram()),
      m_secondsBox(new CArrowOnlySpinBox(this)),
      m_countdownBox(new QCheckBox(QStringLiteral("起動までの秒数をダイアログで表示する"), this)),
      m_create(new QPushButton(QStringLiteral("スタートアップ登録"), this)),
      m_remove(new QPushButton(QStringLiteral("スタートアップ削除"), this)),
      m_ok(new QPushButton(QStringLiteral("OK"), this)),
      m_cancel(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setWindowTitle(QStringLiteral("スタートアップ設定"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    m_secondsBox->setRange(0, kMaxSeconds);
    m_secondsBox->setAlignment(Qt::AlignRight);
    m_secondsBox->setMinimumWidth(m_secondsBox->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 40);

    m_ok->setDefault(true);
    m_create->setAutoDefault(false);
    m_remove->setAutoDefault(false);
    m_cancel->setAutoDefault(false);

    auto* secondsRow = new QHBoxLayout;
    secondsRow->addWidget(m_secondsBox);
    secondsRow->addWidget(new QLabel(QStringLiteral("秒後に起動する"), this));
    secondsRow->addStretch();

    auto* entryRow = new QHBoxLayout;
    entryRow->addWidget(m_create);
    entryRow->addWidget(m_remove);
    entryRow->addStretch();

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(m_ok);
    closeRow->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(secondsRow);
    layout->addWidget(m_countdownBox);
    layout->addSpacing(4);
    layout->addLayout(entryRow);
    layout->addSpacing(8);
    layout->addLayout(closeRow);

    connect(m_create, &QPushButton::clicked, this, &CStartupSetupDialog::CreateEntry);
    connect(m_remove, &QPushButton::clicked, this, &CStartupSetupDialog::RemoveEntry);
    connect(m_ok, &QPushButton::clicked, this, &CStartupSetupDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CStartupSetupDialog::SetValues(int seconds, bool showCountdown)
{
    m_seconds = seconds;
    m_showCountdown = showCountdown;
}

void CStartupSetupDialog::SetValues(const StartupSettings& settings)
{
    SetValues(settings.timerSeconds, settings.dialog == "on");
}

StartupSettings CStartupSetupDialog::Values() const
{
    StartupSettings settings;
    settings.timerSeconds = m_seconds;
    settings.dialog = m_showCountdown ? "on" : "off";
    return settings;
}

void CStartupSetupDialog::showEvent(QShowEvent* event)
{
    // Every opening shows the kept values; the box keeps the number in
    // 0..600.
    if (!event->spontaneous()) {
        m_secondsBox->setValue(m_seconds);
        m_countdownBox->setChecked(m_showCountdown);
        m_secondsBox->setFocus();
    }
    QDialog::showEvent(event);
}

void CStartupSetupDialog::accept()
{
    m_seconds = m_secondsBox->value();
    m_showCountdown = m_countdownBox->isChecked();
    QDialog::accept();
}

void CStartupSetupDialog::CreateEntry()
{
    std::string error;
    const std::string folder = AutostartFolder(error);
    if (folder.empty()) {
        ShowMessage(QStringLiteral("スタートアップフォルダを用意できませんでした。\n") + QString::fromStdString(error));
        return;
    }
    if (!AskOkCancel(QStringLiteral("スタートアップフォルダにQuellvisorのショートカットを作成します")))
        return;
    // A failure is reported: otherwise the user would count on a start at
    // log-on that never comes.
    if (!CreateStartupEntry(folder, m_programPath, error))
        ShowMessage(QStringLiteral("スタートアップフォルダにショートカットを作成できませんでした。\n") +
                    QString::fromStdString(error));
}

void CStartupSetupDialog::RemoveEntry()
{
    std::string error;
    const std::string folder = AutostartFolder(error);
    if (folder.empty())
        return;
    if (!FileExistsInFolder(folder, kAutostartFileName)) {
        ShowMessage(QStringLiteral("ショートカットが存在しません"));
        return;
    }
    if (!AskOkCancel(QStringLiteral("スタートアップフォルダのQuellvisorのショートカットを削除します")))
        return;
    if (!RemoveStartupEntry(folder, error))
        ShowMessage(QStringLiteral("ショートカットを削除できませんでした。\n") + QString::fromStdString(error));
}

bool CStartupSetupDialog::AskOkCancel(const QString& text)
{
    if (m_messages.askOkCancel)
        return m_messages.askOkCancel(text);
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kTitle), text, QMessageBox::Ok | QMessageBox::Cancel,
                    this);
    return box.exec() == QMessageBox::Ok;
}

void CStartupSetupDialog::ShowMessage(const QString& text)
{
    if (m_messages.showMessage) {
        m_messages.showMessage(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(kTitle), text, QMessageBox::Ok, this);
    box.exec();
}

}  // namespace quell
