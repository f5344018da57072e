#include "readaloud/SpokenAudio.h"

#include <utility>

namespace larkspire {

void speakInBackground(platform::Scheduler& scheduler, platform::AudioPlayerFactory& players,
                       std::shared_ptr<APIClient> api, std::string text,
                       std::shared_ptr<std::atomic<bool>> cancelled,
                       std::function<void(std::unique_ptr<platform::AudioPlayer>)> done,
                       std::function<void(const std::string&)> failed) {
    scheduler.runInBackground(
        platform::Priority::userInitiated,
        [&scheduler, &players, api = std::move(api), text = std::move(text),
         cancelled = std::move(cancelled), done = std::move(done),
         failed = std::move(failed)]() mutable {
            try {
                Bytes audio = api->speech(text, cancelled);
                if (*cancelled) {
                    return;
                }
                // unique_ptr cannot ride in a copyable task: a shared box carries it.
                auto player = std::make_shared<std::unique_ptr<platform::AudioPlayer>>(
                    players.makePlayer(std::exchange(audio, {})));
                scheduler.post([done, player] { done(std::move(*player)); });
            } catch (const std::exception& e) {
                scheduler.post([failed, description = APIClient::APIError::describe(e)] {
                    failed(description);
                });
            }
        });
}

}  // namespace larkspire
