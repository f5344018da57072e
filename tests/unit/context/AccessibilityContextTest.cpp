#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "context/AccessibilityContext.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/VirtualClock.h"
#include "util/Text.h"

namespace larkspire {
namespace {

using fake::FakeAccessibleElement;
using Element = std::shared_ptr<FakeAccessibleElement>;
using Strings = std::vector<std::string>;

constexpr platform::ProcessId kMail = 4242;

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = s.find('\n', start)) != std::string::npos; start = at + 1) {
        out.push_back(s.substr(start, at - start));
    }
    out.push_back(s.substr(start));
    return out;
}

class Context : public ::testing::Test {
  protected:
    Element element(std::string role, std::string value = "", std::string title = "",
                    std::string description = "", std::string subrole = "") {
        auto e = std::make_shared<FakeAccessibleElement>(log, "e" + std::to_string(++made),
                                                         std::move(role), std::move(subrole));
        e->texts(std::move(value), std::move(title), std::move(description));
        return e;
    }
    // A window with a focused field, as the accessibility service reports them.
    void show(const Element& window, const Element& focused) {
        accessibility.setWindow(kMail, window);
        accessibility.setFocused(kMail, focused);
    }
    std::optional<AccessibilityContext> capture() {
        return AccessibilityContext::capture(config, front, {accessibility, clock});
    }
    static std::string digest(const Element& window, const std::string& excluding = "") {
        return AccessibilityContext::collectWindowText(window, excluding);
    }

    fake::VirtualClock clock;
    fake::ActionLog log{clock};
    fake::FakeAccessibility accessibility;
    Config config = Config::developmentDefault();
    std::optional<platform::FrontWindow> front =
        platform::FrontWindow{77, kMail, "Mail", "mail", "Mail"};
    int made = 0;
};

TEST_F(Context, CapturesTheFocusedFieldTheWindowAndItsTextRedacted) {
    auto window = element("AXWindow", "", "Inbox — Re: dinner");
    auto field = element("AXTextArea", "Dear Ana,\napi_key = abcdef123456");
    field->texts("Dear Ana,\napi_key = abcdef123456", "", "", "Bearer abcdefghijklmnop1234");
    field->setRange(platform::TextRange{3, 4});
    window->add(element("AXStaticText", "From: Ana"));
    window->add(field);
    show(window, field);

    const auto c = capture();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->processIdentifier, kMail);
    EXPECT_EQ(c->application, "Mail");
    EXPECT_EQ(c->window, 77u);
    EXPECT_EQ(c->windowTitle, "Inbox — Re: dinner");
    EXPECT_EQ(c->role, "AXTextArea");
    EXPECT_EQ(c->surroundingText, "Dear Ana,\n[REDACTED]");
    EXPECT_EQ(c->selectedText, "[REDACTED]");
    // A window is no text-bearing role; the field's own text is left out of the digest.
    EXPECT_EQ(c->windowText, "From: Ana");
    EXPECT_EQ(c->selectedRange, (platform::TextRange{3, 4}));
    EXPECT_FALSE(c->textOnly);
    EXPECT_EQ(c->focusedElement, field);

    c->restoreFocus();
    EXPECT_EQ(log.actions(), (Strings{"focus e2", "select e2 3+4"}));
}

TEST_F(Context, RefusesExcludedApplicationsAndFocusedPasswordFields) {
    config.context_excluded_apps = std::vector<std::string>{"mail"};
    EXPECT_FALSE(capture());
    EXPECT_TRUE(accessibility.queried().empty());  // nothing else is read

    config.context_excluded_apps.reset();
    for (const char* subrole : {"AXSecureTextField", "SECURE", "mySecureField"}) {
        auto window = element("AXWindow");
        show(window, element("AXTextField", "hunter2", "", "", subrole));
        EXPECT_FALSE(capture()) << subrole;
    }
    // However slow the application, the password field is refused.
    accessibility.onQuery = [this] { clock.advanceBy(platform::Duration(1.0)); };
    show(element("AXWindow"), element("AXTextField", "hunter2", "", "", "AXSecureTextField"));
    EXPECT_FALSE(capture()) << "past the budget";
    accessibility.onQuery = nullptr;
    // A secure subrole on anything but a text field is no password field.
    show(element("AXWindow"), element("AXTextArea", "notes", "", "", "AXSecureTextField"));
    EXPECT_TRUE(capture());

    // No application in front: "Unknown", which the rules may name.
    front.reset();
    config.context_text_only_apps = std::vector<std::string>{"unknown"};
    const auto none = capture();
    ASSERT_TRUE(none);
    EXPECT_EQ(none->application, "Unknown");
    EXPECT_EQ(none->processIdentifier, 0);
    EXPECT_TRUE(none->textOnly);
    EXPECT_FALSE(none->focusedElement);
    EXPECT_FALSE(none->selectedRange);
    config.context_excluded_apps = std::vector<std::string>{"Unknown"};
    EXPECT_FALSE(capture());
}

TEST_F(Context, AnApplicationThatExposesNothingGivesEmptyTextsWithItsName) {
    const auto c = capture();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->application, "Mail");
    EXPECT_EQ(c->processIdentifier, kMail);
    EXPECT_EQ(c->role + c->surroundingText + c->windowTitle + c->windowText, "");
}

