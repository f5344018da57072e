#include "audio/Recorder.h"

#include <cerrno>
#include <cmath>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace larkspire {

struct Recorder::Opening {
    std::mutex mutex;
    bool opened = false;     // the microphone delivers to the spool file
    bool abandoned = false;  // the recording ended before that
    std::shared_ptr<CafSpoolFile> file;
};

Recorder::Recorder(platform::AudioInput& input, platform::Scheduler& scheduler,
                   const platform::Clock& clock, RecoveryStore store)
    : input_(input),
      clock_(clock),
      store_(std::move(store)),
      scheduler_(scheduler),
      queue_(scheduler.serialQueue("recorder")),
      startedAt_(clock.now()) {
    // The first press finds the sound server's connection made.
    queue_->async([&input = input_] { input.prepare(); });
}

Recorder::~Recorder() {
    endCapture();
    // Opening tasks still queued reference the input: let them finish first.
    queue_->sync([] {});
}

bool Recorder::endCapture() {
    if (!opening_) {
        return false;
    }
    const auto opening = std::exchange(opening_, nullptr);
    {
        std::lock_guard lock(opening->mutex);
        if (!opening->opened) {
            opening->abandoned = true;
            return false;
        }
    }
    // Open: stopping waits for its last blocks (bounded by the platform), not for a start.
    queue_->sync([&input = input_] { input.stop(); });
    // Ready for the next press, off the main thread.
    queue_->async([&input = input_] { input.prepare(); });
    return true;
}

void Recorder::start() {
    const std::filesystem::path url = store_.newRecoveryURL("caf");
    auto opening = std::make_shared<Opening>();
    opening_ = opening;
    spoolURL_ = url;

    // The capture thread only copies: the block leaves the handler, the disk is touched
    // on the queue. The handler keeps this recording's file, not the member.
    auto queue = queue_;
    auto reported = std::make_shared<bool>(false);  // touched on the queue only
    auto report = [&scheduler = scheduler_, handler = onWriteFailure_, url](std::string text) {
        if (handler) {
            scheduler.post([handler, url, text = std::move(text)] { handler(url, text); });
        }
    };
    auto startFailed = [&scheduler = scheduler_, handler = onStartFailure_, url](std::string why) {
        if (handler) {
            scheduler.post([handler, url, why = std::move(why)] { handler(url, why); });
        }
    };
    queue_->async([&input = input_, url, opening, queue, reported, report, startFailed] {
        std::shared_ptr<CafSpoolFile> file;
        try {
            const platform::AudioFormat format = input.inputFormat();
            file = CafSpoolFile::create(url, format);
            {
                std::lock_guard lock(opening->mutex);
                if (opening->abandoned) {
                    // Ended before the microphone opened: nothing was heard, nothing kept.
                    file->close();
                    std::error_code ignored;
                    std::filesystem::remove(url, ignored);
                    return;
                }
                opening->file = file;
            }
            input.start(format, [queue, file, reported, report](std::span<const float> block) {
                auto copy = std::make_shared<std::vector<float>>(block.begin(), block.end());
                queue->async([file, copy, reported, report] {
                    // A failed write loses this block only; the owner hears of the first one.
                    if (!file->append(*copy) && !*reported) {
                        *reported = true;
                        report(saveFailureText(file->lastError()));
                    }
                });
            });
        } catch (const std::exception& e) {
            startFailed(e.what());
            return;
        }
        std::lock_guard lock(opening->mutex);
        opening->opened = true;
        if (opening->abandoned) {
            input.stop();
        }
    });
    startedAt_ = clock_.now();
    isRecording_ = true;
}

std::string Recorder::saveFailureText(int error) {
    const std::string reason = error == ENOSPC || error == EDQUOT
                                   ? "the disk is full"
                                   : std::generic_category().message(error);
    return "Couldn’t save the recording: " + reason;
}

std::optional<Recorder::Recording> Recorder::stop() {
    lastFailure_.clear();
    if (!isRecording_) {
        return std::nullopt;
    }
    isRecording_ = false;
    auto opening = opening_;
    const bool heard = endCapture();
    const double elapsed = platform::secondsBetween(startedAt_, clock_.now());
    const auto durationSeconds = static_cast<std::int64_t>(std::llround(elapsed));
    const std::optional<std::filesystem::path> url = std::exchange(spoolURL_, std::nullopt);
    if (!heard || !url) {
        return std::nullopt;  // the spool, if the queue made one, stays pending
    }
    // Runs after every write already queued, so the file is complete when closed.
    queue_->sync([&opening] {
        if (opening->file) {
            opening->file->close();
        }
    });
    const auto pcm = convertTo16kMonoInt16(*url);
    if (!pcm || pcm->empty()) {
        return std::nullopt;
    }
    Bytes wav = WAV::wrap(*pcm);
    std::filesystem::path written;
    try {
        written = RecoveryStore::persistForRecovery(wav, *url);
    } catch (const std::system_error& e) {
        lastFailure_ = saveFailureText(e.code().value());
        return std::nullopt;
    } catch (const std::exception& e) {
        lastFailure_ = std::string("Couldn’t save the recording: ") + e.what();
        return std::nullopt;
    }
    return Recording{std::move(wav), durationSeconds, std::move(written)};
}

void Recorder::cancel() {
    if (!isRecording_) {
        return;
    }
    isRecording_ = false;
    auto opening = opening_;
    const bool opened = endCapture();
    auto remove = [opening, url = std::exchange(spoolURL_, std::nullopt)] {
        if (opening->file) {
            opening->file->close();
        }
        if (url) {
            std::error_code ignored;
            std::filesystem::remove(*url, ignored);
        }
    };
    // Still opening: after it, on the queue, so that a spool it makes goes too.
    if (opened) {
        queue_->sync(remove);
    } else {
        queue_->async(remove);
    }
}

}  // namespace larkspire
