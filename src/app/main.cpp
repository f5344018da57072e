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
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppDelegate.h"
#include "app/DesktopInsertion.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/AtspiAccessibilityBus.h"
#include "platform/linux/atspi/AtspiFrontmostApp.h"
#include "platform/linux/evdev/EvdevKeyListener.h"
#include "platform/linux/evdev/UinputKeyInjector.h"
#include "platform/linux/portal/Portal.h"
#include "platform/linux/portal/PortalClipboard.h"
#include "platform/linux/portal/PortalKeyInjector.h"
#include "platform/linux/portal/PortalKeyListener.h"
#include "platform/linux/portal/PortalRemoteDesktop.h"
#include "platform/linux/posix/KeyCommand.h"
#include "platform/linux/posix/KeyHandOver.h"
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
#include "platform/linux/wayland/CommandKeyListener.h"
#include "platform/linux/wayland/DataControlClipboard.h"
#include "platform/linux/wayland/NoKeyListener.h"
#include "platform/linux/wayland/ScreencopyWindowCapture.h"
#include "platform/linux/wayland/VirtualKeyboardKeyInjector.h"
#include "platform/linux/wayland/WaylandBackends.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/x11/EwmhFrontmostApp.h"
#include "platform/linux/x11/X11Keyboard.h"
#include "platform/linux/x11/XCompositeWindowCapture.h"
#include "platform/linux/x11/XInputKeyListener.h"
#include "platform/linux/x11/XPanelWindow.h"
#include "platform/linux/x11/XTestKeyInjector.h"
#include "service/Config.h"
#include "ui/SignInWindow.h"
#include "ui/WorkspaceProcess.h"
#include "util/Memory.h"
#include "util/Preferences.h"

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
    "       larkspire --key press|release [--control]\n"
    "Voice input for your desktop: hold the dictation key (Right Alt by default), speak,\n"
    "and the text is pasted at your cursor. The agent lives in the tray.\n"
    "\n"
    "  URL          a larkspire: link, handed to the running agent (or to a new one)\n"
    "  --key press|release\n"
    "               the dictation key went down or up, handed to the running agent; for\n"
    "               the key bindings of a Wayland compositor such as sway (--control: with\n"
    "               Control, for a question about the text in front)\n"
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

// A key command only hands the key to the running agent: before any Qt application,
// which aborts under Wayland without its platform plugin or with no display at all.
std::optional<int> handKeyCommand(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!larkspire::desktop::KeyCommand::requested(arguments)) {
        return std::nullopt;
    }
    return larkspire::desktop::runKeyCommand("larkspire --key", arguments);
}

// The services of the keyboard, the clipboard and the windows that the session offers.
// Under Wayland, each from what the session has: the compositor's own protocols
// (wlroots: virtual keyboard, data control, screencopy, with the key from its bindings),
// else the desktop portal (GNOME, KDE Plasma: global shortcuts, a remote-desktop
// keyboard, its clipboard; no window images), or evdev and uinput where the user chose them;
// the frontmost application from the accessibility bus. X11 otherwise.
struct SessionServices {
    std::unique_ptr<larkspire::desktop::WaylandConnection> wayland;  // outlive the others
    std::unique_ptr<larkspire::desktop::Portal> portal;
    std::unique_ptr<larkspire::desktop::PortalRemoteDesktop> remoteDesktop;
    std::unique_ptr<larkspire::platform::KeyListener> keyListener;
    std::unique_ptr<larkspire::platform::KeyInjector> keyInjector;
    std::unique_ptr<larkspire::platform::Clipboard> clipboard;
    std::unique_ptr<larkspire::platform::FrontmostApp> frontmost;
    std::unique_ptr<larkspire::platform::WindowCapture> windowCapture;
    larkspire::desktop::CommandKeyListener* commandKeys = nullptr;  // in keyListener
};

std::string optionOf(const std::optional<larkspire::Config>& config,
                     std::optional<std::string> larkspire::Config::*field) {
    return config && (*config).*field ? *((*config).*field) : std::string();
}

std::unique_ptr<larkspire::platform::KeyInjector> xtest(
    larkspire::InjectionJournal& ownInjections) {
    return std::make_unique<larkspire::desktop::XTestKeyInjector>(
        [&ownInjections](int keycode, bool pressed) { ownInjections.record(keycode, pressed); });
}

// The paste keys through uinput, which the user chose, where it can be used; else through
// XTest (which reaches X applications, under Xwayland too).
std::unique_ptr<larkspire::platform::KeyInjector> uinputElseXTest(
    larkspire::platform::SystemLog& log, larkspire::InjectionJournal& ownInjections) {
    auto uinput = std::make_unique<larkspire::desktop::UinputKeyInjector>(
        [&ownInjections](int keycode, bool pressed) { ownInjections.record(keycode, pressed); });
    if (uinput->available()) {
        return uinput;
    }
    log.log("Larkspire: " + uinput->unavailableReason());
    return xtest(ownInjections);
}

