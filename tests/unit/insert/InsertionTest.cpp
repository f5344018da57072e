#include "insert/InsertionTarget.h"
#include "insert/TerminalEmulators.h"
#include "unit/insert/InsertionFixture.h"

namespace larkspire::testing {
namespace {

using InsertionTest = InsertionFixture;

// Paster

TEST_F(InsertionTest, PasteWritesClipboardThenCtrlVAfterExactlyPointOneTwoSeconds) {
    frontmost.open(editorWindow());
    clipboard.setText("what was there before");
    log.clear();
    paster->paste("héllo wörld");
    EXPECT_EQ(log.actions(), Actions{"clipboard héllo wörld"});
    runUntil(0.119);
    EXPECT_EQ(log.actions(), Actions{"clipboard héllo wörld"});
    runUntil(0.12);
    EXPECT_EQ(log.actions(), (Actions{"clipboard héllo wörld", "chord ctrl+v"}));
    runUntil(5);
    EXPECT_EQ(log.actions().size(), 2u);
    EXPECT_EQ(clipboard.text(), "héllo wörld");
}

TEST_F(InsertionTest, TerminalGetsCtrlShiftVAndNoUndo) {
    frontmost.open(terminalWindow());
    paster->paste("ls");
    runUntil(0.2);
    paster->undo();
    runUntil(2);
    EXPECT_EQ(log.actions(), (Actions{"clipboard ls", "chord ctrl+shift+v"}));
}

TEST_F(InsertionTest, ChordDecidedByTheWindowInFrontWhenItIsSent) {
    frontmost.open(editorWindow());
    paster->paste("x");
    frontmost.open(terminalWindow());  // the user switched meanwhile
    runUntil(0.12);
    EXPECT_EQ(log.actions(), (Actions{"clipboard x", "chord ctrl+shift+v"}));
}

TEST_F(InsertionTest, ChordWaitsUntilTheUserLetsGoOfModifiers) {
    frontmost.open(editorWindow());
    keys.hold(kAltR);
    paster->paste("x");
    runUntil(0.3);
    EXPECT_EQ(log.actions(), Actions{"clipboard x"});
    keys.letGo(kAltR);
    runUntil(0.33);
    EXPECT_EQ(log.actions(), (Actions{"clipboard x", "chord ctrl+v"}));
    // Sent at the first look after the key went up: 0.12 + 10 polls of 0.02.
    EXPECT_NEAR(timeOf("chord"), 0.32, 1e-9);
}

TEST_F(InsertionTest, ModifiersStillHeldAfterOneSecondAreReleasedNotRepressed) {
    frontmost.open(editorWindow());
    keys.hold(kAltR);
    keys.hold(kShiftL);
    paster->paste("x");
    runUntil(1.11);
    EXPECT_EQ(log.actions(), Actions{"clipboard x"});
    runUntil(1.2);
    EXPECT_EQ(log.actions(), (Actions{"clipboard x", "release 50", "release 108", "chord ctrl+v"}));
    EXPECT_NEAR(timeOf("release"), 1.12, 1e-9);
    EXPECT_NEAR(timeOf("chord"), 1.12, 1e-9);
    EXPECT_TRUE(keys.heldModifiers().empty());
}

TEST_F(InsertionTest, UndoSendsCtrlZAtOnce) {
    frontmost.open(editorWindow());
    paster->undo();
    EXPECT_EQ(log.actions(), Actions{"chord ctrl+z"});
}

TEST_F(InsertionTest, UndoWaitsForModifiersToo) {
    frontmost.open(editorWindow());
    keys.hold(kAltR);
    paster->undo();
    EXPECT_TRUE(log.actions().empty());
    runUntil(0.04);
    keys.letGo(kAltR);
    runUntil(0.07);
    EXPECT_EQ(log.actions(), Actions{"chord ctrl+z"});
    EXPECT_NEAR(timeOf("chord"), 0.06, 1e-6);
}

TEST_F(InsertionTest, PendingChordOfAGonePasterIsDropped) {
    frontmost.open(editorWindow());
    paster->paste("x");
    paster.reset();
    runUntil(1);
    EXPECT_EQ(log.actions(), Actions{"clipboard x"});
}

TEST(TerminalEmulators, KnownByClassOrInstanceInAnyCase) {
    EXPECT_TRUE(isTerminalEmulator({1, 2, "XTerm", "xterm", ""}));
    EXPECT_TRUE(isTerminalEmulator({1, 2, "Gnome-terminal", "gnome-terminal-server", ""}));
    EXPECT_TRUE(isTerminalEmulator({1, 2, "", "Alacritty", ""}));
    EXPECT_FALSE(isTerminalEmulator({1, 2, "Gedit", "gedit", ""}));
    EXPECT_FALSE(isTerminalEmulator({1, 2, "", "", ""}));
    EXPECT_FALSE(isTerminalEmulator({1, 2, "Xtermish", "st-like", ""}));
}

// InsertionTarget

TEST_F(InsertionTest, NoWindowInFrontGivesNoTarget) {
    EXPECT_FALSE(InsertionTarget::capture(frontmost, accessibility).has_value());
}

TEST_F(InsertionTest, CaptureReadsRoleSubroleAndSelection) {
    focusEditorField(platform::TextRange{5, 3});
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processIdentifier, kEditorPid);
    EXPECT_EQ(target->window, editorWindow());
    EXPECT_FALSE(target->isSecure);
    ASSERT_TRUE(target->focusedElement);
    EXPECT_EQ(target->selectedRange, (platform::TextRange{5, 3}));
}

TEST_F(InsertionTest, SecureOnlyForTextFieldsWithASecureSubroleInAnyCase) {
    frontmost.open(editorWindow());
    struct Case {
        const char* role;
        const char* subrole;
        bool secure;
    };
    for (const Case& c :
         {Case{"AXTextField", "AXSecureTextField", true}, Case{"AXTextField", "SECURE", true},
          Case{"AXTextField", "AXSearchField", false},
          Case{"AXTextArea", "AXSecureTextField", false}, Case{"AXStaticText", "secure", false}}) {
        accessibility.setFocused(
            kEditorPid, std::make_shared<FakeAccessibleElement>(log, "e", c.role, c.subrole));
        auto target = InsertionTarget::capture(frontmost, accessibility);
        ASSERT_TRUE(target);
        EXPECT_EQ(target->isSecure, c.secure) << c.role << " " << c.subrole;
    }
}

TEST_F(InsertionTest, WithoutAccessibleFocusTheTargetKeepsProcessAndWindow) {
    frontmost.open(editorWindow());
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processIdentifier, kEditorPid);
    EXPECT_FALSE(target->focusedElement);
    EXPECT_FALSE(target->selectedRange);
    EXPECT_FALSE(target->isSecure);
}

