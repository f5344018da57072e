#pragma once

#include <pulse/pulseaudio.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "util/CHandle.h"

namespace larkspire::linux_desktop {

// Streams and contexts are released with their loop stopped or the lock held.
void releasePulseStream(pa_stream* stream);
void releasePulseContext(pa_context* context);

// One connection to the PulseAudio server on its own threaded main loop (also served by
// pipewire-pulse). Every method but open() and the destructor is called with the lock
// held; callbacks run on the loop's thread, also with the lock held.
class PulseConnection {
  public:
    class Lock {
      public:
        explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) {
            pa_threaded_mainloop_lock(loop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    using Stream = CHandle<pa_stream, releasePulseStream>;

    // A running loop connected to the server within `timeout`, or an exception. Called
    // without the lock.
    static std::unique_ptr<PulseConnection> open(pa_usec_t timeout);

    // Joins the loop thread first: then nothing calls back while the rest is freed.
    ~PulseConnection() { stop(); }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Ends the loop thread. Called without the lock.
    void stop() {
        if (loop_) {
            pa_threaded_mainloop_stop(loop_.get());
        }
    }

    pa_threaded_mainloop* loop() const { return loop_.get(); }
    pa_context* context() const { return context_.get(); }

    // Wakes a thread waiting on the loop; `loop` is the pa_threaded_mainloop.
    static void signal(void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    }

    // Waits on the loop until `done()` or `timeout` has passed; the result of done().
    template <class Done>
    bool waitUntil(Done done, pa_usec_t timeout) {
        struct Timer {
            pa_threaded_mainloop* loop;
            bool expired = false;
        } timer{loop_.get()};
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_.get());
        pa_time_event* event = pa_context_rttime_new(
            context_.get(), pa_rtclock_now() + timeout,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
                auto* t = static_cast<Timer*>(userdata);
                t->expired = true;
                signal(t->loop);
            },
            &timer);
        while (!done() && !timer.expired) {
            pa_threaded_mainloop_wait(loop_.get());
        }
        if (event) {
            api->time_free(event);
        }
        return done();
    }

    // Waits for an operation; cancels it on time-out so that its callback, whose data
    // lives on the caller's stack, never runs afterwards.
    bool finish(pa_operation* operation, pa_usec_t timeout);

    // Waits until `stream` is ready or failed; throws unless it became ready.
    void awaitReady(pa_stream* stream, pa_usec_t timeout, const char* what);

    std::runtime_error error(const std::string& what) const {
        return std::runtime_error("PulseAudio: " + what + ": " +
                                  pa_strerror(pa_context_errno(context_.get())));
    }

  private:
    PulseConnection() = default;
    void connect(pa_usec_t timeout);

    // Declared first: destroyed last, after the context.
    CHandle<pa_threaded_mainloop, pa_threaded_mainloop_free> loop_;
    CHandle<pa_context, releasePulseContext> context_;
};

}  // namespace larkspire::linux_desktop
