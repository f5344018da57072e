#include "platform/linux/Shell.h"

#include <syslog.h>

#include <cstdio>

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace larkspire::desktop {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

SyslogLog::SyslogLog() {
    ::openlog("larkspire", LOG_PID, LOG_USER);
}
SyslogLog::~SyslogLog() {
    ::closelog();
}
void SyslogLog::log(const std::string& line) {
    ::syslog(LOG_NOTICE, "%s", line.c_str());
    // Also on standard error, for a user who started the agent from a terminal.
    std::fprintf(stderr, "larkspire: %s\n", line.c_str());
}

SettingsDefaults::SettingsDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Larkspire",
                                            "Larkspire")) {}

bool SettingsDefaults::boolValue(const std::string& key) const {
    return settings_->value(q(key), false).toBool();
}

std::optional<long long> SettingsDefaults::integerValue(const std::string& key) const {
    const QVariant v = settings_->value(q(key));
    bool ok = false;
    const long long n = v.toLongLong(&ok);
    return ok ? std::optional<long long>(n) : std::nullopt;
}

std::optional<std::string> SettingsDefaults::stringValue(const std::string& key) const {
    const QVariant v = settings_->value(q(key));
    if (!v.isValid()) {
        return std::nullopt;
    }
    return v.toString().toStdString();
}

bool SettingsDefaults::contains(const std::string& key) const {
    return settings_->contains(q(key));
}

void SettingsDefaults::setBool(const std::string& key, bool value) {
    settings_->setValue(q(key), value);
    settings_->sync();
}

void SettingsDefaults::setInteger(const std::string& key, long long value) {
    settings_->setValue(q(key), value);
    settings_->sync();
}

void SettingsDefaults::setString(const std::string& key, const std::string& value) {
    settings_->setValue(q(key), q(value));
    settings_->sync();
}

void SettingsDefaults::remove(const std::string& key) {
    settings_->remove(q(key));
    settings_->sync();
}

void XdgDesktop::openUrl(const std::string& url, const std::string& fallbackUrl) {
    const QString u = q(url);
    if (u.startsWith("x-apple.systempreferences:")) {
        // GNOME Settings has a panel for each; elsewhere the service's settings page
        // explains what to enable.
        const QString panel = u.contains("Privacy_Microphone") ? "sound" : "universal-access";
        const QString gnome = QStandardPaths::findExecutable("gnome-control-center");
        if (!gnome.isEmpty() && QProcess::startDetached(gnome, {panel})) {
            return;
        }
        QDesktopServices::openUrl(QUrl(q(fallbackUrl)));
        return;
    }
    QDesktopServices::openUrl(QUrl(u));
}

void XdgDesktop::openFolder(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(q(path)));
}

}  // namespace larkspire::desktop
