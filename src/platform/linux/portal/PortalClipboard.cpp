#include "platform/linux/portal/PortalClipboard.h"

#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <array>

namespace larkspire::linux_desktop {
namespace {

constexpr const char* kClipboard = "org.freedesktop.portal.Clipboard";
constexpr const char* kTextType = "text/plain;charset=utf-8";
// A reader that stalls this long gets what has come so far.
constexpr int kReadTimeoutMs = 2000;

// A copy of the descriptor the reply names; the list closes its own when released.
int takeDescriptor(GVariant* reply, GUnixFDList* fds) {
    if (!reply || !fds) {
        return -1;
    }
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    return g_unix_fd_list_get(fds, index, nullptr);
}

}  // namespace

PortalClipboard::PortalClipboard(Portal& portal, PortalRemoteDesktop& session,
                                 platform::SystemLog& log)
    : portal_(portal), session_(session), log_(log) {
    portal_.subscribe(this, kClipboard, "SelectionTransfer", [this](GVariant* p) { transfer(p); });
    portal_.subscribe(this, kClipboard, "SelectionOwnerChanged", [this](GVariant* p) {
        const char* session = nullptr;
        GVariant* options = nullptr;
        g_variant_get(p, "(&o@a{sv})", &session, &options);
        VariantPtr owned(options);
        const VariantPtr ours = lookup(options, "session_is_owner", "b");
        if (session_.session() == session && ours) {
            owner_ = g_variant_get_boolean(ours.get());
        }
    });
}

PortalClipboard::~PortalClipboard() {
    portal_.cancel(this);
}

bool PortalClipboard::usable() const {
    return session_.state() == PortalRemoteDesktop::State::started && session_.clipboardEnabled();
}

void PortalClipboard::setText(const std::string& text) {
    text_ = text;
    if (!usable()) {
        log_.log("Larkspire: the desktop portal's clipboard is not open: the text was not copied");
        return;
    }
    owner_ = true;
    const char* types[] = {kTextType, "text/plain", nullptr};
    GVariant* options = vardict({{"mime_types", g_variant_new_strv(types, -1)}});
    std::string error;
    if (!portal_.call(kClipboard, "SetSelection",
                      g_variant_new("(o@a{sv})", session_.session().c_str(), options), &error)) {
        log_.log("Larkspire: the desktop portal did not take the clipboard: " + error);
    }
}

void PortalClipboard::transfer(GVariant* parameters) {
    const char* session = nullptr;
    const char* type = nullptr;
    std::uint32_t serial = 0;
    g_variant_get(parameters, "(&o&su)", &session, &type, &serial);
    if (session_.session() != session) {
        return;
    }
    GUnixFDList* fds = nullptr;
    VariantPtr reply = portal_.call(kClipboard, "SelectionWrite",
                                    g_variant_new("(ou)", session, serial), nullptr, &fds);
    CHandle<GUnixFDList, g_object_unref> ownedFds(fds);
    const int fd = takeDescriptor(reply.get(), fds);
    bool written = fd >= 0;
    for (std::size_t done = 0; written && done < text_.size();) {
        const ssize_t n = write(fd, text_.data() + done, text_.size() - done);
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    if (fd >= 0) {
        close(fd);
    }
    portal_.send(kClipboard, "SelectionWriteDone",
                 g_variant_new("(oub)", session, serial, written ? TRUE : FALSE));
}

std::optional<std::string> PortalClipboard::text() {
    if (owner_) {
        return text_;
    }
    if (!usable()) {
        return std::nullopt;
    }
    GUnixFDList* fds = nullptr;
    std::string error;
    VariantPtr reply =
        portal_.call(kClipboard, "SelectionRead",
                     g_variant_new("(os)", session_.session().c_str(), kTextType), &error, &fds);
    CHandle<GUnixFDList, g_object_unref> ownedFds(fds);
    const int fd = takeDescriptor(reply.get(), fds);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    std::array<char, 4096> buffer{};
    pollfd readable{fd, POLLIN, 0};
    while (poll(&readable, 1, kReadTimeoutMs) > 0) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            break;
        }
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

}  // namespace larkspire::linux_desktop
