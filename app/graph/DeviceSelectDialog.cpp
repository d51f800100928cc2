// The device choice dialog.
#include "graph/DeviceSelectDialog.h"

#include <QComboBox>
#include <QPushButton>
#include <QShowEvent>

namespace quell {

CDeviceSelectDialog::CDeviceSelectDialog(bool cancellable, QWidget* parent)
    : QDialog(parent), m_cancellable(cancellable), m_combo(new QComboBox(this)), m_ok(new QPushButton("OK", this))
{
    setWindowTitle("デバイス選択");
    // A small fixed frame with a title and a close button, nothing else.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(370, 75);
    m_combo->setGeometry(10, 10, 350, 24);
    m_combo->setEditable(false);
    m_combo->setMaxVisibleItems(12);
    m_ok->setGeometry(148, 44, 74, 24);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &CDeviceSelectDialog::OnOk);
}

void CDeviceSelectDialog::AddName(const std::string& name)
{
    m_names.push_back(name);
}

void CDeviceSelectDialog::showEvent(QShowEvent* event)
{
    // Every opening shows the names in list order with the initial entry
    // selected.
    if (!event->spontaneous()) {
        m_combo->clear();
        for (const std::string& name : m_names)
            m_combo->addItem(QString::fromStdString(name));
        m_selection = m_initialSelection;
        m_combo->setCurrentIndex(m_selection < m_combo->count() ? m_selection : -1);
        m_combo->setFocus();
    }
    QDialog::showEvent(event);
}

void CDeviceSelectDialog::OnOk()
{
    m_selection = m_combo->currentIndex();
    accept();
}

void CDeviceSelectDialog::reject()
{
    // Without a way to cancel, the user has to pick an entry.
    if (m_cancellable)
        QDialog::reject();
}

bool CDeviceSelectDialog::Run(const std::vector<std::string>& names, int initial, bool cancellable, int& selection,
                              QWidget* parent)
{
    CDeviceSelectDialog dialog(cancellable, parent);
    for (const std::string& name : names)
        dialog.AddName(name);
    dialog.SetInitialSelection(initial);
    const bool ok = dialog.exec() == QDialog::Accepted;
    selection = ok ? dialog.Selection() : -1;
    return ok;
}

}  // namespace quell