TEST_F(InsertionTest, TheAgentsOwnWindowIsNeverAskedThroughAccessibility) {
    frontmost.open({0x100, frontmost.ownProcess(), "Larkspire", "larkspire", "Larkspire"});
    accessibility.setFocused(frontmost.ownProcess(),
                             std::make_shared<FakeAccessibleElement>(log, "own", "AXTextField"));
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processIdentifier, frontmost.ownProcess());
    EXPECT_FALSE(target->focusedElement);
    EXPECT_TRUE(accessibility.queried().empty());
}

TEST_F(InsertionTest, PasteActivatesThenRestoresSelectionThenPastes) {
    focusEditorField(platform::TextRange{5, 3});
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    frontmost.open(terminalWindow());  // the user moved on while the text was coming
    target->paste("new", *paster);
    runUntil(2);
    EXPECT_EQ(log.actions(), (Actions{"activate 6291457", "focus field", "select field 5+3",
                                      "clipboard new", "chord ctrl+v"}));
    EXPECT_NEAR(timeOf("activate"), 0.0, 1e-9);
    EXPECT_NEAR(timeOf("focus"), 0.2, 1e-9);
    EXPECT_NEAR(timeOf("clipboard"), 0.2, 1e-9);
    EXPECT_NEAR(timeOf("chord"), 0.32, 1e-9);
}

TEST_F(InsertionTest, WithoutRangeOnlyFocusIsRestored) {
    frontmost.open(editorWindow());
    accessibility.setFocused(kEditorPid,
                             std::make_shared<FakeAccessibleElement>(log, "area", "AXTextArea"));
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    target->paste("x", *paster);
    runUntil(1);
    EXPECT_EQ(log.actions(),
              (Actions{"activate 6291457", "focus area", "clipboard x", "chord ctrl+v"}));
}

TEST_F(InsertionTest, ClosedWindowFallsBackToAnotherWindowOfTheProcess) {
    frontmost.open(editorWindow());
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    frontmost.close(kEditorWindow);
    frontmost.open({0x600002, kEditorPid, "Gedit", "gedit", "Text Editor"}, false);
    target->paste("x", *paster);
    runUntil(1);
    EXPECT_EQ(log.actions(), (Actions{"activate 6291458", "clipboard x", "chord ctrl+v"}));
}

TEST_F(InsertionTest, QuitTargetStillPastesIntoWhateverIsInFront) {
    focusEditorField(platform::TextRange{0, 0});
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    frontmost.close(kEditorWindow);
    frontmost.open(terminalWindow());
    target->paste("x", *paster);
    runUntil(1);
    EXPECT_EQ(log.actions(),
              (Actions{"focus field", "select field 0+0", "clipboard x", "chord ctrl+shift+v"}));
}

}  // namespace
}  // namespace larkspire::testing
