// The countdown dialog: its texts, the tick sequence driven by hand, and how
// it ends (at the end of the count, at once, cancelled, hidden).
#include "shell/TimerDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>

namespace quell {
namespace {

std::string CountText(int seconds)
{
    return std::to_string(seconds) + "秒後にQuellvisorを起動します";
}

TEST(TimerDialog, CaptionButtonsAndField)
{
    CTimerDialog dialog(5);
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Quellvisor 起動タイマー");
    EXPECT_EQ(dialog.StartButton()->text().toStdString(), "今すぐ起動");
    EXPECT_EQ(dialog.HideButton()->text().toStdString(), "非表示");
    EXPECT_EQ(dialog.CancelButton()->text().toStdString(), "起動しない");
    EXPECT_TRUE(dialog.StartButton()->isDefault());
    EXPECT_FALSE(dialog.HideButton()->isDefault());
    EXPECT_FALSE(dialog.CancelButton()->isDefault());
    EXPECT_TRUE(dialog.TextField()->isReadOnly());
    EXPECT_TRUE(dialog.TextField()->alignment() & Qt::AlignHCenter);

    // The longest count fits into the field.
    dialog.show();
    const QLineEdit& field = *dialog.TextField();
    EXPECT_LT(field.fontMetrics().horizontalAdvance(QString::fromStdString(CountText(600))), field.width() - 8);
}

TEST(TimerDialog, EmptyForOneTickThenNDownToOneThenOk)
{
    for (const int seconds : {0, 1, 3, 12}) {
        SCOPED_TRACE(seconds);
        CTimerDialog dialog(seconds);
        dialog.show();
        // The dialog's own timer runs once a second from the showing.
        const auto timers = dialog.findChildren<QTimer*>();
        ASSERT_EQ(timers.size(), 1);
        EXPECT_EQ(timers.front()->interval(), 1000);
        EXPECT_TRUE(timers.front()->isActive());
        EXPECT_FALSE(timers.front()->isSingleShot());

        EXPECT_EQ(dialog.Text().toStdString(), "");
        EXPECT_EQ(dialog.TextField()->text().toStdString(), "");
        for (int tick = 1; tick <= seconds; ++tick) {
            dialog.Tick();
            EXPECT_EQ(dialog.Text().toStdString(), CountText(seconds - tick + 1));
            EXPECT_EQ(dialog.TextField()->text(), dialog.Text());
            EXPECT_TRUE(dialog.isVisible()) << "tick " << tick;
        }
        dialog.Tick();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(timers.front()->isActive());
        // Nothing moves any more once the dialog has ended.
        const QString last = dialog.Text();
        dialog.Tick();
        EXPECT_EQ(dialog.Text(), last);
    }
}

TEST(TimerDialog, HiddenTheCountGoesOnAndEndsWithOk)
{
    CTimerDialog dialog(2);
    dialog.show();
    dialog.Tick();
    QTest::mouseClick(dialog.HideButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    dialog.Tick();
    EXPECT_EQ(dialog.Text().toStdString(), CountText(1));
    EXPECT_EQ(dialog.Remaining(), 0);
    dialog.Tick();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// Runs the dialog modally with the real (shortened) timer; `act` runs once
// the loop is going.
int RunWith(CTimerDialog& dialog, const std::function<void(CTimerDialog&)>& act)
{
    QTimer::singleShot(0, &dialog, [&dialog, act] { act(dialog); });
    return dialog.exec();
}

TEST(TimerDialog, HowAModalRunEnds)
{
    const struct {
        const char* name;
        int tickMs;
        std::function<void(CTimerDialog&)> act;
        int result;
        std::string text;  // the field's text at the end
    } cases[] = {
        {"count runs out", 5, [](CTimerDialog&) {}, QDialog::Accepted, CountText(1)},
        // QDialog's own loop would end with the hiding, as a cancel.
        {"hidden, count runs out", 5,
         [](CTimerDialog& d) { QTest::mouseClick(d.HideButton(), Qt::LeftButton); }, QDialog::Accepted,
         CountText(1)},
        {"start now", 60000, [](CTimerDialog& d) { QTest::mouseClick(d.StartButton(), Qt::LeftButton); },
         QDialog::Accepted, ""},
        {"Enter", 60000, [](CTimerDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }, QDialog::Accepted, ""},
        {"do not start", 60000, [](CTimerDialog& d) { QTest::mouseClick(d.CancelButton(), Qt::LeftButton); },
         QDialog::Rejected, ""},
        {"Escape", 60000, [](CTimerDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, QDialog::Rejected, ""},
        {"close box", 60000, [](CTimerDialog& d) { d.close(); }, QDialog::Rejected, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTimerDialog dialog(3);
        dialog.SetTickInterval(c.tickMs);
        bool modal = false;
        EXPECT_EQ(RunWith(dialog,
                          [&](CTimerDialog& d) {
                              modal = QApplication::activeModalWidget() == &d;
                              c.act(d);
                          }),
                  c.result);
        EXPECT_TRUE(modal);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.Text().toStdString(), c.text);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

}  // namespace
}  // namespace quell
