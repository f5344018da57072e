#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hud/ScreenAwareHUD.h"
#include "platform/AudioPlayer.h"
#include "platform/AudioPlayerFactory.h"
#include "platform/Clipboard.h"
#include "platform/Scheduler.h"
#include "service/APIClient.h"
#include "util/Lifetime.h"

namespace larkspire {

// Reads the clipboard's text aloud in the service's voice, with pause, restart and stop
// in the floating panel. Owns the feedback player, which spoken explanations share.
// Main thread only; the speech request and the decoding of its audio run in the
// background, playback starts while a long answer still arrives, and a reading no longer
// wanted cancels its request.
class ReadAloud {
  public:
    // What the reading needs of the shell around it.
    struct Shell {
        // The service client; null while there is none.
        std::function<std::shared_ptr<APIClient>()> api;
        std::function<void(const std::string& symbol, const std::string& accessibility)> setIcon;
        std::function<void(const std::string& message)> fail;
        // The idle icon, and the recording item back at "Start recording".
        std::function<void()> resetToIdle;
        // The title of the "Read clipboard aloud" item.
        std::function<void(const std::string& title)> setItemTitle;
    };

    ReadAloud(platform::Scheduler& scheduler, platform::Clipboard& clipboard,
              platform::AudioPlayerFactory& players, ScreenAwareHUD& hud, Shell shell);
    // Cancels a request still downloading.
    ~ReadAloud();
    ReadAloud(const ReadAloud&) = delete;
    ReadAloud& operator=(const ReadAloud&) = delete;

    void toggleReadAloud();
    void stopReadAloud();
    void finishReadAloud(const std::optional<std::string>& message);
    void toggleReadAloudPause();
    void restartReadAloud();
    void audioPlayerDidFinishPlaying(platform::AudioPlayer& player, bool successfully);
    // A spoken explanation takes the one player: a reading, or its request, ends for it
    // without a word. False when playback could not start.
    bool playExplanation(std::unique_ptr<platform::AudioPlayer> player);
    platform::AudioPlayer* player() const { return feedbackPlayer_.get(); }

  private:
    void received(const std::string& request, std::unique_ptr<platform::AudioPlayer> player);
    void showPlayerControls(bool paused);
    // Ends the reading's request if it is still downloading.
    void cancelRequest();

    platform::Scheduler& scheduler_;
    platform::Clipboard& clipboard_;
    platform::AudioPlayerFactory& players_;
    ScreenAwareHUD& hud_;
    Shell shell_;
    std::optional<std::string> readAloudRequest_;
    // Set once the reading's request is no longer wanted; the transfer ends on it.
    std::shared_ptr<std::atomic<bool>> requestCancelled_;
    std::unique_ptr<platform::AudioPlayer> feedbackPlayer_;
    // Last member: callbacks guarded by it go quiet before anything else is destroyed.
    Lifetime lifetime_;
};

}  // namespace larkspire
