// Process entry: composes the logic from the services of the desktop session, which the
// platform layer chooses, and wires the views to the controller.
#include <QApplication>
#include <QDir>
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
#include "platform/linux/LinuxSession.h"
#include "service/Config.h"
#include "ui/SignInWindow.h"
#include "ui/WorkspaceProcess.h"
#include "util/Memory.h"

namespace {

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> strings;
    for (const QString& s : list) {
        strings.push_back(s.toStdString());
    }
    return strings;
}

// The launch arguments of the agent's own URL scheme.
std::vector<std::string> urlsIn(const std::vector<std::string>& arguments) {
    std::vector<std::string> urls;
    for (const std::string& a : arguments) {
        if (QString::fromStdString(a).startsWith("larkspire:", Qt::CaseInsensitive)) {
            urls.push_back(a);
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

std::string optionOf(const std::optional<larkspire::Config>& config,
                     std::optional<std::string> larkspire::Config::*field) {
    return config && (*config).*field ? *((*config).*field) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    if (auto status = answerCommandLine(argc, argv)) {
        return *status;
    }
    // A key command only hands the key to the running agent: before any Qt application,
    // which aborts under Wayland without its platform plugin or with no display at all.
    if (auto status = larkspire::linux_desktop::handKeyCommand({argv + 1, argv + argc})) {
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

    const auto config =
        larkspire::Config::load(larkspire::Config::pathIn(QDir::homePath().toStdString()));
    // The agent's own keys are recorded once the session's clock runs.
    std::optional<larkspire::InjectionJournal> ownInjections;
    auto session = larkspire::linux_desktop::LinuxSession::open(
        application, toStrings(QApplication::arguments().mid(1)),
        {optionOf(config, &larkspire::Config::key_source),
         optionOf(config, &larkspire::Config::paste_through)},
        [&ownInjections](int keycode, bool pressed) {
            if (ownInjections) {
                ownInjections->record(keycode, pressed);
            }
        });
    if (!session) {
        return 0;  // another agent runs, and got the arguments
    }
    auto& scheduler = session->scheduler();
    auto& alerts = session->alerts();
    ownInjections.emplace(session->clock());
    larkspire::FnKeyMonitor fnMonitor(session->keyListener(), scheduler, *ownInjections,
                                      session->keyInjector());
    larkspire::DesktopInsertion insertion(larkspire::InsertionServices{
        session->clipboard(), session->keyInjector(), session->frontmost(),
        session->accessibility(), scheduler, session->clock(), session->log()});

    larkspire::AppDelegate delegate(larkspire::AppServices{
        session->clock(),
        scheduler,
        session->log(),
        session->defaults(),
        session->desktop(),
        session->statusArea(),
        session->panel(),
        session->microphone(),
        session->keychain(),
        insertion,
        fnMonitor,
        session->clipboard(),
        session->players(),
        session->autostart(),
        QDir::homePath().toStdString(),
        larkspire::RecoveryStore(),
        nullptr,
        [] { QApplication::quit(); },
        [] {
            QMessageBox::about(
                nullptr, "About Larkspire",
                "Larkspire — voice input for your desktop.\nVersion " + QString(LARKSPIRE_VERSION));
        },
        session->rightAltIsAltGr(),
        larkspire::ScreenAwareServices{session->frontmost(), session->accessibility(),
                                       session->windowCapture(), session->imageEncoder(), alerts},
        &session->accessibilityBus(),
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
        const QString program = QString::fromStdString(
            larkspire::linux_desktop::LinuxSession::helperProgram("larkspire-workspace"));
        workspaceWindow = std::make_unique<larkspire::ui::WorkspaceProcess>(
            c, program, [&alerts](const QString& why) {
                alerts.run({"Larkspire can’t open its window",
                            why.toStdString(),
                            {"OK"},
                            larkspire::platform::AlertStyle::warning});
            });
    };
    // The portal's approval dialog for keys and pasting comes after the sign-in.
    hooks.signedIn = [&session] { session->signedIn(); };
    delegate.setHooks(std::move(hooks));

    // A later launch hands over its "larkspire:" URL, or means "show me Larkspire".
    session->onMessage([&](const std::vector<std::string>& arguments) {
        if (auto urls = urlsIn(arguments); !urls.empty()) {
            delegate.openURLs(urls);
            return;
        }
        session->raiseStatusArea();
        // Without a tray the agent's own window stands in for the tray icon, always shown:
        // it is not a window the user asked to reopen.
        const bool visible = (workspaceWindow && workspaceWindow->isOpen()) ||
                             (signInWindow && signInWindow->isVisible());
        delegate.applicationShouldHandleReopen(visible);
    });

    QTimer::singleShot(0, &application, [&] {
        delegate.applicationDidFinishLaunching();
        session->showStatusArea();
        // Started by a "larkspire:" URL: handle it once the agent is up.
        if (auto urls = urlsIn(toStrings(QApplication::arguments().mid(1))); !urls.empty()) {
            delegate.openURLs(urls);
        }
    });
    return application.exec();
}
