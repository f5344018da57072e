#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/fake/ActionLog.h"

namespace larkspire::fake {

// An element with a role, a subrole and an editable selection; focus and selection
// requests are logged ("focus field", "select field 5+3").
class FakeAccessibleElement : public platform::AccessibleElement {
  public:
    FakeAccessibleElement(ActionLog& log, std::string name, std::string role,
                          std::string subrole = "",
                          std::optional<platform::TextRange> range = std::nullopt)
        : log_(log),
          name_(std::move(name)),
          role_(std::move(role)),
          subrole_(std::move(subrole)),
          range_(range) {}

    std::string role() override { return role_; }
    std::string subrole() override { return subrole_; }
    std::optional<platform::TextRange> selectedTextRange() override { return range_; }
    void focus() override { log_.add("focus " + name_); }
    void setSelectedTextRange(platform::TextRange range) override;

    void setRange(std::optional<platform::TextRange> range) { range_ = range; }

  private:
    ActionLog& log_;
    std::string name_;
    std::string role_;
    std::string subrole_;
    std::optional<platform::TextRange> range_;
};

// Applications by process id, each with its focused element; records every process it
// was asked about.
class FakeAccessibility : public platform::Accessibility {
  public:
    std::shared_ptr<platform::AccessibleElement> focusedElement(platform::ProcessId pid) override;

    void setFocused(platform::ProcessId pid, std::shared_ptr<FakeAccessibleElement> element) {
        focused_[pid] = std::move(element);
    }
    const std::vector<platform::ProcessId>& queried() const { return queried_; }

  private:
    std::map<platform::ProcessId, std::shared_ptr<FakeAccessibleElement>> focused_;
    std::vector<platform::ProcessId> queried_;
};

}  // namespace larkspire::fake
