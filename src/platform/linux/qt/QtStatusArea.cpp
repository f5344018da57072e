#include "platform/linux/qt/QtStatusArea.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/linux/qt/QtMenuView.h"
#include "platform/linux/qt/SymbolImages.h"

namespace larkspire::linux_desktop {

QtStatusArea::QtStatusArea() = default;

QtStatusArea::~QtStatusArea() {
    if (managerAtom_ != 0 && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool QtStatusArea::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<xcb_generic_event_t*>(message);
    const auto kind = event->response_type & 0x7f;
    // A tray that starts announces itself with MANAGER; one that ends is a destroyed
    // window Qt's tray tracker watches on this connection. Either is looked at after Qt's
    // own tracker has seen it.
    const bool started =
        kind == XCB_CLIENT_MESSAGE &&
        reinterpret_cast<const xcb_client_message_event_t*>(event)->type == managerAtom_;
    if (started || (kind == XCB_DESTROY_NOTIFY && usingTray_)) {
        QTimer::singleShot(0, this, [this] {
            if (QSystemTrayIcon::isSystemTrayAvailable() != usingTray_) {
                followTray();
            }
        });
    }
    return false;
}

bool QtStatusArea::hasSymbol(const std::string& name) const {
    return hasBundledSymbol(name);
}

void QtStatusArea::setIcon(const platform::StatusIcon& icon) {
    icon_ = icon;
    // An XEmbed tray does not tell its colour; the desktop's palette is the best guess.
    const bool darkPanel = QApplication::palette().color(QPalette::Window).lightness() < 128;
    const QIcon rendered = renderStatusIcon(icon, darkPanel);
    const QString text = QString::fromStdString(icon.accessibility);
    if (tray_) {
        tray_->setIcon(rendered);
        tray_->setToolTip(text);
    }
    if (fallback_) {
        fallback_->setWindowIcon(rendered);
        if (auto* label = fallback_->findChild<QLabel*>("status")) {
            label->setText(text);
        }
    }
}

void QtStatusArea::setMenu(std::shared_ptr<platform::Menu> menu) {
    statusView_ = std::make_unique<QtMenuView>(std::move(menu));
    if (mainMenu_) {
        statusView_->setAppendix(mainMenu_);
    }
    if (tray_) {
        tray_->setContextMenu(statusView_->menu());
    }
}

void QtStatusArea::setMainMenu(std::shared_ptr<platform::Menu> menu) {
    // Linux desktops have no global menu bar for tray agents: its items ("About
    // Larkspire" among them) are drawn at the end of the status menu.
    mainMenu_ = std::move(menu);
    if (statusView_) {
        statusView_->setAppendix(mainMenu_);
    }
}

QMenu* QtStatusArea::statusQMenu() const {
    return statusView_ ? statusView_->menu() : nullptr;
}

void QtStatusArea::show() {
    // The icon is made and shown even without a tray: Qt docks it once a tray appears
    // and takes its window away when the tray goes.
    tray_ = std::make_unique<QSystemTrayIcon>();
    if (statusView_) {
        tray_->setContextMenu(statusView_->menu());
    }
    // A left click opens the menu too, as users of tray agents expect.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && statusView_) {
                             statusView_->menu()->popup(QCursor::pos());
                         }
                     });
    setIcon(icon_);
    tray_->show();
    followTray();
    // A tray started after the agent (usual with autostart), or one that ends.
    sniWatch_ =
        new QDBusServiceWatcher("org.kde.StatusNotifierWatcher", QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForOwnerChange, this);
    QObject::connect(sniWatch_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                     [this] { QTimer::singleShot(0, this, [this] { followTray(); }); });
    if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_connection_t* connection = x11->connection();
        const char name[] = "MANAGER";
        if (auto* reply = xcb_intern_atom_reply(
                connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr)) {
            managerAtom_ = reply->atom;
            std::free(reply);
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
    }
    trayWatch_ = new QTimer(this);
    QObject::connect(trayWatch_, &QTimer::timeout, this, [this] {
        if (QSystemTrayIcon::isSystemTrayAvailable() != usingTray_) {
            followTray();
        }
    });
    trayWatch_->start(kTrayWatchIntervalMs);
}

void QtStatusArea::followTray() {
    usingTray_ = QSystemTrayIcon::isSystemTrayAvailable();
    if (usingTray_) {
        if (fallback_) {
            fallback_->hide();
        }
        return;
    }
    if (!fallback_) {
        showFallbackWindow();
    } else {
        fallback_->show();
    }
}

void QtStatusArea::raise() {
    if (fallback_ && !usingTray_) {
        fallback_->show();
        fallback_->raise();
        fallback_->activateWindow();
    }
}

void QtStatusArea::showFallbackWindow() {
    fallback_ = std::make_unique<QWidget>();
    fallback_->setObjectName("larkspire-no-tray");
    fallback_->setWindowTitle("Larkspire");
    auto* layout = new QVBoxLayout(fallback_.get());  // owned by the window
    auto* note = new QLabel(
        "This desktop has no system tray, so Larkspire shows its menu here.\n"
        "Closing this window keeps Larkspire running: start Larkspire again to bring it "
        "back, or choose Quit in the menu to end it.");
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* status = new QLabel();
    status->setObjectName("status");
    layout->addWidget(status);
    auto* button = new QPushButton("Larkspire menu");
    button->setObjectName("menu");
    if (statusView_) {
        button->setMenu(statusView_->menu());
    }
    layout->addWidget(button);
    fallback_->resize(380, 140);
    setIcon(icon_);
    fallback_->show();
}

}  // namespace larkspire::linux_desktop
