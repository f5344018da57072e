#include "platform/linux/portal/PortalKeyListener.h"

#include <cstring>
#include <utility>

namespace larkspire::linux_desktop {
namespace {

constexpr const char* kShortcuts = "org.freedesktop.portal.GlobalShortcuts";

// Hold-to-talk chords a desktop is likely to accept: a lone modifier such as Right Alt
// rarely is.
struct Proposal {
    const char* id;
    const char* description;
    const char* trigger;
};
constexpr Proposal kProposals[] = {
    {PortalKeyListener::kDictate, "Dictate (hold while speaking)", "CTRL+ALT+D"},
    {PortalKeyListener::kDictateWithContext, "Ask about the text in front (hold while speaking)",
     "CTRL+ALT+A"},
};

}  // namespace

PortalKeyListener::PortalKeyListener(Portal& portal, platform::SystemLog& log)
    : portal_(portal), log_(log) {}

PortalKeyListener::~PortalKeyListener() {
    portal_.cancel(this);
}

void PortalKeyListener::changed() {
    if (changed_) {
        changed_();
    }
}

void PortalKeyListener::fail(std::string reason, const std::string& logLine) {
    log_.log("Larkspire: keyboard gestures are off: " + logLine);
    reason_ = std::move(reason);
    changed();
}

bool PortalKeyListener::hearsKeys() const {
    return bound_ && reason_.empty();
}

std::string PortalKeyListener::unavailableReason() const {
    return reason_;
}

bool PortalKeyListener::start(Handler handler) {
    keys_.start(std::move(handler));
    if (started_) {
        return reason_.empty();
    }
    started_ = true;
    portal_.subscribe(this, kShortcuts, "Activated", [this](GVariant* p) { shortcut(p, true); });
    portal_.subscribe(this, kShortcuts, "Deactivated", [this](GVariant* p) { shortcut(p, false); });
    portal_.subscribe(this, kShortcuts, "ShortcutsChanged", [this](GVariant* p) {
        const char* session = nullptr;
        GVariant* shortcuts = nullptr;
        g_variant_get(p, "(&o@a(sa{sv}))", &session, &shortcuts);
        VariantPtr owned(shortcuts);
        if (session_ == session) {
            take(shortcuts);
        }
    });
    const std::string token = portal_.newToken();
    portal_.request(
        this, token, kShortcuts, "CreateSession",
        g_variant_new("(@a{sv})", vardict({{"handle_token", text(token)},
                                           {"session_handle_token", text(portal_.newToken())}})),
        [this](Portal::Response r) { created(std::move(r)); });
    return true;
}

void PortalKeyListener::stop() {
    keys_.stop();
}

void PortalKeyListener::created(Portal::Response response) {
    const VariantPtr session = lookup(response.results.get(), "session_handle", "s");
    if (response.code != 0 || !session) {
        fail(
            "The desktop’s shortcut portal did not open a session for Larkspire’s "
            "dictation shortcut.",
            "GlobalShortcuts.CreateSession answered " + std::to_string(response.code) + " " +
                response.error);
        return;
    }
    session_ = g_variant_get_string(session.get(), nullptr);
    GVariantBuilder shortcuts;
    g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
    for (const Proposal& p : kProposals) {
        g_variant_builder_add(&shortcuts, "(s@a{sv})", p.id,
                              vardict({{"description", text(p.description)},
                                       {"preferred_trigger", text(p.trigger)}}));
    }
    const std::string token = portal_.newToken();
    portal_.request(this, token, kShortcuts, "BindShortcuts",
                    g_variant_new("(oa(sa{sv})s@a{sv})", session_.c_str(), &shortcuts, "",
                                  vardict({{"handle_token", text(token)}})),
                    [this](Portal::Response r) { bound(std::move(r)); });
}

void PortalKeyListener::bound(Portal::Response response) {
    if (response.code == 1) {
        fail(
            "You declined Larkspire’s dictation shortcut in the desktop’s dialog. Quit and "
            "start Larkspire again to be asked once more.",
            "the user declined the global shortcut");
        return;
    }
    const VariantPtr shortcuts = lookup(response.results.get(), "shortcuts", "a(sa{sv})");
    if (response.code != 0 || !shortcuts) {
        fail("The desktop’s shortcut portal did not bind Larkspire’s dictation shortcut.",
             "GlobalShortcuts.BindShortcuts answered " + std::to_string(response.code) + " " +
                 response.error);
        return;
    }
    take(shortcuts.get());
}

void PortalKeyListener::take(GVariant* shortcuts) {
    bound_ = true;
    std::string assigned;
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const char* id = nullptr;
    GVariant* details = nullptr;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &details)) {
        VariantPtr owned(details);
        const VariantPtr trigger = lookup(details, "trigger_description", "s");
        if (std::strcmp(id, kDictate) == 0 && trigger) {
            assigned = g_variant_get_string(trigger.get(), nullptr);
        }
    }
    if (assigned.empty()) {
        fail(
            "The desktop gave Larkspire’s dictation shortcut no key: assign one to "
            "“Dictate (hold while speaking)” in the desktop’s keyboard shortcut settings.",
            "the dictation shortcut has no key");
        return;
    }
    log_.log("Larkspire: the desktop assigned " + assigned + " to dictation");
    assigned_ = assigned;
    reason_.clear();
    changed();
}

void PortalKeyListener::shortcut(GVariant* parameters, bool pressed) {
    const char* session = nullptr;
    const char* id = nullptr;
    g_variant_get_child(parameters, 0, "&o", &session);
    g_variant_get_child(parameters, 1, "&s", &id);
    if (session_ != session) {
        return;
    }
    const bool context = std::strcmp(id, kDictateWithContext) == 0;
    if (!context && std::strcmp(id, kDictate) != 0) {
        return;
    }
    keys_.handle(KeyCommand{pressed, context});
}

}  // namespace larkspire::linux_desktop
