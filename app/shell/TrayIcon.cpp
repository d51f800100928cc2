// The tray icon, its click toggle and its menu.
#include "shell/TrayIcon.h"

#include "shell/Commands.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QWidget>

namespace quell {

CTrayIcon::CTrayIcon(QWidget& window, const QIcon& icon, std::function<void(int command)> onCommand,
                     QObject* parent)
    : QObject(parent), m_window(window), m_onCommand(std::move(onCommand)), m_icon(icon)
{
    m_icon.setToolTip(QStringLiteral("Quellvisor"));
    connect(&m_icon, &QSystemTrayIcon::activated, this, &CTrayIcon::OnActivated);
}

CTrayIcon::~CTrayIcon()
{
    Remove();
}

bool CTrayIcon::Available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CTrayIcon::Add()
{
    m_icon.show();
}

void CTrayIcon::Remove()
{
    m_openMenu.reset();
    m_icon.hide();
}

bool CTrayIcon::Added() const
{
    return m_icon.isVisible();
}

bool CTrayIcon::WindowMinimised() const
{
    // A hidden window is as unreachable as a minimised one.
    return m_window.isMinimized() || !m_window.isVisible();
}

void CTrayIcon::Toggle()
{
    if (WindowMinimised()) {
        // Only the minimised flag goes, so a window that was full screen or
        // maximised comes back that way.
        m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
        m_window.show();
        m_window.raise();
        m_window.activateWindow();
    } else {
        m_window.showMinimized();
    }
}

std::unique_ptr<QMenu> CTrayIcon::MakeMenu()
{
    // The window is not to be used while one of its dialogs waits for an
    // answer, so there is no menu either.
    if (QApplication::activeModalWidget())
        return nullptr;

    auto menu = std::make_unique<QMenu>();
    struct Item {
        QString text;
        int command;
    };
    const Item items[] = {
        {WindowMinimised() ? QStringLiteral("表示(&S)") : QStringLiteral("非表示(&S)"), kCmdShowHide},
        {QString(), 0},
        {QStringLiteral("終了(&X)"), kCmdExit},
    };
    for (const Item& item : items) {
        if (item.text.isEmpty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(item.text);
        action->setData(item.command);
        const int command = item.command;
        // Queued: the command runs once the menu has closed, and may end the
        // program, this object and the menu with it.
        connect(
            action, &QAction::triggered, this,
            [this, command] {
                if (m_onCommand)
                    m_onCommand(command);
            },
            Qt::QueuedConnection);
    }
    return menu;
}

void CTrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        Toggle();
        break;
    case QSystemTrayIcon::Context: {
        auto menu = MakeMenu();
        if (!menu)
            break;
        // Kept until the next right click or the removal; deleting it from
        // its own aboutToHide would pull it away under the chosen action.
        m_openMenu = std::move(menu);
        m_openMenu->popup(QCursor::pos());
        break;
    }
    default:
        break;
    }
}

}  // namespace quell
