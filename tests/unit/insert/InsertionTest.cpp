#include "insert/InsertionTarget.h"
#include "insert/PasteMethod.h"
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
    paster->paste("y");
    paster.reset();
    runUntil(1);
    EXPECT_EQ(log.actions(), Actions{"clipboard x"});
}

TEST(PasteMethodTest, EachApplicationGetsTheChordItPastesWith) {
    using platform::ChordKey;
    const std::vector<Chord> ctrlV{{ChordKey::control, ChordKey::v}};
    const std::vector<Chord> ctrlShiftV{{ChordKey::control, ChordKey::shift, ChordKey::v}};
    const std::vector<Chord> shiftInsert{{ChordKey::shift, ChordKey::insert}};
    const std::vector<Chord> ctrlY{{ChordKey::control, ChordKey::y}};
    // Vim's own insert-mode paste, which needs no mapping from a startup file.
    const std::vector<Chord> ctrlRO{{ChordKey::control, ChordKey::r},
                                    {ChordKey::control, ChordKey::o},
                                    {ChordKey::shift, ChordKey::plus}};
    struct Case {
        platform::FrontWindow window;  // class, instance, name, process
        std::vector<Chord> paste;
        bool primary;
        bool undo;
    };
    const std::vector<Case> cases = {
        {{1, 2, "Gedit", "gedit", "Text Editor", "gedit"}, ctrlV, false, true},
        {{1, 2, "firefox-esr", "Navigator", "Firefox ESR", "firefox-esr"}, ctrlV, false, true},
        {{1, 2, "", "", "", ""}, ctrlV, false, true},
        {{1, 2, "XTerm", "xterm", "XTerm", "xterm"}, shiftInsert, true, false},
        {{1, 2, "UXTerm", "uxterm", "UXTerm", "xterm"}, shiftInsert, true, false},
        {{1, 2, "URxvt", "urxvt", "URxvt", "urxvt"}, shiftInsert, true, false},
        {{1, 2, "Gnome-terminal", "gnome-terminal-server", "Terminal", ""},
         ctrlShiftV,
         false,
         false},
        {{1, 2, "", "Alacritty", "", ""}, ctrlShiftV, false, false},
        {{1, 2, "kitty", "kitty", "kitty", "kitty"}, ctrlShiftV, false, false},
        {{1, 2, "St", "st", "st", "st"}, ctrlShiftV, false, false},
        // Known by its process alone (a WM_CLASS set by a wrapper).
        {{1, 2, "Wrapper", "wrapper", "Wrapper", "konsole"}, ctrlShiftV, false, false},
        // An unlisted terminal emulator.
        {{1, 2, "Zebraterm", "zebraterm", "Zebra Term", "zebraterm"}, ctrlShiftV, false, false},
        {{1, 2, "Gvim", "gvim", "GVim", "vim"}, ctrlRO, true, false},
        {{1, 2, "Emacs", "emacs", "Emacs", "emacs"}, ctrlY, false, false},
    };
    for (const auto& c : cases) {
        const auto method = PasteMethod::forWindow(c.window);
        EXPECT_EQ(method.paste, c.paste) << c.window.windowClass << " " << chordName(method.paste);
        EXPECT_EQ(method.offerPrimary, c.primary) << c.window.windowClass;
        EXPECT_EQ(method.undo.has_value(), c.undo) << c.window.windowClass;
    }
    EXPECT_EQ(chordName(ctrlRO), "Ctrl+R, Ctrl+O, Shift+Plus");
}

// The paste queue

TEST_F(InsertionTest, APasteGivenDuringAnotherWaitsUntilTheFirstChordWasDelivered) {
    frontmost.open(editorWindow());
    paster->paste("one");
    runUntil(0.05);
    paster->paste("two");
    runUntil(3);
    EXPECT_EQ(log.actions(),
              (Actions{"clipboard one", "chord ctrl+v", "clipboard two", "chord ctrl+v"}));
    EXPECT_NEAR(log.entries()[1].seconds, 0.12, 1e-9);
    // The first paste owns the clipboard for its hold after the chord.
    EXPECT_NEAR(log.entries()[2].seconds, 0.12 + 0.5, 1e-9);
    EXPECT_NEAR(log.entries()[3].seconds, 0.12 + 0.5 + 0.12, 1e-9);
    EXPECT_EQ(paster->pending(), 0u);
}

TEST_F(InsertionTest, WaitingForReleasedModifiersKeepsTheNextPasteBack) {
    frontmost.open(editorWindow());
    keys.hold(kAltR);
    paster->paste("one");
    paster->paste("two");
    runUntil(0.5);
    EXPECT_EQ(log.actions(), Actions{"clipboard one"});
    EXPECT_EQ(clipboard.text(), "one");
    keys.letGo(kAltR);
    runUntil(3);
    EXPECT_EQ(log.actions(),
              (Actions{"clipboard one", "chord ctrl+v", "clipboard two", "chord ctrl+v"}));
}

