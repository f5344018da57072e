// Screen-aware capture against real windows of the headless session: GTK and Qt windows
// read through AT-SPI with their secrets redacted, the window list and images through
// X11 and XComposite, and JPEG encoding with Qt.
// gtest and Qt before Xlib, whose macros (None, Bool) clash with them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "context/AccessibilityContext.h"
#include "integration/support/TargetApp.h"
#include "platform/fake/VirtualClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/qt/QtImageEncoder.h"
#include "platform/linux/qt/QtModalAlert.h"
#include "platform/linux/x11/EwmhFrontmostApp.h"
#include "platform/linux/x11/XCompositeWindowCapture.h"
#include "platform/linux/x11/XHandles.h"

namespace larkspire {
namespace {

using testing::pumpFor;
using testing::pumpUntil;
using testing::TargetApp;

class StderrLog : public platform::SystemLog {
  public:
    void log(const std::string& line) override { std::fprintf(stderr, "log: %s\n", line.c_str()); }
};

// Counts the elements a walk visits (each is asked its role once) and every other read.
struct Counts {
    int elements = 0;
    int reads = 0;
};

class CountingElement : public platform::AccessibleElement {
  public:
    CountingElement(std::shared_ptr<platform::AccessibleElement> inner, Counts& counts)
        : inner_(std::move(inner)), counts_(counts) {}
    std::string role() override {
        ++counts_.elements;
        return inner_->role();
    }
    std::string subrole() override { return read(inner_->subrole()); }
    std::string value(std::size_t n) override { return read(inner_->value(n)); }
    std::string title() override { return read(inner_->title()); }
    std::string description() override { return read(inner_->description()); }
    std::string selectedText(std::size_t n) override { return read(inner_->selectedText(n)); }
    std::optional<platform::TextRange> selectedTextRange() override {
        ++counts_.reads;
        return inner_->selectedTextRange();
    }
    std::vector<std::shared_ptr<platform::AccessibleElement>> children(std::size_t n) override {
        ++counts_.reads;
        auto kids = inner_->children(n);
        for (auto& kid : kids) {
            kid = std::make_shared<CountingElement>(kid, counts_);
        }
        return kids;
    }
    void focus() override { inner_->focus(); }
    void setSelectedTextRange(platform::TextRange r) override { inner_->setSelectedTextRange(r); }

  private:
    std::string read(std::string s) {
        ++counts_.reads;
        return s;
    }
    std::shared_ptr<platform::AccessibleElement> inner_;
    Counts& counts_;
};

class CountingAccessibility : public platform::Accessibility {
  public:
    explicit CountingAccessibility(platform::Accessibility& inner) : inner_(inner) {}
    std::shared_ptr<platform::AccessibleElement> focusedElement(platform::ProcessId p) override {
        return inner_.focusedElement(p);
    }
    std::shared_ptr<platform::AccessibleElement> focusedWindow(platform::ProcessId p) override {
        auto window = inner_.focusedWindow(p);
        return window ? std::make_shared<CountingElement>(window, counts) : nullptr;
    }
    Counts counts;

  private:
    platform::Accessibility& inner_;
};

// A window with a message, notes holding an API key, a password field and 400 labels.
std::vector<std::string> fullWindow(const std::string& title) {
    return {"--title",   title,
            "--message", "Ana asks: can you come to dinner on Friday?",
            "--notes",   "api_key = abcdef123456\nBring the salad.",
            "--secret",  "hunter2-horse-battery",
            "--labels",  "400"};
}

class ContextIntegrationTest : public ::testing::Test {
  protected:
    bool waitFront(pid_t pid) { return testing::waitFront(frontmost, pid); }
    std::optional<AccessibilityContext> capture(const std::optional<platform::FrontWindow>& front,
                                                platform::Accessibility& through) {
        return AccessibilityContext::capture(config, front, {through, clock});
    }
    // Opens the window, captures it and reports what was read and how long it took.
    void readsTheFullWindow(const char* toolkit, const std::string& program) {
        TargetApp app(program, fullWindow(std::string(toolkit) + " window"));
        ASSERT_TRUE(app.waitReady());
        ASSERT_TRUE(waitFront(app.pid()));
        pumpFor(0.3);  // focus events reach the cache
        CountingAccessibility counting(accessibility);
        const auto t0 = std::chrono::steady_clock::now();
        const auto c = capture(frontmost.frontmost(), counting);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        ASSERT_TRUE(c);
        std::printf(
            "%s: capture took %.1f ms, %d elements and %d further reads, %zu characters "
            "of window text\n",
            toolkit, ms, counting.counts.elements, counting.counts.reads, c->windowText.size());
        EXPECT_EQ(c->processIdentifier, app.pid());
        EXPECT_EQ(c->role, "AXTextField");
        EXPECT_EQ(c->windowTitle, std::string(toolkit) + " window");
        EXPECT_EQ(counting.counts.elements, 350);  // every element of the window
        EXPECT_NE(c->windowText.find("Ana asks: can you come to dinner on Friday?"),
                  std::string::npos);
        EXPECT_NE(c->windowText.find("[REDACTED]\nBring the salad."), std::string::npos)
            << c->windowText.substr(0, 300);
        int items = 0;
        for (std::size_t at = 0; (at = c->windowText.find("\nItem ", at)) != std::string::npos;
             ++at) {
            ++items;
        }
        EXPECT_GT(items, 300);  // the labels, in the toolkit's order
        EXPECT_EQ(c->windowText.find("abcdef123456"), std::string::npos);
        EXPECT_EQ(c->windowText.find("hunter2"), std::string::npos);
        EXPECT_EQ(c->windowText.find("●"), std::string::npos);  // GTK's bullets
    }

