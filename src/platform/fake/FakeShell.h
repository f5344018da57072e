#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/Desktop.h"
#include "platform/StatusArea.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

namespace larkspire::fake {

// Keeps every line, in order.
class FakeSystemLog : public platform::SystemLog {
  public:
    void log(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// An in-memory defaults store with the same typing rules as the real one.
class FakeUserDefaults : public platform::UserDefaults {
  public:
    bool boolValue(const std::string& key) const override;
    std::optional<long long> integerValue(const std::string& key) const override;
    std::optional<std::string> stringValue(const std::string& key) const override;
    bool contains(const std::string& key) const override { return values_.count(key) > 0; }
    void setBool(const std::string& key, bool value) override { values_[key] = value; }
    void setInteger(const std::string& key, long long value) override { values_[key] = value; }
    void setString(const std::string& key, const std::string& value) override {
        values_[key] = value;
    }
    void remove(const std::string& key) override { values_.erase(key); }

  private:
    std::map<std::string, std::variant<bool, long long, std::string>> values_;
};

// Records what was opened.
class FakeDesktop : public platform::Desktop {
  public:
    void openUrl(const std::string& url, const std::string& fallbackUrl) override {
        openedUrls.push_back(url);
        fallbacks.push_back(fallbackUrl);
    }
    void openFolder(const std::string& path) override { openedFolders.push_back(path); }
    std::vector<std::string> openedUrls, fallbacks, openedFolders;
};

// A status area that knows a fixed set of symbols and keeps what it was shown.
class FakeStatusArea : public platform::StatusArea {
  public:
    FakeStatusArea();
    bool hasSymbol(const std::string& name) const override { return symbols.count(name) > 0; }
    void setIcon(const platform::StatusIcon& icon) override { icons.push_back(icon); }
    void setMenu(std::shared_ptr<Menu> m) override { menu = std::move(m); }
    void setMainMenu(std::shared_ptr<Menu> m) override { mainMenu = std::move(m); }

    const platform::StatusIcon& icon() const { return icons.back(); }

    std::set<std::string> symbols;
    std::vector<platform::StatusIcon> icons;
    std::shared_ptr<Menu> menu;
    std::shared_ptr<Menu> mainMenu;
};

}  // namespace larkspire::fake
