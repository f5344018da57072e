#pragma once

#include "app/Insertion.h"
#include "insert/InsertionTarget.h"
#include "insert/Paster.h"

namespace larkspire {

// The dictation flow's insertion over InsertionTarget and Paster.
class DesktopInsertion : public Insertion {
  public:
    explicit DesktopInsertion(InsertionServices services);

    std::shared_ptr<InsertionTarget> capture() override;
    void paste(const InsertionTarget& target, const std::string& text, Pasted pasted) override;
    void pasteFront(const std::string& text, Pasted pasted) override;
    void pasteAfter(const std::string& text, std::function<void()> bringToFront,
                    std::function<void()> restoreFocus, Pasted pasted) override;
    bool isRunning(std::int32_t processId) override;
    void activate(std::int32_t processId) override;
    void undo(Undone undone) override;
    void copyToClipboard(const std::string& text) override;
    std::string pasteProblem() const override { return s_.keys.unavailableReason(); }
    void onPasteProblemChange(std::function<void()> handler) override {
        s_.keys.onChange(std::move(handler));
    }

  private:
    InsertionServices s_;
    Paster paster_;
};

}  // namespace larkspire
