#include "account/NativeStatusReporter.h"

namespace larkspire {
namespace {

const char* word(bool value) {
    return value ? "true" : "false";
}

}  // namespace

std::string PermissionStates::signature() const {
    return std::string(word(microphone)) + "-" + word(accessibility) + "-" + word(inputMonitoring) +
           "-" + word(screenRecording);
}

NativeStatusReporter::NativeStatusReporter(platform::Scheduler& scheduler,
                                           const platform::Clock& clock, platform::SystemLog& log,
                                           Sources sources)
    : scheduler_(scheduler), clock_(clock), log_(log), sources_(std::move(sources)) {}

void NativeStatusReporter::reportNativeStatus(bool force) {
    std::shared_ptr<APIClient> api = sources_.api();
    if (!api) {
        return;
    }
    PermissionStates states = sources_.permissions();
    if (!sources_.probe) {
        report(force, std::move(api), states);
        return;
    }
    // The main thread never waits on the desktop for the poll.
    scheduler_.runInBackground(platform::Priority::utility,
                               [probe = sources_.probe, states, &scheduler = scheduler_,
                                done = lifetime_.guard([this, force, api](PermissionStates probed) {
                                    report(force, api, probed);
                                })]() mutable {
                                   probe(states);
                                   scheduler.post([done, states]() mutable { done(states); });
                               });
}

void NativeStatusReporter::report(bool force, std::shared_ptr<APIClient> api,
                                  const PermissionStates& states) {
    const std::string signature = states.signature();
    const platform::TimePoint now = clock_.now();
    if (!force && signature == lastNativeStatusSignature_ &&
        platform::secondsBetween(lastNativeStatusReport_, now) < kUnchangedSpacingSeconds) {
        return;
    }
    // Noted before sending: a failed report is not repeated until the spacing has passed
    // or a permission changes.
    lastNativeStatusSignature_ = signature;
    lastNativeStatusReport_ = now;
    scheduler_.runInBackground(
        platform::Priority::utility,
        [api = std::move(api), id = sources_.installationId(), states, &log = log_] {
            try {
                api->updateNativeStatus(id, states.microphone, states.accessibility,
                                        states.inputMonitoring, states.screenRecording);
            } catch (const std::exception& e) {
                log.log("Native status unavailable: " + APIClient::APIError::describe(e));
            }
        });
}

void NativeStatusReporter::start() {
    reportNativeStatus(true);
    if (nativeStatusTimer_) {
        nativeStatusTimer_->invalidate();
    }
    nativeStatusTimer_ =
        scheduler_.repeat(kPollInterval, lifetime_.guard([this] { reportNativeStatus(false); }));
}

}  // namespace larkspire
