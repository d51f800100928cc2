// Modal message boxes and the device choice dialog of the capture program.
#include "shell/QtPrompts.h"

#include "graph/CameraControlsDialog.h"
#include "graph/DeviceSelectDialog.h"
#include "graph/FormatDialog.h"
#include "graph/PropertyPages.h"

#include <QMessageBox>
#include <QString>
#include <QWidget>

namespace quell {

void CQtPrompts::ShowMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), QString::fromStdString(text),
                    QMessageBox::Ok, m_owner);
    box.exec();
}

void CQtPrompts::ShowInformation(const std::string& text)
{
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(kAppTitle), QString::fromStdString(text),
                    QMessageBox::Ok, m_owner);
    box.exec();
}

void CQtPrompts::ShowAbout()
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("バージョン情報 Capture"),
                    QStringLiteral("Quellvisor Capture バージョン 0.1\n\n"
                                   "カメラの顔を測定する、緑色のパワーメーター。"),
                    QMessageBox::Ok, m_owner);
    box.setIconPixmap(m_owner ? m_owner->windowIcon().pixmap(64, 64) : QPixmap());
    box.exec();
}

bool CQtPrompts::AskYesNo(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, m_owner);
    return box.exec() == QMessageBox::Yes;
}

bool CQtPrompts::RunDeviceDialog(const std::vector<std::string>& names, int initial, bool cancellable,
                                 int& selection)
{
    return CDeviceSelectDialog::Run(names, initial, cancellable, selection, m_owner);
}

bool CQtPrompts::ChooseCameraFormat(const std::vector<CameraFormatChoice>& formats, int current, int& chosen)
{
    return CFormatDialog::Run(formats, current, chosen, m_owner);
}

void CQtPrompts::ShowCameraControls(GstElement* camera)
{
    CCameraControlsDialog::Run(camera, m_owner);
}

void CQtPrompts::ShowPropertyPages(GstElement* pipeline)
{
    CPropertyPage::ShowAll(pipeline, m_owner);
}

}  // namespace quell
