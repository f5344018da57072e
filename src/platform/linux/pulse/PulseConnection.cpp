#include "platform/linux/pulse/PulseConnection.h"

namespace larkspire::linux_desktop {

void releasePulseStream(pa_stream* stream) {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

void releasePulseContext(pa_context* context) {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

std::unique_ptr<PulseConnection> PulseConnection::open(pa_usec_t timeout) {
    std::unique_ptr<PulseConnection> c(new PulseConnection());
    c->connect(timeout);
    return c;
}

void PulseConnection::connect(pa_usec_t timeout) {
    loop_.reset(pa_threaded_mainloop_new());
    if (!loop_) {
        throw std::runtime_error("PulseAudio: cannot create a main loop");
    }
    context_.reset(pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), "Larkspire"));
    if (!context_) {
        throw std::runtime_error("PulseAudio: cannot create a context");
    }
    pa_context_set_state_callback(
        context_.get(), [](pa_context*, void* loop) { signal(loop); }, loop_.get());
    // Never start a sound server of our own: the desktop's is the one to use.
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        throw error("cannot connect");
    }
    Lock lock(loop_.get());
    if (pa_threaded_mainloop_start(loop_.get()) < 0) {
        throw std::runtime_error("PulseAudio: cannot start the main loop");
    }
    const bool settled = waitUntil(
        [&] {
            const pa_context_state_t s = pa_context_get_state(context_.get());
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        },
        timeout);
    if (!settled) {
        throw std::runtime_error("PulseAudio: the server did not answer");
    }
    if (pa_context_get_state(context_.get()) != PA_CONTEXT_READY) {
        throw error("cannot connect");
    }
}

bool PulseConnection::finish(pa_operation* operation, pa_usec_t timeout) {
    if (!operation) {
        return false;
    }
    const bool done = waitUntil(
        [&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
    if (!done) {
        pa_operation_cancel(operation);
    }
    const bool ok = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return ok;
}

void PulseConnection::awaitReady(pa_stream* stream, pa_usec_t timeout, const char* what) {
    const bool settled = waitUntil(
        [&] {
            const pa_stream_state_t s = pa_stream_get_state(stream);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        },
        timeout);
    if (!settled) {
        throw std::runtime_error(std::string("PulseAudio: the ") + what + " did not start");
    }
    if (pa_stream_get_state(stream) != PA_STREAM_READY) {
        throw error(std::string("cannot start the ") + what);
    }
}

}  // namespace larkspire::linux_desktop
