#include "platform/linux/atspi/AtspiAccessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string>

#include "platform/linux/atspi/AtspiCalls.h"
#include "platform/linux/atspi/AtspiElement.h"

namespace larkspire::linux_desktop {
namespace {

using atspi::call;
using atspi::ErrorPtr;
using atspi::hasState;
using atspi::processOf;
using atspi::retained;

// Parents above an element before its window: deeper trees are not walked up.
constexpr int kParentLimit = 64;

// The element of a libatspi object, read over the bus in batches from here on.
std::shared_ptr<platform::AccessibleElement> element(AtspiAccessible* accessible) {
    auto* object = ATSPI_OBJECT(accessible);
    if (!object->app || !object->app->bus_name || !object->path) {
        return nullptr;
    }
    return std::make_shared<AtspiElement>(
        AtspiAddress{atspibus::shared(object->app->bus), object->app->bus_name, object->path});
}

}  // namespace

void unrefObject(void* object) {
    g_object_unref(object);
}

AtspiAccessibility::AtspiAccessibility(platform::SystemLog& log) : log_(log) {
    // Returns 1 when already initialised, which is fine; 2 means no accessibility bus.
    if (atspi_init() == 2) {
        log_.log("Larkspire: the accessibility bus is not reachable");
    }
    atspi_set_timeout(kCallTimeoutMs, kCallTimeoutMs * 4);
    listener_.reset(atspi_event_listener_new(&AtspiAccessibility::onFocusEvent, this, nullptr));
    GError* raw = nullptr;
    if (!atspi_event_listener_register(listener_.get(), "object:state-changed:focused", &raw)) {
        ErrorPtr error(raw);
        log_.log(std::string("Larkspire: focus events unavailable: ") +
                 (error ? error->message : "unknown error"));
    }
}

AtspiAccessibility::~AtspiAccessibility() {
    if (listener_) {
        GError* raw = nullptr;
        atspi_event_listener_deregister(listener_.get(), "object:state-changed:focused", &raw);
        ErrorPtr error(raw);
    }
}

void AtspiAccessibility::onFocusEvent(AtspiEvent* event, void* self) {
    static_cast<AtspiAccessibility*>(self)->focusChanged(event->source, event->detail1 != 0);
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

void AtspiAccessibility::focusChanged(AtspiAccessible* source, bool focused) {
    // A loss of focus keeps the entry: the application's last focus is what a request
    // made while another window is active reads.
    if (!source || !focused) {
        return;
    }
    // The process id comes from the bus daemon, not from the application itself.
    const platform::ProcessId pid = processOf(source);
    if (pid > 0) {
        forgetExitedProcesses();
        focusCache_[pid] = retained(source);
    }
}

void AtspiAccessibility::forgetExitedProcesses() {
    // An application that quit sends no focus-out: its entry (and the D-Bus proxy it
    // holds) would stay for the agent's lifetime, and a later process given the same id
    // would be answered from it.
    std::erase_if(focusCache_,
                  [](const auto& entry) { return kill(entry.first, 0) != 0 && errno == ESRCH; });
}

bool AtspiAccessibility::isOwnOrNone(platform::ProcessId pid) const {
    return pid <= 0 || pid == static_cast<platform::ProcessId>(getpid());
}

std::shared_ptr<platform::AccessibleElement> AtspiAccessibility::focusedElement(
    platform::ProcessId pid) {
    lastSource_ = "none";
    if (isOwnOrNone(pid)) {
        return nullptr;
    }
    forgetExitedProcesses();
    auto cached = focusCache_.find(pid);
    if (cached != focusCache_.end() && hasState(cached->second.get(), ATSPI_STATE_FOCUSED)) {
        lastSource_ = "cache";
        return element(cached->second.get());
    }
    AccessiblePtr application = applicationOf(pid);
    if (!application) {
        return nullptr;
    }
    if (auto found = walkForFocus(application.get())) {
        lastSource_ = "walk";
        focusCache_[pid] = retained(found.get());
        return element(found.get());
    }
    // Nothing has the focus now: when none of the application's windows is active, its
    // last focus is where its user left off.
    if (cached != focusCache_.end() && !activeWindowOf(application.get()) &&
        !hasState(cached->second.get(), ATSPI_STATE_DEFUNCT)) {
        lastSource_ = "last focus";
        return element(cached->second.get());
    }
    return nullptr;
}

std::shared_ptr<platform::AccessibleElement> AtspiAccessibility::focusedWindow(
    platform::ProcessId pid) {
    if (isOwnOrNone(pid)) {
        return nullptr;
    }
    AccessiblePtr application = applicationOf(pid);
    if (!application) {
        return nullptr;
    }
    if (auto active = activeWindowOf(application.get())) {
        return element(active.get());
    }
    // No window is active: the window of the application's last focus.
    auto cached = focusCache_.find(pid);
    if (cached == focusCache_.end()) {
        return nullptr;
    }
    AccessiblePtr node = retained(cached->second.get());
    for (int i = 0; i < kParentLimit; ++i) {
        auto [parent, ok] =
            call([&](GError** e) { return atspi_accessible_get_parent(node.get(), e); });
        AccessiblePtr up(parent);
        if (!ok || !up) {
            return nullptr;
        }
        if (up.get() == application.get()) {
            return element(node.get());
        }
        node = std::move(up);
    }
    return nullptr;
}

AccessiblePtr AtspiAccessibility::applicationOf(platform::ProcessId pid) {
    AccessiblePtr desktop(atspi_get_desktop(0));
    if (!desktop) {
        return nullptr;
    }
    auto [apps, ok] =
        call([&](GError** e) { return atspi_accessible_get_child_count(desktop.get(), e); });
    for (gint i = 0; ok && i < apps; ++i) {
        auto [child, got] = call(
            [&](GError** e) { return atspi_accessible_get_child_at_index(desktop.get(), i, e); });
        AccessiblePtr candidate(child);
        if (got && candidate && processOf(candidate.get()) == pid) {
            return candidate;
        }
    }
    return nullptr;
}

AccessiblePtr AtspiAccessibility::activeWindowOf(AtspiAccessible* application) {
    return atspi::windowInState(application, ATSPI_STATE_ACTIVE);
}

AccessiblePtr AtspiAccessibility::walkForFocus(AtspiAccessible* application) {
    // Breadth-first from the application, active windows first, bounded in size.
    std::deque<AccessiblePtr> queue;
    auto [windows, wok] =
        call([&](GError** e) { return atspi_accessible_get_child_count(application, e); });
    for (gint i = 0; wok && i < windows; ++i) {
        auto [child, got] = call(
            [&](GError** e) { return atspi_accessible_get_child_at_index(application, i, e); });
        AccessiblePtr window(child);
        if (!got || !window) {
            continue;
        }
        if (hasState(window.get(), ATSPI_STATE_ACTIVE)) {
            queue.push_front(std::move(window));
        } else {
            queue.push_back(std::move(window));
        }
    }
    int visited = 0;
    while (!queue.empty() && visited < kWalkLimit) {
        AccessiblePtr node = std::move(queue.front());
        queue.pop_front();
        ++visited;
        if (hasState(node.get(), ATSPI_STATE_FOCUSED)) {
            return node;
        }
        auto [count, cok] =
            call([&](GError** e) { return atspi_accessible_get_child_count(node.get(), e); });
        for (gint i = 0; cok && i < count; ++i) {
            auto [child, got] = call(
                [&](GError** e) { return atspi_accessible_get_child_at_index(node.get(), i, e); });
            if (got && child) {
                queue.emplace_back(child);
            }
        }
    }
    return nullptr;
}

bool AtspiAccessibility::enableAccessibilityBus(platform::SystemLog& log) {
    GError* raw = nullptr;
    ObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    ErrorPtr error(raw);
    if (!bus) {
        log.log("Larkspire: no session bus to turn accessibility on");
        return false;
    }
    auto property = [&](const char* method, GVariant* args) {
        GError* e = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", method,
            args, nullptr, G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, &e);
        ErrorPtr failed(e);
        return std::unique_ptr<GVariant, decltype(&g_variant_unref)>(reply, &g_variant_unref);
    };
    auto isEnabled = [&] {
        auto reply = property("Get", g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"));
        if (!reply) {
            return false;
        }
        GVariant* boxed = nullptr;
        g_variant_get(reply.get(), "(v)", &boxed);
        std::unique_ptr<GVariant, decltype(&g_variant_unref)> value(boxed, &g_variant_unref);
        return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) &&
               g_variant_get_boolean(value.get());
    };
    if (isEnabled()) {
        return true;
    }
    property("Set",
             g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)));
    const bool on = isEnabled();
    log.log(on ? "Larkspire: turned the desktop's accessibility on"
               : "Larkspire: could not turn the desktop's accessibility on");
    return on;
}

}  // namespace larkspire::linux_desktop
