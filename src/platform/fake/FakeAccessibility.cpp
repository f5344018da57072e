#include "platform/fake/FakeAccessibility.h"

#include <algorithm>

namespace larkspire::fake {

std::string FakeAccessibleElement::read(const std::string& attribute) {
    ++reads;
    if (onRead) {
        onRead();
    }
    return attribute;
}

std::optional<platform::TextRange> FakeAccessibleElement::selectedTextRange() {
    read({});
    return range_;
}

std::vector<std::shared_ptr<platform::AccessibleElement>> FakeAccessibleElement::children(
    std::size_t atMost) {
    read({});
    const auto n = std::min(atMost, children_.size());
    return {children_.begin(), children_.begin() + static_cast<std::ptrdiff_t>(n)};
}

void FakeAccessibleElement::setSelectedTextRange(platform::TextRange range) {
    range_ = range;
    log_.add("select " + name_ + " " + std::to_string(range.location) + "+" +
             std::to_string(range.length));
}

FakeAccessibleElement& FakeAccessibleElement::texts(std::string value, std::string title,
                                                    std::string description, std::string selected) {
    value_ = std::move(value);
    title_ = std::move(title);
    description_ = std::move(description);
    selectedText_ = std::move(selected);
    return *this;
}

std::shared_ptr<FakeAccessibleElement> FakeAccessibleElement::add(
    std::shared_ptr<FakeAccessibleElement> child) {
    children_.push_back(child);
    return child;
}

std::shared_ptr<platform::AccessibleElement> FakeAccessibility::focusedElement(
    platform::ProcessId pid) {
    queried_.push_back(pid);
    if (onQuery) {
        onQuery();
    }
    auto it = focused_.find(pid);
    return it == focused_.end() ? nullptr : it->second;
}

std::shared_ptr<platform::AccessibleElement> FakeAccessibility::focusedWindow(
    platform::ProcessId pid) {
    queried_.push_back(pid);
    if (onQuery) {
        onQuery();
    }
    auto it = windows_.find(pid);
    return it == windows_.end() ? nullptr : it->second;
}

}  // namespace larkspire::fake
