// The device choice dialog: one drop-down list of device names and OK; the
// same dialog serves cameras and audio inputs.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QPushButton;

namespace quell {

class CDeviceSelectDialog : public QDialog {
    Q_OBJECT

public:
    // `cancellable` false: Escape and the close button do not end the
    // dialog, only OK does (the camera choice); true: they cancel it.
    explicit CDeviceSelectDialog(bool cancellable = false, QWidget* parent = nullptr);

    // Appends a name to the list shown when the dialog opens.
    void AddName(const std::string& name);
    int Count() const { return static_cast<int>(m_names.size()); }
    // The entry selected when the dialog opens; a negative value means 0.
    void SetInitialSelection(int selection) { m_initialSelection = selection < 0 ? 0 : selection; }
    // The entry chosen with OK (-1 when none was selected).
    int Selection() const { return m_selection; }

    // Runs the dialog once over `names`: true when it ended with OK, with the
    // chosen index in `selection`; false when it was cancelled or closed.
    static bool Run(const std::vector<std::string>& names, int initial, bool cancellable, int& selection,
                    QWidget* parent = nullptr);

    QComboBox* ComboBox() const { return m_combo; }
    QPushButton* OkButton() const { return m_ok; }

public Q_SLOTS:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnOk();

    const bool m_cancellable;
    std::vector<std::string> m_names;
    int m_selection = 0;
    int m_initialSelection = 0;
    QComboBox* m_combo;
    QPushButton* m_ok;
};

}  // namespace quell
