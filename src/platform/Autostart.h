#pragma once

#include <string>

namespace larkspire::platform {

// Whether the desktop starts the agent with the user's session.
class Autostart {
  public:
    virtual ~Autostart() = default;
    virtual bool enabled() const = 0;
    // Empty on success, else why it could not be changed.
    virtual std::string setEnabled(bool enabled) = 0;
};

}  // namespace larkspire::platform
