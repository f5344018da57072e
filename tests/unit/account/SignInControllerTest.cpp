#include <gtest/gtest.h>

#include "account/SignInController.h"
#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeScheduler.h"
#include "service/SessionStore.h"
#include "support/ScriptedTransport.h"

namespace larkspire {
namespace {

using std::string;
using std::vector;
using Tone = SignInController::Tone;
using testing::ScriptedTransport;

constexpr const char* kRequest = "/api/native-auth/request";
constexpr const char* kVerify = "/api/native-auth/verify";

// Records what the controller asked of its window, in order.
class RecordingView : public SignInController::View {
  public:
    void render(const SignInController::State& state) override {
        last = state;
        events.push_back("render");
    }
    void focusCode() override { events.push_back("focusCode"); }
    void closeWindow() override { events.push_back("close"); }
    SignInController::State last;
    vector<string> events;
};

class SignInControllerTest : public ::testing::Test {
  protected:
    SignInControllerTest() {
        Config config;
        config.api_url = "http://127.0.0.1:3000";
        api = std::make_shared<APIClient>(config, clock, keychain, transport);
        controller = SignInController::create(api, scheduler, [this] {
            view.events.push_back("onSignedIn");
            ++signedInCalls;
        });
        controller->attach(&view);
    }

    // Runs the background call and the main-queue completion.
    void completeCall() {
        ASSERT_EQ(scheduler.pendingBackground(), 1u);
        EXPECT_EQ(scheduler.backgroundPriorities(),
                  vector<platform::Priority>{platform::Priority::userInitiated});
        scheduler.runOneBackground();
        scheduler.runDue();
    }

    void reachCodeStep() {
        transport->once(kRequest, 200, "{}");
        controller->submit("ada@example.com", "");
        completeCall();
        view.events.clear();
    }

    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeKeychain keychain;
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::shared_ptr<APIClient> api;
    RecordingView view;
    std::shared_ptr<SignInController> controller;
    int signedInCalls = 0;
};

TEST_F(SignInControllerTest, BlankAddressIsRefusedInRedAndSendsNothing) {
    for (const string blank : {"", "   ", " \n\t ", "\u00A0\u2003"}) {
        controller->submit(blank, "");
        EXPECT_EQ(view.last.message, "Enter your email address.");
        EXPECT_EQ(view.last.messageTone, Tone::error);
        EXPECT_TRUE(view.last.primaryEnabled);
    }
    EXPECT_EQ(scheduler.pendingBackground(), 0u);
    EXPECT_TRUE(transport->sent().empty());
}

TEST_F(SignInControllerTest, FailedSendShowsTheServiceErrorAndCanBeRetried) {
    transport->once(kRequest, 429, R"({"error":"Too many requests"})");
    controller->submit("ada@example.com", "");
    completeCall();
    EXPECT_EQ(view.last.message, "Too many requests");
    EXPECT_EQ(view.last.messageTone, Tone::error);
    EXPECT_TRUE(view.last.primaryEnabled);
    EXPECT_EQ(view.last.primaryTitle, "Email me a sign-in code");
    EXPECT_FALSE(view.last.codeSent);
    EXPECT_TRUE(view.last.emailEnabled);

    // No answer scripted: the transport's own description is shown.
    controller->submit("ada@example.com", "");
    completeCall();
    EXPECT_EQ(view.last.message, "Could not connect to server");
    EXPECT_EQ(view.last.messageTone, Tone::error);

    transport->once(kRequest, 500, "<html>");
    controller->submit("ada@example.com", "");
    completeCall();
    EXPECT_EQ(view.last.message, "Couldn’t send sign-in code");
}

TEST_F(SignInControllerTest, VerifiedCodeInstallsTheSessionClosesThenCallsOnSignedInOnce) {
    reachCodeStep();
    transport->once(kVerify, 200,
                    R"({"accessToken":"A","refreshToken":"R","expiresAt":4102444800})");
    controller->submit("ada@example.com", "123456");
    completeCall();
    EXPECT_EQ(view.events, (vector<string>{"render", "close", "onSignedIn"}));
    EXPECT_EQ(signedInCalls, 1);
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"A", "R", 4102444800}));
    EXPECT_EQ(api->cachedAccessToken(), "A");

    controller->submit("ada@example.com", "123456");
    EXPECT_EQ(scheduler.pendingBackground(), 0u);
    EXPECT_EQ(signedInCalls, 1);
}

TEST_F(SignInControllerTest, AtMostOneCallRunsAtATime) {
    transport->once(kRequest, 200, "{}");
    controller->submit("ada@example.com", "");
    controller->submit("ada@example.com", "");
    EXPECT_EQ(scheduler.pendingBackground(), 1u);
    completeCall();
    EXPECT_EQ(transport->sent().size(), 1u);
}

TEST_F(SignInControllerTest, NothingHappensOnceTheControllerIsGone) {
    transport->once(kRequest, 200, "{}");
    controller->submit("ada@example.com", "");
    controller.reset();
    scheduler.runUntilIdle();
    EXPECT_TRUE(transport->sent().empty());

    auto second = SignInController::create(api, scheduler, [this] { ++signedInCalls; });
    RecordingView otherView;
    second->attach(&otherView);
    second->submit("ada@example.com", "");
    scheduler.runOneBackground();
    ASSERT_EQ(transport->sent().size(), 1u);
    const auto before = otherView.events.size();
    second.reset();
    scheduler.runDue();
    EXPECT_EQ(otherView.events.size(), before) << "a late answer touches nothing";
}

}  // namespace
}  // namespace larkspire
