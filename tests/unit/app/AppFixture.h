#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>

#include "app/AppDelegate.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeAudioPlayerFactory.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeFloatingPanel.h"
#include "platform/fake/FakeFrontmostApp.h"
#include "platform/fake/FakeImageEncoder.h"
#include "platform/fake/FakeKeyListener.h"
#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeModalAlert.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeStatusArea.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/FakeWindowCapture.h"
#include "service/SessionStore.h"
#include "unit/app/FakeInsertion.h"

namespace larkspire::testing {

using Strings = std::vector<std::string>;
using fake::FakeInsertion;

// Answers requests by path; unanswered paths get a 404. Records the paths it saw.
class ScriptedTransport : public HttpTransport {
  public:
    HttpResponse send(const HttpRequest& request) override {
        std::lock_guard lock(mutex);
        std::string path = request.url.substr(request.url.find('/', request.url.find("//") + 2));
        path = path.substr(0, path.find('?'));
        paths.push_back(path);
        auto it = answers.find(path);
        if (it == answers.end()) {
            return HttpResponse{"{\"error\":\"not here\"}", 404};
        }
        return it->second(request);
    }
    void answer(const std::string& path, int status, std::string body) {
        answers[path] = [status, body](const HttpRequest&) { return HttpResponse{body, status}; };
    }
    int count(const std::string& path) const {
        return static_cast<int>(std::count(paths.begin(), paths.end(), path));
    }

    std::mutex mutex;
    std::map<std::string, std::function<HttpResponse(const HttpRequest&)>> answers;
    Strings paths;
};

// A controller over fakes, with a stored session that is valid for a day, a temporary
// home and data directory, and a microphone that hears a spoken-like tone.
class AppFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() /
               ("larkspire-app-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "home");
        std::filesystem::create_directories(root / "data");
        transport->answer("/api/activation", 200, "{}");
        transport->answer("/api/notes", 200, R"({"notes":[]})");
    }
    void TearDown() override {
        app.reset();
        std::filesystem::remove_all(root);
    }

    void signedIn() {
        const double expires =
            std::chrono::duration<double>((clock.now() + std::chrono::hours(24)).time_since_epoch())
                .count();
        SessionStore::save(keychain, NativeSession{"access-1", "refresh-1", expires});
    }

    void writeConfig(const std::string& json) {
        std::filesystem::create_directories(root / "home/.vantrel");
        std::ofstream(root / "home/.vantrel/config.json") << json;
    }

    RecoveryStore store() const { return RecoveryStore(root / "data"); }

    AppDelegate& start(AppDelegate::Hooks hooks = {}) {
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
                        (root / "home").string(),
                        store(),
                        transport,
                        [this] { ++terminated; },
                        {},
                        rightAltIsAltGr,
                        {frontmost, accessibility, windows, encoder, alerts, &players}});
        app->setHooks(std::move(hooks));
        app->applicationDidFinishLaunching();
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

    // Presses the key, lets the microphone hear `audio`, and releases after `held` s.
    void dictate(double held, std::vector<float> audio) {
        microphone.load(std::move(audio));
        app->fnDown();
        microphone.playAll();
        scheduler.advance(platform::Duration(held));
        app->fnUp();
        scheduler.runSerialQueues();
    }

    std::filesystem::path root;
    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeSystemLog log;
    fake::FakeUserDefaults defaults;
    fake::FakeDesktop desktop;
    fake::FakeStatusArea status;
    fake::FakeFloatingPanel panel;
    fake::FakeAudioInput microphone{scheduler, platform::AudioFormat{48000, 1}};
    fake::FakeKeychain keychain;
    FakeInsertion insertion;
    fake::FakeKeyListener keys;
    InjectionJournal journal{clock};
    FnKeyMonitor monitor{keys, scheduler, journal};
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    bool rightAltIsAltGr = false;
    fake::ActionLog actions{clock};
    fake::FakeFrontmostApp frontmost{actions};
    fake::FakeAccessibility accessibility;
    fake::FakeWindowCapture windows;
    fake::FakeImageEncoder encoder;
    fake::FakeModalAlert alerts;
    fake::FakeAudioPlayerFactory players{scheduler};
    int terminated = 0;
    std::unique_ptr<AppDelegate> app;
};

}  // namespace larkspire::testing
