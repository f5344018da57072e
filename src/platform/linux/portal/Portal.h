#pragma once

// GLib's headers name struct fields "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "util/CHandle.h"

namespace larkspire::linux_desktop {

using VariantPtr = CHandle<GVariant, g_variant_unref>;

// The desktop's XDG portal service on the session bus (org.freedesktop.portal.Desktop),
// through GDBus. A portal method that needs the user's answer returns at once with a
// request object, and the answer comes later as that object's Response signal: request()
// waits for it without blocking, wait() blocks on a private main context (so no other
// event of the agent runs meanwhile). Replies and signals of the asynchronous calls run
// on the main context, which Qt's event loop drives. Main thread.
class Portal {
  public:
    // The response code and the a{sv} results of a portal request: 0 granted, 1 the user
    // declined, 2 anything else (the call failing included).
    struct Response {
        std::uint32_t code = 2;
        VariantPtr results;
        std::string error;  // the D-Bus error when the call itself failed
    };
    using Done = std::function<void(Response)>;
    using SignalHandler = std::function<void(GVariant* parameters)>;

    // Connects to the session bus; null when there is none.
    static std::unique_ptr<Portal> connect();
    ~Portal();
    Portal(const Portal&) = delete;
    Portal& operator=(const Portal&) = delete;

    GDBusConnection* bus() const { return bus_.get(); }
    // The version a portal interface reports ("org.freedesktop.portal.GlobalShortcuts");
    // 0 when the portal service or the interface is absent.
    std::uint32_t version(const std::string& interface) const;

    // A fresh handle token, unique in this process ("larkspire7").
    std::string newToken();
    // Calls `method` of `interface`, whose a{sv} options carry `token` as their
    // "handle_token", and hands the Response to `done`, which runs once. `owner` tags the
    // request so that cancel() can drop it.
    void request(const void* owner, const std::string& token, const std::string& interface,
                 const std::string& method, GVariant* parameters, Done done);
    // The same, blocking until the response comes or `timeout` passes (code 2 then).
    Response wait(const std::string& token, const std::string& interface, const std::string& method,
                  GVariant* parameters, std::chrono::milliseconds timeout);
    // A plain method call, blocking; null (with `error` set) when it fails. `fds` receives
    // the file descriptors of the reply, if any.
    VariantPtr call(const std::string& interface, const std::string& method, GVariant* parameters,
                    std::string* error = nullptr, GUnixFDList** fds = nullptr);
    // The same, not waiting for the reply; failures are logged by GLib only.
    void send(const std::string& interface, const std::string& method, GVariant* parameters);

    // Subscribes to a signal of the portal object; the returned id unsubscribes.
    unsigned subscribe(const void* owner, const std::string& interface, const std::string& signal,
                       SignalHandler handler);
    // The same for a signal of another object of the portal (a session's "Closed").
    unsigned subscribeAt(const void* owner, const std::string& path, const std::string& interface,
                         const std::string& signal, SignalHandler handler);
    void unsubscribe(unsigned id);
    // Drops the pending requests and signal handlers of `owner`: none of them runs after.
    void cancel(const void* owner);

  private:
    explicit Portal(GDBusConnection* bus);
    std::string requestPath(const std::string& token) const;
    unsigned subscribeResponse(const void* owner, const std::string& token, Done done);

    struct Subscription;
    CHandle<GDBusConnection, g_object_unref> bus_;
    CHandle<GCancellable, g_object_unref> cancellable_;  // cancelled when the portal goes
    std::string sender_;  // the unique name as request paths spell it: "1_42"
    unsigned nextToken_ = 0;
    std::map<unsigned, Subscription*> subscriptions_;  // by GDBus id; GDBus owns them
};

// An a{sv} of the given entries (floating, for g_variant_new's "@a{sv}").
GVariant* vardict(std::initializer_list<std::pair<const char*, GVariant*>> entries);
// A string variant (floating).
inline GVariant* text(const std::string& s) {
    return g_variant_new_string(s.c_str());
}

// Reads an a{sv} entry of the given type ("s", "u", "b", "a(sa{sv})"…); null if absent.
VariantPtr lookup(GVariant* dictionary, const char* key, const char* type);

}  // namespace larkspire::linux_desktop
