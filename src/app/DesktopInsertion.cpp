#include "app/DesktopInsertion.h"

namespace larkspire {

DesktopInsertion::DesktopInsertion(InsertionServices services) : s_(services), paster_(services) {}

std::shared_ptr<InsertionTarget> DesktopInsertion::capture() {
    auto target = InsertionTarget::capture(s_.frontmost, s_.accessibility);
    if (!target) {
        return nullptr;
    }
    target->capturedAt = s_.clock.now();
    return std::make_shared<InsertionTarget>(std::move(*target));
}

void DesktopInsertion::paste(const InsertionTarget& target, const std::string& text,
                             Pasted pasted) {
    target.paste(text, paster_, std::move(pasted));
}

void DesktopInsertion::pasteFront(const std::string& text, Pasted pasted) {
    paster_.paste(text, std::move(pasted));
}

void DesktopInsertion::pasteAfter(const std::string& text, std::function<void()> bringToFront,
                                  std::function<void()> restoreFocus, Pasted pasted) {
    paster_.paste(text, std::move(pasted),
                  Paster::Prelude{std::move(bringToFront), InsertionTarget::kRestoreDelay,
                                  std::move(restoreFocus)});
}

bool DesktopInsertion::isRunning(std::int32_t processId) {
    return s_.frontmost.windowOf(processId).has_value();
}

void DesktopInsertion::activate(std::int32_t processId) {
    if (auto window = s_.frontmost.windowOf(processId)) {
        s_.frontmost.activate(*window);
    }
}

void DesktopInsertion::undo(Undone undone) {
    paster_.undo(std::move(undone));
}

void DesktopInsertion::copyToClipboard(const std::string& text) {
    s_.clipboard.setText(text);
}

}  // namespace larkspire
