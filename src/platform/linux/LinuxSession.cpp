#include "platform/linux/LinuxSession.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/AtspiAccessibilityBus.h"
#include "platform/linux/atspi/AtspiFrontmostApp.h"
#include "platform/linux/common/CommandKeyListener.h"
#include "platform/linux/common/KeyCommand.h"
#include "platform/linux/common/KeyHandOver.h"
#include "platform/linux/evdev/EvdevKeyListener.h"
#include "platform/linux/evdev/UinputKeyInjector.h"
#include "platform/linux/portal/Portal.h"
#include "platform/linux/portal/PortalClipboard.h"
#include "platform/linux/portal/PortalKeyInjector.h"
#include "platform/linux/portal/PortalKeyListener.h"
#include "platform/linux/portal/PortalRemoteDesktop.h"
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
#include "util/Preferences.h"

namespace larkspire::linux_desktop {
namespace {

QStringList toQStrings(const std::vector<std::string>& strings) {
    QStringList list;
    for (const std::string& s : strings) {
        list.push_back(QString::fromStdString(s));
    }
    return list;
}

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> strings;
    for (const QString& s : list) {
        strings.push_back(s.toStdString());
    }
    return strings;
}

}  // namespace

std::optional<int> handKeyCommand(const std::vector<std::string>& arguments) {
    if (!KeyCommand::requested(arguments)) {
        return std::nullopt;
    }
    return runKeyCommand("larkspire --key", arguments);
}

struct LinuxSession::Services {
    Services(QApplication& application, LinuxSession::InjectionRecorder ownInjection)
        : scheduler(&application),
          microphone(scheduler),
          players(scheduler),
          autostart(XdgAutostart::forCurrentUser()),
          recordInjection(std::move(ownInjection)) {}

    void chooseX11(const std::string& keySource, const std::string& pasteThrough);
    void chooseWayland(const std::string& keySource, const std::string& pasteThrough);
    std::unique_ptr<platform::KeyInjector> xtest();
    std::unique_ptr<platform::KeyInjector> uinputElseXTest();

    std::unique_ptr<SingleInstance> instance;
    SystemClock clock;
    QtScheduler scheduler;
    SyslogSystemLog log;
    QtUserDefaults defaults;
    XdgDesktop desktop;
    QtStatusArea statusArea;
    XPanelWindow panelWindow;
    QtFloatingPanel panel;
    PulseAudioInput microphone;
    PulseAudioPlayerFactory players;
    XdgAutostart autostart;
    SecretServiceKeychain keychain;
    LinuxSession::InjectionRecorder recordInjection;
    std::unique_ptr<WaylandConnection> wayland;  // outlives the services that use it
    std::unique_ptr<Portal> portal;
    std::unique_ptr<PortalRemoteDesktop> remoteDesktop;
    std::unique_ptr<platform::KeyListener> keyListener;
    CommandKeyListener* commandKeys = nullptr;  // in keyListener
    std::unique_ptr<platform::KeyInjector> keyInjector;
    std::unique_ptr<platform::Clipboard> clipboard;
    std::unique_ptr<platform::FrontmostApp> frontmost;
    std::unique_ptr<platform::WindowCapture> windowCapture;
    std::unique_ptr<AtspiAccessibility> accessibility;
    AtspiAccessibilityBus accessibilityBus;
    QtImageEncoder imageEncoder;
    QtModalAlert alerts;
    std::function<void(const std::vector<std::string>&)> messages;
};

std::unique_ptr<platform::KeyInjector> LinuxSession::Services::xtest() {
    return std::make_unique<XTestKeyInjector>(recordInjection);
}

// The paste keys through uinput, which the user chose, where it can be used; else through
// XTest (which reaches X applications, under Xwayland too).
std::unique_ptr<platform::KeyInjector> LinuxSession::Services::uinputElseXTest() {
    auto uinput = std::make_unique<UinputKeyInjector>(recordInjection);
    if (uinput->available()) {
        return uinput;
    }
    log.log("Larkspire: " + uinput->unavailableReason());
    return xtest();
}

void LinuxSession::Services::chooseX11(const std::string& keySource,
                                       const std::string& pasteThrough) {
    if (keySource == "evdev") {
        keyListener = std::make_unique<EvdevKeyListener>(log);
    } else {
        keyListener = std::make_unique<XInputKeyListener>(log);
    }
    keyInjector = pasteThrough == "uinput" ? uinputElseXTest() : xtest();
    clipboard = std::make_unique<QtClipboard>();
    frontmost = std::make_unique<EwmhFrontmostApp>();
    windowCapture = std::make_unique<XCompositeWindowCapture>();
}

