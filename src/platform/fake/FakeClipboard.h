#pragma once

#include <optional>
#include <string>

#include "platform/Clipboard.h"
#include "platform/fake/ActionLog.h"

namespace larkspire::fake {

// A clipboard that holds text.
class FakeClipboard : public platform::Clipboard {
  public:
    explicit FakeClipboard(ActionLog* log = nullptr) : log_(log) {}
    void setText(const std::string& text) override {
        text_ = text;
        ++writes_;
        if (log_) {
            log_->add("clipboard " + text);
        }
    }
    void setPrimaryText(const std::string& text) override {
        primary_ = text;
        if (log_) {
            log_->add("primary " + text);
        }
    }
    std::optional<std::string> text() override { return text_; }
    const std::optional<std::string>& primary() const { return primary_; }
    int writes() const { return writes_; }

  private:
    ActionLog* log_;
    std::optional<std::string> text_;
    std::optional<std::string> primary_;
    int writes_ = 0;
};

}  // namespace larkspire::fake
