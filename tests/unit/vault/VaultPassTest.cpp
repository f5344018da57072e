#include "unit/vault/VaultFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::set;
using std::string;

using VaultPassTest = VaultTest;

const string kNameA = "2025-03-04 0506 Call the bank 0f8fad5b.md";

TEST_F(VaultPassTest, PathsFollowTheHomeDirectoryAndTouchNothingAtConstruction) {
    auto standard = makeVault();
    EXPECT_EQ(standard->vaultDir(), home / "Vantrel" / "Notes");
    EXPECT_EQ(standard->stateFile(), home / ".vantrel" / "vault_state.json");
    EXPECT_EQ(makeVault("~/Sync~")->vaultDir(),
              fs::path(home.string() + "/Sync" + home.string()) / "Notes");
    EXPECT_EQ(makeVault(outside.string() + "/")->vaultDir(), outside / "Notes");
    EXPECT_EQ(snapshot(root),
              (std::map<string, string>{{"home", "<folder>"}, {"outside", "<folder>"}}));
    EXPECT_EQ(fetches(), 0);
}

TEST_F(VaultPassTest, WritesCurrentNotesAndRemembersThem) {
    setNotes({
        note(kIdA, "2025-03-04T05:06:07.123Z", "Call the bank",
             {{"text", "call them"}, {"archived_at", nullptr}}),
        note(kIdB, "2025-03-04T05:30:00+02:00", "", {{"text", "later in the string"}}),
        note(kIdC, "2025-03-05T00:00:00Z", "Archived", {{"archived_at", "2025-03-06T00:00:00Z"}}),
        json{{"created_at", "2025-03-05T00:00:00Z"}, {"title", "no id"}},
        json{{"id", 7}, {"created_at", "2025-03-05T00:00:00Z"}},
        json{{"id", kIdD}, {"title", "no date"}},
    });
    auto vault = makeVault();
    pass(*vault);

    EXPECT_EQ(transport->sent().at(0).url, "http://service.test/api/notes?full=1");
    const string nameB = "2025-03-04 0330 Note 7c9e6679.md";
    EXPECT_EQ(notesListing(), (set<string>{kNameA, nameB}));
    EXPECT_EQ(readText(notesDir() / kNameA),
              "---\nid: 0f8fad5b-d9cb-469f-a165-70867728950e\ndate: 2025-03-04T05:06:07.123Z\n"
              "source: web\n---\n\ncall them\n");
    EXPECT_EQ(log.lines, (std::vector<string>{"VaultSync: wrote 2 notes"}));

    // Creation times compare as plain text: "…T05:30:00+02:00" is greater although it is
    // the earlier moment.
    EXPECT_EQ(readState(), json::parse(R"({"lastCreatedAt":"2025-03-04T05:30:00+02:00",
        "syncedIds":[")" + string(kIdA) +
                                       R"(",")" + kIdB + R"("],
        "files":{")" + kIdA + R"(":")" +
                                       kNameA + R"(",")" + kIdB + R"(":")" + nameB + R"("}})"));
    // No temporary file is left behind.
    for (const auto& name : notesListing()) {
        EXPECT_NE(name.front(), '.') << name;
    }
}

TEST_F(VaultPassTest, RenamesWhenTitleOrMinuteChanges) {
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Call the bank"), note(kIdB, kAt, "Stays")});
    pass(*vault);
    const string nameB = "2025-03-04 0506 Stays 7c9e6679.md";
    ASSERT_EQ(notesListing(), (set<string>{kNameA, nameB}));

    setNotes({note(kIdA, kAt, "Call the bank today", {{"text", "v2"}}), note(kIdB, kAt, "Stays")});
    pass(*vault);
    const string renamed = "2025-03-04 0506 Call the bank today 0f8fad5b.md";
    EXPECT_EQ(notesListing(), (set<string>{renamed, nameB}));
    EXPECT_NE(readText(notesDir() / renamed).find("\nv2\n"), string::npos);

    setNotes({note(kIdA, "2025-03-04T05:07:00Z", "Call the bank today"), note(kIdB, kAt, "Stays")});
    pass(*vault);
    const string moved = "2025-03-04 0507 Call the bank today 0f8fad5b.md";
    EXPECT_EQ(notesListing(), (set<string>{moved, nameB}));
    EXPECT_EQ(readState()["files"][kIdA], moved);
}

