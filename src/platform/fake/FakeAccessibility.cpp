#include "platform/fake/FakeAccessibility.h"

namespace larkspire::fake {

void FakeAccessibleElement::setSelectedTextRange(platform::TextRange range) {
    range_ = range;
    log_.add("select " + name_ + " " + std::to_string(range.location) + "+" +
             std::to_string(range.length));
}

std::shared_ptr<platform::AccessibleElement> FakeAccessibility::focusedElement(
    platform::ProcessId pid) {
    queried_.push_back(pid);
    auto it = focused_.find(pid);
    return it == focused_.end() ? nullptr : it->second;
}

}  // namespace larkspire::fake
