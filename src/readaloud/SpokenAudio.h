#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/AudioPlayer.h"
#include "platform/AudioPlayerFactory.h"
#include "platform/Scheduler.h"
#include "service/APIClient.h"

namespace larkspire {

// Asks the service to speak `text` and decodes its answer into a player, both on a
// background queue. The answer is decoded as it arrives, and `done` gets the player on the
// main queue as soon as it can start (a long answer plays before its end has arrived);
// `done` gets null when the answer is not a sound the factory takes, also after a player
// whose sound turns out unplayable further on. `failed` gets the description of a failed
// request, also of one that breaks off after its player was handed over. Once `cancelled`
// is set the download ends and nothing more is decoded or delivered. The scheduler and the
// factory must outlive the background task.
void speakInBackground(platform::Scheduler& scheduler, platform::AudioPlayerFactory& players,
                       std::shared_ptr<APIClient> api, std::string text,
                       std::shared_ptr<std::atomic<bool>> cancelled,
                       std::function<void(std::unique_ptr<platform::AudioPlayer>)> done,
                       std::function<void(const std::string&)> failed);

}  // namespace larkspire
