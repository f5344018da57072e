#pragma once

// Helpers of the AT-SPI implementation (not an interface of the platform).
#include <atspi/atspi.h>

#include <utility>

#include "platform/FrontmostApp.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "util/CHandle.h"

namespace larkspire::linux_desktop::atspi {

using ErrorPtr = CHandle<GError, g_error_free>;
using CharPtr = CHandle<char, g_free>;

// Runs an AT-SPI call that reports failure through a GError; the error is dropped.
template <class F>
auto call(F f) {
    GError* raw = nullptr;
    auto result = f(&raw);
    ErrorPtr error(raw);
    return std::make_pair(result, error == nullptr);
}

inline bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    ObjectPtr<AtspiStateSet> set(atspi_accessible_get_state_set(accessible));
    return set && atspi_state_set_contains(set.get(), state);
}

inline platform::ProcessId processOf(AtspiAccessible* accessible) {
    auto [pid, ok] =
        call([&](GError** e) { return atspi_accessible_get_process_id(accessible, e); });
    return ok ? static_cast<platform::ProcessId>(pid) : 0;
}

inline AccessiblePtr retained(AtspiAccessible* accessible) {
    return AccessiblePtr(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
}

// The first window of `application` in `state` (ACTIVE, or SHOWING for any shown one).
inline AccessiblePtr windowInState(AtspiAccessible* application, AtspiStateType state) {
    auto [windows, ok] =
        call([&](GError** e) { return atspi_accessible_get_child_count(application, e); });
    for (gint i = 0; ok && i < windows; ++i) {
        auto [child, got] = call(
            [&](GError** e) { return atspi_accessible_get_child_at_index(application, i, e); });
        AccessiblePtr window(child);
        if (got && window && hasState(window.get(), state)) {
            return window;
        }
    }
    return nullptr;
}

}  // namespace larkspire::linux_desktop::atspi