TEST_F(Context, LimitsCountUserPerceivedCharactersAndApplyBeforeRedaction) {
    // 11,985 letters, then a key-value secret whose value the 12,000-character cut leaves
    // five characters long: too short to redact.
    std::string value(11985, 'a');
    value += " password=abcdefghij";
    // A family emoji and an accented letter are one character each.
    const std::string family = "👩‍👩‍👧";
    std::string title;
    for (int i = 0; i < 501; ++i) {
        title += i % 2 ? family : "e\xcc\x81";
    }
    auto window = element("AXWindow", "", title);
    auto field = element("AXTextArea", value);
    show(window, field);
    const auto c = capture();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->surroundingText, std::string(11985, 'a') + " password=abcde");
    EXPECT_EQ(text::characterCount(c->windowTitle), 500u);
    EXPECT_EQ(c->windowTitle, title.substr(0, title.size() - 3));  // the last "é" is cut
}

TEST_F(Context, WindowTextTakesEachTextOnceSkipsShortOnesAndPasswordFields) {
    auto window = element("AXWindow", "", "Window");  // windows bear no text
    auto group = window->add(element("AXGroup", "", "Invoice"));
    for (int i = 0; i < 3; ++i) {
        group->add(element("AXCell", "Paid", "Paid"));  // the same label in many cells
    }
    group->add(element("AXStaticText", "x"));                     // one character
    group->add(element("AXStaticText", "  \n  padded line \t"));  // trimmed
    auto secret = group->add(element("AXTextField", "p4ssw0rd!", "", "", "AXSecureTextField"));
    secret->add(element("AXStaticText", "under the password field"));  // still visited
    group->add(element("AXCheckBox", "not text-bearing"));
    group->add(element("AXButton", "", "Send", "Sends the reply"));
    group->add(element("AXTextArea", "the focused text"));  // equal to the excluded text
    EXPECT_EQ(lines(digest(window, "the focused text")),
              (Strings{"Invoice", "Paid", "padded line", "Send", "Sends the reply",
                       "under the password field"}));
    EXPECT_EQ(digest(nullptr), "");
}

TEST_F(Context, TheWalkVisitsTheFirst350ElementsBreadthFirst) {
    auto window = element("AXWindow");
    // Two rows of labels: 300 in the first, 300 below them.
    auto top = window->add(element("AXGroup"));
    auto bottom = window->add(element("AXGroup"));
    for (int i = 0; i < 300; ++i) {
        top->add(element("AXStaticText", "top " + std::to_string(i)));
        bottom->add(element("AXStaticText", "bottom " + std::to_string(i)));
    }
    const auto taken = lines(digest(window));
    // The window and two groups, then 300 + 47 labels.
    ASSERT_EQ(taken.size(), 347u);
    EXPECT_EQ(taken.front(), "top 0");
    EXPECT_EQ(taken[299], "top 299");
    EXPECT_EQ(taken.back(), "bottom 46");
    EXPECT_EQ(bottom->kids()[47]->reads, 0);  // never asked
}

TEST_F(Context, ElementsAtDepthTwelveAreReadButTheirChildrenAreNot) {
    auto window = element("AXWindow");
    Element node = window;
    for (int depth = 1; depth <= 13; ++depth) {
        node = node->add(element("AXGroup", "depth " + std::to_string(depth)));
    }
    const auto taken = lines(digest(window));
    EXPECT_EQ(taken.back(), "depth 12");
    EXPECT_EQ(taken.size(), 12u);
}

TEST_F(Context, WindowTextStopsAt18000CharactersAndCutsEachAttributeAt4000) {
    auto window = element("AXWindow");
    for (char c = 'a'; c <= 'f'; ++c) {
        // 5000 characters, cut to 4000; the title would be taken too but for the total.
        window->add(element("AXStaticText", std::string(5000, c), std::string(3000, c + 6)));
    }
    const auto taken = lines(digest(window));
    // a: 4000 + 3000, b: 4000 + 3000, c: 4000 (18,000 reached: its title is not read).
    // Joined by four line feeds, the whole is cut to 18,000 characters.
    ASSERT_EQ(taken.size(), 5u);
    EXPECT_EQ(taken[0], std::string(4000, 'a'));
    EXPECT_EQ(taken[1], std::string(3000, 'g'));
    EXPECT_EQ(taken[4], std::string(3996, 'c'));
    EXPECT_EQ(window->kids()[3]->reads, 0);
    EXPECT_EQ(digest(window).size(), 18000u);
}

TEST_F(Context, AHungApplicationYieldsWhatWasReadWithinTheBudget) {
    auto window = element("AXWindow", "", "Slow");
    auto field = element("AXTextField", "draft");
    for (int i = 0; i < 100; ++i) {
        window->add(element("AXStaticText", "label " + std::to_string(i)));
    }
    show(window, field);
    // Every read takes 20 ms: the whole capture gives up after 0.5 s.
    auto slow = [this] { clock.advanceBy(platform::Duration(0.02)); };
    field->onRead = slow;
    window->onRead = slow;
    for (const auto& child : window->kids()) {
        child->onRead = slow;
    }
    const auto start = clock.now();
    const auto c = capture();
    const double took = platform::secondsBetween(start, clock.now());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->surroundingText, "draft");
    EXPECT_EQ(c->windowTitle, "Slow");
    const auto taken = lines(c->windowText);
    EXPECT_GE(taken.size(), 1u);
    EXPECT_LT(taken.size(), 100u);
    EXPECT_LE(took, 0.5 + 0.02);
}

}  // namespace
}  // namespace larkspire
