#pragma once

#include <functional>
#include <vector>

#include "platform/ModalAlert.h"

namespace larkspire::fake {

// Answers every alert with `answer`, or with what `respond` does while the alert is
// "open" (a test presses keys there); keeps what was shown.
class FakeModalAlert : public platform::ModalAlert {
  public:
    std::size_t run(const platform::AlertContent& content) override {
        shown.push_back(content);
        return respond ? respond(content) : answer;
    }
    std::size_t answer = 0;
    std::function<std::size_t(const platform::AlertContent&)> respond;
    std::vector<platform::AlertContent> shown;
};

}  // namespace larkspire::fake
