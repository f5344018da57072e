// The portal back end against tests/support/fake-portal.py on the test's own session bus
// (dbus-run-session): the requests, their answers and the signals are real D-Bus traffic.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <QImage>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "input/FnKeyMonitor.h"
#include "input/InjectionJournal.h"
#include "platform/fake/FakeFrontmostApp.h"
#include "platform/fake/FakeKeyInjector.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/linux/portal/Portal.h"
#include "platform/linux/portal/PortalClipboard.h"
#include "platform/linux/portal/PortalKeyInjector.h"
#include "platform/linux/portal/PortalKeyListener.h"
#include "platform/linux/portal/PortalRemoteDesktop.h"
#include "support/ChildProcess.h"
#include "support/GestureLog.h"
#include "support/TempDir.h"

namespace larkspire::linux_desktop {
namespace {

using fake::ActionLog;
using fake::FakeKeyInjector;
using fake::FakeScheduler;
using fake::FakeSystemLog;
using fake::VirtualClock;
using nlohmann::json;

class PortalTest : public ::testing::Test {
  protected:
    // Starts the fake with `options` and connects to it.
    void startFake(std::vector<std::string> options = {}) {
        std::vector<std::string> args{FAKE_PORTAL, "--log", (dir_.path() / "calls").string()};
        args.insert(args.end(), options.begin(), options.end());
        fake_ = std::make_unique<testing::ChildProcess>(args);
        ASSERT_TRUE(fake_->waitForLine("fake portal ready", 10));
        portal_ = Portal::connect();
        ASSERT_TRUE(portal_);
    }

