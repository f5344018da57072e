#include "readaloud/ReadAloud.h"

#include "readaloud/SpokenAudio.h"
#include "util/Memory.h"
#include "util/Text.h"
#include "util/Uuid.h"

namespace larkspire {
namespace {

constexpr const char* kIdleTitle = "Read clipboard aloud";
constexpr const char* kUnplayable = "Couldn’t play generated audio";

}  // namespace

ReadAloud::ReadAloud(platform::Scheduler& scheduler, platform::Clipboard& clipboard,
                     platform::AudioPlayerFactory& players, ScreenAwareHUD& hud, Shell shell)
    : scheduler_(scheduler),
      clipboard_(clipboard),
      players_(players),
      hud_(hud),
      shell_(std::move(shell)) {}

ReadAloud::~ReadAloud() {
    cancelRequest();
}

void ReadAloud::cancelRequest() {
    if (requestCancelled_) {
        *requestCancelled_ = true;
        requestCancelled_.reset();
    }
}

void ReadAloud::toggleReadAloud() {
    // Also stops a spoken explanation that is playing, rather than starting a reading.
    if (readAloudRequest_ || (feedbackPlayer_ && feedbackPlayer_->isPlaying())) {
        stopReadAloud();
        return;
    }
    auto api = shell_.api();
    if (!api) {
        shell_.fail("Sign in before using Read aloud");
        return;
    }
    std::string text = text::trimmed(clipboard_.text().value_or(""));
    if (text.empty()) {
        hud_.showStatus("Copy some text first", "doc.on.clipboard");
        hud_.hide(2.0);
        shell_.fail("Copy some text, then choose Read clipboard aloud");
        return;
    }
    const std::string request = uuid::randomLowerCase();
    readAloudRequest_ = request;
    requestCancelled_ = std::make_shared<std::atomic<bool>>(false);
    shell_.setItemTitle("Stop reading");
    hud_.showStatus("Preparing your voice", "speaker.wave.2");
    shell_.setIcon("speaker.wave.2", "Preparing clipboard audio");

    speakInBackground(
        scheduler_, players_, std::move(api), std::move(text), requestCancelled_,
        lifetime_.guard([this, request](std::unique_ptr<platform::AudioPlayer> player) {
            received(request, std::move(player));
        }),
        lifetime_.guard([this, request](const std::string& description) {
            if (readAloudRequest_ == request) {
                finishReadAloud(description);
            }
        }));
}

void ReadAloud::received(const std::string& request,
                         std::unique_ptr<platform::AudioPlayer> player) {
    if (readAloudRequest_ != request) {
        return;  // stopped, or superseded, while the audio was prepared
    }
    // The rest of the audio may still be downloading: a stop from now on ends that too.
    if (!player) {
        finishReadAloud(kUnplayable);
        return;
    }
    player->setFinishHandler(
        lifetime_.guard([this](platform::AudioPlayer& finished, bool successfully) {
            audioPlayerDidFinishPlaying(finished, successfully);
        }));
    if (feedbackPlayer_) {
        feedbackPlayer_->stop();
    }
    feedbackPlayer_ = std::move(player);
    showPlayerControls(false);
    shell_.setIcon("speaker.wave.2.fill", "Reading clipboard aloud");
    if (!feedbackPlayer_->play()) {
        finishReadAloud(kUnplayable);
    }
}

bool ReadAloud::playExplanation(std::unique_ptr<platform::AudioPlayer> player) {
    if (readAloudRequest_) {
        readAloudRequest_.reset();
        cancelRequest();
        shell_.setItemTitle(kIdleTitle);
    }
    if (feedbackPlayer_) {
        feedbackPlayer_->stop();  // a reading, or an earlier explanation
    }
    // Played to its end, the explanation's sound is let go at once.
    player->setFinishHandler(lifetime_.guard([this](platform::AudioPlayer& finished, bool) {
        if (&finished == feedbackPlayer_.get()) {
            feedbackPlayer_.reset();
            memory::returnFreedPages();
        }
    }));
    feedbackPlayer_ = std::move(player);
    return feedbackPlayer_->play();
}

void ReadAloud::stopReadAloud() {
    readAloudRequest_.reset();
    cancelRequest();
    if (feedbackPlayer_) {
        feedbackPlayer_->stop();
        feedbackPlayer_.reset();
        memory::returnFreedPages();
    }
    shell_.setItemTitle(kIdleTitle);
    hud_.showStatus("Reading stopped", "stop.circle");
    hud_.hide(1.2);
    shell_.resetToIdle();
}

void ReadAloud::finishReadAloud(const std::optional<std::string>& message) {
    readAloudRequest_.reset();
    cancelRequest();
    feedbackPlayer_.reset();
    memory::returnFreedPages();
    shell_.setItemTitle(kIdleTitle);
    if (!message) {
        hud_.hide(0);
        shell_.resetToIdle();
        return;
    }
    hud_.showStatus("Couldn’t read clipboard", "exclamationmark.triangle");
    hud_.hide(2.0);
    shell_.fail(*message);
}

void ReadAloud::toggleReadAloudPause() {
    if (!feedbackPlayer_) {
        return;
    }
    if (feedbackPlayer_->isPlaying()) {
        feedbackPlayer_->pause();
        showPlayerControls(true);
        shell_.setIcon("pause.circle.fill", "Clipboard reading paused");
    } else {
        feedbackPlayer_->play();
        showPlayerControls(false);
        shell_.setIcon("speaker.wave.2.fill", "Reading clipboard aloud");
    }
}

void ReadAloud::restartReadAloud() {
    if (!feedbackPlayer_) {
        return;
    }
    feedbackPlayer_->setPosition(0);
    feedbackPlayer_->play();
    showPlayerControls(false);
    shell_.setIcon("speaker.wave.2.fill", "Reading clipboard aloud from the beginning");
}

void ReadAloud::audioPlayerDidFinishPlaying(platform::AudioPlayer& player, bool successfully) {
    // The end of a spoken explanation, which has no request, changes nothing here.
    if (&player != feedbackPlayer_.get() || !readAloudRequest_) {
        return;
    }
    if (successfully) {
        finishReadAloud(std::nullopt);
    } else {
        finishReadAloud("Audio playback stopped unexpectedly");
    }
}

void ReadAloud::showPlayerControls(bool paused) {
    hud_.showPlayer(paused ? "Reading paused" : "Reading clipboard", paused,
                    lifetime_.guard([this] { toggleReadAloudPause(); }),
                    lifetime_.guard([this] { restartReadAloud(); }),
                    lifetime_.guard([this] { stopReadAloud(); }));
}

}  // namespace larkspire
