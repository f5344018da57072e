#include "platform/linux/atspi/AtspiAccessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string>

#include "util/CHandle.h"

namespace larkspire::desktop {
namespace {

using ErrorPtr = CHandle<GError, g_error_free>;

// Runs an AT-SPI call that reports failure through a GError; the error is dropped.
template <class F>
auto call(F f) {
    GError* raw = nullptr;
    auto result = f(&raw);
    ErrorPtr error(raw);
    return std::make_pair(result, error == nullptr);
}

platform::ProcessId processOf(AtspiAccessible* accessible) {
    auto [pid, ok] =
        call([&](GError** e) { return atspi_accessible_get_process_id(accessible, e); });
    return ok ? static_cast<platform::ProcessId>(pid) : 0;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    ObjectPtr<AtspiStateSet> set(atspi_accessible_get_state_set(accessible));
    return set && atspi_state_set_contains(set.get(), state);
}

// AT-SPI roles as the names the logic uses.
std::string roleName(AtspiAccessible* accessible) {
    auto [role, ok] = call([&](GError** e) { return atspi_accessible_get_role(accessible, e); });
    if (!ok) {
        return {};
    }
    switch (role) {
        case ATSPI_ROLE_PASSWORD_TEXT:
        case ATSPI_ROLE_ENTRY:
        case ATSPI_ROLE_SPIN_BUTTON:
            return "AXTextField";
        case ATSPI_ROLE_TEXT:
            return hasState(accessible, ATSPI_STATE_SINGLE_LINE) ? "AXTextField" : "AXTextArea";
        case ATSPI_ROLE_PARAGRAPH:
        case ATSPI_ROLE_DOCUMENT_TEXT:
        case ATSPI_ROLE_TERMINAL:
            return "AXTextArea";
        case ATSPI_ROLE_LABEL:
        case ATSPI_ROLE_STATIC:
        case ATSPI_ROLE_HEADING:
            return "AXStaticText";
        case ATSPI_ROLE_PUSH_BUTTON:
        case ATSPI_ROLE_TOGGLE_BUTTON:
            return "AXButton";
        case ATSPI_ROLE_CHECK_BOX:
            return "AXCheckBox";
        case ATSPI_ROLE_RADIO_BUTTON:
            return "AXRadioButton";
        case ATSPI_ROLE_COMBO_BOX:
            return "AXComboBox";
        case ATSPI_ROLE_LINK:
            return "AXLink";
        case ATSPI_ROLE_LIST:
        case ATSPI_ROLE_LIST_BOX:
            return "AXList";
        case ATSPI_ROLE_TABLE:
        case ATSPI_ROLE_TREE_TABLE:
            return "AXTable";
        case ATSPI_ROLE_MENU_ITEM:
            return "AXMenuItem";
        case ATSPI_ROLE_DOCUMENT_WEB:
            return "AXWebArea";
        case ATSPI_ROLE_FRAME:
        case ATSPI_ROLE_WINDOW:
        case ATSPI_ROLE_DIALOG:
            return "AXWindow";
        default:
            return "AXGroup";
    }
}

class AtspiElement : public platform::AccessibleElement {
  public:
    explicit AtspiElement(AccessiblePtr accessible) : accessible_(std::move(accessible)) {}

    std::string role() override { return roleName(accessible_.get()); }

    std::string subrole() override {
        auto [role, ok] =
            call([&](GError** e) { return atspi_accessible_get_role(accessible_.get(), e); });
        return ok && role == ATSPI_ROLE_PASSWORD_TEXT ? "AXSecureTextField" : "";
    }

    std::optional<platform::TextRange> selectedTextRange() override {
        ObjectPtr<AtspiText> text(atspi_accessible_get_text_iface(accessible_.get()));
        if (!text) {
            return std::nullopt;
        }
        auto [count, ok] =
            call([&](GError** e) { return atspi_text_get_n_selections(text.get(), e); });
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

    void focus() override {
        ObjectPtr<AtspiComponent> component(
            atspi_accessible_get_component_iface(accessible_.get()));
        if (component) {
            call([&](GError** e) { return atspi_component_grab_focus(component.get(), e); });
        }
    }

    void setSelectedTextRange(platform::TextRange range) override {
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
        auto [count, ok] =
            call([&](GError** e) { return atspi_text_get_n_selections(text.get(), e); });
        if (ok && count > 0) {
            call(
                [&](GError** e) { return atspi_text_set_selection(text.get(), 0, start, end, e); });
        } else {
            call([&](GError** e) { return atspi_text_add_selection(text.get(), start, end, e); });
        }
    }

  private:
    AccessiblePtr accessible_;
};

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
    if (!source) {
        return;
    }
    // The process id comes from the bus daemon, not from the application itself.
    const platform::ProcessId pid = processOf(source);
    if (pid <= 0) {
        return;
    }
    forgetExitedProcesses();
    auto it = focusCache_.find(pid);
    if (focused) {
        focusCache_[pid] = AccessiblePtr(static_cast<AtspiAccessible*>(g_object_ref(source)));
    } else if (it != focusCache_.end() && it->second.get() == source) {
        focusCache_.erase(it);
    }
}

void AtspiAccessibility::forgetExitedProcesses() {
    // An application that quit sends no focus-out: its entry (and the D-Bus proxy it
    // holds) would stay for the agent's lifetime, and a later process given the same id
    // would be answered from it.
    std::erase_if(focusCache_,
                  [](const auto& entry) { return kill(entry.first, 0) != 0 && errno == ESRCH; });
}

std::shared_ptr<platform::AccessibleElement> AtspiAccessibility::focusedElement(
    platform::ProcessId pid) {
    lastSource_ = "none";
    if (pid <= 0 || pid == static_cast<platform::ProcessId>(getpid())) {
        return nullptr;
    }
    forgetExitedProcesses();
    if (auto it = focusCache_.find(pid); it != focusCache_.end()) {
        if (hasState(it->second.get(), ATSPI_STATE_FOCUSED)) {
            lastSource_ = "cache";
            return std::make_shared<AtspiElement>(
                AccessiblePtr(static_cast<AtspiAccessible*>(g_object_ref(it->second.get()))));
        }
        focusCache_.erase(it);
    }
    if (auto found = walkForFocus(pid)) {
        lastSource_ = "walk";
        return std::make_shared<AtspiElement>(std::move(found));
    }
    return nullptr;
}

AccessiblePtr AtspiAccessibility::walkForFocus(platform::ProcessId pid) {
    AccessiblePtr desktop(atspi_get_desktop(0));
    if (!desktop) {
        return nullptr;
    }
    auto [apps, ok] =
        call([&](GError** e) { return atspi_accessible_get_child_count(desktop.get(), e); });
    AccessiblePtr app;
    for (gint i = 0; ok && i < apps && !app; ++i) {
        auto [child, got] = call(
            [&](GError** e) { return atspi_accessible_get_child_at_index(desktop.get(), i, e); });
        AccessiblePtr candidate(child);
        if (got && candidate && processOf(candidate.get()) == pid) {
            app = std::move(candidate);
        }
    }
    if (!app) {
        return nullptr;
    }
    // Breadth-first from the application, active windows first, bounded in size.
    std::deque<AccessiblePtr> queue;
    auto [windows, wok] =
        call([&](GError** e) { return atspi_accessible_get_child_count(app.get(), e); });
    for (gint i = 0; wok && i < windows; ++i) {
        auto [child, got] =
            call([&](GError** e) { return atspi_accessible_get_child_at_index(app.get(), i, e); });
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

}  // namespace larkspire::desktop
