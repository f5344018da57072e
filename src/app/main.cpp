// Process entry: the only place that creates the desktop implementations and wires
// them to the controller.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <optional>
#include <string_view>

#include "app/AppDelegate.h"
#include "app/DesktopInsertion.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/AtspiAccessibilityBus.h"
#include "platform/linux/posix/SyslogSystemLog.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/posix/XdgAutostart.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/pulse/PulseAudioPlayerFactory.h"
#include "platform/linux/qt/QtClipboard.h"
#include "platform/linux/qt/QtFloatingPanel.h"
#include "platform/linux/qt/QtImageEncoder.h"
#include "platform/linux/qt/QtModalAlert.h"
#include "platform/linux/qt/QtScheduler.h"
#include "platform/linux/qt/QtStatusArea.h"
#include "platform/linux/qt/QtUserDefaults.h"
#include "platform/linux/qt/SingleInstance.h"
#include "platform/linux/qt/XdgDesktop.h"
#include "platform/linux/secret/SecretServiceKeychain.h"
#include "platform/linux/x11/EwmhFrontmostApp.h"
#include "platform/linux/x11/X11Keyboard.h"
#include "platform/linux/x11/XCompositeWindowCapture.h"
#include "platform/linux/x11/XInputKeyListener.h"
#include "platform/linux/x11/XPanelWindow.h"
#include "platform/linux/x11/XTestKeyInjector.h"
#include "ui/SignInWindow.h"
#include "ui/WorkspaceProcess.h"

namespace {

// A launch argument of the agent's own URL scheme.
bool isLarkspireUrl(const QString& argument) {
    return argument.startsWith("larkspire:", Qt::CaseInsensitive);
}

std::vector<std::string> urlsIn(const QStringList& arguments) {
    std::vector<std::string> urls;
    for (const QString& a : arguments) {
        if (isLarkspireUrl(a)) {
            urls.push_back(a.toStdString());
        }
    }
    return urls;
}

}  // namespace

