#pragma once

namespace larkspire::linux_desktop {

// True when the active X keyboard layout types with Right Alt as AltGr
// (ISO_Level3_Shift); false too when there is no X display.
bool rightAltIsAltGr();

}  // namespace larkspire::linux_desktop
