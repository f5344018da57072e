#include "platform/linux/pulse/PulseAudioInput.h"

#include "platform/linux/pulse/PulseConnection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace larkspire::linux_desktop {
namespace {

using platform::AudioFormat;
using platform::MicrophoneAuthorization;

// The server is local: these bound a wedged or absent server, not a slow one.
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;
constexpr pa_usec_t kStatusTimeout = PA_USEC_PER_SEC;
constexpr pa_usec_t kFlushTimeout = PA_USEC_PER_SEC / 2;
// What the server is asked to send at a time; blocks are gathered from such pieces.
constexpr std::size_t kFragmentFrames = 1024;
constexpr char kDefaultSource[] = "@DEFAULT_SOURCE@";

struct SourceInfo {
    pa_sample_spec spec{};
    pa_channel_map map{};
    bool found = false;
};

// The source `name` (the default when empty) as it is now. Lock held.
SourceInfo sourceNamed(PulseConnection& c, const std::string& name, pa_usec_t timeout) {
    struct Query {
        pa_threaded_mainloop* loop;
        SourceInfo info;
    } query{c.loop(), {}};
    const bool ok = c.finish(pa_context_get_source_info_by_name(
                                 c.context(), name.empty() ? kDefaultSource : name.c_str(),
                                 [](pa_context*, const pa_source_info* i, int eol, void* userdata) {
                                     auto* q = static_cast<Query*>(userdata);
                                     if (eol == 0 && i) {
                                         q->info = {i->sample_spec, i->channel_map, true};
                                     }
                                     PulseConnection::signal(q->loop);
                                 },
                                 &query),
                             timeout);
    if (!ok || !query.info.found) {
        throw std::runtime_error("PulseAudio: no capture source");
    }
    return query.info;
}

// The server's input devices (a sink's monitor is not a microphone); nothing when it
// did not answer in time. Throws when there is no server.
std::optional<std::vector<platform::AudioSource>> inputDevices() {
    auto connection = PulseConnection::open(kStatusTimeout);
    PulseConnection::Lock lock(connection->loop());
    struct Query {
        pa_threaded_mainloop* loop;
        std::vector<platform::AudioSource> found;
    } query{connection->loop(), {}};
    const bool ok =
        connection->finish(pa_context_get_source_info_list(
                               connection->context(),
                               [](pa_context*, const pa_source_info* i, int eol, void* userdata) {
                                   auto* q = static_cast<Query*>(userdata);
                                   if (eol == 0 && i && i->monitor_of_sink == PA_INVALID_INDEX) {
                                       q->found.push_back({i->name ? i->name : "",
                                                           i->description ? i->description : ""});
                                   }
                                   PulseConnection::signal(q->loop);
                               },
                               &query),
                           kStatusTimeout);
    if (!ok) {
        return std::nullopt;
    }
    return query.found;
}

}  // namespace

