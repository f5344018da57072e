#include "platform/linux/qt/XdgDesktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace larkspire::desktop {

void XdgDesktop::openUrl(const std::string& url, const std::string& fallbackUrl) {
    const QString u = QString::fromStdString(url);
    if (u.startsWith("x-apple.systempreferences:")) {
        // GNOME Settings has a panel for each; elsewhere the service's settings page
        // explains what to enable.
        const QString panel = u.contains("Privacy_Microphone") ? "sound" : "universal-access";
        const QString gnome = QStandardPaths::findExecutable("gnome-control-center");
        if (!gnome.isEmpty() && QProcess::startDetached(gnome, {panel})) {
            return;
        }
        QDesktopServices::openUrl(QUrl(QString::fromStdString(fallbackUrl)));
        return;
    }
    QDesktopServices::openUrl(QUrl(u));
}

void XdgDesktop::openFolder(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace larkspire::desktop
