#pragma once

#include <optional>

#include "platform/Accessibility.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/AtspiRoles.h"

namespace larkspire::desktop {

// One accessible object of another application, read through libatspi. Every read is
// one or two calls on the accessibility bus, each bounded by the bus time-out; a failed
// read gives the empty value. Main thread.
class AtspiElement : public platform::AccessibleElement {
  public:
    explicit AtspiElement(AccessiblePtr accessible) : accessible_(std::move(accessible)) {}

    std::string role() override { return roleName().role; }
    std::string subrole() override { return roleName().subrole; }
    std::string value(std::size_t atLeast) override;
    std::string title() override;
    std::string description() override;
    std::string selectedText(std::size_t atLeast) override;
    std::optional<platform::TextRange> selectedTextRange() override;
    std::vector<std::shared_ptr<platform::AccessibleElement>> children(std::size_t atMost) override;
    void focus() override;
    void setSelectedTextRange(platform::TextRange range) override;

    AtspiAccessible* accessible() const { return accessible_.get(); }

  private:
    // Read once: an element keeps its role.
    const RoleName& roleName();

    AccessiblePtr accessible_;
    std::optional<RoleName> roleName_;
};

}  // namespace larkspire::desktop