void x11Services(SessionServices& s, larkspire::platform::SystemLog& log,
                 larkspire::InjectionJournal& ownInjections, const std::string& keySource,
                 const std::string& pasteThrough) {
    if (keySource == "evdev") {
        s.keyListener = std::make_unique<larkspire::desktop::EvdevKeyListener>(log);
    } else {
        s.keyListener = std::make_unique<larkspire::desktop::XInputKeyListener>(log);
    }
    if (pasteThrough == "uinput") {
        s.keyInjector = uinputElseXTest(log, ownInjections);
    } else {
        s.keyInjector = xtest(ownInjections);
    }
    s.clipboard = std::make_unique<larkspire::desktop::QtClipboard>();
    s.frontmost = std::make_unique<larkspire::desktop::EwmhFrontmostApp>();
    s.windowCapture = std::make_unique<larkspire::desktop::XCompositeWindowCapture>();
}

SessionServices sessionServices(larkspire::platform::SystemLog& log,
                                larkspire::platform::UserDefaults& defaults,
                                larkspire::InjectionJournal& ownInjections) {
    using larkspire::desktop::WaylandBackends;
    namespace d = larkspire::desktop;
    SessionServices s;
    const auto config =
        larkspire::Config::load(larkspire::Config::pathIn(QDir::homePath().toStdString()));
    const std::string keySource = optionOf(config, &larkspire::Config::key_source);
    const std::string pasteThrough = optionOf(config, &larkspire::Config::paste_through);
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
        s.wayland = d::WaylandConnection::connect();
        if (!s.wayland) {
            log.log("Larkspire: the Wayland compositor did not accept a connection");
        }
    }
    if (!s.wayland) {
        x11Services(s, log, ownInjections, keySource, pasteThrough);
        return s;
    }
    d::WaylandSessionFacts facts;
    facts.desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString();
    // Both act on a seat.
    const bool seat = s.wayland->seat() != nullptr;
    facts.virtualKeyboard = seat && s.wayland->virtualKeyboards() != nullptr;
    facts.dataControl = seat && s.wayland->dataControl() != nullptr;
    facts.screencopy = s.wayland->screencopy() != nullptr;
    facts.swayTree = qEnvironmentVariableIsSet("SWAYSOCK");
    facts.keySource = keySource;
    facts.pasteThrough = pasteThrough;
    s.portal = d::Portal::connect();
    if (s.portal) {
        facts.globalShortcuts = s.portal->version("org.freedesktop.portal.GlobalShortcuts");
        facts.remoteDesktop = s.portal->version("org.freedesktop.portal.RemoteDesktop");
        facts.clipboardPortal = s.portal->version("org.freedesktop.portal.Clipboard");
    }
    const WaylandBackends chosen = WaylandBackends::choose(facts);
    s.wayland->dispatchFromEventLoop();

    if (chosen.paste == WaylandBackends::Paste::remoteDesktop ||
        chosen.clipboard == WaylandBackends::Copy::clipboardPortal) {
        s.remoteDesktop = std::make_unique<d::PortalRemoteDesktop>(
            *s.portal, log,
            d::PortalRemoteDesktop::TokenStore{
                [&defaults] {
                    return defaults.stringValue(larkspire::defaults::remoteDesktopRestoreToken)
                        .value_or("");
                },
                [&defaults](const std::string& token) {
                    defaults.setString(larkspire::defaults::remoteDesktopRestoreToken, token);
                }},
            chosen.clipboard == WaylandBackends::Copy::clipboardPortal);
    }

    switch (chosen.keys) {
        case WaylandBackends::Keys::compositorBindings: {
            auto keys = std::make_unique<d::CommandKeyListener>();
            s.commandKeys = keys.get();
            s.keyListener = std::move(keys);
            break;
        }
        case WaylandBackends::Keys::shortcutsPortal: {
            s.keyListener =
                std::make_unique<d::PortalKeyListener>(*s.portal, log, s.remoteDesktop.get());
            break;
        }
        case WaylandBackends::Keys::evdev:
            s.keyListener = std::make_unique<d::EvdevKeyListener>(log);
            break;
        case WaylandBackends::Keys::none:
            s.keyListener = std::make_unique<d::NoKeyListener>(chosen.keysProblem);
            break;
    }
    switch (chosen.paste) {
        case WaylandBackends::Paste::virtualKeyboard:
            s.keyInjector = std::make_unique<d::VirtualKeyboardKeyInjector>(*s.wayland);
            break;
        case WaylandBackends::Paste::remoteDesktop:
            s.keyInjector = std::make_unique<d::PortalKeyInjector>(*s.remoteDesktop);
            break;
        case WaylandBackends::Paste::uinput:
            // Without it, X applications (under Xwayland) still get the keys.
            s.keyInjector = uinputElseXTest(log, ownInjections);
            break;
        case WaylandBackends::Paste::none:
            log.log("Larkspire: " + chosen.pasteProblem);
            s.keyInjector = xtest(ownInjections);
            break;
    }
    switch (chosen.clipboard) {
        case WaylandBackends::Copy::dataControl:
            s.clipboard = std::make_unique<d::DataControlClipboard>(*s.wayland);
            break;
        case WaylandBackends::Copy::clipboardPortal:
            s.clipboard = std::make_unique<d::PortalClipboard>(*s.portal, *s.remoteDesktop, log);
            break;
        case WaylandBackends::Copy::focusedOnly:
            log.log(
                "Larkspire: this Wayland session lets a program set the clipboard only "
                "while it has the focus");
            s.clipboard = std::make_unique<d::QtClipboard>();
            break;
    }
    s.frontmost = std::make_unique<d::AtspiFrontmostApp>();
    switch (chosen.images) {
        case WaylandBackends::Images::screencopy:
            s.windowCapture = std::make_unique<d::ScreencopyWindowCapture>(*s.wayland);
            break;
        case WaylandBackends::Images::none:
            s.windowCapture = std::make_unique<d::XCompositeWindowCapture>();
            break;
    }
    log.log("Larkspire: " + chosen.describe());
    return s;
}

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> strings;
    for (const QString& s : list) {
        strings.push_back(s.toStdString());
    }
    return strings;
}