void LinuxSession::Services::chooseWayland(const std::string& keySource,
                                           const std::string& pasteThrough) {
    WaylandSessionFacts facts;
    facts.desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString();
    // Both act on a seat.
    const bool seat = wayland->seat() != nullptr;
    facts.virtualKeyboard = seat && wayland->virtualKeyboards() != nullptr;
    facts.dataControl = seat && wayland->dataControl() != nullptr;
    facts.screencopy = wayland->screencopy() != nullptr;
    facts.swayTree = qEnvironmentVariableIsSet("SWAYSOCK");
    facts.keySource = keySource;
    facts.pasteThrough = pasteThrough;
    portal = Portal::connect();
    if (portal) {
        facts.globalShortcuts = portal->version("org.freedesktop.portal.GlobalShortcuts");
        facts.remoteDesktop = portal->version("org.freedesktop.portal.RemoteDesktop");
        facts.clipboardPortal = portal->version("org.freedesktop.portal.Clipboard");
    }
    const WaylandBackends chosen = WaylandBackends::choose(facts);
    wayland->dispatchFromEventLoop();

    if (chosen.paste == WaylandBackends::Paste::remoteDesktop ||
        chosen.clipboard == WaylandBackends::Copy::clipboardPortal) {
        remoteDesktop = std::make_unique<PortalRemoteDesktop>(
            *portal, log,
            PortalRemoteDesktop::TokenStore{
                [this] {
                    return defaults.stringValue(defaults::remoteDesktopRestoreToken).value_or("");
                },
                [this](const std::string& token) {
                    defaults.setString(defaults::remoteDesktopRestoreToken, token);
                }},
            chosen.clipboard == WaylandBackends::Copy::clipboardPortal);
    }

    switch (chosen.keys) {
        case WaylandBackends::Keys::compositorBindings: {
            auto keys = std::make_unique<CommandKeyListener>();
            commandKeys = keys.get();
            keyListener = std::move(keys);
            break;
        }
        case WaylandBackends::Keys::shortcutsPortal:
            keyListener = std::make_unique<PortalKeyListener>(*portal, log);
            break;
        case WaylandBackends::Keys::evdev:
            keyListener = std::make_unique<EvdevKeyListener>(log);
            break;
        case WaylandBackends::Keys::none:
            keyListener = std::make_unique<NoKeyListener>(chosen.keysProblem);
            break;
    }
    switch (chosen.paste) {
        case WaylandBackends::Paste::virtualKeyboard:
            keyInjector = std::make_unique<VirtualKeyboardKeyInjector>(*wayland);
            break;
        case WaylandBackends::Paste::remoteDesktop:
            keyInjector = std::make_unique<PortalKeyInjector>(*remoteDesktop);
            break;
        case WaylandBackends::Paste::uinput:
            // Without it, X applications (under Xwayland) still get the keys.
            keyInjector = uinputElseXTest();
            break;
        case WaylandBackends::Paste::none:
            log.log("Larkspire: " + chosen.pasteProblem);
            keyInjector = xtest();
            break;
    }
    switch (chosen.clipboard) {
        case WaylandBackends::Copy::dataControl:
            clipboard = std::make_unique<DataControlClipboard>(*wayland);
            break;
        case WaylandBackends::Copy::clipboardPortal:
            clipboard = std::make_unique<PortalClipboard>(*portal, *remoteDesktop, log);
            break;
        case WaylandBackends::Copy::focusedOnly:
            log.log(
                "Larkspire: this Wayland session lets a program set the clipboard only "
                "while it has the focus");
            clipboard = std::make_unique<QtClipboard>();
            break;
    }
    frontmost = std::make_unique<AtspiFrontmostApp>();
    switch (chosen.images) {
        case WaylandBackends::Images::screencopy:
            windowCapture = std::make_unique<ScreencopyWindowCapture>(*wayland);
            break;
        case WaylandBackends::Images::none:
            windowCapture = std::make_unique<XCompositeWindowCapture>();
            break;
    }
    log.log("Larkspire: " + chosen.describe());
}

