// The camera's format page as a list of its sizes and frame rates.
#include "graph/FormatDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace quell {

CFormatDialog::CFormatDialog(const std::vector<CameraFormatChoice>& formats, int current, QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this))
{
    setWindowTitle(QStringLiteral("カメラ設定"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("映像のサイズとフレームレート(&F):"), this);
    label->setBuddy(m_list);
    layout->addWidget(label);
    for (const CameraFormatChoice& format : formats)
        m_list->addItem(Label(format));
    if (current >= 0 && current < m_list->count())
        m_list->setCurrentRow(current);
    // About a dozen rows show; more scroll.
    const int rowHeight = m_list->sizeHintForRow(0) > 0 ? m_list->sizeHintForRow(0) : 18;
    m_list->setMinimumHeight(rowHeight * 12 + 2 * m_list->frameWidth());
    m_list->setMinimumWidth(m_list->sizeHintForColumn(0) + 40);
    layout->addWidget(m_list);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(m_list->currentRow() >= 0);
    connect(m_list, &QListWidget::currentRowChanged, ok, [ok](int row) { ok->setEnabled(row >= 0); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

int CFormatDialog::Chosen() const
{
    return m_list->currentRow();
}

QString CFormatDialog::Label(const CameraFormatChoice& format)
{
    QString rate;
    if (format.rateNum <= 0 || format.rateDen <= 0)
        rate = QStringLiteral("フレームレート不明");
    else if (format.rateNum % format.rateDen == 0)
        rate = QStringLiteral("%1 fps").arg(format.rateNum / format.rateDen);
    else
        rate = QStringLiteral("%1 fps").arg(static_cast<double>(format.rateNum) / format.rateDen, 0, 'f', 2);
    const QString kind = format.media == "image/jpeg" ? QStringLiteral("MJPEG") : QStringLiteral("非圧縮");
    return QStringLiteral("%1 × %2    %3    %4").arg(format.width).arg(format.height).arg(rate, kind);
}

bool CFormatDialog::Run(const std::vector<CameraFormatChoice>& formats, int current, int& chosen, QWidget* parent)
{
    CFormatDialog dialog(formats, current, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.Chosen() < 0)
        return false;
    chosen = dialog.Chosen();
    return true;
}

}  // namespace quell
