#include "app/PendingRecordings.h"

namespace larkspire {

PendingRecordings::PendingRecordings(const RecoveryStore& store, platform::Scheduler& scheduler,
                                     Insertion& insertion, Flow flow)
    : store_(store), scheduler_(scheduler), insertion_(insertion), flow_(std::move(flow)) {
    item_ = platform::MenuItem::make("Retry saved recording", lifetime_.guard([this] { retry(); }));
}

void PendingRecordings::sending(const std::filesystem::path& recording) {
    inFlight_.insert(recording);
}

void PendingRecordings::sent(const std::filesystem::path& recording) {
    inFlight_.erase(recording);
}

std::set<std::filesystem::path> PendingRecordings::busy() const {
    std::set<std::filesystem::path> busy = inFlight_;
    if (const auto inProgress = flow_.inProgress()) {
        busy.insert(*inProgress);
    }
    return busy;
}

void PendingRecordings::refresh() {
    item_->setEnabled(!recovering_ && !store_.pendingRecordingsExcept(busy()).empty());
}

void PendingRecordings::retry() {
    if (recovering_) {
        return;
    }
    auto candidates = store_.pendingRecordingsExcept(busy());
    item_->setEnabled(false);
    if (candidates.empty()) {
        return;
    }
    recovering_ = true;
    // The window in front when the item was chosen; a dictation in progress keeps its own.
    auto done =
        lifetime_.guard([this, target = insertion_.capture()](std::optional<Recording> recording) {
            recovering_ = false;
            if (recording) {
                flow_.submit(std::move(*recording), target);
            } else {
                refresh();
            }
        });
    // Converting a long leftover recording takes a while: never on the main thread.
    scheduler_.runInBackground(
        platform::Priority::userInitiated,
        [store = store_, candidates = std::move(candidates), done, &scheduler = scheduler_] {
            auto recording = store.recoverFirst(candidates);
            scheduler.post(
                [done, recording = std::move(recording)]() mutable { done(std::move(recording)); });
        });
}

}  // namespace larkspire
