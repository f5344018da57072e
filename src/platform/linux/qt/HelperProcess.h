#pragma once

#include <QProcess>

namespace larkspire::linux_desktop {

// Ends a helper program that reads commands on its input: end of input asks it to end;
// one that has not within two seconds is killed.
inline void endHelper(QProcess& process) {
    constexpr int kExitWaitMs = 2000;
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(kExitWaitMs)) {
        process.kill();
        process.waitForFinished(kExitWaitMs);
    }
}

}  // namespace larkspire::linux_desktop
