#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>

#include "platform/StatusArea.h"

class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace larkspire::linux_desktop {

class QtMenuView;

// The status item: a tray icon with the status menu. Where the desktop has no tray,
// a small window says so and offers the same menu from a button, so the agent never
// runs invisibly. The tray is watched: when one appears the icon docks and the window
// goes; when it goes the window comes back. Watching costs no wake-ups while nothing
// changes: a StatusNotifierWatcher is followed by its name on the session bus, an XEmbed
// tray by the MANAGER message it sends when it starts and the end of its window; a look
// every 30 s catches what neither says.
class QtStatusArea : public QObject,
                     public QAbstractNativeEventFilter,
                     public platform::StatusArea {
    Q_OBJECT
  public:
    QtStatusArea();
    ~QtStatusArea() override;

    bool hasSymbol(const std::string& name) const override;
    void setIcon(const platform::StatusIcon& icon) override;
    void setMenu(std::shared_ptr<platform::Menu> menu) override;
    void setMainMenu(std::shared_ptr<platform::Menu> menu) override;

    // Shows the tray icon, or the fallback window while there is no tray.
    void show();
    // Brings the fallback window back after the user closed it (no-op with a tray).
    void raise();
    bool usingTray() const { return usingTray_; }
    QMenu* statusQMenu() const;
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    QWidget* fallbackWindow() const { return fallback_.get(); }

  private:
    static constexpr int kTrayWatchIntervalMs = 30000;
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;
    void showFallbackWindow();
    // Tray icon or fallback window, after the tray's state now.
    void followTray();

    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QtMenuView> statusView_;
    std::shared_ptr<platform::Menu> mainMenu_;
    std::unique_ptr<QWidget> fallback_;
    platform::StatusIcon icon_;
    bool usingTray_ = false;
    QTimer* trayWatch_ = nullptr;              // owned by this object
    QDBusServiceWatcher* sniWatch_ = nullptr;  // owned by this object
    std::uint32_t managerAtom_ = 0;            // X11 "MANAGER", 0 without X11
};

}  // namespace larkspire::linux_desktop
