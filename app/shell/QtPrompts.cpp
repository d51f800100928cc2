// Modal message boxes and the device choice dialog of the capture program.
#include "shell/QtPrompts.h"

#include "graph/DeviceSelectDialog.h"

#include <QMessageBox>
#include <QString>

namespace quell {

void CQtPrompts::ShowMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), QString::fromStdString(text),
                    QMessageBox::Ok, m_owner);
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
    CDeviceSelectDialog dialog(cancellable, m_owner);
    for (const std::string& name : names)
        dialog.AddName(name);
    dialog.SetInitialSelection(initial);
    const bool ok = dialog.exec() == QDialog::Accepted;
    selection = dialog.Selection();
    return ok;
}

}  // namespace quell
