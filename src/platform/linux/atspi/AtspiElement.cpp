#include "platform/linux/atspi/AtspiElement.h"

#include <algorithm>
#include <limits>

#include "platform/linux/atspi/AtspiCalls.h"
#include "util/Text.h"

namespace larkspire::desktop {
namespace {

using atspi::call;
using atspi::CharPtr;

std::string owned(char* raw) {
    CharPtr text(raw);
    return text ? std::string(text.get()) : std::string();
}

// The text from `start` up to `end` (its end when -1), but only as much of it as holds
// the first `atLeast` user-perceived characters: one call for ordinary texts, more only
// for long ones made of many combining characters. A text of a million characters
// (a large document in focus) is not moved over the bus to keep its first 12000.
std::string boundedText(AtspiText* text, gint start, gint end, std::size_t atLeast) {
    auto [count, ok] = call([&](GError** e) { return atspi_text_get_character_count(text, e); });
    if (!ok || count <= start) {
        return {};
    }
    const gint last = end < 0 ? count : std::min(end, count);
    // Offsets count code points; a user-perceived character is one or more of them.
    auto want = static_cast<std::int64_t>(std::min<std::size_t>(
        atLeast + atLeast / 8 + 16, static_cast<std::size_t>(std::numeric_limits<gint>::max())));
    for (;;) {
        const gint stop = static_cast<gint>(std::min<std::int64_t>(last, start + want));
        auto [raw, got] =
            call([&](GError** e) { return atspi_text_get_text(text, start, stop, e); });
        std::string piece = owned(raw);
        if (!got || stop == last || text::characterCount(piece) > atLeast) {
            return got ? piece : std::string();
        }
        want *= 2;
    }
}

}  // namespace

const RoleName& AtspiElement::roleName() {
    if (!roleName_) {
        auto [role, ok] =
            call([&](GError** e) { return atspi_accessible_get_role(accessible_.get(), e); });
        if (!ok) {
            return roleName_.emplace();
        }
        const bool singleLine =
            role == ATSPI_ROLE_TEXT && atspi::hasState(accessible_.get(), ATSPI_STATE_SINGLE_LINE);
        roleName_ = roleNameOf(role, singleLine);
    }
    return *roleName_;
}

std::string AtspiElement::value(std::size_t atLeast) {
    // The text interface's whole text; a numeric value (a slider's) is no text.
    ObjectPtr<AtspiText> text(atspi_accessible_get_text_iface(accessible_.get()));
    return text ? boundedText(text.get(), 0, -1, atLeast) : std::string();
}

std::string AtspiElement::title() {
    auto [name, ok] =
        call([&](GError** e) { return atspi_accessible_get_name(accessible_.get(), e); });
    std::string out = owned(name);
    return ok ? out : std::string();
}

std::string AtspiElement::description() {
    auto [description, ok] =
        call([&](GError** e) { return atspi_accessible_get_description(accessible_.get(), e); });
    std::string out = owned(description);
    return ok ? out : std::string();
}

std::string AtspiElement::selectedText(std::size_t atLeast) {
    ObjectPtr<AtspiText> text(atspi_accessible_get_text_iface(accessible_.get()));
    if (!text) {
        return {};
    }
    auto [count, ok] = call([&](GError** e) { return atspi_text_get_n_selections(text.get(), e); });
    if (!ok || count <= 0) {
        return {};
    }
    auto [range, got] =
        call([&](GError** e) { return atspi_text_get_selection(text.get(), 0, e); });
    std::unique_ptr<AtspiRange, decltype(&g_free)> owned(range, &g_free);
    if (!got || !owned || owned->end_offset <= owned->start_offset) {
        return {};
    }
    return boundedText(text.get(), owned->start_offset, owned->end_offset, atLeast);
}

std::optional<platform::TextRange> AtspiElement::selectedTextRange() {
    ObjectPtr<AtspiText> text(atspi_accessible_get_text_iface(accessible_.get()));
    if (!text) {
        return std::nullopt;
    }
    auto [count, ok] = call([&](GError** e) { return atspi_text_get_n_selections(text.get(), e); });
    if (ok && count > 0) {
        auto [range, got] =
            call([&](GError** e) { return atspi_text_get_selection(text.get(), 0, e); });
        std::unique_ptr<AtspiRange, decltype(&g_free)> owned(range, &g_free);
        if (got && owned) {
            return platform::TextRange{owned->start_offset,
                                       owned->end_offset - owned->start_offset};
        }
    }
    auto [caret, caretOk] =
        call([&](GError** e) { return atspi_text_get_caret_offset(text.get(), e); });
    if (!caretOk || caret < 0) {
        return std::nullopt;
    }
    return platform::TextRange{caret, 0};
}

std::vector<std::shared_ptr<platform::AccessibleElement>> AtspiElement::children(
    std::size_t atMost) {
    auto [count, ok] =
        call([&](GError** e) { return atspi_accessible_get_child_count(accessible_.get(), e); });
    std::vector<std::shared_ptr<platform::AccessibleElement>> out;
    if (!ok || count <= 0) {
        return out;
    }
    const auto n =
        static_cast<gint>(std::min<std::size_t>(atMost, static_cast<std::size_t>(count)));
    for (gint i = 0; i < n; ++i) {
        auto [child, got] = call([&](GError** e) {
            return atspi_accessible_get_child_at_index(accessible_.get(), i, e);
        });
        if (got && child) {
            out.push_back(std::make_shared<AtspiElement>(AccessiblePtr(child)));
        }
    }
    return out;
}

void AtspiElement::focus() {
    ObjectPtr<AtspiComponent> component(atspi_accessible_get_component_iface(accessible_.get()));
    if (component) {
        call([&](GError** e) { return atspi_component_grab_focus(component.get(), e); });
    }
}

void AtspiElement::setSelectedTextRange(platform::TextRange range) {
    ObjectPtr<AtspiText> text(atspi_accessible_get_text_iface(accessible_.get()));
    if (!text) {
        return;
    }
    const auto start = static_cast<gint>(range.location);
    const auto end = static_cast<gint>(range.location + range.length);
    if (range.length == 0) {
        call([&](GError** e) { return atspi_text_set_caret_offset(text.get(), start, e); });
        return;
    }
    // Setting a selection needs one to exist; otherwise one is added.
    auto [count, ok] = call([&](GError** e) { return atspi_text_get_n_selections(text.get(), e); });
    if (ok && count > 0) {
        call([&](GError** e) { return atspi_text_set_selection(text.get(), 0, start, end, e); });
    } else {
        call([&](GError** e) { return atspi_text_add_selection(text.get(), start, end, e); });
    }
}

}  // namespace larkspire::desktop