TEST_F(VaultPassTest, ArchivingDeletesTheFileAndNullDoesNot) {
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Call the bank"), note(kIdB, kAt, "Other")});
    pass(*vault);
    ASSERT_EQ(notesListing().size(), 2u);

    setNotes({note(kIdA, kAt, "Call the bank", {{"archived_at", "2025-04-01T00:00:00Z"}}),
              note(kIdB, kAt, "Other", {{"archived_at", nullptr}})});
    pass(*vault);
    EXPECT_EQ(notesListing(), (set<string>{"2025-03-04 0506 Other 7c9e6679.md"}));
    EXPECT_EQ(readState()["files"], (json{{kIdB, "2025-03-04 0506 Other 7c9e6679.md"}}));
    // The archived note was written once, so it stays among the synced ids.
    EXPECT_EQ(readState()["syncedIds"].size(), 2u);
}

TEST_F(VaultPassTest, EmptyListPrunesEveryOwnedFileAndNothingElse) {
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Call the bank"), note(kIdB, kAt, "Two"), note(kIdC, kAt, "Three")});
    pass(*vault);
    ASSERT_EQ(notesListing().size(), 3u);
    writeFile(notesDir() / "Shopping.md", "# mine\n");
    writeFile(notesDir() / "Unowned.md", headedFile(kIdD));  // "files" exists: never adopted

    setNotes({});
    pass(*vault);
    EXPECT_EQ(notesListing(), (set<string>{"Shopping.md", "Unowned.md"}));
    EXPECT_EQ(readState()["files"], json::object());
    EXPECT_EQ(logCount("VaultSync: wrote 3 notes"), 1u);
    EXPECT_EQ(log.lines.size(), 1u);  // nothing written, so no second line
}

TEST_F(VaultPassTest, WithoutStateFileNothingIsDeleted) {
    const string generated = "2025-03-04 0506 Call the bank 0f8fad5b.md";
    writeFile(notesDir() / "Old note.md", headedFile(kIdB));
    writeFile(notesDir() / generated, "user text that happens to carry the generated name\n");
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Call the bank", {{"text", "new"}})});
    pass(*vault);
    EXPECT_EQ(notesListing(), (set<string>{"Old note.md", generated}));
    EXPECT_EQ(readText(notesDir() / "Old note.md"), headedFile(kIdB));
    EXPECT_NE(readText(notesDir() / generated).find("\nnew\n"), string::npos);

    setNotes({});
    pass(*vault);
    EXPECT_EQ(notesListing(), (set<string>{"Old note.md"}));
}

TEST_F(VaultPassTest, UnreadableStateFileMeansEmptyMappingNotAdoption) {
    writeFile(stateFile(), R"({"lastCreatedAt":"","syncedIds":[],"files":[1]})");
    writeFile(notesDir() / "Old note.md", headedFile(kIdB));
    auto vault = makeVault();
    setNotes({});
    pass(*vault);
    EXPECT_EQ(notesListing(), (set<string>{"Old note.md"}));
    EXPECT_EQ(readState(), json::parse(R"({"lastCreatedAt":"","syncedIds":[],"files":{}})"));
}

TEST_F(VaultPassTest, StateWithoutFilesAdoptsOnlyUuidHeadedMarkdown) {
    for (const string state : {R"({"lastCreatedAt":"x","syncedIds":["q"]})",
                               R"({"lastCreatedAt":"x","syncedIds":["q"],"files":null})"}) {
        SCOPED_TRACE(state);
        fs::remove_all(home);
        writeFile(stateFile(), state);
        // Every file its own id: a file adopted by mistake is then deleted and shows.
        const auto id = [](int n) {
            return "9b2c0e8e-0a51-4c1e-9f47-2d1f8c3a7b" + std::to_string(n);
        };
        // Adopted (and, as their notes are gone, deleted):
        writeFile(notesDir() / "gone.md", headedFile(id(65)));
        writeFile(notesDir() / "UPPER.MD", headedFile("9B2C0E8E-0A51-4C1E-9F47-2D1F8C3A7B66"));
        writeFile(notesDir() / "near the limit.md", string(450, 'x') + "\nid: " + id(67) + "\n");
        writeFile(notesDir() / "trailing space.md", "id: " + id(68) + " \t\n");
        // Adopted and renamed: its note is current under another name.
        writeFile(notesDir() / "current old name.md", headedFile(kIdA));
        // Never managed:
        const std::map<string, string> kept = {
            {"mine.md", "---\nid: not-a-uuid\n---\n"},
            {"second id line.md", "---\nid: mine\nid: " + id(70) + "\n"},
            {"late id.md", string(499, 'x') + "\nid: " + id(69) + "\n"},
            {".hidden.md", headedFile(id(71))},
            {"text.txt", headedFile(id(72))},
            {"invalid utf8.md", headedFile(id(73)) + "\xFF\xFE\n"},
            {"crlf.md", "---\r\nid: " + id(74) + "\r\n---\r\n"},
            {"no space.md", "id:" + id(75) + "\n"},
        };
        for (const auto& [name, bytes] : kept) {
            writeFile(notesDir() / name, bytes);
        }
        fs::create_directories(notesDir() / "folder.md");

        auto vault = makeVault();
        setNotes({note(kIdA, kAt, "Call the bank")});
        pass(*vault);

        set<string> expected = {kNameA, "folder.md"};
        for (const auto& [name, bytes] : kept) {
            expected.insert(name);
            EXPECT_EQ(readText(notesDir() / name), bytes) << name;
        }
        EXPECT_EQ(notesListing(), expected);
        EXPECT_EQ(readState()["files"], (json{{kIdA, kNameA}}));
        EXPECT_EQ(readState()["lastCreatedAt"], "x");
    }
}

