#include "unit/vault/VaultFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::set;
using std::string;

// Whatever the service or the state file says, only entries directly inside the notes
// folder change.
using VaultSafetyTest = VaultTest;

TEST_F(VaultSafetyTest, HostileIdsAreSkippedAndTheOtherNotesStillMirrored) {
    writeFile(outside / "victim.md", "precious\n");
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Kept")});
    pass(*vault);
    // With this folder present, "/../../o" in a name would resolve to the vault root.
    fs::create_directories(notesDir() / "2025-03-04 0506 Note ");
    const auto before = snapshot(outside);

    // The file name carries the id's first 8 characters; each of these holds a separator
    // or a NUL there.
    for (const string& id :
         std::vector<string>{"../../../outside/victim", "/../../outside", "a/../../b", "../.bashrc",
                             string("\0/etc/passwd", 12), "x\\/..\\/y"}) {
        SCOPED_TRACE(json(id).dump());
        const size_t errorsBefore = errorCount();
        setNotes({note(kIdA, kAt, "Kept"), note(id, kAt, ""), note(kIdB, kAt, "")});
        pass(*vault);
        EXPECT_EQ(errorCount(), errorsBefore + 1);
        EXPECT_EQ(snapshot(outside), before);
        EXPECT_TRUE(
            fs::exists(notesDir() / ("2025-03-04 0506 Note " + string(kIdB).substr(0, 8) + ".md")));
        EXPECT_FALSE(readState()["files"].contains(id));
    }
}

TEST_F(VaultSafetyTest, HostileTitlesStayInsideTheFolder) {
    writeFile(outside / "victim.md", "precious\n");
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "../../../outside/victim.md"), note(kIdB, kAt, "..\\..\\outside"),
              note(kIdC, kAt, "/"), note(kIdD, kAt, "..")});
    pass(*vault);
    EXPECT_EQ(errorCount(), 0u);
    EXPECT_EQ(notesListing(),
              (set<string>{"2025-03-04 0506 ......outsidevictim.md 0f8fad5b.md",
                           "2025-03-04 0506 ....outside 7c9e6679.md",
                           "2025-03-04 0506  16fd2706.md", "2025-03-04 0506 .. 886313e1.md"}));
    EXPECT_EQ(readText(outside / "victim.md"), "precious\n");
    EXPECT_EQ(snapshot(outside).size(), 1u);
}

TEST_F(VaultSafetyTest, StateFileCannotDirectDeletionsOutsideTheFolder) {
    writeFile(outside / "victim.md", "precious\n");
    writeFile(home / "Vantrel" / "victim2.md", "precious\n");
    writeFile(notesDir() / "owned.md", "mine to delete\n");
    writeFile(notesDir() / "Folder" / "inside.md", "user data\n");
    const string absolute = (outside / "victim.md").string();
    writeFile(stateFile(), json{{"lastCreatedAt", ""},
                                {"syncedIds", json::array()},
                                {"files",
                                 {{"a", "../../../outside/victim.md"},
                                  {"b", absolute},
                                  {"c", "../victim2.md"},
                                  {"d", "Folder/../../victim2.md"},
                                  {"e", "."},
                                  {"f", ".."},
                                  {"g", "Folder"},
                                  {"h", "Folder/inside.md"},
                                  {"i", string("owned.md\0/../../victim2.md", 26)},
                                  {"owned", "owned.md"}}}}
                               .dump());
    auto vault = makeVault();
    setNotes({});
    pass(*vault);

    EXPECT_EQ(readText(outside / "victim.md"), "precious\n");
    EXPECT_EQ(readText(home / "Vantrel" / "victim2.md"), "precious\n");
    EXPECT_EQ(readText(notesDir() / "Folder" / "inside.md"), "user data\n");
    // The one legitimate entry was deleted: deletions did run in this pass.
    EXPECT_EQ(notesListing(), (set<string>{"Folder"}));
    EXPECT_EQ(readState()["files"], json::object());
}

TEST_F(VaultSafetyTest, LinksInsideTheFolderAreReplacedOrRemovedNeverFollowed) {
    writeFile(outside / "victim.md", "precious\n");
    writeFile(outside / "victim2.md", "precious too\n");
    fs::create_directories(notesDir());
    // A link carrying the name a note will be written to...
    fs::create_symlink(outside / "victim.md", notesDir() / "2025-03-04 0506 Linked 0f8fad5b.md");
    // ...and one carrying the name of an owned file whose note is gone.
    fs::create_symlink(outside / "victim2.md", notesDir() / "gone.md");
    writeFile(
        stateFile(),
        json{{"lastCreatedAt", ""}, {"syncedIds", json::array()}, {"files", {{kIdB, "gone.md"}}}}
            .dump());
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Linked", {{"text", "note text"}})});
    pass(*vault);

    EXPECT_EQ(readText(outside / "victim.md"), "precious\n");
    EXPECT_EQ(readText(outside / "victim2.md"), "precious too\n");
    const fs::path written = notesDir() / "2025-03-04 0506 Linked 0f8fad5b.md";
    EXPECT_FALSE(fs::is_symlink(written));
    EXPECT_NE(readText(written).find("\nnote text\n"), string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(notesDir() / "gone.md")));
}

TEST_F(VaultSafetyTest, ALinkedVaultFolderIsFollowedToItsTarget) {
    // The configured folder itself may be a link (a synced drive); that is where notes go.
    fs::create_directories(outside / "Drive");
    fs::create_symlink(outside / "Drive", home / "Drive");
    auto vault = makeVault("~/Drive");
    setNotes({note(kIdA, kAt, "Call the bank")});
    pass(*vault);
    EXPECT_TRUE(fs::is_regular_file(outside / "Drive" / "Notes" /
                                    "2025-03-04 0506 Call the bank 0f8fad5b.md"));
}

TEST_F(VaultSafetyTest, NameTooLongForTheFileSystemFailsCleanly) {
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Call the bank")});
    pass(*vault);
    const auto before = snapshot(root);

    // 60 user-perceived characters of 11 bytes each: well past the 255-byte name limit.
    string heavy;
    for (int i = 0; i < 60; ++i) {
        heavy += "a\xCC\x81\xCC\x81\xCC\x81\xCC\x81\xCC\x81";
    }
    setNotes({note(kIdA, kAt, "Call the bank"), note(kIdB, kAt, heavy)});
    pass(*vault);
    EXPECT_EQ(errorCount(), 1u);
    // No temporary file is left behind, and the state is as the last complete pass left it.
    EXPECT_EQ(snapshot(root), before);
}

}  // namespace
}  // namespace larkspire::testing
