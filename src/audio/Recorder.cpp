#include "audio/Recorder.h"

#include <cerrno>
#include <cmath>
#include <system_error>
#include <vector>

namespace larkspire {

Recorder::Recorder(platform::AudioInput& input, platform::Scheduler& scheduler,
                   const platform::Clock& clock, RecoveryStore store)
    : input_(input),
      clock_(clock),
      store_(std::move(store)),
      scheduler_(scheduler),
      queue_(scheduler.serialQueue("recorder")),
      startedAt_(clock.now()) {}

Recorder::~Recorder() {
    endCapture();
}

void Recorder::endCapture() {
    if (capturing_) {
        input_.stop();
        capturing_ = false;
    }
}

void Recorder::start() {
    const platform::AudioFormat format = input_.inputFormat();
    const std::filesystem::path url = store_.newRecoveryURL("caf");
    std::shared_ptr<CafSpoolFile> file = CafSpoolFile::create(url, format);
    spoolFile_ = file;
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
    input_.start(format, [queue, file, reported, report](std::span<const float> interleaved) {
        auto copy = std::make_shared<std::vector<float>>(interleaved.begin(), interleaved.end());
        queue->async([file, copy, reported, report] {
            // A failed write loses this block only; the owner hears of the first one.
            if (!file->append(*copy) && !*reported) {
                *reported = true;
                report(saveFailureText(file->lastError()));
            }
        });
    });
    capturing_ = true;
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
    endCapture();
    const double elapsed = platform::secondsBetween(startedAt_, clock_.now());
    const auto durationSeconds = static_cast<std::int64_t>(std::llround(elapsed));

    // Runs after every write already queued, so the file is complete when closed.
    std::optional<std::filesystem::path> url;
    queue_->sync([this, &url] {
        if (spoolFile_) {
            spoolFile_->close();
        }
        spoolFile_.reset();
        url = std::move(spoolURL_);
        spoolURL_.reset();
    });
    if (!url) {
        return std::nullopt;
    }
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
    endCapture();
    queue_->sync([this] {
        if (spoolFile_) {
            spoolFile_->close();
        }
        spoolFile_.reset();
        if (spoolURL_) {
            std::error_code ignored;
            std::filesystem::remove(*spoolURL_, ignored);
        }
        spoolURL_.reset();
    });
}

}  // namespace larkspire