    StderrLog log;
    // A clock that stands still: the capture's time budget never ends here, so a loaded
    // machine cannot cut the walk short. How long a walk takes is measured in bench/context.
    fake::VirtualClock clock;
    linux_desktop::EwmhFrontmostApp frontmost;
    linux_desktop::AtspiAccessibility accessibility{log};
    Config config = Config::developmentDefault();
};

TEST_F(ContextIntegrationTest, AGtkWindowIsReadWithItsKeyRedactedAndItsPasswordLeftOut) {
    readsTheFullWindow("GTK", GTK_TARGET_PATH);
}

TEST_F(ContextIntegrationTest, AQtWindowIsReadWithItsKeyRedactedAndItsPasswordLeftOut) {
    readsTheFullWindow("Qt", QT_TARGET_PATH);
}

TEST_F(ContextIntegrationTest, AFocusedPasswordFieldRefusesTheCapture) {
    TargetApp app(GTK_TARGET_PATH, {"--password", "--text", "hunter2"});
    ASSERT_TRUE(app.waitReady());
    ASSERT_TRUE(waitFront(app.pid()));
    pumpFor(0.2);
    EXPECT_FALSE(capture(frontmost.frontmost(), accessibility));
}

TEST_F(ContextIntegrationTest, BehindAnotherWindowTheApplicationsLastFocusIsRead) {
    TargetApp first(GTK_TARGET_PATH, {"--title", "first", "--message", "Hello from the first",
                                      "--text", "draft", "--select", "1", "3"});
    ASSERT_TRUE(first.waitReady());
    ASSERT_TRUE(waitFront(first.pid()));
    pumpFor(0.2);
    const auto front = frontmost.frontmost();
    // Another window takes the front, as the agent's consent dialog would.
    TargetApp second(GTK_TARGET_PATH, {"--title", "second"});
    ASSERT_TRUE(second.waitReady());
    ASSERT_TRUE(waitFront(second.pid()));
    pumpFor(0.2);
    const auto c = capture(front, accessibility);
    ASSERT_TRUE(c);
    EXPECT_STREQ(accessibility.lastSource(), "last focus");
    EXPECT_EQ(c->windowTitle, "first");
    EXPECT_EQ(c->surroundingText, "draft");
    EXPECT_EQ(c->windowText, "Hello from the first");
    EXPECT_EQ(c->selectedRange, (platform::TextRange{1, 2}));
}

TEST_F(ContextIntegrationTest, TheWindowImageIsTheClientAreaWithCoveredPartsAsJpeg) {
    linux_desktop::XCompositeWindowCapture windows;
    linux_desktop::QtImageEncoder encoder;
    TargetApp big(GTK_TARGET_PATH, {"--title", "big", "--labels", "200"});
    ASSERT_TRUE(big.waitReady());
    ASSERT_TRUE(waitFront(big.pid()));
    const auto bigWindow = frontmost.frontmost()->window;
    TargetApp cover(GTK_TARGET_PATH, {"--title", "cover"});
    ASSERT_TRUE(cover.waitReady());
    ASSERT_TRUE(waitFront(cover.pid()));
    // The small window first beside the big one, then over its middle.
    auto display = linux_desktop::openDisplay();
    const auto coverWindow = frontmost.frontmost()->window;
    int bx = 0, by = 0;
    Window child = 0;
    XTranslateCoordinates(display.get(), static_cast<Window>(bigWindow),
                          DefaultRootWindow(display.get()), 0, 0, &bx, &by, &child);
    auto moveCover = [&](int x, int y) {
        XMoveWindow(display.get(), static_cast<Window>(coverWindow), x, y);
        XSync(display.get(), False);
        pumpFor(0.5);
    };
    moveCover(bx, by + 660);
    const auto uncovered = windows.imageOf(bigWindow);
    moveCover(bx + 300, by + 200);
    const auto list = windows.onScreenWindows();
    ASSERT_TRUE(list);
    std::vector<platform::WindowId> order;
    platform::WindowDescription described;
    for (const auto& w : *list) {
        if (w.owner == big.pid() || w.owner == cover.pid()) {
            order.push_back(w.window);
        }
        if (w.window == bigWindow) {
            described = w;
        }
    }
    EXPECT_EQ(order, (std::vector<platform::WindowId>{coverWindow, bigWindow}));  // front first
    EXPECT_EQ(described.layer, 0);
    EXPECT_EQ(described.owner, big.pid());

    const auto image = windows.imageOf(bigWindow);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, static_cast<int>(described.width));
    EXPECT_EQ(image->height, static_cast<int>(described.height));
    // Where the other window covers it, the image shows what the window itself shows.
    ASSERT_TRUE(uncovered);
    int cx = 0, cy = 0;
    XTranslateCoordinates(display.get(), static_cast<Window>(coverWindow),
                          static_cast<Window>(bigWindow), 0, 0, &cx, &cy, &child);
    XWindowAttributes coverSize{};
    XGetWindowAttributes(display.get(), static_cast<Window>(coverWindow), &coverSize);
    ASSERT_LT(cx + coverSize.width, image->width);
    ASSERT_LT(cy + coverSize.height, image->height);
    int differing = 0;
    for (int y = cy; y < cy + coverSize.height; ++y) {
        for (int x = cx; x < cx + coverSize.width; ++x) {
            const size_t at = static_cast<size_t>(y) * image->width + x;
            differing += image->pixels[at] != uncovered->pixels[at];
        }
    }
    std::printf("covered area %dx%d at %d,%d: %d pixels differ from the uncovered image\n",
                coverSize.width, coverSize.height, cx, cy, differing);
    EXPECT_EQ(differing, 0);

