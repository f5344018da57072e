#include "platform/linux/qt/QtUserDefaults.h"

namespace larkspire::linux_desktop {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

QtUserDefaults::QtUserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Larkspire",
                                            "Larkspire")) {}

QtUserDefaults::QtUserDefaults(const std::string& filePath)
    : settings_(std::make_unique<QSettings>(q(filePath), QSettings::IniFormat)) {}

bool QtUserDefaults::boolValue(const std::string& key) const {
    return settings_->value(q(key), false).toBool();
}

std::optional<long long> QtUserDefaults::integerValue(const std::string& key) const {
    // Read through the text, as the file holds it: a bool written in this session then
    // reads as after a restart (no number) instead of as 1.
    bool ok = false;
    const long long n = settings_->value(q(key)).toString().toLongLong(&ok);
    return ok ? std::optional<long long>(n) : std::nullopt;
}

std::optional<std::string> QtUserDefaults::stringValue(const std::string& key) const {
    const QVariant v = settings_->value(q(key));
    if (!v.isValid()) {
        return std::nullopt;
    }
    return v.toString().toStdString();
}

bool QtUserDefaults::contains(const std::string& key) const {
    return settings_->contains(q(key));
}

void QtUserDefaults::setBool(const std::string& key, bool value) {
    write(key, value);
}

void QtUserDefaults::setInteger(const std::string& key, long long value) {
    write(key, value);
}

void QtUserDefaults::setString(const std::string& key, const std::string& value) {
    write(key, q(value));
}

void QtUserDefaults::remove(const std::string& key) {
    settings_->remove(q(key));
    settings_->sync();
}

void QtUserDefaults::write(const std::string& key, const QVariant& value) {
    settings_->setValue(q(key), value);
    settings_->sync();
}

}  // namespace larkspire::linux_desktop