namespace {

constexpr const char* kUsage =
    "Usage: larkspire [URL]\n"
    "Voice input for your desktop: hold the dictation key (Right Alt by default), speak,\n"
    "and the text is pasted at your cursor. The agent lives in the tray.\n"
    "\n"
    "  URL          a larkspire: link, handed to the running agent (or to a new one)\n"
    "  --version    print the version and exit\n"
    "  --help       print this text and exit\n"
    "\n"
    "Messages go to the journal under the identifier \"larkspire\":\n"
    "  journalctl --user -t larkspire\n";

// Answered before any display connection, so they work without a desktop session.
std::optional<int> answerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version" || arg == "-v") {
            std::printf("larkspire %s\n", LARKSPIRE_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (auto status = answerCommandLine(argc, argv)) {
        return *status;
    }
    // The agent hears keys and injects paste chords through X11 (XWayland under Wayland).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    larkspire::initHttp();
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
    larkspire::desktop::SyslogSystemLog log;
    larkspire::desktop::QtUserDefaults defaults;
    larkspire::desktop::XdgDesktop desktop;
    larkspire::desktop::QtStatusArea statusArea;
    larkspire::desktop::XPanelWindow panelWindow;
    larkspire::desktop::QtFloatingPanel hudPanel;
    if (QGuiApplication::platformName() == "xcb") {
        hudPanel.setWindowSystem({[&] { return panelWindow.composited(); },
                                  [&](WId window) { panelWindow.showOnEveryWorkspace(window); },
                                  [&](WId window, const QRect& area) {
                                      panelWindow.setInputArea(window, area.x(), area.y(),
                                                               area.width(), area.height());
                                  }});
    }
    larkspire::desktop::PulseAudioInput microphone(scheduler);
    larkspire::desktop::PulseAudioPlayerFactory players(scheduler);
    auto autostart = larkspire::desktop::XdgAutostart::forCurrentUser();
    larkspire::desktop::SecretServiceKeychain keychain;
    larkspire::InjectionJournal ownInjections(clock);
    larkspire::desktop::XInputKeyListener keyListener(log);
    larkspire::desktop::XTestKeyInjector keyInjector(
        [&](int keycode, bool pressed) { ownInjections.record(keycode, pressed); });
    larkspire::FnKeyMonitor fnMonitor(keyListener, scheduler, ownInjections, keyInjector);
    larkspire::desktop::EwmhFrontmostApp frontmost;
    // Password fields are recognised through the accessibility bus: make sure it is on.
    larkspire::desktop::AtspiAccessibility::enableAccessibilityBus(log);
    larkspire::desktop::AtspiAccessibility accessibility(log);
    larkspire::desktop::AtspiAccessibilityBus accessibilityBus;
    larkspire::desktop::QtClipboard clipboard;
    larkspire::desktop::XCompositeWindowCapture windowCapture;
    larkspire::desktop::QtImageEncoder imageEncoder;
    larkspire::desktop::QtModalAlert alerts;
    larkspire::DesktopInsertion insertion(larkspire::InsertionServices{
        clipboard, keyInjector, frontmost, accessibility, scheduler, clock, log});

    larkspire::AppDelegate delegate(larkspire::AppServices{
        clock,
        scheduler,
        log,
        defaults,
        desktop,
        statusArea,
        hudPanel,
        microphone,
        keychain,
        insertion,
        fnMonitor,
        clipboard,
        players,
        autostart,
        QDir::homePath().toStdString(),
        larkspire::RecoveryStore(),
        nullptr,
        [] { QApplication::quit(); },
        [] {
            QMessageBox::about(
                nullptr, "About Larkspire",
                "Larkspire — voice input for your desktop.\nVersion " + QString(LARKSPIRE_VERSION));
        },
        larkspire::desktop::rightAltIsAltGr(),
        larkspire::ScreenAwareServices{frontmost, accessibility, windowCapture, imageEncoder,
                                       alerts},
        &accessibilityBus,
    });

    std::shared_ptr<larkspire::SignInController> signIn;
    QPointer<larkspire::ui::SignInWindow> signInWindow;
    larkspire::AppDelegate::Hooks hooks;
    hooks.showSignIn = [&](const std::shared_ptr<larkspire::APIClient>& api,
                           const larkspire::Config&, std::function<void()> onSignedIn) {
        if (signInWindow) {
            signInWindow->present();
            return;
        }
        signIn = larkspire::SignInController::create(api, scheduler, std::move(onSignedIn));
        signInWindow = new larkspire::ui::SignInWindow(signIn);  // deletes itself on close
        signInWindow->setAttribute(Qt::WA_DeleteOnClose);
        signInWindow->present();
    };
    // Made when the workspace is first shown; its window runs beside the agent.
    std::unique_ptr<larkspire::ui::WorkspaceProcess> workspaceWindow;
    hooks.makeWorkspaceWindow = [&](const std::shared_ptr<larkspire::WorkspaceController>& c) {
        // Beside the agent in a build tree; else in libexec next to the agent's bin folder,
        // whatever the prefix (/usr from the package, /usr/local from cmake --install).
        const QString dir = QApplication::applicationDirPath();
        QString program = dir + "/larkspire-workspace";
        for (const QString& candidate :
             {dir + "/larkspire-workspace", dir + "/../libexec/larkspire/larkspire-workspace",
              QStringLiteral(LARKSPIRE_LIBEXEC_DIR "/larkspire-workspace")}) {
            if (QFileInfo(candidate).isExecutable()) {
                program = QFileInfo(candidate).canonicalFilePath();
                break;
            }
        }
        workspaceWindow = std::make_unique<larkspire::ui::WorkspaceProcess>(c, program);
    };
    delegate.setHooks(std::move(hooks));

    // A later launch hands over its "larkspire:" URL, or means "show me Larkspire".
    instance.onMessage([&](const QStringList& arguments) {
        if (auto urls = urlsIn(arguments); !urls.empty()) {
            delegate.openURLs(urls);
            return;
        }
        statusArea.raise();
        const bool visible =
            (statusArea.fallbackWindow() && statusArea.fallbackWindow()->isVisible()) ||
            (workspaceWindow && workspaceWindow->isOpen()) ||
            (signInWindow && signInWindow->isVisible());
        delegate.applicationShouldHandleReopen(visible);
    });

    QTimer::singleShot(0, &application, [&] {
        delegate.applicationDidFinishLaunching();
        statusArea.show();
        // Started by a "larkspire:" URL: handle it once the agent is up.
        if (auto urls = urlsIn(QApplication::arguments().mid(1)); !urls.empty()) {
            delegate.openURLs(urls);
        }
    });
    return application.exec();
}
