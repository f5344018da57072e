#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/SystemLog.h"
#include "service/APIClient.h"
#include "util/Lifetime.h"

namespace larkspire {

// The four permissions the service's settings page shows, as the agent holds them now.
struct PermissionStates {
    bool microphone = false;
    bool accessibility = false;
    bool inputMonitoring = false;
    bool screenRecording = false;

    // "true-true-false-false": microphone, accessibility, input monitoring, screen recording.
    std::string signature() const;
    bool operator==(const PermissionStates&) const = default;
};

// Tells the service which permissions the agent holds: a forced report when started, then
// a 10 s poll that reports a change at its next tick and an unchanged picture at most
// every 30 s. Main thread; only the request runs on a background queue.
class NativeStatusReporter {
  public:
    struct Sources {
        // The shell's client; null before there is one.
        std::function<std::shared_ptr<APIClient>()> api;
        std::function<std::string()> installationId;
        // Reads the states the agent holds itself, without prompting the user. Main thread.
        std::function<PermissionStates()> permissions;
        // Adds the states that take a call to the desktop (the sound server, the
        // accessibility bus, up to a second each): run on a background queue.
        std::function<void(PermissionStates&)> probe;
    };

    static constexpr platform::Duration kPollInterval{10.0};
    static constexpr double kUnchangedSpacingSeconds = 30.0;

    NativeStatusReporter(platform::Scheduler& scheduler, const platform::Clock& clock,
                         platform::SystemLog& log, Sources sources);

    void reportNativeStatus(bool force);
    // One forced report, then the poll (replacing an earlier one).
    void start();

  private:
    void report(bool force, std::shared_ptr<APIClient> api, const PermissionStates& states);

    platform::Scheduler& scheduler_;
    const platform::Clock& clock_;
    platform::SystemLog& log_;
    Sources sources_;
    std::string lastNativeStatusSignature_;
    platform::TimePoint lastNativeStatusReport_ = platform::distantPast();
    std::unique_ptr<platform::RepeatingTimer> nativeStatusTimer_;
    Lifetime lifetime_;
};

}  // namespace larkspire
