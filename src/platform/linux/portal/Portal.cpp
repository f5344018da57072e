#include "platform/linux/portal/Portal.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace larkspire::linux_desktop {
namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kObject = "/org/freedesktop/portal/desktop";
constexpr int kCallTimeoutMs = 5000;

std::string messageOf(GError* error) {
    std::string message = error ? error->message : "unknown error";
    if (error) {
        g_error_free(error);
    }
    return message;
}

}  // namespace

// Owned by GDBus (freed through the subscription's destroy notification, which may come
// after unsubscribing); `active` turns off at once when unsubscribed.
struct Portal::Subscription {
    const void* owner = nullptr;
    SignalHandler handler;
    bool active = true;

    static void deliver(GDBusConnection*, const char*, const char*, const char*, const char*,
                        GVariant* parameters, gpointer self) {
        auto* s = static_cast<Subscription*>(self);
        if (s->active && s->handler) {
            s->handler(parameters);
        }
    }
    static void free(gpointer self) { delete static_cast<Subscription*>(self); }
};

std::unique_ptr<Portal> Portal::connect() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return nullptr;
    }
    return std::unique_ptr<Portal>(new Portal(bus));
}

Portal::Portal(GDBusConnection* bus) : bus_(bus), cancellable_(g_cancellable_new()) {
    // Request objects are named after the caller: ":1.42" becomes "1_42".
    std::string name = g_dbus_connection_get_unique_name(bus);
    name.erase(0, name.find_first_not_of(':'));
    std::replace(name.begin(), name.end(), '.', '_');
    sender_ = name;
}

Portal::~Portal() {
    g_cancellable_cancel(cancellable_.get());
    for (auto& [id, subscription] : subscriptions_) {
        subscription->active = false;
        g_dbus_connection_signal_unsubscribe(bus_.get(), id);
    }
}

std::uint32_t Portal::version(const std::string& interface) const {
    GError* error = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(
        bus_.get(), kService, kObject, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", interface.c_str(), "version"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error));
    if (!reply) {
        g_clear_error(&error);
        return 0;
    }
    VariantPtr boxed(g_variant_get_child_value(reply.get(), 0));
    VariantPtr value(g_variant_get_variant(boxed.get()));
    return g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)
               ? g_variant_get_uint32(value.get())
               : 0;
}

std::string Portal::newToken() {
    return "larkspire" + std::to_string(++nextToken_);
}

std::string Portal::requestPath(const std::string& token) const {
    return std::string(kObject) + "/request/" + sender_ + "/" + token;
}

unsigned Portal::subscribe(const void* owner, const std::string& interface,
                           const std::string& signal, SignalHandler handler) {
    return subscribeAt(owner, kObject, interface, signal, std::move(handler));
}

unsigned Portal::subscribeAt(const void* owner, const std::string& path,
                             const std::string& interface, const std::string& signal,
                             SignalHandler handler) {
    auto subscription = std::make_unique<Subscription>();
    subscription->owner = owner;
    subscription->handler = std::move(handler);
    Subscription* observed = subscription.get();
    const unsigned id = g_dbus_connection_signal_subscribe(
        bus_.get(), kService, interface.c_str(), signal.c_str(), path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &Subscription::deliver, subscription.release(),
        &Subscription::free);
    subscriptions_[id] = observed;
    return id;
}

void Portal::unsubscribe(unsigned id) {
    if (auto it = subscriptions_.find(id); it != subscriptions_.end()) {
        it->second->active = false;
        subscriptions_.erase(it);
        g_dbus_connection_signal_unsubscribe(bus_.get(), id);
    }
}

void Portal::cancel(const void* owner) {
    std::vector<unsigned> ids;
    for (const auto& [id, subscription] : subscriptions_) {
        if (subscription->owner == owner) {
            ids.push_back(id);
        }
    }
    for (unsigned id : ids) {
        unsubscribe(id);
    }
}

