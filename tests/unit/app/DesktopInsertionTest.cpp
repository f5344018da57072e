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

// The captured field, not the window in front, receives the text.
TEST_F(DesktopInsertionTest, TwoDictationsIntoOneFieldFollowEachOtherInsteadOfReplacing) {
    EXPECT_EQ(insertion.capture(), nullptr) << "nothing in front";
    focusEditorField(platform::TextRange{5, 3});
    const auto first = insertion.capture();
    runUntil(3);
    const auto second = insertion.capture();  // before the first text came back
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->processIdentifier, kEditorPid);
    EXPECT_FALSE(first->isSecure);
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

}  // namespace
}  // namespace larkspire::testing
