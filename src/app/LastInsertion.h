#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/Insertion.h"
#include "platform/Menu.h"
#include "platform/Scheduler.h"
#include "util/Lifetime.h"

namespace larkspire {

// The last text delivered and where its paste went, for a dictation and a screen-aware
// draft alike: what "Copy last dictation" copies and what "Undo last insertion" takes back.
// Owns those two menu items. Main thread.
class LastInsertion {
  public:
    // `flash` shows a symbol on the status icon for a moment.
    LastInsertion(Insertion& insertion, platform::Scheduler& scheduler,
                  std::function<void(const std::string& symbol)> flash);

    // A text was delivered (pasted, or left on the clipboard).
    void delivered(const std::string& text);
    // Its paste into process `pid` ended: undo is offered only where an undo chord exists
    // (never in a terminal).
    void pasted(std::int32_t pid, bool undoable);

    void copy();
    // Brings the application back, then sends its undo chord 0.2 s later.
    void undo();

    const std::optional<std::string>& text() const { return text_; }
    const std::shared_ptr<platform::MenuItem>& copyItem() const { return copyItem_; }
    const std::shared_ptr<platform::MenuItem>& undoItem() const { return undoItem_; }

  private:
    Insertion& insertion_;
    platform::Scheduler& scheduler_;
    std::function<void(const std::string&)> flash_;
    std::optional<std::string> text_;
    std::optional<std::int32_t> pid_;
    std::shared_ptr<platform::MenuItem> copyItem_;
    std::shared_ptr<platform::MenuItem> undoItem_;
    // Last member: callbacks guarded by it go quiet before anything else is destroyed.
    Lifetime lifetime_;
};

}  // namespace larkspire