class PulseAudioInput::Capture {
  public:
    Capture(const AudioFormat& format, platform::AudioBlockHandler onBlock)
        : handler_(std::move(onBlock)),
          channels_(format.channels),
          frameBytes_(4 * format.channels) {
        spec_.format = PA_SAMPLE_FLOAT32NE;
        spec_.rate = static_cast<std::uint32_t>(std::lround(format.sampleRate));
        spec_.channels = static_cast<std::uint8_t>(format.channels);
        if (format.channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&spec_)) {
            throw std::invalid_argument("PulseAudio: unsupported capture format");
        }
    }

    ~Capture() {
        if (connection_) {
            connection_->stop();  // no read callback runs once this returns
        }
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    void open(std::unique_ptr<PulseConnection> connection, const std::string& device) {
        connection_ = std::move(connection);
        PulseConnection::Lock lock(connection_->loop());
        // The source's own channel positions, so the server does not remix.
        pa_channel_map map;
        pa_channel_map_init_auto(&map, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
        const SourceInfo source = sourceNamed(*connection_, device, kConnectTimeout);
        if (source.map.channels == spec_.channels) {
            map = source.map;
        }
        stream_.reset(pa_stream_new(connection_->context(), "Dictation", &spec_, &map));
        if (!stream_) {
            throw connection_->error("cannot create a record stream");
        }
        pa_stream_set_state_callback(
            stream_.get(), [](pa_stream*, void* loop) { PulseConnection::signal(loop); },
            connection_->loop());
        pa_stream_set_read_callback(
            stream_.get(),
            [](pa_stream*, size_t, void* self) { static_cast<Capture*>(self)->read(); }, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(-1);
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(kFragmentFrames * frameBytes_);
        if (pa_stream_connect_record(stream_.get(), device.empty() ? nullptr : device.c_str(),
                                     &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
            throw connection_->error("cannot record");
        }
        connection_->awaitReady(stream_.get(), kConnectTimeout, "record stream");
    }

    // Delivers what was captured but not yet handed over, on the capture thread, and
    // ends delivery. Bounded: a silent server costs at most the time-out.
    void finish() {
        if (!connection_ || !stream_) {
            return;
        }
        PulseConnection::Lock lock(connection_->loop());
        if (pa_stream_get_state(stream_.get()) == PA_STREAM_READY) {
            pa_mainloop_api_once(
                pa_threaded_mainloop_get_api(connection_->loop()),
                [](pa_mainloop_api*, void* self) { static_cast<Capture*>(self)->flush(); }, this);
            connection_->waitUntil([this] { return flushed_; }, kFlushTimeout);
        }
        pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
    }

  private:
    void flush() {
        read();
        emitPending();
        flushed_ = true;
        PulseConnection::signal(connection_->loop());
    }

    // On the loop thread (the capture thread), lock held.
    void read() {
        while (pa_stream_readable_size(stream_.get()) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream_.get(), &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            if (data) {  // null data is a hole in the stream: nothing was captured
                deliver(static_cast<const std::uint8_t*>(data), bytes);
            }
            pa_stream_drop(stream_.get());
        }
    }

    // Gathers whatever the server sends (often a few milliseconds at a time) into
    // blocks of kBlockFrames.
    void deliver(const std::uint8_t* data, std::size_t bytes) {
        const std::size_t blockBytes = kBlockFrames * frameBytes_;
        while (bytes > 0) {
            const std::size_t take = std::min(blockBytes - pending_.size(), bytes);
            pending_.insert(pending_.end(), data, data + take);
            data += take;
            bytes -= take;
            if (pending_.size() == blockBytes) {
                emitPending();
            }
        }
    }

    // Copies into float storage: the server's memory need not be aligned for floats.
    // A trailing partial frame stays pending.
    void emitPending() {
        const std::size_t frames = pending_.size() / frameBytes_;
        if (frames == 0) {
            return;
        }
        block_.resize(frames * channels_);
        std::memcpy(block_.data(), pending_.data(), frames * frameBytes_);
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes_));
        handler_(std::span<const float>(block_));
    }

    platform::AudioBlockHandler handler_;
    std::size_t channels_;
    std::size_t frameBytes_;
    pa_sample_spec spec_{};
    std::vector<std::uint8_t> pending_;
    bool flushed_ = false;
    std::vector<float> block_;
    // Declared first: the stream is released before its connection.
    std::unique_ptr<PulseConnection> connection_;
    PulseConnection::Stream stream_;
};

PulseAudioInput::PulseAudioInput(platform::Scheduler& scheduler) : scheduler_(scheduler) {}

PulseAudioInput::~PulseAudioInput() {
    stop();
}

// The connection made ahead when it is still good, else a new one.
std::unique_ptr<PulseConnection> PulseAudioInput::connection() {
    if (spare_) {
        auto spare = std::move(spare_);
        PulseConnection::Lock lock(spare->loop());
        if (pa_context_get_state(spare->context()) == PA_CONTEXT_READY) {
            return spare;
        }
    }
    return PulseConnection::open(kConnectTimeout);
}

void PulseAudioInput::prepare() {
    if (capture_) {
        return;
    }
    try {
        spare_ = connection();
    } catch (const std::exception&) {
        spare_.reset();  // the next start meets the failure and says why
    }
}

AudioFormat PulseAudioInput::inputFormat() {
    auto connection = this->connection();
    AudioFormat format;
    {
        PulseConnection::Lock lock(connection->loop());
        const SourceInfo source = sourceNamed(*connection, chosenSource(), kConnectTimeout);
        format = AudioFormat{static_cast<double>(source.spec.rate), source.spec.channels};
    }
    spare_ = std::move(connection);  // kept for the start that follows
    return format;
}

void PulseAudioInput::start(const AudioFormat& format, platform::AudioBlockHandler onBlock) {
    if (capture_) {
        throw std::logic_error("PulseAudioInput: already capturing");
    }
    auto capture = std::make_unique<Capture>(format, std::move(onBlock));
    capture->open(connection(), chosenSource());
    capture_ = std::move(capture);
}

void PulseAudioInput::stop() {
    if (capture_) {
        capture_->finish();
        capture_.reset();
    }
}

MicrophoneAuthorization PulseAudioInput::authorizationStatus() {
    try {
        const auto inputs = inputDevices();
        if (inputs && !inputs->empty()) {
            setReason("");
            return remember(MicrophoneAuthorization::authorized);
        }
        setReason(inputs ? "The sound server offers no microphone: connect one, or unmute it "
                           "in the sound settings."
                         : "The sound server did not answer in time.");
        return remember(MicrophoneAuthorization::denied);
    } catch (const std::exception&) {
        setReason(
            "No sound server (PulseAudio, or PipeWire with its PulseAudio service) is running.");
        return remember(MicrophoneAuthorization::denied);
    }
}

MicrophoneAuthorization PulseAudioInput::remember(MicrophoneAuthorization status) {
    std::lock_guard lock(stateMutex_);
    lastKnown_ = status;
    return status;
}

MicrophoneAuthorization PulseAudioInput::lastKnownAuthorization() {
    {
        std::lock_guard lock(stateMutex_);
        if (lastKnown_) {
            return *lastKnown_;
        }
    }
    return authorizationStatus();
}

void PulseAudioInput::setSource(const std::string& name) {
    std::lock_guard lock(stateMutex_);
    source_ = name;
}

std::string PulseAudioInput::chosenSource() const {
    std::lock_guard lock(stateMutex_);
    return source_;
}

std::vector<platform::AudioSource> PulseAudioInput::sources() {
    try {
        return inputDevices().value_or(std::vector<platform::AudioSource>{});
    } catch (const std::exception&) {
        return {};
    }
}

std::string PulseAudioInput::unavailableReason() const {
    std::lock_guard lock(stateMutex_);
    return reason_;
}

void PulseAudioInput::setReason(std::string reason) {
    std::lock_guard lock(stateMutex_);
    reason_ = std::move(reason);
}

void PulseAudioInput::requestAccess(std::function<void(bool granted)> completion) {
    // There is nothing to ask the user on this platform: the answer is the status.
    const bool granted = authorizationStatus() == MicrophoneAuthorization::authorized;
    scheduler_.post([completion = std::move(completion), granted] { completion(granted); });
}

}  // namespace larkspire::linux_desktop
