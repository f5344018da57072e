#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace larkspire::platform {

// What an alert says, the buttons it offers, in order, and what kind of alert it is (the
// desktop shows an information, warning or question icon for it).
enum class AlertStyle { information, warning, question };

struct AlertContent {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;
    AlertStyle style = AlertStyle::information;
};

// A modal alert of the agent's own: it takes the keyboard until it is answered. Main
// thread; the main queue keeps running while it waits, so callers must expect other
// work (key events among it) to run inside the call.
class ModalAlert {
  public:
    virtual ~ModalAlert() = default;
    // Shows the alert and returns the index of the button chosen; closing it without a
    // choice (Escape, the window's close button) chooses the last one.
    virtual std::size_t run(const AlertContent& content) = 0;
};

}  // namespace larkspire::platform
