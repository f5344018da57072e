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
            const auto deliver = [&scheduler, &done](std::unique_ptr<platform::AudioPlayer> p) {
                // unique_ptr cannot ride in a copyable task: a shared box carries it.
                auto box = std::make_shared<std::unique_ptr<platform::AudioPlayer>>(std::move(p));
                scheduler.post([done, box] { done(std::move(*box)); });
            };
            const std::unique_ptr<platform::AudioFeed> feed = players.makeFeed();
            bool handedOver = false;
            bool unplayable = false;
            const auto handOver = [&] {
                if (auto player = handedOver ? nullptr : feed->takePlayer()) {
                    handedOver = true;
                    deliver(std::move(player));
                }
            };
            try {
                api->speech(
                    text,
                    [&](std::span<const std::uint8_t> piece) {
                        if (*cancelled) {
                            return false;
                        }
                        unplayable = !feed->append(piece);
                        handOver();
                        return !unplayable;
                    },
                    cancelled);
                if (*cancelled) {
                    return;
                }
                unplayable = unplayable || !feed->finish();
                if (!unplayable) {
                    handOver();
                }
                if (unplayable || !handedOver) {
                    deliver(nullptr);
                }
            } catch (const std::exception& e) {
                if (unplayable && !*cancelled) {
                    deliver(nullptr);  // the download was ended for it
                    return;
                }
                scheduler.post([failed, description = APIClient::APIError::describe(e)] {
                    failed(description);
                });
            }
        });
}

}  // namespace larkspire
