#pragma once

#include <QSettings>
#include <memory>
#include <string>

#include "platform/UserDefaults.h"

namespace larkspire::linux_desktop {

// QSettings in ~/.config/Larkspire/Larkspire.conf. Every write is synced at once, so a
// crash right after a change keeps it.
class QtUserDefaults : public platform::UserDefaults {
  public:
    QtUserDefaults();
    // The same store over another file (tests use a temporary one).
    explicit QtUserDefaults(const std::string& filePath);
    bool boolValue(const std::string& key) const override;
    std::optional<long long> integerValue(const std::string& key) const override;
    std::optional<std::string> stringValue(const std::string& key) const override;
    bool contains(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;
    void setInteger(const std::string& key, long long value) override;
    void setString(const std::string& key, const std::string& value) override;
    void remove(const std::string& key) override;

  private:
    void write(const std::string& key, const QVariant& value);

    std::unique_ptr<QSettings> settings_;
};

}  // namespace larkspire::linux_desktop