    const auto jpeg = AccessibilityContext::boundedJPEG(*image, 1800, encoder);
    ASSERT_TRUE(jpeg);
    const QImage decoded = QImage::fromData(jpeg->data(), static_cast<int>(jpeg->size()), "JPEG");
    EXPECT_EQ(decoded.width(), image->width);
    EXPECT_EQ(decoded.height(), image->height);

    // Gone windows and Wayland sessions give no image.
    EXPECT_FALSE(windows.imageOf(0x7ffffff0));
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    linux_desktop::XCompositeWindowCapture wayland;
    qunsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(wayland.canCaptureWindows());
    EXPECT_FALSE(wayland.onScreenWindows());
}

TEST_F(ContextIntegrationTest, A3600By2000ImageIsEncodedAt1800By1000) {
    platform::Image image{3600, 2000, std::vector<std::uint32_t>(3600u * 2000u)};
    for (int y = 0; y < 2000; ++y) {
        for (int x = 0; x < 3600; ++x) {
            image.pixels[static_cast<size_t>(y) * 3600 + x] = x < 1800 ? 0xffff0000u : 0xff0000ffu;
        }
    }
    linux_desktop::QtImageEncoder encoder;
    const auto jpeg = AccessibilityContext::boundedJPEG(image, 1800, encoder);
    ASSERT_TRUE(jpeg);
    const QImage decoded = QImage::fromData(jpeg->data(), static_cast<int>(jpeg->size()), "JPEG");
    ASSERT_EQ(decoded.size(), QSize(1800, 1000));
    EXPECT_GT(qRed(decoded.pixel(100, 500)), 200);
    EXPECT_GT(qBlue(decoded.pixel(1700, 500)), 200);
    std::printf("3600x2000 -> %zu bytes of JPEG\n", jpeg->size());
}

TEST(ConsentDialog, ShowsTheButtonsInOrderAndAnswersWithTheChosenOne) {
    linux_desktop::QtModalAlert alert;
    const platform::AlertContent content{
        "Turn on screen-aware dictation?",
        "When you hold …",
        {"Include active-window images", "Use text only", "Cancel"}};
    std::vector<std::string> shown;
    // Presses a button of the dialog once it is up, as a user would.
    auto answer = [&](std::function<void(QMessageBox&)> press) {
        QTimer::singleShot(300, [&, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = {box->text().toStdString()};
            for (auto* button : box->buttons()) {
                shown.push_back(button->text().toStdString());
            }
            press(*box);
        });
    };
    auto click = [](const char* title) {
        return [title](QMessageBox& box) {
            for (auto* button : box.buttons()) {
                if (button->text() == title) {
                    button->click();
                }
            }
        };
    };
    answer(click("Use text only"));
    EXPECT_EQ(alert.run(content), 1u);
    // The heading in bold, as a desktop dialog's main text.
    EXPECT_EQ(shown, (std::vector<std::string>{"<b>Turn on screen-aware dictation?</b>",
                                               "Include active-window images", "Use text only",
                                               "Cancel"}));
    answer(click("Include active-window images"));
    EXPECT_EQ(alert.run(content), 0u);
    answer([](QMessageBox& box) { box.close(); });
    EXPECT_EQ(alert.run(content), 2u);  // closing the window without a choice is Cancel
}

}  // namespace
}  // namespace larkspire

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
