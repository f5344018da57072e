#include "platform/linux/wayland/DataControlClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>

#include "protocols/wlr-data-control-unstable-v1-client.h"

namespace larkspire::linux_desktop {
namespace {

// Types a reader may ask plain text as: GTK and Qt ask the first, X applications through
// XWayland the others.
constexpr std::array kTextTypes{"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT",
                                "STRING"};

// How long a reader or a writer at the other end of a transfer may take.
constexpr int kTransferTimeoutMs = 1000;

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Writes all of `text` to `fd` and closes it; a reader that stops reading is given up on
// after the time-out instead of holding the main thread.
void serve(int fd, const std::string& text) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kTransferTimeoutMs);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, remainingMs(deadline)) <= 0) {
            break;
        }
    }
    close(fd);
}

}  // namespace

// A text the agent offers; it lives until the compositor cancels it (another client
// took the selection) or the agent offers another.
struct DataControlClipboard::Source {
    std::string text;
    zwlr_data_control_source_v1* source = nullptr;
    bool cancelled = false;

    ~Source() {
        if (source) {
            zwlr_data_control_source_v1_destroy(source);
        }
    }
    static void onSend(void* self, zwlr_data_control_source_v1*, const char*, int32_t fd) {
        serve(fd, static_cast<Source*>(self)->text);
    }
    static void onCancelled(void* self, zwlr_data_control_source_v1*) {
        static_cast<Source*>(self)->cancelled = true;
    }
};

// Another client's selection and the types it offers.
struct DataControlClipboard::Offer {
    zwlr_data_control_offer_v1* offer = nullptr;
    std::set<std::string> types;

    explicit Offer(zwlr_data_control_offer_v1* o) : offer(o) {
        static const zwlr_data_control_offer_v1_listener listener{&Offer::onOffer};
        zwlr_data_control_offer_v1_add_listener(offer, &listener, this);
    }
    ~Offer() { zwlr_data_control_offer_v1_destroy(offer); }
    Offer(const Offer&) = delete;
    Offer& operator=(const Offer&) = delete;
    static void onOffer(void* self, zwlr_data_control_offer_v1*, const char* type) {
        static_cast<Offer*>(self)->types.insert(type);
    }
};

void DataControlClipboard::DestroyDevice::operator()(zwlr_data_control_device_v1* device) const {
    zwlr_data_control_device_v1_destroy(device);
}

DataControlClipboard::DataControlClipboard(WaylandConnection& connection)
    : connection_(connection) {
    if (!connection.dataControl() || !connection.seat()) {
        return;
    }
    // A reader that closes its end mid-transfer would otherwise end the agent.
    std::signal(SIGPIPE, SIG_IGN);
    static const zwlr_data_control_device_v1_listener listener{
        &DataControlClipboard::onDataOffer, &DataControlClipboard::onSelection,
        &DataControlClipboard::onFinished, &DataControlClipboard::onPrimarySelection};
    device_.reset(
        zwlr_data_control_manager_v1_get_data_device(connection.dataControl(), connection.seat()));
    zwlr_data_control_device_v1_add_listener(device_.get(), &listener, this);
    // The current selection arrives right after binding.
    connection.roundtrip();
}

DataControlClipboard::~DataControlClipboard() {
    introduced_.reset();
    selection_.reset();
    primarySelection_.reset();
    clipboard_.reset();
    primary_.reset();
    device_.reset();
    connection_.flush();
}

void DataControlClipboard::onDataOffer(void* self, zwlr_data_control_device_v1*,
                                       zwlr_data_control_offer_v1* offer) {
    static_cast<DataControlClipboard*>(self)->introduced_ = std::make_unique<Offer>(offer);
}

void DataControlClipboard::onSelection(void* self, zwlr_data_control_device_v1*,
                                       zwlr_data_control_offer_v1* offer) {
    auto* c = static_cast<DataControlClipboard*>(self);
    c->selection_ = offer && c->introduced_ && c->introduced_->offer == offer
                        ? std::move(c->introduced_)
                        : nullptr;
}

void DataControlClipboard::onPrimarySelection(void* self, zwlr_data_control_device_v1*,
                                              zwlr_data_control_offer_v1* offer) {
    auto* c = static_cast<DataControlClipboard*>(self);
    c->primarySelection_ = offer && c->introduced_ && c->introduced_->offer == offer
                               ? std::move(c->introduced_)
                               : nullptr;
}

void DataControlClipboard::onFinished(void* self, zwlr_data_control_device_v1*) {
    // The seat is gone: the device is inert from now on.
    auto* c = static_cast<DataControlClipboard*>(self);
    c->selection_.reset();
    c->primarySelection_.reset();
}

std::unique_ptr<DataControlClipboard::Source> DataControlClipboard::makeSource(
    const std::string& text) {
    auto source = std::make_unique<Source>();
    source->text = text;
    source->source = zwlr_data_control_manager_v1_create_data_source(connection_.dataControl());
    static const zwlr_data_control_source_v1_listener listener{&Source::onSend,
                                                               &Source::onCancelled};
    zwlr_data_control_source_v1_add_listener(source->source, &listener, source.get());
    for (const char* type : kTextTypes) {
        zwlr_data_control_source_v1_offer(source->source, type);
    }
    return source;
}

void DataControlClipboard::setText(const std::string& text) {
    if (!device_) {
        return;
    }
    clipboard_ = makeSource(text);
    zwlr_data_control_device_v1_set_selection(device_.get(), clipboard_->source);
    // The paste chord that follows must find the new selection in place.
    connection_.roundtrip();
}

void DataControlClipboard::setPrimaryText(const std::string& text) {
    if (!device_ || connection_.dataControlVersion() < 2) {
        return;
    }
    primary_ = makeSource(text);
    zwlr_data_control_device_v1_set_primary_selection(device_.get(), primary_->source);
    connection_.roundtrip();
}

std::optional<std::string> DataControlClipboard::text() {
    if (!device_) {
        return std::nullopt;
    }
    // Selection events still in flight first.
    connection_.roundtrip();
    if (clipboard_ && !clipboard_->cancelled) {
        return clipboard_->text;
    }
    if (!selection_) {
        return std::nullopt;
    }
    const char* type = nullptr;
    for (const char* candidate : kTextTypes) {
        if (selection_->types.contains(candidate)) {
            type = candidate;
            break;
        }
    }
    if (!type) {
        return std::nullopt;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    zwlr_data_control_offer_v1_receive(selection_->offer, type, fds[1]);
    close(fds[1]);
    connection_.flush();
    // Another client writes it: read until it closes its end, or gives up.
    std::string text;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kTransferTimeoutMs);
    char buffer[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, remainingMs(deadline)) <= 0) {
            close(fds[0]);
            return std::nullopt;
        }
        const ssize_t n = read(fds[0], buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    return text;
}

}  // namespace larkspire::linux_desktop
