#include "platform/fake/FakeStatusArea.h"

namespace larkspire::fake {

FakeStatusArea::FakeStatusArea()
    : symbols{
          "record.circle.fill",       "record.circle",          "hourglass",
          "checkmark.circle.fill",    "doc.on.clipboard",       "arrow.uturn.backward.circle.fill",
          "exclamationmark.triangle", "viewfinder.circle.fill", "sparkles",
          "speaker.wave.2",           "speaker.wave.2.fill",    "waveform"} {}

}  // namespace larkspire::fake