TEST_F(InsertionTest, QueuedTargetsAreActivatedOneAfterTheOtherInOrder) {
    focusEditorField(platform::TextRange{0, 0});
    auto first = InsertionTarget::capture(frontmost, accessibility);
    frontmost.open(terminalWindow());
    auto second = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(first && second);
    std::vector<std::string> pasted;
    first->paste("one", *paster,
                 [&](bool, bool undoable) { pasted.push_back(undoable ? "1u" : "1"); });
    second->paste("two", *paster,
                  [&](bool, bool undoable) { pasted.push_back(undoable ? "2u" : "2"); });
    runUntil(5);
    EXPECT_EQ(log.actions(),
              (Actions{"activate 6291457", "focus field", "select field 0+0", "clipboard one",
                       "chord ctrl+v", "activate 7340033", "clipboard two", "chord ctrl+shift+v"}));
    EXPECT_NEAR(timeOf("activate 7340033"), 0.32 + 0.5, 1e-9);
    // Undo is offered for the editor, not for the terminal.
    EXPECT_EQ(pasted, (std::vector<std::string>{"1u", "2"}));
}

TEST_F(InsertionTest, XtermGetsShiftInsertWithTheTextOnPrimaryAsWell) {
    frontmost.open({0x800001, 6161, "XTerm", "xterm", "XTerm", "xterm"});
    paster->paste("echo hi");
    runUntil(1);
    EXPECT_EQ(log.actions(),
              (Actions{"clipboard echo hi", "primary echo hi", "chord shift+insert"}));
    ASSERT_FALSE(systemLog.lines.empty());
    EXPECT_EQ(systemLog.lines.back(),
              "Larkspire: pasted with Shift+Insert into \"XTerm\" (WM_CLASS xterm.XTerm, process "
              "xterm)");
}

TEST_F(InsertionTest, OrdinaryApplicationsKeepTheirSelectionBecausePrimaryIsLeftAlone) {
    focusEditorField(platform::TextRange{2, 4});
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    target->paste("new", *paster);
    runUntil(1);
    EXPECT_FALSE(clipboard.primary().has_value());
    EXPECT_EQ(log.actions().back(), "chord ctrl+v");
}

TEST_F(InsertionTest, SwitchingToAnXtermBeforeTheChordOffersPrimaryFirst) {
    frontmost.open(editorWindow());
    paster->paste("x");
    frontmost.open({0x800001, 6161, "XTerm", "xterm", "XTerm", "xterm"});
    runUntil(1);
    EXPECT_EQ(log.actions(), (Actions{"clipboard x", "primary x", "chord shift+insert"}));
    EXPECT_NEAR(timeOf("chord"), 0.24, 1e-9);
}

TEST_F(InsertionTest, UndoReportsWhetherAChordWasSent) {
    std::vector<bool> sent;
    frontmost.open(editorWindow());
    paster->undo([&](bool s) { sent.push_back(s); });
    frontmost.open(terminalWindow());
    paster->undo([&](bool s) { sent.push_back(s); });
    EXPECT_EQ(sent, (std::vector<bool>{true, false}));
    EXPECT_EQ(log.actions(), Actions{"chord ctrl+z"});  // at once, before any time passed
    runUntil(2);
    EXPECT_EQ(log.actions(), Actions{"chord ctrl+z"});
}

TEST_F(InsertionTest, AnUndoGivenWhilePastesWaitFollowsThem) {
    frontmost.open(editorWindow());
    paster->paste("one");
    paster->paste("two");
    paster->undo();
    runUntil(5);
    EXPECT_EQ(log.actions(), (Actions{"clipboard one", "chord ctrl+v", "clipboard two",
                                      "chord ctrl+v", "chord ctrl+z"}));
}

TEST_F(InsertionTest, AGoneKeyboardSaysNothingWasPastedAndOffersNoUndo) {
    frontmost.open(editorWindow());
    keys.gone = true;
    std::vector<bool> told;  // sent, undoable, then whether the undo was sent
    paster->paste("kept", [&](bool sent, bool undoable) {
        told.insert(told.end(), {sent, undoable});
    });
    paster->undo([&](bool sent) { told.push_back(sent); });
    runUntil(5);
    EXPECT_EQ(told, (std::vector<bool>{false, false, false}));
    ASSERT_FALSE(systemLog.lines.empty());
    EXPECT_EQ(systemLog.lines.front().rfind("Larkspire: nothing pasted into \"", 0), 0u)
        << systemLog.lines.front();
    for (const auto& line : systemLog.lines) {
        EXPECT_EQ(line.find("pasted with"), std::string::npos) << line;
    }
    EXPECT_EQ(clipboard.text(), "kept") << "the text waits on the clipboard";
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

TEST_F(InsertionTest, TheAgentsOwnWindowIsNeverATargetNorAskedThroughAccessibility) {
    frontmost.open({0x100, frontmost.ownProcess(), "Larkspire", "larkspire", "Larkspire"});
    accessibility.setFocused(frontmost.ownProcess(),
                             std::make_shared<FakeAccessibleElement>(log, "own", "AXTextField"));
    EXPECT_FALSE(InsertionTarget::capture(frontmost, accessibility)) << "no other window";
    EXPECT_TRUE(accessibility.queried().empty());
}

TEST_F(InsertionTest, WithTheAgentsOwnWindowInFrontTheLastOtherWindowIsTheTarget) {
    focusEditorField(platform::TextRange{1, 0});
    frontmost.open(terminalWindow(), false);  // behind the editor
    frontmost.open({0x100, frontmost.ownProcess(), "Larkspire", "larkspire", "Larkspire"});
    auto target = InsertionTarget::capture(frontmost, accessibility);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processIdentifier, kEditorPid);
    EXPECT_EQ(target->window, editorWindow());
    ASSERT_TRUE(target->focusedElement);
    target->paste("x", *paster);
    runUntil(1);
    EXPECT_EQ(log.actions().front(), "activate 6291457");
    EXPECT_EQ(log.actions().back(), "chord ctrl+v");
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
