#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "platform/StatusArea.h"

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace larkspire::desktop {

class QtMenuView;

// The status item: a tray icon with the status menu. Where the desktop has no tray,
// a small window says so and offers the same menu from a button, so the agent never
// runs invisibly.
class QtStatusArea : public QObject, public platform::StatusArea {
    Q_OBJECT
  public:
    QtStatusArea();
    ~QtStatusArea() override;

    bool hasSymbol(const std::string& name) const override;
    void setIcon(const platform::StatusIcon& icon) override;
    void setMenu(std::shared_ptr<platform::Menu> menu) override;
    void setMainMenu(std::shared_ptr<platform::Menu> menu) override;

    // Shows the tray icon, or the fallback window when there is no tray.
    void show();
    // Brings the fallback window back after the user closed it (no-op with a tray).
    void raise();
    bool usingTray() const { return usingTray_; }
    QMenu* statusQMenu() const;
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    QWidget* fallbackWindow() const { return fallback_.get(); }

  private:
    void showFallbackWindow();

    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QtMenuView> statusView_;
    std::unique_ptr<QtMenuView> mainView_;
    std::unique_ptr<QWidget> fallback_;
    platform::StatusIcon icon_;
    bool usingTray_ = false;
};

}  // namespace larkspire::desktop