TEST_F(VaultPassTest, FailedWriteEndsThePassWithoutDeletionsOrState) {
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Call the bank"), note(kIdB, kAt, "Soon archived")});
    pass(*vault);
    const string stateAfterFirst = readText(stateFile());
    const string nameB = "2025-03-04 0506 Soon archived 7c9e6679.md";

    // A folder occupies the name the third note needs.
    const string blocked = "2025-03-04 0506 Blocked 16fd2706.md";
    fs::create_directories(notesDir() / blocked);
    setNotes({note(kIdA, kAt, "Renamed first"), note(kIdC, kAt, "Blocked"),
              note(kIdD, kAt, "Never reached")});
    pass(*vault);

    const string renamedA = "2025-03-04 0506 Renamed first 0f8fad5b.md";
    // The first note was handled (old name gone, new written), the pass then stopped:
    // the archived note's file survives and the last note was not written.
    EXPECT_EQ(notesListing(), (set<string>{renamedA, nameB, blocked}));
    EXPECT_EQ(readText(stateFile()), stateAfterFirst);
    EXPECT_EQ(errorCount(), 1u);
    EXPECT_NE(log.lines.back().find(blocked), string::npos) << log.lines.back();
    EXPECT_EQ(logCount("VaultSync: wrote 2 notes"), 1u);
    EXPECT_EQ(log.lines.size(), 2u);

    // Once the way is clear, the next pass completes from the remembered mapping.
    fs::remove(notesDir() / blocked);
    pass(*vault);
    const string nameC = blocked, nameD = "2025-03-04 0506 Never reached 886313e1.md";
    EXPECT_EQ(notesListing(), (set<string>{renamedA, nameC, nameD}));
    EXPECT_EQ(readState()["files"], (json{{kIdA, renamedA}, {kIdC, nameC}, {kIdD, nameD}}));
    EXPECT_EQ(readState()["syncedIds"].get<set<string>>(), (set<string>{kIdA, kIdB, kIdC, kIdD}));
}

TEST_F(VaultPassTest, FetchFailuresChangeNothing) {
    auto vault = makeVault();
    setNotes({note(kIdA, kAt, "Call the bank")});
    pass(*vault);
    const auto before = snapshot(root);

    const std::vector<std::pair<std::pair<int, string>, string>> cases = {
        {{500, R"({"notes":[]})"}, "VaultSync error: notes fetch HTTP 500"},
        {{200, R"({"notes":{}})"}, "VaultSync error: notes fetch HTTP 200"},
        {{401, R"({"notes":[]})"}, "VaultSync error: notes fetch HTTP 401"},
    };
    for (const auto& [answer, line] : cases) {
        transport->on("/api/notes", answer.first, answer.second);
        pass(*vault);
        EXPECT_EQ(log.lines.back(), line);
        EXPECT_EQ(snapshot(root), before);
    }
}

TEST_F(VaultPassTest, FolderThatCannotBeCreatedEndsThePassBeforeFetching) {
    writeFile(outside / "a file", "not a folder");
    auto vault = makeVault((outside / "a file").string());
    pass(*vault);
    EXPECT_EQ(fetches(), 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("VaultSync error: ", 0), 0u) << log.lines[0];
    EXPECT_FALSE(fs::exists(stateFile()));
}

TEST_F(VaultPassTest, NotesWithTheSameNameShareOneFileLaterWins) {
    auto vault = makeVault();
    setNotes({note("0f8fad5b-d9cb-469f-a165-70867728950e", "2025-03-04T05:06:01Z", "Twin",
                   {{"text", "one"}}),
              note("0f8fad5b-0000-4000-8000-000000000002", "2025-03-04T05:06:59Z", "Twin",
                   {{"text", "two"}})});
    pass(*vault);
    EXPECT_EQ(notesListing(), (set<string>{"2025-03-04 0506 Twin 0f8fad5b.md"}));
    EXPECT_NE(readText(notesDir() / "2025-03-04 0506 Twin 0f8fad5b.md").find("\ntwo\n"),
              string::npos);
    EXPECT_EQ(logCount("VaultSync: wrote 2 notes"), 1u);
}

}  // namespace
}  // namespace larkspire::testing
