#include "app/LastInsertion.h"

namespace larkspire {

LastInsertion::LastInsertion(Insertion& insertion, platform::Scheduler& scheduler,
                             std::function<void(const std::string& symbol)> flash)
    : insertion_(insertion), scheduler_(scheduler), flash_(std::move(flash)) {
    copyItem_ =
        platform::MenuItem::make("Copy last dictation", lifetime_.guard([this] { copy(); }));
    copyItem_->setEnabled(false);
    undoItem_ =
        platform::MenuItem::make("Undo last insertion", lifetime_.guard([this] { undo(); }));
    undoItem_->setEnabled(false);
}

void LastInsertion::delivered(const std::string& text) {
    text_ = text;
    copyItem_->setEnabled(true);
}

void LastInsertion::pasted(std::int32_t pid, bool undoable) {
    if (undoable) {
        pid_ = pid;
    } else {
        pid_.reset();
    }
    undoItem_->setEnabled(undoable);
}

void LastInsertion::copy() {
    if (!text_) {
        return;
    }
    insertion_.copyToClipboard(*text_);
    flash_("doc.on.clipboard");
}

void LastInsertion::undo() {
    if (!pid_ || !insertion_.isRunning(*pid_)) {
        undoItem_->setEnabled(false);
        return;
    }
    insertion_.activate(*pid_);
    scheduler_.postAfter(platform::Duration(0.2), lifetime_.guard([this] {
        undoItem_->setEnabled(false);
        pid_.reset();
        // "Done" only for an undo that was sent.
        insertion_.undo(lifetime_.guard([this](bool sent) {
            if (sent) {
                flash_("arrow.uturn.backward.circle.fill");
            }
        }));
    }));
}

}  // namespace larkspire
