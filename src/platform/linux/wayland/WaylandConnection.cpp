#include "platform/linux/wayland/WaylandConnection.h"

#include <poll.h>
#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <algorithm>
#include <cstring>

#include "protocols/virtual-keyboard-unstable-v1-client.h"
#include "protocols/wlr-data-control-unstable-v1-client.h"
#include "protocols/wlr-screencopy-unstable-v1-client.h"

namespace larkspire::linux_desktop {
namespace {

// The primary selection came with version 2.
constexpr std::uint32_t kDataControlVersion = 2;
// Output names came with version 4; buffer_done of screen copies with version 3.
constexpr std::uint32_t kOutputVersion = 4;
constexpr std::uint32_t kScreencopyVersion = 3;

void outputName(void* data, wl_output*, const char* name) {
    static_cast<WaylandConnection::Output*>(data)->name = name;
}
void ignoreGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t) {}
void ignoreMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void ignoreDone(void*, wl_output*) {}
void ignoreScale(void*, wl_output*, int32_t) {}
void ignoreDescription(void*, wl_output*, const char*) {}

}  // namespace

void destroyProxy(void* proxy) {
    wl_proxy_destroy(static_cast<wl_proxy*>(proxy));
}

std::unique_ptr<WaylandConnection> WaylandConnection::connect() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    // The first round trip announces the globals, the second the seat's first events.
    if (!connection->roundtrip() || !connection->roundtrip()) {
        return nullptr;
    }
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {
    static const wl_registry_listener listener{&WaylandConnection::announce,
                                               &WaylandConnection::withdraw};
    registry_.reset(wl_display_get_registry(display));
    wl_registry_add_listener(registry_.get(), &listener, this);
}

WaylandConnection::~WaylandConnection() {
    notifier_.reset();
    outputs_.clear();
    screencopy_.reset();
    shm_.reset();
    dataControl_.reset();
    keyboards_.reset();
    seat_.reset();
    registry_.reset();
    if (display_) {
        wl_display_flush(display_.get());
    }
}

void WaylandConnection::announce(void* self, wl_registry* registry, std::uint32_t name,
                                 const char* interface, std::uint32_t version) {
    auto* c = static_cast<WaylandConnection*>(self);
    // The first seat only: the agent types and pastes for the one user at the desktop.
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c->seat_) {
        c->seat_.reset(static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 1u))));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        c->keyboards_.reset(static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1)));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        c->shm_.reset(static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1)));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        static const wl_output_listener listener{&ignoreGeometry, &ignoreMode, &ignoreDone,
                                                 &ignoreScale,    &outputName, &ignoreDescription};
        auto output = std::make_unique<Output>();
        output->output.reset(static_cast<wl_output*>(wl_registry_bind(
            registry, name, &wl_output_interface, std::min(version, kOutputVersion))));
        wl_output_add_listener(output->output.get(), &listener, output.get());
        c->outputs_.push_back(std::move(output));
    } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0) {
        c->screencopy_.reset(static_cast<zwlr_screencopy_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface,
                             std::min(version, kScreencopyVersion))));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        c->dataControlVersion_ = std::min(version, kDataControlVersion);
        c->dataControl_.reset(static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_data_control_manager_v1_interface, c->dataControlVersion_)));
    }
}

void WaylandConnection::withdraw(void*, wl_registry*, std::uint32_t) {
    // Seats and managers of a running compositor stay; a removed one fails its requests,
    // which the compositor ignores for an inert object.
}

void WaylandConnection::flush() {
    wl_display_flush(display_.get());
}

bool WaylandConnection::roundtrip() {
    return wl_display_roundtrip(display_.get()) >= 0;
}

void WaylandConnection::dispatchFromEventLoop() {
    if (notifier_) {
        return;
    }
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_.get()), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { dispatch(); });
    // Requests made by a handler of another event source go out before the loop sleeps.
    if (auto* loop = QAbstractEventDispatcher::instance()) {
        QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, notifier_.get(), [this] {
            wl_display_dispatch_pending(display_.get());
            wl_display_flush(display_.get());
        });
    }
}

void WaylandConnection::dispatch() {
    // Reads only what is there: a round trip made since the notifier fired may have read
    // it already, and a blocking read would then hold the main thread until the
    // compositor next speaks.
    wl_display* d = display_.get();
    while (wl_display_prepare_read(d) != 0) {
        wl_display_dispatch_pending(d);
    }
    wl_display_flush(d);
    pollfd readable{wl_display_get_fd(d), POLLIN, 0};
    if (poll(&readable, 1, 0) > 0) {
        wl_display_read_events(d);
    } else {
        wl_display_cancel_read(d);
    }
    wl_display_dispatch_pending(d);
    wl_display_flush(d);
    if (wl_display_get_error(d) != 0) {
        // The compositor is gone or closed the connection: nothing more will come.
        notifier_->setEnabled(false);
    }
}

}  // namespace larkspire::linux_desktop
