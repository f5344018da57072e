// What a user sees, as the desktop draws it in the headless session (1280 x 800, openbox,
// a tray): every state of the status panel, the status menu and its submenus, and the
// alerts, each kept as a screenshot in build/screenshots/. The panel's words are whole.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include "hud/ScreenAwareHUD.h"
#include "integration/support/TargetApp.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/linux/qt/QtFloatingPanel.h"
#include "platform/linux/qt/QtModalAlert.h"
#include "platform/linux/qt/QtStatusArea.h"
#include "unit/app/AppFixture.h"

namespace larkspire {
namespace {

using testing::pumpFor;

// The screen under `area` (global coordinates), as the user sees it.
void screenshot(const QString& name, const QRect& area) {
    QDir().mkpath(LARKSPIRE_SCREENSHOT_DIR);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(),
                                                                      area.width(), area.height());
    EXPECT_TRUE(shot.save(QString(LARKSPIRE_SCREENSHOT_DIR "/%1.png").arg(name)))
        << name.toStdString();
}

// The accessible names under the panel, as a screen reader walks it.
QStringList accessibleNames(QAccessibleInterface* node) {
    QStringList names;
    for (int i = 0; node && i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        names << child->text(QAccessible::Name) << accessibleNames(child);
    }
    return names;
}

class Screens : public ::testing::Test {
  protected:
    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeUserDefaults defaults;
    linux_desktop::QtFloatingPanel panel;
    ScreenAwareHUD hud{panel, scheduler, defaults};