    // Runs the main context (where replies and signals arrive) and the scheduler until
    // `done`, for at most five seconds.
    bool until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            scheduler_.runUntilIdle();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // A method of the fake's control interface.
    void control(const char* method, GVariant* parameters) {
        GError* error = nullptr;
        VariantPtr reply(g_dbus_connection_call_sync(
            portal_->bus(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
            "org.larkspire.FakePortal", method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
            nullptr, &error));
        EXPECT_TRUE(reply) << method << ": " << (error ? error->message : "");
        g_clear_error(&error);
    }

    // The calls the fake received of one method, in order.
    std::vector<json> calls(const std::string& method) {
        std::vector<json> found;
        std::ifstream file(dir_.path() / "calls");
        for (std::string line; std::getline(file, line);) {
            if (auto call = json::parse(line); call["method"] == method) {
                found.push_back(call["args"]);
            }
        }
        return found;
    }

    PortalRemoteDesktop::TokenStore tokens() {
        return {[this] { return token_; }, [this](const std::string& t) { token_ = t; }};
    }

    testing::TempDir dir_;
    std::unique_ptr<testing::ChildProcess> fake_;
    std::unique_ptr<Portal> portal_;
    VirtualClock clock_;
    FakeScheduler scheduler_{clock_};
    FakeSystemLog log_;
    std::string token_;
};

TEST_F(PortalTest, ShortcutPressAndReleaseDriveTheGestures) {
    startFake({"--trigger", "Meta+F9"});
    PortalKeyListener listener(*portal_, log_);
    ActionLog actions(clock_);
    FakeKeyInjector injector(actions);
    InjectionJournal journal(clock_);
    FnKeyMonitor monitor(listener, scheduler_, journal, injector);
    testing::Gestures gestures;
    testing::recordGestures(monitor, gestures);
    int changes = 0;
    monitor.onListenerChange = [&] { ++changes; };
    monitor.setFnKey(FnKey{KEY_RIGHTALT, "Right Alt"});
    ASSERT_TRUE(monitor.start());

    // The desktop's choice, not the proposal, is what the user is told.
    ASSERT_TRUE(until([&] { return !listener.assignedKey().empty(); }));
    EXPECT_EQ(listener.assignedKey(), "Meta+F9");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(listener.unavailableReason(), "");
    const auto bound = calls("BindShortcuts");
    ASSERT_EQ(bound.size(), 1u);
    EXPECT_EQ(bound[0]["shortcuts"][0][0], "dictate");
    EXPECT_EQ(bound[0]["shortcuts"][0][1]["preferred_trigger"], "CTRL+ALT+D");
    EXPECT_EQ(bound[0]["shortcuts"][1][0], "dictate-with-context");

    for (const char* step : {"Activate", "Deactivate"}) {
        control(step, g_variant_new("(s)", "dictate"));
        const std::size_t seen = gestures.size();
        ASSERT_TRUE(until([&] { return gestures.size() > seen; })) << step;
    }
    for (const char* step : {"Activate", "Deactivate"}) {
        control(step, g_variant_new("(s)", "dictate-with-context"));
        const std::size_t seen = gestures.size();
        ASSERT_TRUE(until([&] { return gestures.size() > seen; })) << step;
    }
    EXPECT_EQ(gestures, (testing::Gestures{"fnDown", "fnUp", "contextDown", "contextUp"}));
}

TEST_F(PortalTest, RefusedApprovalsBecomeTheWarningsReason) {
    startFake({"--refuse", "shortcuts"});
    {
        PortalKeyListener listener(*portal_, log_);
        int changes = 0;
        listener.onChange([&] { ++changes; });
        ASSERT_TRUE(listener.start([](const platform::RawKeyEvent&) {}));
        ASSERT_TRUE(until([&] { return changes > 0; }));
        EXPECT_NE(listener.unavailableReason().find("You declined Larkspire’s dictation shortcut"),
                  std::string::npos);
    }
    fake_.reset();
    startFake({"--refuse", "remote-desktop"});
    PortalRemoteDesktop typing(*portal_, log_, tokens(), false);
    PortalKeyListener listener(*portal_, log_);
    PortalKeyInjector keyboard(typing);
    int changes = 0;
    listener.onChange([&] { ++changes; });
    keyboard.onChange([&] { ++changes; });
    listener.start([](const platform::RawKeyEvent&) {});
    typing.start();
    ASSERT_TRUE(until([&] { return typing.state() == PortalRemoteDesktop::State::refused; }));
    // The shortcut works, yet the warning says that paste does not.
    ASSERT_TRUE(until([&] { return !listener.assignedKey().empty(); }));
    EXPECT_NE(keyboard.unavailableReason().find("control the keyboard"), std::string::npos)
        << keyboard.unavailableReason();
    EXPECT_GE(changes, 2);
    EXPECT_EQ(token_, "");
    // Nothing is typed into a session the user declined.
    PortalKeyInjector(typing).sendChord({platform::ChordKey::control, platform::ChordKey::v});
    portal_->version("org.freedesktop.portal.RemoteDesktop");  // after any call sent before
    EXPECT_TRUE(calls("NotifyKeyboardKeycode").empty());
}

TEST_F(PortalTest, PasteChordGoesThroughTheKeyboardAndTheApprovalIsAskedOnce) {
    startFake();
    auto typing = std::make_unique<PortalRemoteDesktop>(*portal_, log_, tokens(), false);
    typing->start();
    ASSERT_TRUE(until([&] { return typing->state() == PortalRemoteDesktop::State::started; }));
    EXPECT_EQ(token_, "token-1");
    PortalKeyInjector(*typing).sendChord({platform::ChordKey::control, platform::ChordKey::v});
    ASSERT_TRUE(until([&] { return calls("NotifyKeyboardKeycode").size() == 4; }));
    std::vector<std::pair<int, int>> keys;
    for (const json& call : calls("NotifyKeyboardKeycode")) {
        keys.emplace_back(call["keycode"], call["state"]);
    }
    EXPECT_EQ(keys, (std::vector<std::pair<int, int>>{
                        {KEY_LEFTCTRL, 1}, {KEY_V, 1}, {KEY_V, 0}, {KEY_LEFTCTRL, 0}}));

    // The next start hands the stored token back, and keeps the new one.
    typing = std::make_unique<PortalRemoteDesktop>(*portal_, log_, tokens(), false);
    typing->start();
    ASSERT_TRUE(until([&] { return typing->state() == PortalRemoteDesktop::State::started; }));
    const auto selected = calls("SelectDevices");
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_FALSE(selected[0]["options"].contains("restore_token"));
    EXPECT_EQ(selected[1]["options"]["restore_token"], "token-1");
    EXPECT_EQ(selected[1]["options"]["persist_mode"], 2);
    EXPECT_EQ(token_, "token-2");

    // The user ends the session from the desktop's indicator: the warning says so.
    int changes = 0;
    typing->onChange([&] { ++changes; });
    control("EndSessions", nullptr);
    ASSERT_TRUE(until([&] { return changes > 0; }));
    EXPECT_EQ(typing->state(), PortalRemoteDesktop::State::failed);
    EXPECT_NE(typing->problem().find("The desktop ended"), std::string::npos);
}

TEST_F(PortalTest, ClipboardIsServedAndReadThroughTheSession) {
    startFake();
    PortalRemoteDesktop session(*portal_, log_, tokens(), true);
    PortalClipboard clipboard(*portal_, session, log_);
    session.start();
    ASSERT_TRUE(until([&] { return session.state() == PortalRemoteDesktop::State::started; }));
    ASSERT_TRUE(session.clipboardEnabled());

    // Another application pastes: the desktop asks the agent for its text.
    const std::string text = "Grüße — ok\n" + std::string(100000, 'x');
    clipboard.setText(text);
    std::optional<std::string> pasted;
    g_dbus_connection_call(
        portal_->bus(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        "org.larkspire.FakePortal", "RequestTransfer",
        g_variant_new("(s)", "text/plain;charset=utf-8"), G_VARIANT_TYPE("(s)"),
        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
        [](GObject* bus, GAsyncResult* result, gpointer out) {
            VariantPtr reply(
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, nullptr));
            const char* s = "(failed)";
            if (reply) {
                g_variant_get(reply.get(), "(&s)", &s);
            }
            *static_cast<std::optional<std::string>*>(out) = s;
        },
        &pasted);
    ASSERT_TRUE(until([&] { return pasted.has_value(); }));
    EXPECT_EQ(pasted->size(), text.size());
    EXPECT_TRUE(*pasted == text);

    // Another application copies: the agent reads its text through the portal.
    control("SetClipboard", g_variant_new("(s)", "from the editor"));
    ASSERT_TRUE(until([&] { return clipboard.text() == "from the editor"; }));
}

}  // namespace
}  // namespace larkspire::linux_desktop
