#include "platform/linux/atspi/AtspiElement.h"

#include <algorithm>

#include "util/Text.h"

namespace larkspire::linux_desktop {
namespace {

constexpr const char* kText = "org.a11y.atspi.Text";
constexpr const char* kComponent = "org.a11y.atspi.Component";

}  // namespace

AtspiElement::AtspiElement(AtspiAddress address)
    : AtspiElement(std::make_shared<AtspiCohort>(std::vector<AtspiAddress>{std::move(address)}),
                   0) {}

MessagePtr AtspiElement::ask(MessagePtr request) {
    return atspibus::send(address().connection.get(), std::move(request), AtspiCohort::kTimeoutMs);
}

std::optional<std::pair<std::int32_t, std::int32_t>> AtspiElement::selection() {
    const auto count =
        atspibus::readInt(ask(atspibus::call(address(), kText, "GetNSelections")).get());
    if (!count || *count <= 0) {
        return std::nullopt;
    }
    return atspibus::readRange(ask(atspibus::call(address(), kText, "GetSelection", 0)).get());
}

std::string AtspiElement::selectedText(std::size_t atLeast) {
    const auto range = selection();
    if (!range || range->second <= range->first) {
        return {};
    }
    // Offsets count code points: a few more than `atLeast` cover nearly every text.
    const auto wanted =
        static_cast<std::int64_t>(atLeast) + static_cast<std::int64_t>(atLeast / 8) + 16;
    const auto end = static_cast<std::int32_t>(
        std::min<std::int64_t>(range->second, static_cast<std::int64_t>(range->first) + wanted));
    std::string text =
        atspibus::readString(
            ask(atspibus::call(address(), kText, "GetText", range->first, end)).get())
            .value_or("");
    if (end < range->second && text::characterCount(text) <= atLeast) {
        text =
            atspibus::readString(
                ask(atspibus::call(address(), kText, "GetText", range->first, range->second)).get())
                .value_or("");
    }
    return text;
}

std::optional<platform::TextRange> AtspiElement::selectedTextRange() {
    if (const auto range = selection()) {
        return platform::TextRange{range->first, range->second - range->first};
    }
    const auto caret =
        atspibus::readVariantInt(ask(atspibus::property(address(), kText, "CaretOffset")).get());
    if (!caret || *caret < 0) {
        return std::nullopt;
    }
    return platform::TextRange{*caret, 0};
}

std::vector<std::shared_ptr<platform::AccessibleElement>> AtspiElement::children(
    std::size_t atMost) {
    const auto kids = cohort_->children(index_, atMost);
    std::vector<std::shared_ptr<platform::AccessibleElement>> out;
    for (std::size_t i = kids.first; i < kids.first + kids.count; ++i) {
        out.push_back(std::make_shared<AtspiElement>(kids.cohort, i));
    }
    return out;
}

void AtspiElement::focus() {
    ask(atspibus::call(address(), kComponent, "GrabFocus"));
}

void AtspiElement::setSelectedTextRange(platform::TextRange range) {
    const auto start = static_cast<std::int32_t>(range.location);
    const auto end = static_cast<std::int32_t>(range.location + range.length);
    if (range.length == 0) {
        ask(atspibus::call(address(), kText, "SetCaretOffset", start));
        return;
    }
    // Setting a selection needs one to exist; otherwise one is added.
    const auto count =
        atspibus::readInt(ask(atspibus::call(address(), kText, "GetNSelections")).get());
    if (count && *count > 0) {
        ask(atspibus::call(address(), kText, "SetSelection", 0, start, end));
    } else {
        ask(atspibus::call(address(), kText, "AddSelection", start, end));
    }
}

}  // namespace larkspire::linux_desktop
