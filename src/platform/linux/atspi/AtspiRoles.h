#pragma once

#include <atspi/atspi-constants.h>

#include <string>

namespace larkspire::linux_desktop {

// The role of an element as the logic names it.
struct RoleName {
    std::string role;
    std::string subrole;
    bool operator==(const RoleName&) const = default;
};

// AT-SPI roles as the logic's role names, from one table: text entries become
// "AXTextField" ("AXTextArea" when they hold several lines), password entries
// "AXTextField" with the subrole "AXSecureTextField"; roles the table does not know are
// "AXUnknown".
RoleName roleNameOf(AtspiRole role, bool singleLine);

}  // namespace larkspire::linux_desktop