// A helper program of the agent: beside it in a build tree; else in libexec next to the
// agent's bin folder, whatever the prefix (/usr from the package, /usr/local from cmake
// --install).
QString helperProgram(const QString& name) {
    const QString dir = QApplication::applicationDirPath();
    for (const QString& candidate : {dir + "/" + name, dir + "/../libexec/larkspire/" + name,
                                     QStringLiteral(LARKSPIRE_LIBEXEC_DIR "/") + name}) {
        if (QFileInfo(candidate).isExecutable()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return dir + "/" + name;
}

}  // namespace

int main(int argc, char** argv) {
    if (auto status = answerCommandLine(argc, argv)) {
        return *status;
    }
    if (auto status = handKeyCommand(argc, argv)) {
        return *status;
    }
    // The agent's own windows go to X11 where there is an X display (XWayland under
    // Wayland): there its status panel never takes the keyboard from the application.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    larkspire::initHttp();
    larkspire::memory::returnLargeBuffersWhenFreed();
    QApplication application(argc, argv);
    QApplication::setApplicationName("Larkspire");
    QApplication::setOrganizationName("Larkspire");
    QApplication::setApplicationDisplayName("Larkspire");
    QApplication::setDesktopFileName("app.larkspire.Larkspire");
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
    if (QGuiApplication::platformName() == "wayland") {
        hudPanel.showThroughLayerShell(helperProgram("larkspire-panel"));
    }
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
    SessionServices session = sessionServices(log, defaults, ownInjections);
    auto& keyInjector = *session.keyInjector;
    auto& frontmost = *session.frontmost;
    auto& clipboard = *session.clipboard;
    larkspire::FnKeyMonitor fnMonitor(*session.keyListener, scheduler, ownInjections, keyInjector);
    // Password fields are recognised through the accessibility bus: make sure it is on.
    larkspire::desktop::AtspiAccessibility::enableAccessibilityBus(log);
    larkspire::desktop::AtspiAccessibility accessibility(log);
    larkspire::desktop::AtspiAccessibilityBus accessibilityBus;
    auto& windowCapture = *session.windowCapture;
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
        const QString program = helperProgram("larkspire-workspace");
        workspaceWindow = std::make_unique<larkspire::ui::WorkspaceProcess>(
            c, program, [&alerts](const QString& why) {
                alerts.run({"Larkspire can’t open its window",
                            why.toStdString(),
                            {"OK"},
                            larkspire::platform::AlertStyle::warning});
            });
    };
    // The portal's approval dialog for keys and pasting comes after the sign-in.
    hooks.signedIn = [&session] {
        if (session.remoteDesktop) {
            session.remoteDesktop->start();
        }
    };
    delegate.setHooks(std::move(hooks));

    // A later launch hands over its "larkspire:" URL, or means "show me Larkspire".
    instance.onMessage([&](const QStringList& arguments) {
        if (const auto strings = toStrings(arguments);
            larkspire::desktop::KeyCommand::requested(strings)) {
            const auto command = larkspire::desktop::KeyCommand::parse(strings);
            if (command && session.commandKeys) {
                session.commandKeys->handle(*command);
            } else if (command) {
                log.log(
                    "Larkspire: a key command came, but this session's keys are heard "
                    "directly");
            }
            return;
        }
        if (auto urls = urlsIn(arguments); !urls.empty()) {
            delegate.openURLs(urls);
            return;
        }
        statusArea.raise();
        // Without a tray the agent's own window stands in for the tray icon, always shown:
        // it is not a window the user asked to reopen.
        const bool visible = (workspaceWindow && workspaceWindow->isOpen()) ||
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
