#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <chrono>
#include <filesystem>
#include <functional>

#include "app/AppDelegate.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAccessibilityBus.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeAudioPlayerFactory.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/FakeClipboard.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeFloatingPanel.h"
#include "platform/fake/FakeFrontmostApp.h"
#include "platform/fake/FakeImageEncoder.h"
#include "platform/fake/FakeKeyInjector.h"
#include "platform/fake/FakeKeyListener.h"
#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeModalAlert.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeStatusArea.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/FakeWindowCapture.h"
#include "service/SessionStore.h"
#include "support/ScriptedTransport.h"
#include "support/TempDir.h"
#include "unit/app/FakeInsertion.h"

namespace larkspire::testing {

// A file-size limit stands in for a full disk: writes past it fail as they would there.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_{};
};

using Strings = std::vector<std::string>;
using fake::FakeInsertion;

// What the user sees at a glance: the panel's text and symbol, the tray icon and the name a
// screen reader gives it.
struct Shown {
    std::string text, symbol, icon, accessibility;
    bool operator==(const Shown&) const = default;
};
inline void PrintTo(const Shown& s, std::ostream* os) {
    *os << "{\"" << s.text << "\", \"" << s.symbol << "\", \"" << s.icon << "\", \""
        << s.accessibility << "\"}";
}

// A controller over fakes (the status area too, unless the test brings the desktop's),
// with a temporary home and data directory.
template <class StatusAreaT>
class AppFixtureWith : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(root / "home");
        std::filesystem::create_directories(root / "data");
        transport->on("/api/activation", 200, "{}");
        transport->on("/api/notes", 200, R"({"notes":[]})");
        transport->on("/api/native-status", 200, "{}");
        transport->on("/api/projects", 200, R"({"projects":[]})");
    }
    void TearDown() override { app.reset(); }

    // A stored session that is valid for a day.
    void signedIn() {
        const double expires =
            std::chrono::duration<double>((clock.now() + std::chrono::hours(24)).time_since_epoch())
                .count();
        SessionStore::save(keychain, NativeSession{"access-1", "refresh-1", expires});
    }

    void writeConfig(const std::string& json) {
        writeFile(root / "home/.vantrel/config.json", json);
    }

    RecoveryStore store() const { return RecoveryStore(root / "data"); }

    // `launchUrls`: the agent was started by these links.
    AppDelegate& start(AppDelegate::Hooks hooks = {}, std::vector<std::string> launchUrls = {}) {
        app = std::make_unique<AppDelegate>(
            AppServices{clock,
                        scheduler,
                        log,
                        defaults,
                        desktop,
                        status,
                        panel,
                        microphone,
                        keychain,
                        insertion,
                        monitor,
                        clipboard,
                        players,
                        autostart,
                        (root / "home").string(),
                        store(),
                        transport,
                        [this] { ++terminated; },
                        [this] { ++aboutShown; },
                        rightAltIsAltGr,
                        {frontmost, accessibility, windows, encoder, alerts},
                        &accessibilityBus});
        app->setHooks(std::move(hooks));
        app->applicationDidFinishLaunching();
        if (!launchUrls.empty()) {
            app->openURLs(launchUrls);
        }
        scheduler.runUntilIdle();
        return *app;
    }

    // Half a second of a 220 Hz tone at 48 kHz mono: loud enough to count as voice.
    static std::vector<float> tone(double seconds, float amplitude = 0.3f) {
        std::vector<float> samples(static_cast<size_t>(48000 * seconds));
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = amplitude * static_cast<float>(std::sin(2 * M_PI * 220.0 * i / 48000.0));
        }
        return samples;
    }

    // The key goes down, and the microphone opens on the recorder's queue.
    void press() {
        app->fnDown();
        scheduler.runSerialQueues();
    }

    // Presses the key, lets the microphone hear `audio`, and releases after `held` s.
    void dictate(double held, std::vector<float> audio) {
        microphone.load(std::move(audio));
        press();
        microphone.playAll();
        scheduler.advance(platform::Duration(held));
        app->fnUp();
        scheduler.runSerialQueues();
    }

    // The microphone plays what it holds while the disk takes only two blocks of it: the
    // recording's writes fail after that, as on a full disk.
    // The failure's report is handled unless `thenReport` is false.
    void hearWithRoomForTwoBlocks(bool thenReport = true) {
        scheduler.runSerialQueues();  // the microphone opens
        {
            const FileSizeLimit twoBlocks(68 + 2 * 4 * fake::FakeAudioInput::kBlockFrames + 100);
            microphone.playAll();
            scheduler.runSerialQueues();
        }
        if (thenReport) {
            scheduler.runDue();
        }
    }

    Shown shown() const {
        return {panel.content().text, panel.content().symbol, status.icon().name,
                status.icon().accessibility};
    }

    TempDir dir;
    std::filesystem::path root = dir.path();
    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeSystemLog log;
    fake::FakeUserDefaults defaults;
    fake::FakeDesktop desktop;
    StatusAreaT status;
    fake::FakeFloatingPanel panel;
    fake::FakeAudioInput microphone{scheduler, platform::AudioFormat{48000, 1}};
    fake::FakeKeychain keychain;
    FakeInsertion insertion;
    fake::FakeKeyListener keys;
    InjectionJournal journal{clock};
    fake::ActionLog injected{clock};
    fake::FakeKeyInjector injector{injected};
    FnKeyMonitor monitor{keys, scheduler, journal, injector};
    fake::FakeClipboard clipboard;
    fake::FakeAudioPlayerFactory players{scheduler};
    fake::FakeAutostart autostart;
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    bool rightAltIsAltGr = false;
    fake::ActionLog actions{clock};
    fake::FakeFrontmostApp frontmost{actions};
    fake::FakeAccessibility accessibility;
    fake::FakeWindowCapture windows;
    fake::FakeAccessibilityBus accessibilityBus;
    fake::FakeImageEncoder encoder;
    fake::FakeModalAlert alerts;
    int terminated = 0;
    int aboutShown = 0;
    std::unique_ptr<AppDelegate> app;
};

using AppFixture = AppFixtureWith<fake::FakeStatusArea>;

}  // namespace larkspire::testing
