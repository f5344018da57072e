// Process entry: the only place that creates the desktop implementations and wires
// them to the controller.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "app/AppDelegate.h"
#include "platform/linux/QtScheduler.h"
#include "platform/linux/Shell.h"
#include "platform/linux/SingleInstance.h"
#include "platform/linux/TrayStatusArea.h"
#include "platform/linux/X11Keyboard.h"

int main(int argc, char** argv) {
    // The agent hears keys and injects paste chords through X11 (XWayland under Wayland).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("Larkspire");
    QApplication::setOrganizationName("Larkspire");
    QApplication::setApplicationDisplayName("Larkspire");
    QApplication::setDesktopFileName("larkspire");
    // Closing windows never ends the agent; only Quit does.
    QApplication::setQuitOnLastWindowClosed(false);

    larkspire::desktop::SingleInstance instance("larkspire");
    if (!instance.claim(QApplication::arguments().mid(1))) {
        return 0;
    }

    larkspire::desktop::SystemClock clock;
    larkspire::desktop::QtScheduler scheduler(&application);
    larkspire::desktop::SyslogLog log;
    larkspire::desktop::SettingsDefaults defaults;
    larkspire::desktop::XdgDesktop desktop;
    larkspire::desktop::TrayStatusArea statusArea;

    larkspire::AppDelegate delegate(larkspire::AppServices{
        clock,
        scheduler,
        log,
        defaults,
        desktop,
        statusArea,
        QDir::homePath().toStdString(),
        [] { return false; },
        [] { QApplication::quit(); },
        [] {
            QMessageBox::about(
                nullptr, "About Larkspire",
                "Larkspire — voice input for your desktop.\nVersion " + QString(LARKSPIRE_VERSION));
        },
        larkspire::desktop::rightAltIsAltGr(),
    });

    // A later launch means "show me Larkspire".
    instance.onMessage([&](const QStringList&) {
        statusArea.raise();
        delegate.applicationShouldHandleReopen(statusArea.fallbackWindow() != nullptr &&
                                               statusArea.fallbackWindow()->isVisible());
    });

    QTimer::singleShot(0, &application, [&] {
        delegate.applicationDidFinishLaunching();
        statusArea.show();
    });
    return application.exec();
}
