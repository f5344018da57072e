#include "app/DesktopInsertion.h"

#include "unit/insert/InsertionFixture.h"

namespace larkspire::testing {
namespace {

// The dictation flow's view of insertion: the editor's field is captured, then the user
// moves to a terminal before the text arrives.
class DesktopInsertionTest : public InsertionFixture {
  protected:
    void moveToTheTerminal() {
        frontmost.open(terminalWindow());
        log.clear();
    }
    DesktopInsertion insertion{
        InsertionServices{clipboard, keys, frontmost, accessibility, scheduler, clock, systemLog}};
};

TEST_F(DesktopInsertionTest, TheCapturedTargetNotTheWindowInFrontReceivesTheText) {
    focusEditorField(platform::TextRange{5, 3});
    const auto target = insertion.capture();
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processId(), kEditorPid);
    EXPECT_FALSE(target->isSecure());
    moveToTheTerminal();
    insertion.paste(*target, "words", {});
    runUntil(1);
    EXPECT_EQ(log.actions(), (Actions{"activate 6291457", "focus field", "select field 5+3",
                                      "clipboard words", "chord ctrl+v"}));
}

TEST_F(DesktopInsertionTest, TwoDictationsIntoOneFieldFollowEachOtherInsteadOfReplacing) {
    focusEditorField(platform::TextRange{5, 3});
    const auto first = insertion.capture();
    runUntil(3);
    const auto second = insertion.capture();  // before the first text came back
    ASSERT_TRUE(first && second);
    moveToTheTerminal();
    insertion.paste(*first, "one", {});
    insertion.paste(*second, "two", {});
    runUntil(6);
    // The second paste leaves the caret where the first put it.
    EXPECT_EQ(log.actions(),
              (Actions{"activate 6291457", "focus field", "select field 5+3", "clipboard one",
                       "chord ctrl+v", "activate 6291457", "clipboard two", "chord ctrl+v"}));
}

TEST_F(DesktopInsertionTest, PasteFrontGoesToTheWindowInFront) {
    focusEditorField(platform::TextRange{5, 3});
    moveToTheTerminal();
    insertion.pasteFront("ls", {});
    runUntil(1);
    EXPECT_EQ(log.actions(), (Actions{"clipboard ls", "chord ctrl+shift+v"}));
}

TEST_F(DesktopInsertionTest, NothingInFrontCapturesNothing) {
    EXPECT_EQ(insertion.capture(), nullptr);
}

}  // namespace
}  // namespace larkspire::testing
