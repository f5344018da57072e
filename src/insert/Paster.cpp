#include "insert/Paster.h"

#include <utility>

namespace larkspire {

namespace {

std::string describe(const std::optional<platform::FrontWindow>& w) {
    if (!w) {
        return "no window";
    }
    return "\"" + w->applicationName + "\" (WM_CLASS " + w->windowInstance + "." + w->windowClass +
           ", process " + w->processName + ")";
}

}  // namespace

Paster::Paster(InsertionServices services) : s_(services) {}

void Paster::after(platform::Duration delay, platform::Task task) {
    s_.scheduler.postAfter(delay, lifetime_.guard(std::move(task)));
}

platform::TimePoint Paster::modifierDeadline() const {
    return s_.clock.now() +
           std::chrono::duration_cast<platform::TimePoint::duration>(kModifierWait);
}

void Paster::paste(const std::string& text, Pasted pasted, Prelude prelude) {
    queue_.push_back(Job{text, std::move(pasted), std::move(prelude)});
    if (!running_) {
        startNext();
    }
}

void Paster::startNext() {
    if (queue_.empty()) {
        running_ = false;
        return;
    }
    running_ = true;
    Job& job = queue_.front();
    if (!job.prelude.bringToFront && !job.prelude.restoreFocus) {
        write();
        return;
    }
    if (job.prelude.bringToFront) {
        job.prelude.bringToFront();
    }
    after(job.prelude.delay, [this] {
        if (auto& restore = queue_.front().prelude.restoreFocus) {
            restore();
        }
        write();
    });
}

void Paster::write() {
    Job& job = queue_.front();
    s_.clipboard.setText(job.text);
    // Decided for the window in front now: after re-activation that is the target.
    if (auto front = s_.frontmost.frontmost();
        front && PasteMethod::forWindow(*front).offerPrimary) {
        s_.clipboard.setPrimaryText(job.text);
        job.primaryOffered = true;
    }
    after(kChordDelay,
          [this] { whenModifiersFree(modifierDeadline(), [this] { sendPasteChord(); }); });
}

void Paster::sendPasteChord() {
    Job& job = queue_.front();
    // The keys go to the window in front now; the user may have moved on.
    const auto front = s_.frontmost.frontmost();
    const PasteMethod method =
        front ? PasteMethod::forWindow(*front) : PasteMethod::forWindow(platform::FrontWindow{});
    if (method.offerPrimary && !job.primaryOffered) {
        // The selection owner must be set before the target asks: send a little later.
        s_.clipboard.setPrimaryText(job.text);
        job.primaryOffered = true;
        after(kChordDelay,
              [this] { whenModifiersFree(modifierDeadline(), [this] { sendPasteChord(); }); });
        return;
    }
    bool sent = true;
    for (const Chord& chord : method.paste) {
        sent = sent && s_.keys.sendChord(chord);
    }
    if (!sent) {
        // Only what happened is logged: the text waits on the clipboard for the user.
        s_.log.log("Larkspire: nothing pasted into " + describe(front) +
                   ": the desktop's keyboard for pasting is not available; the text is on the "
                   "clipboard");
    } else {
        if (front) {
            lastDelivery_[front->processIdentifier] = s_.clock.now();
        }
        s_.log.log("Larkspire: pasted with " + chordName(method.paste) + " into " +
                   describe(front));
    }
    if (job.pasted) {
        job.pasted(sent, sent && method.undo.has_value());
    }
    after(kClipboardHold, [this] { finish(); });
}

bool Paster::deliveredInto(platform::ProcessId pid, platform::TimePoint since) const {
    auto it = lastDelivery_.find(pid);
    return it != lastDelivery_.end() && it->second > since;
}

void Paster::finish() {
    queue_.pop_front();
    startNext();
    if (queue_.empty()) {
        for (auto& undone : std::exchange(undoAfterPastes_, {})) {
            undo(std::move(undone));
        }
    }
}

void Paster::undo(Undone undone) {
    // An undo given while pastes wait would undo something else: it follows them.
    if (!queue_.empty()) {
        undoAfterPastes_.push_back(std::move(undone));
        return;
    }
    whenModifiersFree(modifierDeadline(), [this, undone = std::move(undone)] {
        const auto front = s_.frontmost.frontmost();
        const PasteMethod method = front ? PasteMethod::forWindow(*front)
                                         : PasteMethod::forWindow(platform::FrontWindow{});
        bool sent = false;
        if (method.undo) {
            sent = s_.keys.sendChord(*method.undo);
        } else {
            s_.log.log("Larkspire: no undo chord for " + describe(front));
        }
        if (undone) {
            undone(sent);
        }
    });
}

void Paster::whenModifiersFree(platform::TimePoint deadline, platform::Task then) {
    auto held = s_.keys.heldModifiers();
    if (!held.empty() && s_.clock.now() < deadline) {
        after(kModifierPoll, [this, deadline, then = std::move(then)]() mutable {
            whenModifiersFree(deadline, std::move(then));
        });
        return;
    }
    if (!held.empty()) {
        s_.keys.release(held);
    }
    then();
}

}  // namespace larkspire
