// The device choice dialog on the offscreen platform: texts, list order,
// initial selection, OK, and whether Escape and closing end it.
#include "graph/DeviceSelectDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

namespace quell {
namespace {

TEST(DeviceSelectDialog, ShowsTheNamesInListOrderWithTheInitialEntry)
{
    const struct {
        std::vector<std::string> names;
        int initial;
        int shown;
    } cases[] = {
        {{"Zeta", "Alpha", "録音なし", "Mid"}, 2, 2},
        {{"Zeta", "Alpha"}, -5, 0},
        {{"Zeta", "Alpha"}, 1, 1},
        {{}, 0, -1},
    };
    for (const auto& c : cases) {
        CDeviceSelectDialog dialog;
        for (const std::string& name : c.names)
            dialog.AddName(name);
        dialog.SetInitialSelection(c.initial);
        EXPECT_EQ(dialog.Count(), static_cast<int>(c.names.size()));
        dialog.show();
        QComboBox* combo = dialog.ComboBox();
        ASSERT_EQ(combo->count(), static_cast<int>(c.names.size()));
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_EQ(combo->itemText(i).toStdString(), c.names[static_cast<std::size_t>(i)]);
        EXPECT_EQ(combo->currentIndex(), c.shown);
        EXPECT_FALSE(combo->isEditable());
        // A second opening shows the same list once, not twice.
        dialog.hide();
        dialog.show();
        EXPECT_EQ(combo->count(), static_cast<int>(c.names.size()));
    }
}

TEST(DeviceSelectDialog, CaptionButtonAndSize)
{
    CDeviceSelectDialog dialog;
    EXPECT_EQ(dialog.windowTitle().toStdString(), "デバイス選択");
    EXPECT_EQ(dialog.OkButton()->text().toStdString(), "OK");
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.size(), QSize(370, 75));
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dialog.Selection(), 0);
}

TEST(DeviceSelectDialog, OkTakesTheComboBoxEntry)
{
    CDeviceSelectDialog dialog;
    dialog.AddName("A");
    dialog.AddName("B");
    dialog.AddName("C");
    dialog.show();
    dialog.ComboBox()->setCurrentIndex(2);
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Selection(), 2);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(DeviceSelectDialog, EscapeAndCloseCancelOnlyWhenCancellable)
{
    for (const bool cancellable : {false, true}) {
        SCOPED_TRACE(cancellable ? "cancellable" : "not cancellable");
        CDeviceSelectDialog escaped(cancellable);
        escaped.AddName("A");
        escaped.show();
        QTest::keyClick(&escaped, Qt::Key_Escape);
        EXPECT_EQ(escaped.isVisible(), !cancellable);

        CDeviceSelectDialog closed(cancellable);
        closed.AddName("A");
        closed.show();
        EXPECT_EQ(closed.close(), cancellable);
        EXPECT_EQ(closed.isVisible(), !cancellable);
        if (cancellable) {
            EXPECT_EQ(closed.result(), QDialog::Rejected);
        }
    }
}

// Run() as the program's prompts use it: modal, answered from a timer.
TEST(DeviceSelectDialog, RunReportsOkWithTheSelectionOrCancel)
{
    const std::vector<std::string> names = {"Cam (1)", "Cam (2)"};
    auto answerLater = [](bool pressEscape, int pick) {
        QTimer::singleShot(0, [pressEscape, pick] {
            auto* dialog = qobject_cast<CDeviceSelectDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            if (pressEscape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            if (dialog->isVisible()) {
                dialog->ComboBox()->setCurrentIndex(pick);
                QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
            }
        });
    };

    int selection = -7;
    answerLater(true, 1);  // Escape ignored, then OK
    EXPECT_TRUE(CDeviceSelectDialog::Run(names, 0, false, selection));
    EXPECT_EQ(selection, 1);

    answerLater(true, 1);  // Escape cancels
    EXPECT_FALSE(CDeviceSelectDialog::Run(names, 1, true, selection));
    EXPECT_EQ(selection, -1);

    answerLater(false, 0);
    EXPECT_TRUE(CDeviceSelectDialog::Run(names, 1, true, selection));
    EXPECT_EQ(selection, 0);
}

}  // namespace
}  // namespace quell
