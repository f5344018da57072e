#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "app/Insertion.h"
#include "audio/Recording.h"
#include "audio/RecoveryStore.h"
#include "platform/Menu.h"
#include "platform/Scheduler.h"
#include "util/Lifetime.h"

namespace larkspire {

// The recordings on disk whose text has not been delivered: which of them are being sent,
// and "Retry saved recording", offered while one is neither in progress nor being sent.
// Owns that menu item. Main thread; a retry converts its recording in the background.
class PendingRecordings {
  public:
    struct Flow {
        // The spool file of the recording in progress, if any.
        std::function<std::optional<std::filesystem::path>()> inProgress;
        // Sends a recovered recording, for pasting into `target`.
        std::function<void(Recording, std::shared_ptr<InsertionTarget> target)> submit;
    };

    PendingRecordings(const RecoveryStore& store, platform::Scheduler& scheduler,
                      Insertion& insertion, Flow flow);

    // A recording is being sent; it is passed over by a retry until it is no longer.
    void sending(const std::filesystem::path& recording);
    void sent(const std::filesystem::path& recording);

    // Offers the item again as the recordings on disk say.
    void refresh();
    // A send failed: its recording waits for a retry.
    void offer() { item_->setEnabled(true); }
    // Sends the first leftover recording, converted off the main thread, for the window
    // in front now; chosen twice, it runs once.
    void retry();

    const std::shared_ptr<platform::MenuItem>& item() const { return item_; }

  private:
    // The spool file of a recording in progress is still being written: recovering it
    // would convert and delete it, and the rest of that recording would be lost. A
    // recording already being sent would be sent and pasted twice.
    std::set<std::filesystem::path> busy() const;

    RecoveryStore store_;
    platform::Scheduler& scheduler_;
    Insertion& insertion_;
    Flow flow_;
    std::set<std::filesystem::path> inFlight_;
    bool recovering_ = false;  // a retry is finding and converting its recording
    std::shared_ptr<platform::MenuItem> item_;
    // Last member: callbacks guarded by it go quiet before anything else is destroyed.
    Lifetime lifetime_;
};

}  // namespace larkspire
