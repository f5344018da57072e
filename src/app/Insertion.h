#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "insert/InsertionTarget.h"

namespace larkspire {

// What the dictation flow needs of text insertion: capturing the target, pasting into
// it or into whatever is in front, undo, and the clipboard.
class Insertion {
  public:
    // Told when the paste's turn ends: whether its chord went out (when not, the text is
    // only on the clipboard), and whether an undo can take the paste back (no undo chord
    // is safe in a terminal).
    using Pasted = std::function<void(bool sent, bool undoable)>;
    // Told whether an undo chord was sent.
    using Undone = std::function<void(bool sent)>;

    virtual ~Insertion() = default;
    // The application in front with its focused element; null when nothing is in front.
    virtual std::shared_ptr<InsertionTarget> capture() = 0;
    // Re-activates the target, restores its focus and selection, then pastes. Pastes
    // are delivered one after the other, in the order given.
    virtual void paste(const InsertionTarget& target, const std::string& text, Pasted pasted) = 0;
    // Pastes into whatever is in front when its turn comes.
    virtual void pasteFront(const std::string& text, Pasted pasted) = 0;
    // When its turn comes: `bringToFront`, then `restoreFocus` 0.2 s later, then the paste.
    // Nothing is raised while an earlier paste still owns the clipboard.
    virtual void pasteAfter(const std::string& text, std::function<void()> bringToFront,
                            std::function<void()> restoreFocus, Pasted pasted) = 0;
    virtual bool isRunning(std::int32_t processId) = 0;
    virtual void activate(std::int32_t processId) = 0;
    virtual void undo(Undone undone) = 0;
    virtual void copyToClipboard(const std::string& text) = 0;
    // Why pastes cannot reach other applications (the desktop declined its keyboard for
    // pasting); empty when they can, as far as is known.
    virtual std::string pasteProblem() const = 0;
    // `handler` runs on the main thread whenever pasteProblem() changes.
    virtual void onPasteProblemChange(std::function<void()> handler) = 0;
};

}  // namespace larkspire
