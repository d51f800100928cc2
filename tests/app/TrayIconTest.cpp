// The tray icon's toggle and menu, driven directly: the offscreen platform
// has no notification area.
#include "shell/Commands.h"
#include "shell/TrayIcon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QPixmap>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

namespace quell {
namespace {

struct Item {
    std::string text;  // empty: separator
    int command;
    bool operator==(const Item&) const = default;
};

std::vector<Item> Items(const QMenu& menu)
{
    std::vector<Item> items;
    for (const QAction* action : menu.actions())
        items.push_back({action->isSeparator() ? "" : action->text().toStdString(),
                         action->isSeparator() ? 0 : action->data().toInt()});
    return items;
}

void PrintTo(const Item& item, std::ostream* out)
{
    *out << "{" << item.text << ", " << item.command << "}";
}

QIcon Icon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::green);
    return QIcon(pixmap);
}

TEST(TrayIcon, MenuTextFollowsTheWindowState)
{
    const struct {
        const char* name;
        void (*state)(QWidget&);
        const char* first;
    } cases[] = {
        {"shown", [](QWidget& w) { w.show(); }, "非表示(&S)"},
        {"maximised", [](QWidget& w) { w.showMaximized(); }, "非表示(&S)"},
        {"minimised", [](QWidget& w) { w.showMinimized(); }, "表示(&S)"},
        {"minimised and hidden",
         [](QWidget& w) {
             w.showMinimized();
             w.hide();
         },
         "表示(&S)"},
        {"never shown", [](QWidget&) {}, "表示(&S)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget window;
        CTrayIcon tray(window, Icon(), nullptr);
        c.state(window);
        const auto menu = tray.MakeMenu();
        ASSERT_TRUE(menu);
        EXPECT_EQ(Items(*menu), (std::vector<Item>{{c.first, kCmdShowHide}, {"", 0}, {"終了(&X)", kCmdExit}}));
    }
}

TEST(TrayIcon, NoMenuWhileAModalDialogIsOpen)
{
    QWidget window;
    window.show();
    CTrayIcon tray(window, Icon(), nullptr);
    {
        QDialog dialog(&window);
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        EXPECT_EQ(tray.MakeMenu(), nullptr);
        tray.OnActivated(QSystemTrayIcon::Context);
        EXPECT_EQ(tray.OpenMenu(), nullptr);

        // A dialog that does not block the window does not count.
        dialog.hide();
        QDialog modeless(&window);
        modeless.show();
        EXPECT_NE(tray.MakeMenu(), nullptr);
    }
    tray.OnActivated(QSystemTrayIcon::Context);
    ASSERT_NE(tray.OpenMenu(), nullptr);
    EXPECT_TRUE(tray.OpenMenu()->isVisible());
    tray.Remove();
    EXPECT_EQ(tray.OpenMenu(), nullptr);
}

TEST(TrayIcon, LeftClickTogglesAndRestoresThePreviousState)
{
    const struct {
        const char* name;
        void (*state)(QWidget&);
        Qt::WindowStates restored;
    } cases[] = {
        {"normal", [](QWidget& w) { w.show(); }, Qt::WindowNoState},
        {"maximised", [](QWidget& w) { w.showMaximized(); }, Qt::WindowMaximized},
        {"full screen", [](QWidget& w) { w.showFullScreen(); }, Qt::WindowFullScreen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget window;
        CTrayIcon tray(window, Icon(), nullptr);
        c.state(window);
        tray.OnActivated(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(window.isMinimized());
        EXPECT_TRUE(tray.WindowMinimised());
        // The main window hides itself when minimised.
        window.hide();
        tray.OnActivated(QSystemTrayIcon::Trigger);
        EXPECT_FALSE(window.isMinimized());
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.windowState() & ~Qt::WindowActive, c.restored);
        EXPECT_FALSE(tray.WindowMinimised());
    }
}

TEST(TrayIcon, OtherClicksDoNothing)
{
    QWidget window;
    window.show();
    CTrayIcon tray(window, Icon(), nullptr);
    for (const auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
        tray.OnActivated(reason);
        EXPECT_FALSE(window.isMinimized());
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(tray.OpenMenu(), nullptr);
    }
}

TEST(TrayIcon, ChosenCommandArrivesAfterTheMenu)
{
    for (const int index : {0, 2}) {
        QWidget window;
        window.show();
        std::vector<int> commands;
        CTrayIcon tray(window, Icon(), [&commands](int command) { commands.push_back(command); });
        const auto menu = tray.MakeMenu();
        ASSERT_TRUE(menu);
        menu->actions().at(index)->trigger();
        EXPECT_TRUE(commands.empty());
        QApplication::processEvents();
        EXPECT_EQ(commands, std::vector<int>{index == 0 ? kCmdShowHide : kCmdExit});
    }
}

TEST(TrayIcon, ExitMayDestroyTheIconFromItsOwnMenu)
{
    QWidget window;
    window.show();
    auto tray = std::make_unique<CTrayIcon>(window, Icon(), nullptr);
    bool exited = false;
    tray = std::make_unique<CTrayIcon>(window, Icon(), [&](int command) {
        exited = command == kCmdExit;
        tray.reset();
    });
    tray->OnActivated(QSystemTrayIcon::Context);
    ASSERT_NE(tray->OpenMenu(), nullptr);
    tray->OpenMenu()->actions().at(2)->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(exited);
    EXPECT_EQ(tray, nullptr);
}

TEST(TrayIcon, TipAddAndRemove)
{
    QWidget window;
    CTrayIcon tray(window, Icon(), nullptr);
    EXPECT_EQ(tray.Icon().toolTip().toStdString(), "Quellvisor");
    EXPECT_FALSE(tray.Added());
    tray.Add();
    EXPECT_TRUE(tray.Added());
    tray.Remove();
    tray.Remove();
    EXPECT_FALSE(tray.Added());
}

}  // namespace
}  // namespace quell