unsigned Portal::subscribeResponse(const void* owner, const std::string& token, Done done) {
    // The response may come before the call's reply: subscribe first.
    auto id = std::make_shared<unsigned>(0);
    *id = subscribeAt(owner, requestPath(token), "org.freedesktop.portal.Request", "Response",
                      [this, id, done = std::move(done)](GVariant* parameters) {
                          Done once = done;
                          unsubscribe(*id);
                          Response response;
                          GVariant* results = nullptr;
                          g_variant_get(parameters, "(u@a{sv})", &response.code, &results);
                          response.results.reset(results);
                          once(std::move(response));
                      });
    return *id;
}

void Portal::request(const void* owner, const std::string& token, const std::string& interface,
                     const std::string& method, GVariant* parameters, Done done) {
    const unsigned id = subscribeResponse(owner, token, done);
    // A call that failed brings no response: it is answered here, unless cancelled.
    using Failed = std::function<void(std::string)>;
    auto failed = std::make_unique<Failed>([this, id, done = std::move(done)](std::string error) {
        if (subscriptions_.count(id) == 0) {
            return;
        }
        unsubscribe(id);
        done(Response{2, nullptr, std::move(error)});
    });
    g_dbus_connection_call(
        bus_.get(), kService, kObject, interface.c_str(), method.c_str(), parameters,
        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable_.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Failed> failed(static_cast<Failed*>(data));
            GError* error = nullptr;
            VariantPtr reply(
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
            if (reply) {
                return;
            }
            if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                g_error_free(error);  // the portal object is gone
                return;
            }
            (*failed)(messageOf(error));
        },
        failed.release());
}

Portal::Response Portal::wait(const std::string& token, const std::string& interface,
                              const std::string& method, GVariant* parameters,
                              std::chrono::milliseconds timeout) {
    // Signals are delivered on the main context that was the thread's default when the
    // subscription was made: a private one, so only this request's events run here.
    CHandle<GMainContext, g_main_context_unref> context(g_main_context_new());
    g_main_context_push_thread_default(context.get());
    std::optional<Response> answer;
    const unsigned id =
        subscribeResponse(this, token, [&answer](Response r) { answer = std::move(r); });
    std::string error;
    if (!call(interface, method, parameters, &error)) {
        unsubscribe(id);
        answer = Response{2, nullptr, error};
    }
    bool timedOut = false;
    CHandle<GSource, g_source_unref> timer(
        g_timeout_source_new(static_cast<unsigned>(timeout.count())));
    g_source_set_callback(
        timer.get(),
        [](gpointer flag) {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &timedOut, nullptr);
    g_source_attach(timer.get(), context.get());
    while (!answer && !timedOut) {
        g_main_context_iteration(context.get(), TRUE);
    }
    g_source_destroy(timer.get());
    unsubscribe(id);
    // Runs what unsubscribing scheduled here (the subscription's release).
    while (g_main_context_iteration(context.get(), FALSE)) {
    }
    g_main_context_pop_thread_default(context.get());
    return answer ? std::move(*answer) : Response{2, nullptr, "no answer in time"};
}

VariantPtr Portal::call(const std::string& interface, const std::string& method,
                        GVariant* parameters, std::string* error, GUnixFDList** fds) {
    GError* failure = nullptr;
    VariantPtr reply(g_dbus_connection_call_with_unix_fd_list_sync(
        bus_.get(), kService, kObject, interface.c_str(), method.c_str(), parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, fds, nullptr, &failure));
    if (!reply) {
        const std::string message = messageOf(failure);
        if (error) {
            *error = message;
        }
    }
    return reply;
}

void Portal::send(const std::string& interface, const std::string& method, GVariant* parameters) {
    g_dbus_connection_call(bus_.get(), kService, kObject, interface.c_str(), method.c_str(),
                           parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
                           nullptr, nullptr);
}

GVariant* vardict(std::initializer_list<std::pair<const char*, GVariant*>> entries) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    for (const auto& [key, value] : entries) {
        g_variant_builder_add(&builder, "{sv}", key, value);
    }
    return g_variant_builder_end(&builder);
}

VariantPtr lookup(GVariant* dictionary, const char* key, const char* type) {
    if (!dictionary) {
        return nullptr;
    }
    return VariantPtr(g_variant_lookup_value(dictionary, key, G_VARIANT_TYPE(type)));
}

}  // namespace larkspire::linux_desktop
