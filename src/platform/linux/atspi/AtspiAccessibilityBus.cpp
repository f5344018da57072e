#include "platform/linux/atspi/AtspiAccessibilityBus.h"

#include <gio/gio.h>

#include "util/CHandle.h"

namespace larkspire::linux_desktop {
namespace {

constexpr int kTimeoutMs = 1000;

using ErrorPtr = CHandle<GError, g_error_free>;
using VariantPtr = CHandle<GVariant, g_variant_unref>;
using ConnectionPtr = CHandle<GDBusConnection, g_object_unref>;

}  // namespace

bool AtspiAccessibilityBus::isEnabled() {
    GError* raw = nullptr;
    ConnectionPtr bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    ErrorPtr busError(raw);
    if (!bus) {
        return false;
    }
    raw = nullptr;
    // No auto-start: asking must not launch a bus that is not running.
    VariantPtr reply(g_dbus_connection_call_sync(
        bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, &raw));
    ErrorPtr callError(raw);
    if (!reply) {
        return false;
    }
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    VariantPtr value(boxed);
    return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) &&
           g_variant_get_boolean(value.get());
}

}  // namespace larkspire::linux_desktop
