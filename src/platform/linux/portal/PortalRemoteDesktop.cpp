#include "platform/linux/portal/PortalRemoteDesktop.h"

#include <utility>

namespace larkspire::linux_desktop {
namespace {

constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr std::uint32_t kKeyboard = 1;
// Kept until the user revokes it, across sessions of the desktop.
constexpr std::uint32_t kPersistUntilRevoked = 2;

}  // namespace

PortalRemoteDesktop::PortalRemoteDesktop(Portal& portal, platform::SystemLog& log,
                                         TokenStore tokens, bool withClipboard)
    : portal_(portal), log_(log), tokens_(std::move(tokens)), withClipboard_(withClipboard) {}

PortalRemoteDesktop::~PortalRemoteDesktop() {
    portal_.cancel(this);
    if (!session_.empty()) {
        g_dbus_connection_call(portal_.bus(), "org.freedesktop.portal.Desktop", session_.c_str(),
                               "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        g_dbus_connection_flush_sync(portal_.bus(), nullptr, nullptr);
    }
}

void PortalRemoteDesktop::set(State state) {
    state_ = state;
    if (changed_) {
        changed_();
    }
}

void PortalRemoteDesktop::fail(State state, std::string problem, const std::string& logLine) {
    log_.log("Larkspire: paste through the desktop portal is off: " + logLine);
    problem_ = std::move(problem);
    set(state);
}

void PortalRemoteDesktop::start() {
    if (state_ != State::idle) {
        return;
    }
    set(State::starting);
    const std::string token = portal_.newToken();
    portal_.request(
        this, token, kRemoteDesktop, "CreateSession",
        g_variant_new("(@a{sv})", vardict({{"handle_token", text(token)},
                                           {"session_handle_token", text(portal_.newToken())}})),
        [this](Portal::Response r) { created(std::move(r)); });
}

void PortalRemoteDesktop::created(Portal::Response response) {
    const VariantPtr session = lookup(response.results.get(), "session_handle", "s");
    if (response.code != 0 || !session) {
        fail(State::failed,
             "The desktop portal did not open a remote-desktop session, through which "
             "Larkspire types the paste keys.",
             "CreateSession answered " + std::to_string(response.code) + " " + response.error);
        return;
    }
    session_ = g_variant_get_string(session.get(), nullptr);
    // The user can end the session from the desktop's own indicator at any time.
    portal_.subscribeAt(this, session_, "org.freedesktop.portal.Session", "Closed",
                        [this](GVariant*) {
                            session_.clear();
                            fail(State::failed,
                                 "The desktop ended Larkspire’s keyboard (remote desktop) "
                                 "session, through which it pastes: dictated text stays on the "
                                 "clipboard for you to paste. Quit and start Larkspire again to "
                                 "paste automatically.",
                                 "the desktop closed the remote-desktop session");
                        });
    const std::string token = portal_.newToken();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kKeyboard));
    // Restore tokens came with version 2; earlier portals ask at every start.
    if (portal_.version(kRemoteDesktop) >= 2) {
        g_variant_builder_add(&options, "{sv}", "persist_mode",
                              g_variant_new_uint32(kPersistUntilRevoked));
        if (const std::string stored = tokens_.load ? tokens_.load() : ""; !stored.empty()) {
            g_variant_builder_add(&options, "{sv}", "restore_token",
                                  g_variant_new_string(stored.c_str()));
        }
    }
    portal_.request(this, token, kRemoteDesktop, "SelectDevices",
                    g_variant_new("(oa{sv})", session_.c_str(), &options),
                    [this](Portal::Response r) { selected(std::move(r)); });
}

void PortalRemoteDesktop::selected(Portal::Response response) {
    if (response.code != 0) {
        fail(State::failed,
             "The desktop portal refused Larkspire a keyboard in its remote-desktop session.",
             "SelectDevices answered " + std::to_string(response.code) + " " + response.error);
        return;
    }
    // The clipboard must be asked for before the session starts.
    if (withClipboard_ && portal_.version("org.freedesktop.portal.Clipboard") > 0) {
        std::string error;
        if (!portal_.call("org.freedesktop.portal.Clipboard", "RequestClipboard",
                          g_variant_new("(o@a{sv})", session_.c_str(), vardict({})), &error)) {
            log_.log("Larkspire: the desktop portal gave no clipboard: " + error);
        }
    }
    const std::string token = portal_.newToken();
    portal_.request(
        this, token, kRemoteDesktop, "Start",
        g_variant_new("(os@a{sv})", session_.c_str(), "", vardict({{"handle_token", text(token)}})),
        [this](Portal::Response r) { started(std::move(r)); });
}

void PortalRemoteDesktop::started(Portal::Response response) {
    if (response.code == 1) {
        fail(State::refused,
             "You declined Larkspire’s request to control the keyboard, through which it "
             "pastes: dictated text stays on the clipboard for you to paste. Quit and start "
             "Larkspire again to be asked once more.",
             "the user declined the remote-desktop session");
        return;
    }
    const VariantPtr devices = lookup(response.results.get(), "devices", "u");
    if (response.code != 0 || !devices || (g_variant_get_uint32(devices.get()) & kKeyboard) == 0) {
        fail(State::failed,
             "The desktop portal started no keyboard for Larkspire, through which it pastes: "
             "dictated text stays on the clipboard for you to paste.",
             "Start answered " + std::to_string(response.code) + " " + response.error);
        return;
    }
    // A token is good for one restore: keep the new one.
    if (const VariantPtr token = lookup(response.results.get(), "restore_token", "s");
        token && tokens_.save) {
        tokens_.save(g_variant_get_string(token.get(), nullptr));
    }
    const VariantPtr clipboard = lookup(response.results.get(), "clipboard_enabled", "b");
    clipboardEnabled_ = clipboard && g_variant_get_boolean(clipboard.get());
    problem_.clear();
    log_.log(std::string("Larkspire: the desktop portal's remote-desktop session is on: paste "
                         "through its keyboard") +
             (clipboardEnabled_ ? ", clipboard through its clipboard" : ""));
    set(State::started);
}

bool PortalRemoteDesktop::notifyKeycode(int inputCode, bool pressed) {
    if (state_ != State::started) {
        return false;
    }
    portal_.send(
        kRemoteDesktop, "NotifyKeyboardKeycode",
        g_variant_new("(o@a{sv}iu)", session_.c_str(), vardict({}), inputCode, pressed ? 1U : 0U));
    return true;
}

}  // namespace larkspire::linux_desktop
