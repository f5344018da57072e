#include "platform/linux/pulse/PulseAudioPlayer.h"

#include <sonic.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "platform/linux/pulse/PulseConnection.h"
#include "util/CHandle.h"

namespace larkspire::linux_desktop {
namespace {

// The server is local: this bounds a wedged or absent server, not a slow one.
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;
// What the server holds ahead of the speaker. Pause corks the stream and stop removes
// it, so neither waits for this buffer: on the headless session's null sink the last
// sound came 2-13 ms after pause() or stop(). What it buys is slack when the machine is
// busy: at a load of 10-13 on 2 cores a 4.5 s sentence came out 0.1-0.36 s longer
// (underrun gaps) with 40 ms ahead, 0-0.23 s with 100 ms.
constexpr pa_usec_t kAhead = 100 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRequest = 20 * PA_USEC_PER_MSEC;
constexpr std::size_t kChunkFrames = 1024;
// How soon a stream that has played all of a sound still arriving looks for more.
constexpr pa_usec_t kStarvedRetry = 10 * PA_USEC_PER_MSEC;
constexpr double kMinRate = 0.25;
constexpr double kMaxRate = 4.0;

using Sonic = CHandle<std::remove_pointer_t<sonicStream>, sonicDestroyStream>;

void unref(pa_operation* operation) {
    if (operation) {
        pa_operation_unref(operation);
    }
}

}  // namespace

// The playback stream and what feeds it. open() runs on the main thread without the
// lock; every other method runs with the lock held, on the main thread or as a callback
// on the loop thread.
class PulseAudioPlayer::Output {
  public:
    // Called on the loop thread when the sound has been played to its end or the stream
    // broke off; at most once per epoch.
    using EndHandler = std::function<void(std::uint64_t epoch, bool successfully)>;

    Output(std::shared_ptr<const DecodedSound> sound, std::size_t start, double rate,
           std::uint64_t epoch, EndHandler onEnd)
        : sound_(std::move(sound)),
          frameBytes_(sizeof(float) * sound_->channels()),
          rate_(rate),
          next_(start),
          epoch_(epoch),
          onEnd_(std::move(onEnd)) {
        resetSonic();
    }

