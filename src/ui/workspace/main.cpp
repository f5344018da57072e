// The workspace window's process. The agent starts it when the window is first shown and
// sends it one JSON object per line on standard input:
//   {"load": {"baseUrl": "...", "url": "...", "userScript": "..."}}   a fresh web view
//   {"present": true}                                                  show and raise
// It writes {"open": "URL"} on standard output for every navigation that leaves the
// service's host, for the agent to hand to the desktop. It ends when its window closes or
// when the agent goes away (end of input). Keeping the web engine in its own process gives
// its memory back when the window closes: in the agent's process the engine kept about
// 110 MB of a 131 MB agent after its web view and profile were released (measured).
#include <unistd.h>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <cstdio>

#include "account/WorkspaceController.h"
#include "ui/workspace/WorkspaceWindow.h"

namespace {

void sendOpen(const QUrl& url) {
    const QByteArray line =
        QJsonDocument(QJsonObject{{"open", url.toString()}}).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.data(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // Chromium's sandbox refuses to run as root and the engine then ends without a word.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        std::fputs(
            "Larkspire: the workspace window does not open as root: its web engine's "
            "sandbox cannot run as root. Start Larkspire as your own user.\n",
            stderr);
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    // Qt WebEngine needs this before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    // The same names as the agent: the web profile's storage and the window's saved place
    // are the agent's.
    QApplication::setApplicationName("Larkspire");
    QApplication::setOrganizationName("Larkspire");
    QApplication::setApplicationDisplayName("Larkspire");
    QApplication::setDesktopFileName("app.larkspire.Larkspire");

    std::string baseUrl;
    larkspire::ui::WorkspaceWindow window([&baseUrl](const QUrl& url) {
        const std::string text = url.isEmpty() ? std::string() : url.toString().toStdString();
        if (larkspire::WorkspaceController::staysInWindow(baseUrl, text)) {
            return true;
        }
        if (!text.empty()) {
            sendOpen(url);
        }
        return false;
    });

    QByteArray input;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &application, [&] {
        char buffer[65536];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            notifier.setEnabled(false);
            QApplication::quit();  // the agent is gone
            return;
        }
        input.append(buffer, n);
        for (qsizetype end = input.indexOf('\n'); end >= 0; end = input.indexOf('\n')) {
            const QJsonObject message = QJsonDocument::fromJson(input.left(end)).object();
            input.remove(0, end + 1);
            if (message.contains("load")) {
                const QJsonObject load = message.value("load").toObject();
                larkspire::WorkspaceController::Page page;
                page.baseUrl = load.value("baseUrl").toString().toStdString();
                page.url = load.value("url").toString().toStdString();
                if (load.contains("userScript")) {
                    page.userScript = load.value("userScript").toString().toStdString();
                }
                baseUrl = page.baseUrl;
                window.load(page);
            }
            if (message.value("present").toBool()) {
                window.present();
            }
        }
    });
    return application.exec();
}
