#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/fake/ActionLog.h"

namespace larkspire::fake {

// An element of a tree a test builds: a role, a subrole, texts, children and an
// editable selection. Focus and selection requests are logged ("focus field",
// "select field 5+3"). Every read counts and runs `onRead`, so a test can make reads
// slow on a virtual clock.
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

    std::string role() override { return read(role_); }
    std::string subrole() override { return read(subrole_); }
    std::string value(std::size_t) override { return read(value_); }
    std::string title() override { return read(title_); }
    std::string description() override { return read(description_); }
    std::string selectedText(std::size_t) override { return read(selectedText_); }
    std::optional<platform::TextRange> selectedTextRange() override;
    std::vector<std::shared_ptr<platform::AccessibleElement>> children(std::size_t atMost) override;
    void focus() override { log_.add("focus " + name_); }
    void setSelectedTextRange(platform::TextRange range) override;

    void setRange(std::optional<platform::TextRange> range) { range_ = range; }
    // Sets "AXValue", "AXTitle", "AXDescription", "AXSelectedText"; returns this element.
    FakeAccessibleElement& texts(std::string value, std::string title = "",
                                 std::string description = "", std::string selected = "");
    // Appends a child and returns it.
    std::shared_ptr<FakeAccessibleElement> add(std::shared_ptr<FakeAccessibleElement> child);
    const std::vector<std::shared_ptr<FakeAccessibleElement>>& kids() const { return children_; }

    // Runs at every read of this element.
    std::function<void()> onRead;
    int reads = 0;

  private:
    std::string read(const std::string& attribute);

    ActionLog& log_;
    std::string name_;
    std::string role_;
    std::string subrole_;
    std::string value_, title_, description_, selectedText_;
    std::optional<platform::TextRange> range_;
    std::vector<std::shared_ptr<FakeAccessibleElement>> children_;
};

// Applications by process id, each with its focused element and focused window; records
// every process it was asked about.
class FakeAccessibility : public platform::Accessibility {
  public:
    std::shared_ptr<platform::AccessibleElement> focusedElement(platform::ProcessId pid) override;
    std::shared_ptr<platform::AccessibleElement> focusedWindow(platform::ProcessId pid) override;

    void setFocused(platform::ProcessId pid, std::shared_ptr<FakeAccessibleElement> element) {
        focused_[pid] = std::move(element);
    }
    void setWindow(platform::ProcessId pid, std::shared_ptr<FakeAccessibleElement> window) {
        windows_[pid] = std::move(window);
    }
    const std::vector<platform::ProcessId>& queried() const { return queried_; }
    // Runs at every look-up, as an element's onRead at every read: a slow application.
    std::function<void()> onQuery;

  private:
    std::map<platform::ProcessId, std::shared_ptr<FakeAccessibleElement>> focused_;
    std::map<platform::ProcessId, std::shared_ptr<FakeAccessibleElement>> windows_;
    std::vector<platform::ProcessId> queried_;
};

}  // namespace larkspire::fake
