// CTrayIcon: the capture program's icon in the notification area, the way
// back to a window that minimising has hidden.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QMenu;
class QWidget;

namespace quell {

class CTrayIcon : public QObject {
    Q_OBJECT
public:
    // `onCommand` receives the command id (Commands.h) chosen in the tray
    // menu: kCmdShowHide or kCmdExit. It runs from the event loop after the
    // menu has closed, so it may destroy this object.
    CTrayIcon(QWidget& window, const QIcon& icon, std::function<void(int command)> onCommand,
              QObject* parent = nullptr);
    ~CTrayIcon() override;

    // Whether the desktop has a notification area now. Without one the
    // window must not hide when minimised: nothing could bring it back.
    static bool Available();

    // Shows the icon with its tip "Quellvisor". When the desktop has no
    // notification area yet, or its panel restarts, Qt adds the icon as soon
    // as one (re)appears.
    void Add();
    // Takes the icon away; harmless when it is not there.
    void Remove();
    bool Added() const;

    // The left click and the menu's first item: a minimised (or hidden)
    // window comes back in its previous state and to the front; a shown one
    // is minimised.
    void Toggle();
    // True when the window counts as minimised for the toggle and the menu.
    bool WindowMinimised() const;

    // The tray menu for the window's present state: "非表示(&S)" while it is
    // shown or "表示(&S)" while it is minimised, a separator, "終了(&X)";
    // each item's data is its command id. Null while an application-modal
    // dialog is open.
    std::unique_ptr<QMenu> MakeMenu();

    // What a click on the icon does: Trigger toggles, Context opens the menu
    // at the mouse, everything else does nothing.
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    // The menu of the last right click, kept until the next one or Remove().
    QMenu* OpenMenu() const { return m_openMenu.get(); }
    QSystemTrayIcon& Icon() { return m_icon; }

private:
    QWidget& m_window;
    std::function<void(int)> m_onCommand;
    QSystemTrayIcon m_icon;
    std::unique_ptr<QMenu> m_openMenu;
};

}  // namespace quell
