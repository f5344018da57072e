#pragma once

#include <memory>
#include <string>

#include "platform/Menu.h"

namespace larkspire::platform {

// What the status button shows. An absent image (`hasImage` false) clears it.
struct StatusIcon {
    std::string name;           // symbol name, or "larkspire.idle" for the drawn meter
    std::string accessibility;  // accessible description (and tooltip)
    bool hasImage = false;
    bool templateImage = false;  // drawn in the panel's foreground colour
    bool redTint = false;
};

// The tray item and its menu. Rendering only: what to show is decided by the logic.
class StatusArea {
  public:
    virtual ~StatusArea() = default;
    // Whether the platform knows a symbol image of this name.
    virtual bool hasSymbol(const std::string& name) const = 0;
    virtual void setIcon(const StatusIcon& icon) = 0;
    virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
    // Main menu of the application (shown where the desktop has a global menu bar).
    virtual void setMainMenu(std::shared_ptr<Menu> menu) = 0;
};

}  // namespace larkspire::platform
