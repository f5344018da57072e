#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "audio/WAV.h"
#include "platform/Accessibility.h"
#include "platform/Clock.h"
#include "platform/FrontmostApp.h"
#include "platform/ImageEncoder.h"
#include "platform/Scheduler.h"
#include "platform/WindowCapture.h"
#include "service/APIClient.h"
#include "service/Config.h"

namespace larkspire {

// When reading another application must stop; without a clock, never.
struct ReadDeadline {
    const platform::Clock* clock = nullptr;
    platform::TimePoint at{};
    bool passed() const { return clock != nullptr && clock->now() >= at; }
};

// One snapshot of what the application in front shows: the focused control, its
// selection and a bounded, redacted digest of its focused window's text. A value; copies
// share the focused element. Capture reads another process and never writes to it
// (except restoreFocus). Main thread.
struct AccessibilityContext {
    // Limits in user-perceived characters (extended grapheme clusters).
    static constexpr std::size_t kNameLimit = 500;  // window title, role, subrole
    static constexpr std::size_t kSelectionLimit = 6000;
    static constexpr std::size_t kFieldLimit = 12000;
    static constexpr std::size_t kWindowTextLimit = 18000;
    static constexpr std::size_t kAttributeLimit = 4000;
    // The walk of the window: elements visited (the window included), and the deepest
    // elements whose children are still read.
    static constexpr std::size_t kElementLimit = 350;
    static constexpr std::size_t kDeepestParent = 11;
    // The whole capture gives up reading after this long and keeps what it has: a hung
    // application must not hold the key press for long. Windows of 350 elements read in
    // 93 to 140 ms (GTK) and 105 to 190 ms (Qt) on a busy two-core machine (bench_context).
    static constexpr platform::Duration kCaptureBudget{0.5};

    // Window image: candidates larger than this area, the longest side and the quality.
    static constexpr double kMinimumWindowArea = 10000;
    static constexpr int kMaxImageSide = 1800;
    static constexpr int kJpegQuality = 68;

    platform::ProcessId processIdentifier = 0;
    std::string application;
    std::string windowTitle;
    std::string role;
    std::string selectedText;
    std::string surroundingText;
    std::string windowText;
    bool textOnly = false;
    std::shared_ptr<platform::AccessibleElement> focusedElement;
    std::optional<platform::TextRange> selectedRange;
    // The window that was in front: one process often owns many windows.
    platform::WindowId window = 0;

    // What capture reads through.
    struct Services {
        platform::Accessibility& accessibility;
        const platform::Clock& clock;
    };

    // The context of `front`, the window that was in front when the user asked (absent:
    // none was). None when the configuration excludes the application or its focused
    // control is a password field; otherwise a record, with empty texts for whatever
    // could not be read.
    static std::optional<AccessibilityContext> capture(
        const Config& config, const std::optional<platform::FrontWindow>& front, Services s);

    // The digest of the window's readable text, leaving out `excluding`: a breadth-first
    // walk bounded by kElementLimit, kDeepestParent and kWindowTextLimit.
    static std::string collectWindowText(const std::shared_ptr<platform::AccessibleElement>& window,
                                         const std::string& excluding, ReadDeadline deadline = {});

    // The element's selection (or caret); none without an element or a text.
    static std::optional<platform::TextRange> range(platform::AccessibleElement* element);

    // Gives the focus back to the focused element and puts its selection back.
    void restoreFocus() const;

    // One JPEG of the application's largest normal window, at most kMaxImageSide pixels
    // on its longer side; none for a text-only application, without an application, or
    // when no image can be taken.
    std::optional<Bytes> captureWindowImage(platform::WindowCapture& windows,
                                            platform::ImageEncoder& encoder) const;
    // `image` as JPEG, scaled down (never up) so that its longer side is at most
    // `maxPixelDimension`.
    static std::optional<Bytes> boundedJPEG(const platform::Image& image, int maxPixelDimension,
                                            platform::ImageEncoder& encoder);

    // The members a screen-aware request sends.
    DraftContext draftContext() const;
};

}  // namespace larkspire
