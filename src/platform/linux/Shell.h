#pragma once

#include <QSettings>
#include <memory>

#include "platform/Desktop.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

namespace larkspire::desktop {

// The journal, through syslog(3).
class SyslogLog : public platform::SystemLog {
  public:
    SyslogLog();
    ~SyslogLog() override;
    void log(const std::string& line) override;
};

// QSettings in ~/.config/Larkspire/Larkspire.conf.
class SettingsDefaults : public platform::UserDefaults {
  public:
    SettingsDefaults();
    bool boolValue(const std::string& key) const override;
    std::optional<long long> integerValue(const std::string& key) const override;
    std::optional<std::string> stringValue(const std::string& key) const override;
    bool contains(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;
    void setInteger(const std::string& key, long long value) override;
    void setString(const std::string& key, const std::string& value) override;
    void remove(const std::string& key) override;

  private:
    std::unique_ptr<QSettings> settings_;
};

// Opens URLs and folders with the user's applications (xdg-open through Qt). The
// agent's privacy-pane URLs go to the desktop's own settings panel where one exists.
class XdgDesktop : public platform::Desktop {
  public:
    void openUrl(const std::string& url, const std::string& fallbackUrl) override;
    void openFolder(const std::string& path) override;
};

}  // namespace larkspire::desktop
