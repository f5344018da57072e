#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/StatusArea.h"

namespace larkspire::fake {

// A status area that knows a fixed set of symbols and keeps what it was shown.
class FakeStatusArea : public platform::StatusArea {
  public:
    FakeStatusArea();
    bool hasSymbol(const std::string& name) const override { return symbols.count(name) > 0; }
    void setIcon(const platform::StatusIcon& icon) override { icons.push_back(icon); }
    void setMenu(std::shared_ptr<platform::Menu> m) override { menu = std::move(m); }
    void setMainMenu(std::shared_ptr<platform::Menu> m) override { mainMenu = std::move(m); }

    const platform::StatusIcon& icon() const { return icons.back(); }

    std::set<std::string> symbols;
    std::vector<platform::StatusIcon> icons;
    std::shared_ptr<platform::Menu> menu;
    std::shared_ptr<platform::Menu> mainMenu;
};

}  // namespace larkspire::fake
