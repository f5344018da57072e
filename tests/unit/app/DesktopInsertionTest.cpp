#include "app/DesktopInsertion.h"

#include <gtest/gtest.h>

#include "platform/fake/ActionLog.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeClipboard.h"
#include "platform/fake/FakeFrontmostApp.h"
#include "platform/fake/FakeKeyInjector.h"
#include "platform/fake/FakeScheduler.h"

namespace larkspire {
namespace {

using Actions = std::vector<std::string>;

// The dictation flow's view of insertion over the fakes of the desktop: an editor whose
// field is captured, and a terminal the user moves to before the text arrives.
class DesktopInsertionTest : public ::testing::Test {
  protected:
    DesktopInsertionTest() {
        frontmost.open({0x600001, 4242, "Gedit", "gedit", "Text Editor"});
        accessibility.setFocused(
            4242, std::make_shared<fake::FakeAccessibleElement>(log, "field", "AXTextField", "",
                                                                platform::TextRange{5, 3}));
    }
    void moveToTheTerminal() {
        frontmost.open({0x700001, 5151, "XTerm", "xterm", "XTerm"});
        log.clear();
    }

    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::ActionLog log{clock};
    fake::FakeClipboard clipboard{&log};
    fake::FakeKeyInjector keys{log};
    fake::FakeFrontmostApp frontmost{log};
    fake::FakeAccessibility accessibility;
    DesktopInsertion insertion{
        InsertionServices{clipboard, keys, frontmost, accessibility, scheduler, clock}};
};

TEST_F(DesktopInsertionTest, TheCapturedTargetNotTheWindowInFrontReceivesTheText) {
    const auto target = insertion.capture();
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processId(), 4242);
    EXPECT_FALSE(target->isSecure());
    moveToTheTerminal();
    insertion.paste(*target, "words");
    scheduler.advance(platform::Duration(1));
    EXPECT_EQ(log.actions(), (Actions{"activate 6291457", "focus field", "select field 5+3",
                                      "clipboard words", "chord ctrl+v"}));
}

TEST_F(DesktopInsertionTest, PasteFrontGoesToTheWindowInFront) {
    moveToTheTerminal();
    insertion.pasteFront("ls");
    scheduler.advance(platform::Duration(1));
    EXPECT_EQ(log.actions(), (Actions{"clipboard ls", "chord ctrl+shift+v"}));
}

TEST_F(DesktopInsertionTest, NothingInFrontCapturesNothing) {
    frontmost.clearFront();
    EXPECT_EQ(insertion.capture(), nullptr);
}

}  // namespace
}  // namespace larkspire
