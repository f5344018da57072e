#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QSystemTrayIcon>

#include "platform/linux/common/KeyHandOver.h"
#include "platform/linux/qt/QtStatusArea.h"
#include "platform/linux/qt/SingleInstance.h"
#include "platform/linux/qt/SymbolImages.h"
#include "unit/app/AppFixture.h"

namespace larkspire {
namespace {

// An item's text as the menu shows it ("&&" is a shown "&").
QString shown(const QAction* a) {
    return QString(a->text()).replace("&&", "&");
}

QStringList titlesOf(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        out << (a->isSeparator() ? QString("-") : shown(a));
    }
    return out;
}

QAction* actionNamed(QMenu* menu, const QString& title) {
    for (QAction* a : menu->actions()) {
        if (shown(a) == title) {
            return a;
        }
        if (a->menu()) {
            if (QAction* found = actionNamed(a->menu(), title)) {
                return found;
            }
        }
    }
    return nullptr;
}

class TrayView : public testing::AppFixtureWith<linux_desktop::QtStatusArea> {
  protected:
    void start() {
        testing::writeFile(store().newRecoveryURL("wav"), "RIFF");  // one recording pending
        AppFixtureWith::start();
        status.show();
    }
};

TEST_F(TrayView, DocksInTheTrayWithTheStatusMenuInOrder) {
    defaults.setBool("screenAwareEnabled", true);
    start();
    ASSERT_TRUE(status.usingTray());
    ASSERT_NE(status.trayIcon(), nullptr);
    EXPECT_TRUE(status.trayIcon()->isVisible());
    EXPECT_EQ(status.trayIcon()->contextMenu(), status.statusQMenu());
    EXPECT_EQ(status.trayIcon()->toolTip(), "Larkspire idle");
    QMenu* menu = status.statusQMenu();
    EXPECT_EQ(titlesOf(menu), (QStringList{"Start recording", "Retry saved recording",
                                           "Copy last dictation", "Read clipboard aloud",
                                           "Include active-window image with Control + Right Alt",
                                           "-", "Open Larkspire", "Settings & permissions…", "More",
                                           "-", "Quit", "-", "About Larkspire"}));
    // Disabled items are drawn disabled (and the keyboard passes over them).
    EXPECT_TRUE(app->retryRecordingItem()->enabled());
    EXPECT_TRUE(actionNamed(menu, "Retry saved recording")->isEnabled());
    EXPECT_FALSE(app->copyLastItem()->enabled());
    EXPECT_FALSE(actionNamed(menu, "Copy last dictation")->isEnabled());
    EXPECT_TRUE(
        actionNamed(menu, "Include active-window image with Control + Right Alt")->isChecked());
    EXPECT_EQ(titlesOf(actionNamed(menu, "More")->menu()),
              (QStringList{"Undo last insertion", "Active project", "Preview screen-aware drafts",
                           "Microphone permission…", "Microphone", "Open vault folder",
                           "Start Larkspire at login"}));
    EXPECT_EQ(actionNamed(menu, "Quit")->shortcut(), QKeySequence(QKeySequence::Quit));
    // No mnemonic hides the "&".
    EXPECT_EQ(actionNamed(menu, "Settings & permissions…")->text(), "Settings && permissions…");
    // A setting that is off still shows its box.
    EXPECT_TRUE(actionNamed(menu, "Preview screen-aware drafts")->isCheckable());
    EXPECT_TRUE(actionNamed(menu, "Start Larkspire at login")->isCheckable());
    EXPECT_FALSE(actionNamed(menu, "Preview screen-aware drafts")->isChecked());
    // Of the main menu, which has no menu bar on Linux, what does something here is
    // reachable from the tray: no second Quit, no hiding or window items doing nothing.
    ASSERT_NE(actionNamed(menu, "About Larkspire"), nullptr);
    actionNamed(menu, "About Larkspire")->trigger();
    EXPECT_EQ(aboutShown, 1);
}

TEST_F(TrayView, MenuFollowsTheModelAndActionsReachTheController) {
    start();
    QMenu* menu = status.statusQMenu();
    actionNamed(menu, "Preview screen-aware drafts")->trigger();
    EXPECT_TRUE(defaults.boolValue("screenAwarePreview"));
    app->toggleItem()->setTitle("Stop & transcribe");
    emit menu->aboutToShow();  // what opening the menu does
    EXPECT_EQ(titlesOf(menu).first(), "Stop & transcribe");
    EXPECT_TRUE(actionNamed(menu, "Preview screen-aware drafts")->isChecked());
    actionNamed(menu, "Quit")->trigger();
    EXPECT_EQ(terminated, 1);
}

TEST_F(TrayView, IconFollowsSetIconWithItsAccessibleText) {
    start();
    app->fail("No microphone");
    EXPECT_EQ(status.trayIcon()->toolTip(), "No microphone");
    EXPECT_FALSE(status.trayIcon()->icon().isNull());
    app->setIcon("no.such.symbol", "Unknown");
    EXPECT_TRUE(status.trayIcon()->icon().isNull());
}

TEST(StatusIconDrawing, IdleMeterHasFiveBarsTallestInTheMiddle) {
    platform::StatusIcon idle{"larkspire.idle", "Larkspire idle", true, true, false};
    const QImage img = linux_desktop::renderStatusIcon(idle, false).pixmap(36, 36).toImage();
    ASSERT_EQ(img.width(), 36);
    auto opaque = [&](int x, int y) { return qAlpha(img.pixel(x, y)) > 128; };
    // Scale 2: bars at x 2.4, 9.3, 16.2, 23.1, 30.0 (3.6 wide), gaps in between.
    for (int x : {4, 11, 18, 25, 31}) {
        EXPECT_TRUE(opaque(x, 18)) << "bar at x=" << x;
    }
    for (int x : {7, 14, 21, 28}) {
        EXPECT_FALSE(opaque(x, 18)) << "gap at x=" << x;
    }
    EXPECT_TRUE(opaque(18, 3));   // middle bar reaches near the top
    EXPECT_FALSE(opaque(4, 8));   // outer bars are short
    EXPECT_FALSE(opaque(11, 4));  // second bar is shorter than the middle one
    EXPECT_EQ(QColor(img.pixel(18, 18)).rgb() & 0xffffff, 0u);  // black on a light panel
}

TEST(StatusIconDrawing, OnlyTheRecordingSymbolIsRed) {
    platform::StatusIcon rec{"record.circle.fill", "Recording", true, false, true};
    const QImage red = linux_desktop::renderStatusIcon(rec, false).pixmap(48, 48).toImage();
    const QColor ring = red.pixelColor(24, 4);  // on the filled disc, outside the dot
    EXPECT_GT(ring.red(), 200);
    EXPECT_LT(ring.green(), 100);
    platform::StatusIcon glass{"hourglass", "Transcribing", true, true, false};
    const QImage plain = linux_desktop::renderStatusIcon(glass, true).pixmap(48, 48).toImage();
    bool anyRed = false;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) {
            const QColor c = plain.pixelColor(x, y);
            anyRed |= c.alpha() > 0 && c.red() - c.green() > 60;
        }
    }
    EXPECT_FALSE(anyRed);
    EXPECT_TRUE(linux_desktop::hasBundledSymbol("exclamationmark.triangle"));
    EXPECT_FALSE(linux_desktop::hasBundledSymbol("no.such.symbol"));
}

// The key command writes the agent's message without Qt; the agent reads it with Qt.
TEST(KeyHandOver, TheAgentReadsWhatTheKeyCommandSends) {
    EXPECT_FALSE(linux_desktop::handToAgent({"--key", "press"})) << "no agent listens yet";
    linux_desktop::SingleInstance agent("larkspire");
    ASSERT_TRUE(agent.claim({}));
    QStringList received;
    agent.onMessage([&](const QStringList& arguments) { received = arguments; });
    ASSERT_TRUE(linux_desktop::handToAgent({"--key", "press", "--control"}));
    QElapsedTimer waited;
    waited.start();
    while (received.isEmpty() && waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_EQ(received, (QStringList{"--key", "press", "--control"}));
}

}  // namespace
}  // namespace larkspire

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