    QString shown() { return panel.labelText().replace('\n', ' '); }
    void shoot(const QString& name) {
        pumpFor(0.15);
        screenshot("panel-" + name, panel.frameGeometry().adjusted(-4, -4, 4, 4));
    }
};

TEST_F(Screens, EveryPanelStateShowsItsWholeText) {
    struct State {
        const char *name, *text, *symbol;
    };
    const State states[] = {
        {"listening", "Listening", "waveform"},
        {"hands-free", "Recording hands-free", "record.circle"},
        {"transcribing", "Turning speech into text", "ellipsis"},
        {"pasted", "Pasted and remembered", "checkmark.circle.fill"},
        {"saved-for-retry", "Recording saved for retry", "exclamationmark.arrow.circlepath"},
        {"microphone-permission", "Microphone permission needed", "mic.slash"},
        {"unusable-audio", "Microphone audio is unusable", "mic.slash"},
        {"disk-full", "Couldn’t save the recording: No space left on device",
         "exclamationmark.triangle"},
        {"reading-window", "Reading the active window", "viewfinder"},
        {"screen-aware-listening", "Screen-aware listening · Mousepad", "viewfinder"},
        {"writing", "Writing with context", "sparkles"},
        {"written", "Written at your cursor", "checkmark.circle.fill"},
        {"ready-to-explain", "Ready to explain", "speaker.wave.2"},
        {"no-answer", "No answer returned · recording saved", "exclamationmark.arrow.circlepath"},
        {"write-failed", "Couldn’t write · recording saved", "exclamationmark.triangle"},
        {"preparing-voice", "Preparing your voice", "speaker.wave.2"},
        {"copy-first", "Copy some text first", "doc.on.clipboard"},
        {"clipboard-unreadable", "Couldn’t read clipboard", "exclamationmark.triangle"},
        {"reading-stopped", "Reading stopped", "stop.circle"},
    };
    for (const State& s : states) {
        hud.showStatus(s.text, s.symbol);
        shoot(s.name);
        EXPECT_EQ(shown(), QString::fromUtf8(s.text)) << "cut: " << shown().toStdString();
        EXPECT_TRUE(panel.isVisible());
    }
    // The player buttons are not in the accessibility tree while a status shows.
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(&panel);
    EXPECT_FALSE(accessibleNames(tree).contains("Pause"))
        << accessibleNames(tree).join(", ").toStdString();

    hud.showPlayer(
        "Reading clipboard", false, [] {}, [] {}, [] {});
    shoot("player-reading");
    EXPECT_EQ(shown(), "Reading clipboard");
    EXPECT_TRUE(accessibleNames(tree).contains("Pause"));
    // Under the pointer a button stays a light symbol on a dark ground, with its tooltip.
    auto* pause = panel.findChild<QToolButton*>("Pause");
    ASSERT_TRUE(pause);
    EXPECT_EQ(pause->toolTip(), "Pause");
    QCursor::setPos(pause->mapToGlobal(pause->rect().center()));
    pumpFor(0.3);
    const QRect button(pause->mapToGlobal(QPoint()), pause->size());
    screenshot("panel-player-hover", button);
    const QImage hovered =
        QGuiApplication::primaryScreen()
            ->grabWindow(0, button.x(), button.y(), button.width(), button.height())
            .toImage();
    int light = 0, dark = 0;
    for (int y = 0; y < hovered.height(); ++y) {
        for (int x = 0; x < hovered.width(); ++x) {
            const int gray = qGray(hovered.pixel(x, y));
            light += gray > 200;
            dark += gray < 100;
        }
    }
    EXPECT_GT(light, 10) << "the symbol shows";
    EXPECT_GT(dark, 3 * light) << "on a dark ground";
    QCursor::setPos(0, 0);
    hud.updatePlayer("Reading paused", true);
    shoot("player-paused");
    EXPECT_EQ(shown(), "Reading paused");
    EXPECT_TRUE(accessibleNames(tree).contains("Resume"));

    // Longer than two lines at the widest: broken between words, never inside one.
    const QString error =
        "The microphone captured silence or corrupted audio. Reopen Larkspire and "
        "confirm the correct input device before trying again.";
    hud.showStatus(error.toStdString(), "exclamationmark.triangle");
    shoot("long-error");
    EXPECT_EQ(panel.frameGeometry().width(), ScreenAwareHUD::maximumWidth);
    ASSERT_TRUE(shown().endsWith("…"));
    const QString kept = shown().chopped(1);
    EXPECT_TRUE(error.startsWith(kept) && error[kept.size()] == ' ') << kept.toStdString();
    EXPECT_EQ(panel.labelText().count('\n'), 1);
}

class Menus : public testing::AppFixtureWith<linux_desktop::QtStatusArea> {};

// Each submenu opened to the left of its menu, as deep as they go.
void shootSubmenus(QMenu* menu) {
    for (QAction* a : menu->actions()) {
        if (QMenu* sub = a->menu()) {
            sub->popup(menu->geometry().topLeft() - QPoint(sub->sizeHint().width(), 0));
            pumpFor(0.3);
            screenshot("menu-" + a->text().toLower().replace(' ', '-'), sub->geometry());
            shootSubmenus(sub);
            sub->hide();
        }
    }
}

TEST_F(Menus, TheStatusMenuAndItsSubmenus) {
    signedIn();
    transport->on("/api/projects", 200, R"({"projects":[{"id":"p1","name":"Garden & patio"}]})");
    start();
    scheduler.runUntilIdle();
    status.show();
    QMenu* menu = status.statusQMenu();
    menu->popup(QPoint(900, 40));
    pumpFor(0.3);
    screenshot("menu-status", menu->geometry());
    shootSubmenus(menu);
    menu->hide();
}

// The alert in front while it waits for its answer, taken, then answered with Escape.
TEST(Alerts, QuestionAndWarning) {
    linux_desktop::QtModalAlert alerts;
    struct Shot {
        const char* name;
        platform::AlertContent content;
        QMessageBox::Icon icon;
    };
    const Shot shots[] = {
        {"alert-consent",
         {"Turn on screen-aware dictation?",
          "When you hold Control + Right Alt, Larkspire reads focused and accessible text from "
          "the active window to write at your cursor.",
          {"Include active-window images", "Use text only", "Cancel"},
          platform::AlertStyle::question},
         QMessageBox::Question},
        {"alert-warning",
         {"Larkspire cannot hear the Right Alt key",
          "There is no X display.",
          {"OK"},
          platform::AlertStyle::warning},
         QMessageBox::Warning},
    };
    for (const Shot& s : shots) {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::WindowFlags flags;
        QTimer::singleShot(500, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            icon = box->icon();
            flags = box->windowFlags();
            screenshot(s.name, box->frameGeometry());
            box->reject();
        });
        alerts.run(s.content);
        EXPECT_EQ(icon, s.icon) << s.name;
        EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint))
            << s.name;
    }
}

}  // namespace
}  // namespace larkspire
