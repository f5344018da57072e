#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/CHandle.h"

struct zwp_virtual_keyboard_manager_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_screencopy_manager_v1;
class QSocketNotifier;

namespace larkspire::linux_desktop {

// Forgets a protocol object on the client side (for objects without a destructor request,
// or ones whose requests end with the connection).
void destroyProxy(void* proxy);
template <class T>
using ProxyPtr = CHandle<T, destroyProxy>;

// The agent's own client connection to the Wayland compositor and the globals its wlroots
// back end binds: the seat, the virtual keyboard manager, the data-control manager, and
// for window images shared memory, the outputs and the screencopy manager.
// Events are dispatched from Qt's event loop (a socket notifier on the connection), so
// every protocol listener runs on the main thread, beside the logic's calls. Main thread.
class WaylandConnection {
  public:
    // Connects to the compositor named by $WAYLAND_DISPLAY and reads its globals; null
    // when there is none or it refuses.
    static std::unique_ptr<WaylandConnection> connect();
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_.get(); }
    wl_seat* seat() const { return seat_.get(); }
    zwp_virtual_keyboard_manager_v1* virtualKeyboards() const { return keyboards_.get(); }
    zwlr_data_control_manager_v1* dataControl() const { return dataControl_.get(); }
    std::uint32_t dataControlVersion() const { return dataControlVersion_; }
    wl_shm* shm() const { return shm_.get(); }
    zwlr_screencopy_manager_v1* screencopy() const { return screencopy_.get(); }
    // The outputs as announced, with their names ("HEADLESS-1"; empty before wl_output 4).
    struct Output {
        ProxyPtr<wl_output> output;
        std::string name;
    };
    const std::vector<std::unique_ptr<Output>>& outputs() const { return outputs_; }

    // Sends the requests made so far.
    void flush();
    // Waits until the compositor has handled every request made so far, dispatching the
    // events that come back meanwhile; false when the connection is broken.
    bool roundtrip();
    // From now on, events are read and dispatched whenever the connection is readable.
    void dispatchFromEventLoop();

  private:
    explicit WaylandConnection(wl_display* display);
    static void announce(void* self, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void withdraw(void* self, wl_registry* registry, std::uint32_t name);
    void dispatch();

    CHandle<wl_display, wl_display_disconnect> display_;
    ProxyPtr<wl_registry> registry_;
    ProxyPtr<wl_seat> seat_;
    ProxyPtr<zwp_virtual_keyboard_manager_v1> keyboards_;
    ProxyPtr<zwlr_data_control_manager_v1> dataControl_;
    std::uint32_t dataControlVersion_ = 0;
    ProxyPtr<wl_shm> shm_;
    ProxyPtr<zwlr_screencopy_manager_v1> screencopy_;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace larkspire::linux_desktop
