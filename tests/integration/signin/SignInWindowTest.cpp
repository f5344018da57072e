// Runs inside scripts/headless-session: a real X server, window manager and keyring.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <functional>
#include <nlohmann/json.hpp>

#include "integration/support/TargetApp.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/qt/QtScheduler.h"
#include "platform/linux/secret/SecretServiceKeychain.h"
#include "service/SessionStore.h"
#include "support/LoopbackServer.h"
#include "ui/SignInWindow.h"

namespace larkspire {
namespace {

using nlohmann::json;
using testing::CannedResponse;
using testing::LoopbackServer;
// The service calls run on real threads; the event loop runs while waiting for them.
using testing::pumpUntil;

QColor textColor(QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

// WCAG's contrast ratio of text over a background, the text's alpha blended in.
double contrast(const QColor& text, const QColor& back) {
    auto blend = [&](double t, double b) { return t * text.alphaF() + b * (1 - text.alphaF()); };
    auto ch = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    auto luminance = [&](double r, double g, double b) {
        return 0.2126 * ch(r) + 0.7152 * ch(g) + 0.0722 * ch(b);
    };
    const double lt =
        luminance(blend(text.redF(), back.redF()), blend(text.greenF(), back.greenF()),
                  blend(text.blueF(), back.blueF()));
    const double lb = luminance(back.redF(), back.greenF(), back.blueF());
    return (std::max(lt, lb) + 0.05) / (std::min(lt, lb) + 0.05);
}

TEST(SignInWindowTest, TwoStepSignInAgainstTheService) {
    LoopbackServer server;
    server.on("/api/native-auth/request", {200, "{}"});
    linux_desktop::SecretServiceKeychain keychain;
    SessionStore::clear(keychain);

    linux_desktop::SystemClock clock;
    linux_desktop::QtScheduler scheduler(qApp);
    Config config;
    config.api_url = server.url();
    auto api = std::make_shared<APIClient>(config, clock, keychain);

    bool windowVisibleAtSignIn = true;
    int signedInCalls = 0;
    std::optional<std::string> tokenAtSetup;
    std::unique_ptr<ui::SignInWindow> window;
    auto controller = SignInController::create(api, scheduler, [&] {
        ++signedInCalls;
        windowVisibleAtSignIn = window->isVisible();
        // The first step of the signed-in setup: a token without further traffic.
        tokenAtSetup = api->ensureToken();
    });
    window = std::make_unique<ui::SignInWindow>(controller);
    window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    auto* email = window->findChild<QLineEdit*>("email");
    auto* code = window->findChild<QLineEdit*>("code");
    auto* message = window->findChild<QLabel*>("message");
    auto* primary = window->findChild<QPushButton*>("primary");
    ASSERT_TRUE(email && code && message && primary);
    EXPECT_EQ(window->windowTitle(), "Sign in to Larkspire");
    EXPECT_EQ(window->size(), QSize(480, 430));
    EXPECT_EQ(primary->text(), "Email me a sign-in code");
    EXPECT_FALSE(code->isVisible());
    EXPECT_EQ(message->text(), "Sign in to keep your words and projects available across devices.");
    const QColor introColor = textColor(message);
    QDir().mkpath(LARKSPIRE_SCREENSHOT_DIR);
    const QRect frame = window->frameGeometry();
    EXPECT_TRUE(QGuiApplication::primaryScreen()
                    ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                    .save(LARKSPIRE_SCREENSHOT_DIR "/signin-window.png"));
    auto* footnote = window->findChild<QLabel*>("footnote");
    ASSERT_TRUE(footnote);
    EXPECT_GE(contrast(textColor(footnote), window->palette().color(QPalette::Window)), 4.5);

    // A blank address is refused in red and nothing is sent.
    QTest::keyClicks(email, "   ");
    QTest::mouseClick(primary, Qt::LeftButton);
    EXPECT_EQ(message->text(), "Enter your email address.");
    EXPECT_EQ(textColor(message), QColor(255, 59, 48));
    EXPECT_TRUE(server.requests().empty());

    // The code step.
    email->clear();
    QTest::keyClicks(email, " ada@example.com ");
    QTest::mouseClick(primary, Qt::LeftButton);
    EXPECT_FALSE(primary->isEnabled());
    EXPECT_EQ(primary->text(), "Sending…");
    ASSERT_TRUE(pumpUntil([&] { return code->isVisible(); }, 10));
    EXPECT_EQ(message->text(), "We sent a one-time code to ada@example.com.");
    EXPECT_EQ(textColor(message), introColor);
    EXPECT_FALSE(email->isEnabled());
    EXPECT_TRUE(primary->isEnabled());
    EXPECT_EQ(primary->text(), "Verify and continue");
    EXPECT_TRUE(pumpUntil([&] { return code->hasFocus(); }, 2)) << "the code field has focus";
    ASSERT_EQ(server.requestsTo("/api/native-auth/request").size(), 1u);
    EXPECT_EQ(json::parse(server.requestsTo("/api/native-auth/request")[0].body),
              (json{{"email", "ada@example.com"}}));

    // A wrong code: the service's error in red, the button usable again.
    server.once("/api/native-auth/verify", {400, R"({"error":"Invalid or expired code"})"});
    QTest::keyClicks(code, "000000");
    QTest::mouseClick(primary, Qt::LeftButton);
    EXPECT_EQ(primary->text(), "Verifying…");
    ASSERT_TRUE(pumpUntil([&] { return primary->isEnabled(); }, 10));
    EXPECT_EQ(message->text(), "Invalid or expired code");
    EXPECT_EQ(textColor(message), QColor(255, 59, 48));
    EXPECT_EQ(primary->text(), "Verify and continue");
    EXPECT_TRUE(window->isVisible());

    // The right code, sent with Return: the window closes, then onSignedIn runs.
    server.on("/api/native-auth/verify",
              {200, R"({"accessToken":"A1","refreshToken":"R1","expiresAt":4102444800})"});
    code->clear();
    QTest::keyClicks(code, "123456 ");
    QTest::keyClick(code, Qt::Key_Return);
    ASSERT_TRUE(pumpUntil([&] { return signedInCalls > 0; }, 10));
    EXPECT_EQ(signedInCalls, 1);
    EXPECT_FALSE(windowVisibleAtSignIn);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(tokenAtSetup, "A1");
    EXPECT_EQ(json::parse(server.requestsTo("/api/native-auth/verify").back().body),
              (json{{"email", "ada@example.com"}, {"code", "123456 "}}));
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"A1", "R1", 4102444800}));
    EXPECT_EQ(server.requests().size(), 3u) << "no traffic after the verification";
    SessionStore::clear(keychain);
}

}  // namespace
}  // namespace larkspire

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    larkspire::initHttp();
    return RUN_ALL_TESTS();
}
