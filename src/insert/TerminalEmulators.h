#pragma once

#include "platform/FrontmostApp.h"

namespace larkspire {

// Terminal emulators paste with Ctrl+Shift+V (Ctrl+V is literal-next there) and must
// never get Ctrl+Z (it suspends the running job). Decided from WM_CLASS.
bool isTerminalEmulator(const platform::FrontWindow& window);

}  // namespace larkspire
