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
// background queue: a long answer takes a while to decode, and its encoded bytes go as
// soon as the sound is out of them. `done` gets the player (null when the answer is not
// a sound the factory takes) on the main queue, `failed` the description of a failed
// request. Once `cancelled` is set the download ends and nothing is decoded or delivered.
// The scheduler and the factory must outlive the background task.
void speakInBackground(platform::Scheduler& scheduler, platform::AudioPlayerFactory& players,
                       std::shared_ptr<APIClient> api, std::string text,
                       std::shared_ptr<std::atomic<bool>> cancelled,
                       std::function<void(std::unique_ptr<platform::AudioPlayer>)> done,
                       std::function<void(const std::string&)> failed);

}  // namespace larkspire
