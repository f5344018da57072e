#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/Insertion.h"

namespace larkspire::fake {

// Records what was pasted where; targets are made by the test.
class FakeInsertion : public Insertion {
  public:
    struct Target : InsertionTarget {
        Target(std::int32_t pid, bool secure) : InsertionTarget{pid, secure} {}
    };

    std::shared_ptr<InsertionTarget> capture() override {
        ++captures;
        return front;
    }
    void paste(const InsertionTarget& target, const std::string& text, Pasted pasted) override {
        events.push_back("paste " + std::to_string(target.processIdentifier) + " " + text);
        if (pasted) {
            pasted(sent, sent && undoable);
        }
    }
    void pasteFront(const std::string& text, Pasted pasted) override {
        events.push_back("pasteFront " + text);
        if (pasted && holdPastes) {
            held.push_back(std::move(pasted));  // the chord has not gone out yet
        } else if (pasted) {
            pasted(sent, sent && undoable);
        }
    }
    // The prelude runs at once: its timing in the queue is the Paster's.
    void pasteAfter(const std::string& text, std::function<void()> bringToFront,
                    std::function<void()> restoreFocus, Pasted pasted) override {
        bringToFront();
        restoreFocus();
        pasteFront(text, std::move(pasted));
    }
    bool isRunning(std::int32_t pid) override { return running.count(pid) > 0; }
    void activate(std::int32_t pid) override {
        events.push_back("activate " + std::to_string(pid));
    }
    void undo(Undone undone) override {
        events.push_back(undoSent ? "undo" : "no undo");
        if (undone) {
            undone(undoSent);
        }
    }
    void copyToClipboard(const std::string& text) override { events.push_back("copy " + text); }
    std::string pasteProblem() const override { return pasteProblem_; }
    void onPasteProblemChange(std::function<void()> handler) override {
        pasteChanged_ = std::move(handler);
    }
    // The desktop's dialog declined the keyboard for pasting.
    void refusePaste(std::string reason) {
        pasteProblem_ = std::move(reason);
        if (pasteChanged_) {
            pasteChanged_();
        }
    }

    std::shared_ptr<InsertionTarget> front;
    std::set<std::int32_t> running;
    std::vector<std::string> events;
    int captures = 0;
    // What the pasted-into application allows: an undo chord (not a terminal).
    bool undoable = true;
    bool sent = true;         // false: the desktop's keyboard for pasting is gone
    bool holdPastes = false;  // keeps the pasted callbacks in `held` instead
    std::vector<Pasted> held;
    bool undoSent = true;

  private:
    std::string pasteProblem_;
    std::function<void()> pasteChanged_;
};

}  // namespace larkspire::fake