std::unique_ptr<LinuxSession> LinuxSession::open(QApplication& application,
                                                 const std::vector<std::string>& arguments,
                                                 const Choices& choices,
                                                 InjectionRecorder ownInjection) {
    auto instance = std::make_unique<SingleInstance>("larkspire");
    if (!instance->claim(toQStrings(arguments))) {
        return nullptr;
    }
    auto s = std::make_unique<Services>(application, std::move(ownInjection));
    s->instance = std::move(instance);
    if (QGuiApplication::platformName() == "wayland") {
        s->panel.showThroughLayerShell(QString::fromStdString(helperProgram("larkspire-panel")));
    }
    if (QGuiApplication::platformName() == "xcb") {
        auto& window = s->panelWindow;
        s->panel.setWindowSystem({[&window] { return window.composited(); },
                                  [&window](WId w) { window.showOnEveryWorkspace(w); },
                                  [&window](WId w, const QRect& area) {
                                      window.setInputArea(w, area.x(), area.y(), area.width(),
                                                          area.height());
                                  }});
    }
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
        s->wayland = WaylandConnection::connect();
        if (!s->wayland) {
            s->log.log("Larkspire: the Wayland compositor did not accept a connection");
        }
    }
    if (s->wayland) {
        s->chooseWayland(choices.keySource, choices.pasteThrough);
    } else {
        s->chooseX11(choices.keySource, choices.pasteThrough);
    }
    // Password fields are recognised through the accessibility bus: make sure it is on.
    AtspiAccessibility::enableAccessibilityBus(s->log);
    s->accessibility = std::make_unique<AtspiAccessibility>(s->log);

    Services& services = *s;
    services.instance->onMessage([&services](const QStringList& message) {
        const auto strings = toStrings(message);
        if (KeyCommand::requested(strings)) {
            const auto command = KeyCommand::parse(strings);
            if (command && services.commandKeys) {
                services.commandKeys->handle(*command);
            } else if (command) {
                services.log.log(
                    "Larkspire: a key command came, but this session's keys are heard "
                    "directly");
            }
            return;
        }
        if (services.messages) {
            services.messages(strings);
        }
    });
    return std::unique_ptr<LinuxSession>(new LinuxSession(std::move(s)));
}

LinuxSession::LinuxSession(std::unique_ptr<Services> services) : s_(std::move(services)) {}
LinuxSession::~LinuxSession() = default;

platform::Clock& LinuxSession::clock() {
    return s_->clock;
}
platform::Scheduler& LinuxSession::scheduler() {
    return s_->scheduler;
}
platform::SystemLog& LinuxSession::log() {
    return s_->log;
}
platform::UserDefaults& LinuxSession::defaults() {
    return s_->defaults;
}
platform::Desktop& LinuxSession::desktop() {
    return s_->desktop;
}
platform::StatusArea& LinuxSession::statusArea() {
    return s_->statusArea;
}
platform::FloatingPanel& LinuxSession::panel() {
    return s_->panel;
}
platform::AudioInput& LinuxSession::microphone() {
    return s_->microphone;
}
platform::AudioPlayerFactory& LinuxSession::players() {
    return s_->players;
}
platform::Autostart& LinuxSession::autostart() {
    return s_->autostart;
}
platform::Keychain& LinuxSession::keychain() {
    return s_->keychain;
}
platform::KeyListener& LinuxSession::keyListener() {
    return *s_->keyListener;
}
platform::KeyInjector& LinuxSession::keyInjector() {
    return *s_->keyInjector;
}
platform::Clipboard& LinuxSession::clipboard() {
    return *s_->clipboard;
}
platform::FrontmostApp& LinuxSession::frontmost() {
    return *s_->frontmost;
}
platform::Accessibility& LinuxSession::accessibility() {
    return *s_->accessibility;
}
platform::AccessibilityBus& LinuxSession::accessibilityBus() {
    return s_->accessibilityBus;
}
platform::WindowCapture& LinuxSession::windowCapture() {
    return *s_->windowCapture;
}
platform::ImageEncoder& LinuxSession::imageEncoder() {
    return s_->imageEncoder;
}
platform::ModalAlert& LinuxSession::alerts() {
    return s_->alerts;
}

bool LinuxSession::rightAltIsAltGr() const {
    return linux_desktop::rightAltIsAltGr();
}

void LinuxSession::showStatusArea() {
    s_->statusArea.show();
}

void LinuxSession::raiseStatusArea() {
    s_->statusArea.raise();
}

void LinuxSession::onMessage(std::function<void(const std::vector<std::string>&)> handler) {
    s_->messages = std::move(handler);
}

void LinuxSession::signedIn() {
    if (s_->remoteDesktop) {
        s_->remoteDesktop->start();
    }
}

std::string LinuxSession::helperProgram(const std::string& name) {
    const QString dir = QApplication::applicationDirPath();
    const QString file = QString::fromStdString(name);
    for (const QString& candidate : {dir + "/" + file, dir + "/../libexec/larkspire/" + file,
                                     QStringLiteral(LARKSPIRE_LIBEXEC_DIR "/") + file}) {
        if (QFileInfo(candidate).isExecutable()) {
            return QFileInfo(candidate).canonicalFilePath().toStdString();
        }
    }
    return (dir + "/" + file).toStdString();
}

}  // namespace larkspire::linux_desktop
