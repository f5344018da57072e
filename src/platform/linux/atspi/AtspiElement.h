#pragma once

#include <memory>
#include <optional>

#include "platform/Accessibility.h"
#include "platform/linux/atspi/AtspiCohort.h"

namespace larkspire::linux_desktop {

// One accessible object of another application, read over the accessibility bus. Its
// reads go through its cohort (itself and its siblings, read together); the selection,
// focus and writes are calls of their own. Every call is bounded by the bus time-out; a
// failed read gives the empty value. Main thread.
class AtspiElement : public platform::AccessibleElement {
  public:
    AtspiElement(std::shared_ptr<AtspiCohort> cohort, std::size_t index)
        : cohort_(std::move(cohort)), index_(index) {}
    // An element alone in its cohort.
    explicit AtspiElement(AtspiAddress address);

    std::string role() override { return cohort_->role(index_).role; }
    std::string subrole() override { return cohort_->role(index_).subrole; }
    std::string value(std::size_t atLeast) override { return cohort_->text(index_, atLeast); }
    std::string title() override { return cohort_->name(index_); }
    std::string description() override { return cohort_->description(index_); }
    std::string selectedText(std::size_t atLeast) override;
    std::optional<platform::TextRange> selectedTextRange() override;
    std::vector<std::shared_ptr<platform::AccessibleElement>> children(std::size_t atMost) override;
    void focus() override;
    void setSelectedTextRange(platform::TextRange range) override;

  private:
    const AtspiAddress& address() const { return cohort_->address(index_); }
    MessagePtr ask(MessagePtr request);
    // The first selection as (start, end), if there is one.
    std::optional<std::pair<std::int32_t, std::int32_t>> selection();

    std::shared_ptr<AtspiCohort> cohort_;
    std::size_t index_;
};

}  // namespace larkspire::linux_desktop
