// The camera's format page: the sizes and frame rates it offers, one to choose.
#pragma once

#include "graph/Prompts.h"

#include <QDialog>

#include <vector>

class QListWidget;

namespace quell {

class CFormatDialog : public QDialog {
    Q_OBJECT
public:
    CFormatDialog(const std::vector<CameraFormatChoice>& formats, int current, QWidget* parent = nullptr);

    // The selected entry's index, -1 when none.
    int Chosen() const;
    QListWidget* List() const { return m_list; }

    // One entry's text: "640 × 480  30 fps  非圧縮".
    static QString Label(const CameraFormatChoice& format);

    // Runs the page modally; true after OK with a selection.
    static bool Run(const std::vector<CameraFormatChoice>& formats, int current, int& chosen, QWidget* parent);

private:
    QListWidget* m_list;
};

}  // namespace quell