    ~Output() {
        if (connection_) {
            connection_->stop();  // no callback runs once this returns
        }
        if (drain_) {
            pa_operation_cancel(drain_);
            pa_operation_unref(drain_);
        }
        if (retry_) {
            pa_threaded_mainloop_get_api(connection_->loop())->time_free(retry_);
        }
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void open() {
        connection_ = PulseConnection::open(kConnectTimeout);
        PulseConnection::Lock lock(connection_->loop());
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_FLOAT32NE;
        spec.rate = sound_->sampleRate();
        spec.channels = static_cast<std::uint8_t>(sound_->channels());
        pa_channel_map map;
        pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        stream_.reset(pa_stream_new(connection_->context(), "Spoken audio", &spec, &map));
        if (!stream_) {
            throw connection_->error("cannot create a playback stream");
        }
        pa_stream_set_state_callback(
            stream_.get(), [](pa_stream*, void* self) { static_cast<Output*>(self)->changed(); },
            this);
        pa_stream_set_write_callback(
            stream_.get(),
            [](pa_stream*, size_t bytes, void* self) { static_cast<Output*>(self)->write(bytes); },
            this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kAhead, &spec));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequest, &spec));
        attr.fragsize = static_cast<std::uint32_t>(-1);
        if (pa_stream_connect_playback(stream_.get(), nullptr, &attr, PA_STREAM_ADJUST_LATENCY,
                                       nullptr, nullptr) < 0) {
            throw connection_->error("cannot play");
        }
        connection_->awaitReady(stream_.get(), kConnectTimeout, "playback stream");
        opened_ = true;
    }

    pa_threaded_mainloop* loop() const { return connection_->loop(); }
    bool isGood() const { return pa_stream_get_state(stream_.get()) == PA_STREAM_READY; }
    // How far the sound has been handed on, in frames (ahead of the speaker by the
    // buffer).
    std::size_t position() const { return next_; }

    void setCorked(bool corked) {
        unref(pa_stream_cork(stream_.get(), corked ? 1 : 0, nullptr, nullptr));
    }

    void setRate(double rate) {
        rate_ = rate;
        if (sonic_) {
            sonicSetSpeed(sonic_.get(), static_cast<float>(rate));
        } else {
            resetSonic();
        }
    }

    // Drops what is buffered and continues from `frame`; ends of earlier epochs are
    // never reported.
    void seek(std::size_t frame, std::uint64_t epoch) {
        if (drain_) {
            pa_operation_cancel(drain_);
            pa_operation_unref(drain_);
            drain_ = nullptr;
        }
        epoch_ = epoch;
        reported_ = false;
        exhausted_ = false;
        next_ = frame;
        resetSonic();
        // The server asks for a full buffer again once the flush is done.
        unref(pa_stream_flush(stream_.get(), nullptr, nullptr));
    }

  private:
    void resetSonic() {
        sonicFlushed_ = false;
        if (rate_ == 1.0) {
            sonic_.reset();
            return;
        }
        sonic_.reset(sonicCreateStream(static_cast<int>(sound_->sampleRate()),
                                       static_cast<int>(sound_->channels())));
        if (!sonic_) {
            throw std::bad_alloc();
        }
        sonicSetSpeed(sonic_.get(), static_cast<float>(rate_));
    }

    void changed() {
        PulseConnection::signal(connection_->loop());
        const pa_stream_state_t state = pa_stream_get_state(stream_.get());
        if (opened_ && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
            report(false);  // the server went away, or dropped the stream
        }
    }

    void report(bool successfully) {
        if (!reported_) {
            reported_ = true;
            onEnd_(epoch_, successfully);
        }
    }

    void write(std::size_t bytes) {
        bool starved = false;
        while (bytes >= frameBytes_ && !exhausted_ && !starved) {
            const std::size_t wanted = std::min(bytes / frameBytes_, kChunkFrames);
            buffer_.resize(wanted * sound_->channels());
            // Read before producing: frames arriving in between are not mistaken for none.
            const bool arriving = sound_->arriving();
            const std::size_t got = produce(buffer_.data(), wanted, arriving);
            if (got > 0 && pa_stream_write(stream_.get(), buffer_.data(), got * frameBytes_,
                                           nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                return;  // the stream is failing: its state change reports the end
            }
            bytes -= got * frameBytes_;
            starved = got < wanted && arriving;
            exhausted_ = got < wanted && !arriving;
        }
        if (starved && !retry_) {
            // Played up to where the sound has arrived: the server asks for no more until
            // something is written, so look again shortly.
            retry_ = pa_context_rttime_new(
                connection_->context(), pa_rtclock_now() + kStarvedRetry,
                [](pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self) {
                    auto* output = static_cast<Output*>(self);
                    api->time_free(event);
                    output->retry_ = nullptr;
                    output->write(pa_stream_writable_size(output->stream_.get()));
                },
                this);
        }
        if (exhausted_ && !drain_ && !reported_) {
            // Reported once the server has played everything written, also when the
            // sound was shorter than the buffer that holds playback back at the start.
            drain_ = pa_stream_drain(
                stream_.get(),
                [](pa_stream*, int success, void* self) {
                    static_cast<Output*>(self)->drained(success != 0);
                },
                this);
            if (!drain_) {
                report(false);
            }
        }
    }

    void drained(bool success) {
        pa_operation_unref(drain_);
        drain_ = nullptr;
        report(success);
    }

    // Fills `out` with up to `frames` frames at the current rate; fewer at the end, or
    // where a sound still `arriving` has got to.
    std::size_t produce(float* out, std::size_t frames, bool arriving) {
        const std::size_t channels = sound_->channels();
        if (!sonic_) {
            const std::size_t n = sound_->read(next_, out, frames);
            next_ += n;
            return n;
        }
        std::size_t got = 0;
        while (got < frames) {
            const int read = sonicReadFloatFromStream(sonic_.get(), out + got * channels,
                                                      static_cast<int>(frames - got));
            if (read > 0) {
                got += static_cast<std::size_t>(read);
                continue;
            }
            // sonic takes a mutable buffer; the sound itself is shared and const.
            feed_.resize(kChunkFrames * channels);
            const std::size_t n = sound_->read(next_, feed_.data(), kChunkFrames);
            if (n > 0) {
                sonicWriteFloatToStream(sonic_.get(), feed_.data(), static_cast<int>(n));
                next_ += n;
            } else if (arriving) {
                break;  // sonic keeps what it holds until more arrives
            } else if (!sonicFlushed_) {
                sonicFlushStream(sonic_.get());
                sonicFlushed_ = true;
            } else {
                break;
            }
        }
        return got;
    }

    std::shared_ptr<const DecodedSound> sound_;
    std::size_t frameBytes_;
    double rate_;
    std::size_t next_;  // the next frame of the sound to hand on
    std::uint64_t epoch_;
    EndHandler onEnd_;
    Sonic sonic_;
    bool sonicFlushed_ = false;
    bool opened_ = false;
    bool exhausted_ = false;
    bool reported_ = false;
    pa_operation* drain_ = nullptr;
    pa_time_event* retry_ = nullptr;
    std::vector<float> buffer_, feed_;
    // Declared last: the stream is released before its connection.
    std::unique_ptr<PulseConnection> connection_;
    PulseConnection::Stream stream_;
};

