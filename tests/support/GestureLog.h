#pragma once

// The key monitor's gestures as names, in the order they came ("fnDown", "fnUp",
// "contextDown", "contextUp", "chordCancel", "upgrade?"), for the tests that drive a key
// listener and compare what the flows would have been told.
#include <functional>
#include <string>
#include <vector>

#include "input/FnKeyMonitor.h"

namespace larkspire::testing {

using Gestures = std::vector<std::string>;

// `acceptUpgrade` answers Control joining a held key; without it, no upgrade is offered.
inline void recordGestures(FnKeyMonitor& monitor, Gestures& into,
                           std::function<bool()> acceptUpgrade = nullptr) {
    monitor.onFnDown = [&into] { into.push_back("fnDown"); };
    monitor.onFnUp = [&into] { into.push_back("fnUp"); };
    monitor.onContextDown = [&into] { into.push_back("contextDown"); };
    monitor.onContextUp = [&into] { into.push_back("contextUp"); };
    monitor.onChordCancel = [&into] { into.push_back("chordCancel"); };
    if (acceptUpgrade) {
        monitor.onContextUpgrade = [&into, acceptUpgrade = std::move(acceptUpgrade)] {
            into.push_back("upgrade?");
            return acceptUpgrade();
        };
    }
}

}  // namespace larkspire::testing