DecodedSound::DecodedSound(std::uint32_t sampleRate, std::uint32_t channels,
                           std::vector<float> samples, bool arriving)
    : sampleRate_(sampleRate),
      channels_(channels),
      samples_(std::move(samples)),
      arriving_(arriving) {}

std::size_t DecodedSound::frames() const {
    std::lock_guard lock(mutex_);
    return samples_.size() / channels_;
}

bool DecodedSound::arriving() const {
    std::lock_guard lock(mutex_);
    return arriving_;
}

void DecodedSound::append(std::span<const float> samples) {
    std::lock_guard lock(mutex_);
    samples_.insert(samples_.end(), samples.begin(), samples.end());
}

void DecodedSound::end() {
    std::lock_guard lock(mutex_);
    arriving_ = false;
}

std::size_t DecodedSound::read(std::size_t frame, float* out, std::size_t count) const {
    std::lock_guard lock(mutex_);
    const std::size_t total = samples_.size() / channels_;
    const std::size_t n = std::min(count, total - std::min(frame, total));
    std::memcpy(out, samples_.data() + frame * channels_, n * channels_ * sizeof(float));
    return n;
}

PulseAudioPlayer::PulseAudioPlayer(platform::Scheduler& scheduler,
                                   std::shared_ptr<const DecodedSound> sound)
    : scheduler_(scheduler), sound_(std::move(sound)) {}

PulseAudioPlayer::~PulseAudioPlayer() {
    output_.reset();  // silent and joined before the rest goes
}

void PulseAudioPlayer::setRate(double rate) {
    rate_ = std::clamp(rate, kMinRate, kMaxRate);
    if (output_) {
        PulseConnection::Lock lock(output_->loop());
        output_->setRate(rate_);
    }
}

bool PulseAudioPlayer::play() {
    if (playing_) {
        return true;
    }
    if (output_) {
        PulseConnection::Lock lock(output_->loop());
        if (output_->isGood()) {
            output_->setCorked(false);
            playing_ = true;
            return true;
        }
    }
    output_.reset();
    auto onEnd = [&scheduler = scheduler_,
                  done = lifetime_.guard([this](std::uint64_t epoch, bool successfully) {
                      ended(epoch, successfully);
                  })](std::uint64_t epoch, bool successfully) {
        scheduler.post([done, epoch, successfully] { done(epoch, successfully); });
    };
    try {
        auto output = std::make_unique<Output>(sound_, position_, rate_, epoch_, std::move(onEnd));
        output->open();
        output_ = std::move(output);
    } catch (const std::exception&) {
        return false;  // no server, or it refused the stream: nothing plays
    }
    playing_ = true;
    return true;
}

void PulseAudioPlayer::pause() {
    if (!playing_) {
        return;
    }
    PulseConnection::Lock lock(output_->loop());
    output_->setCorked(true);
    playing_ = false;
}

void PulseAudioPlayer::stop() {
    ++epoch_;
    if (output_) {
        {
            PulseConnection::Lock lock(output_->loop());
            position_ = output_->position();
        }
        output_.reset();
    }
    playing_ = false;
}

void PulseAudioPlayer::setPosition(double seconds) {
    const double frame = std::clamp(seconds * sound_->sampleRate(), 0.0, double(sound_->frames()));
    ++epoch_;
    if (output_) {
        PulseConnection::Lock lock(output_->loop());
        output_->seek(static_cast<std::size_t>(frame), epoch_);
    } else {
        position_ = static_cast<std::size_t>(frame);
    }
}

double PulseAudioPlayer::duration() const {
    return double(sound_->frames()) / sound_->sampleRate();
}

void PulseAudioPlayer::ended(std::uint64_t epoch, bool successfully) {
    if (epoch != epoch_) {
        return;  // stopped or moved since: that end is not news
    }
    ++epoch_;
    playing_ = false;
    output_.reset();
    position_ = 0;
    if (handler_) {
        auto handler = handler_;  // it may destroy this player
        handler(*this, successfully);
    }
}

}  // namespace larkspire::linux_desktop
