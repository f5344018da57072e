#include <date/date.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "util/InternetDateTime.h"
#include "util/Uuid.h"
#include "vault/NoteFile.h"
#include "vault/NotesFolder.h"
#include "vault/VaultSync.h"

namespace larkspire {
namespace {

using nlohmann::json;
using std::string;

// 2026-01-01 03:25:41 UTC stands for "now" where a creation time does not parse.
const platform::TimePoint kNow = date::sys_days{date::year{2026} / 1 / 1} + std::chrono::hours(3) +
                                 std::chrono::minutes(25) + std::chrono::seconds(41);
const string kId = "0f8fad5b-d9cb-469f-a165-70867728950e";

string nameOf(const string& createdAt, const string& title = "T") {
    return NoteFile::fileName(createdAt, title, kId, kNow);
}

TEST(VaultFileName, ExampleNoteWithAndWithoutFractionalSeconds) {
    EXPECT_EQ(NoteFile::fileName("2025-03-04T05:06:07.123Z", "Call the bank", kId, kNow),
              "2025-03-04 0506 Call the bank 0f8fad5b");
    EXPECT_EQ(NoteFile::fileName("2025-03-04T05:06:07Z", "Call the bank", kId, kNow),
              "2025-03-04 0506 Call the bank 0f8fad5b");
    EXPECT_EQ(nameOf("2025-03-04T05:06:59.999999999Z"), "2025-03-04 0506 T 0f8fad5b");
}

TEST(VaultFileName, OffsetsAreConvertedToUtc) {
    EXPECT_EQ(nameOf("2025-03-04T05:06:07+02:00"), "2025-03-04 0306 T 0f8fad5b");
    EXPECT_EQ(nameOf("2025-03-04T01:30:00.5+02:00"), "2025-03-03 2330 T 0f8fad5b");
    EXPECT_EQ(nameOf("2025-12-31T23:59:59-00:30"), "2026-01-01 0029 T 0f8fad5b");
    EXPECT_EQ(nameOf("2024-02-29T23:00:00-05:45"), "2024-03-01 0445 T 0f8fad5b");
    EXPECT_EQ(nameOf("2025-03-04T05:06:07+00:00"), "2025-03-04 0506 T 0f8fad5b");
}

TEST(VaultFileName, UnparsableTimesUseTheCurrentUtcMinute) {
    for (const string bad :
         {"", "yesterday", "2025-03-04 05:06:07Z", "2025-03-04T05:06Z", "2025-02-30T05:06:07Z",
          "2025-03-04T05:06:07", "2025-03-04T05:06:07.Z", "2025-03-04T05:06:07+0200",
          "2025-03-04T24:00:00Z", "2025-03-04T05:06:07Zjunk", "2025-03-04T05:06:07+02:00 ",
          "2025-13-04T05:06:07Z", "20250304T050607Z",
          // Beyond the clock's range of 1677 to 2262.
          "4050-03-04T05:06:07Z", "1600-01-01T00:00:00Z"}) {
        EXPECT_EQ(nameOf(bad), "2026-01-01 0325 T 0f8fad5b") << bad;
    }
}

TEST(VaultFileName, TitleAndIdParts) {
    EXPECT_EQ(nameOf("2025-03-04T05:06:07Z", ""), "2025-03-04 0506 Note 0f8fad5b");
    // A title that sanitises to nothing leaves two spaces.
    EXPECT_EQ(nameOf("2025-03-04T05:06:07Z", " /?# "), "2025-03-04 0506  0f8fad5b");
    EXPECT_EQ(NoteFile::fileName("2025-03-04T05:06:07Z", "Plan", std::nullopt, kNow),
              "2025-03-04 0506 Plan");
    EXPECT_EQ(NoteFile::fileName("2025-03-04T05:06:07Z", "Plan", "abc", kNow),
              "2025-03-04 0506 Plan abc");
    // The first 8 user-perceived characters, not bytes.
    EXPECT_EQ(NoteFile::fileName("2025-03-04T05:06:07Z", "Plan", "ééééééééé", kNow),
              "2025-03-04 0506 Plan éééééééé");
}

TEST(VaultSanitize, RemovesTrimsAndCuts) {
    EXPECT_EQ(NoteFile::sanitize("a/b:c?"), "abc");
    EXPECT_EQ(NoteFile::sanitize("/\\:?%*|\"<>#^[]"), "");
    EXPECT_EQ(NoteFile::sanitize("keep-these_(){}!@$&+=~'.,;"), "keep-these_(){}!@$&+=~'.,;");
    // Trimming comes after removal.
    EXPECT_EQ(NoteFile::sanitize(" # \tTitle\t # "), "Title");
    // Control characters and line or paragraph separators: a NUL made the write fail.
    EXPECT_EQ(NoteFile::sanitize(string("\nLi\0ne\x1f\x7f\r", 9)), "Line");
    EXPECT_EQ(NoteFile::sanitize("a\u2028b\u2029c\u2027"), "abc\u2027");
    EXPECT_EQ(NoteFile::sanitize("in  side"), "in  side");

    EXPECT_EQ(NoteFile::sanitize(string(70, 'a')), string(60, 'a'));
    // Nothing is trimmed after the cut.
    EXPECT_EQ(NoteFile::sanitize(string(59, 'a') + " b"), string(59, 'a') + " ");
    // Removed characters do not count towards the 60.
    EXPECT_EQ(NoteFile::sanitize(string(10, '#') + string(60, 'x')), string(60, 'x'));

    // User-perceived characters: e + combining acute is one; a flag is one.
    string decomposed, flags;
    for (int i = 0; i < 70; ++i) {
        decomposed += "e\xCC\x81";
        flags += "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
    }
    EXPECT_EQ(NoteFile::sanitize(decomposed), decomposed.substr(0, 60 * 3));
    EXPECT_EQ(NoteFile::sanitize(flags), flags.substr(0, 60 * 8));
    EXPECT_EQ(NoteFile::sanitize("Caf\xC3\xA9 / cr\xC3\xA8me"), "Caf\xC3\xA9  cr\xC3\xA8me");
}

TEST(VaultNoteFile, FullLayout) {
    const json note = {
        {"id", kId},
        {"created_at", "2025-03-04T05:06:07+02:00"},
        {"title", "Call the bank"},
        {"text", "raw words"},
        {"cleaned_text", "Clean words."},
        {"tags", {"money", "calls"}},
        {"project", "Home \"Ops\""},
        {"source", "ios"},
        {"related",
         {{{"created_at", "2025-01-02T03:04:05Z"}, {"title", "Budget"}, {"id", "1234567890ab"}},
          {{"title", "no date"}, {"id", "x"}},
          {{"created_at", 5}, {"title", "numeric date"}},
          {{"created_at", "2025-01-02T03:04:05.5+01:00"}, {"id", 42}},
          "not an object"}}};
    EXPECT_EQ(NoteFile::fileContents(note, kId, "2025-03-04T05:06:07+02:00", kNow),
              "---\n"
              "id: 0f8fad5b-d9cb-469f-a165-70867728950e\n"
              "date: 2025-03-04T05:06:07+02:00\n"
              "project: \"Home \"Ops\"\"\n"
              "tags: [money, calls]\n"
              "source: ios\n"
              "---\n"
              "\n"
              "Clean words.\n"
              "\n"
              "## Raw\n"
              "\n"
              "raw words\n"
              "\n"
              "## Related\n"
              "\n"
              "- [[2025-01-02 0304 Budget 12345678]]\n"
              "- [[2025-01-02 0204 Note]]\n");
}

TEST(VaultNoteFile, OptionalPartsLeftOut) {
    const auto contents = [](json extra) {
        json note = {{"id", "n1"}, {"created_at", "2025-03-04T05:06:07Z"}};
        note.update(extra);
        return NoteFile::fileContents(note, "n1", "2025-03-04T05:06:07Z", kNow);
    };
    const string head = "---\nid: n1\ndate: 2025-03-04T05:06:07Z\n";
    EXPECT_EQ(contents(json::object()), head + "source: web\n---\n\n\n");
    EXPECT_EQ(contents({{"text", "same"}, {"cleaned_text", "same"}}),
              head + "source: web\n---\n\nsame\n");
    EXPECT_EQ(contents({{"cleaned_text", "only cleaned"}}),
              head + "source: web\n---\n\nonly cleaned\n\n## Raw\n\n\n");
    EXPECT_EQ(contents({{"text", "t"}, {"cleaned_text", nullptr}}),
              head + "source: web\n---\n\nt\n");
    // Tags must be a non-empty array of strings; source and project must be strings.
    EXPECT_EQ(contents({{"tags", json::array()}, {"source", 5}, {"project", nullptr}}),
              head + "source: web\n---\n\n\n");
    EXPECT_EQ(contents({{"tags", {"a", 1}}}), head + "source: web\n---\n\n\n");
    EXPECT_EQ(contents({{"tags", {"solo"}}}), head + "tags: [solo]\nsource: web\n---\n\n\n");
    EXPECT_EQ(contents({{"related", {{{"title", "x"}}}}, {"text", "t"}}),
              head + "source: web\n---\n\nt\n");
    EXPECT_EQ(contents({{"related", "2025-01-02T03:04:05Z"}}), head + "source: web\n---\n\n\n");
}

TEST(VaultState, DecodeAndEncode) {
    using State = VaultSync::State;
    const auto full =
        State::decode(R"({"lastCreatedAt":"2025","syncedIds":["b","a","b"],"files":{"a":"x.md"}})");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->lastCreatedAt, "2025");
    EXPECT_EQ(full->syncedIds, (std::set<string>{"a", "b"}));
    EXPECT_EQ(full->files, (std::map<string, string>{{"a", "x.md"}}));

    // "files" absent or null: no mapping made yet, which is not the same as an empty one.
    for (const string text : {R"({"lastCreatedAt":"","syncedIds":[]})",
                              R"({"lastCreatedAt":"","syncedIds":[],"files":null})"}) {
        const auto s = State::decode(text);
        ASSERT_TRUE(s) << text;
        EXPECT_FALSE(s->files.has_value()) << text;
    }
    EXPECT_TRUE(State::empty().files.has_value());
    EXPECT_TRUE(State::empty().files->empty());

    for (const string bad :
         {"", "{", "[]", R"({"syncedIds":[]})", R"({"lastCreatedAt":""})",
          R"({"lastCreatedAt":1,"syncedIds":[]})", R"({"lastCreatedAt":"","syncedIds":[1]})",
          R"({"lastCreatedAt":"","syncedIds":{}})",
          R"({"lastCreatedAt":"","syncedIds":[],"files":[]})",
          R"({"lastCreatedAt":"","syncedIds":[],"files":{"a":1}})"}) {
        EXPECT_FALSE(State::decode(bad).has_value()) << bad;
    }

    EXPECT_EQ(State::empty().encode(),
              json::parse(R"({"lastCreatedAt":"","syncedIds":[],"files":{}})"));
    State withoutFiles{"z", {"q"}, std::nullopt};
    EXPECT_EQ(withoutFiles.encode(), json::parse(R"({"lastCreatedAt":"z","syncedIds":["q"]})"));
    EXPECT_EQ(State::decode(full->encode().dump()), full);
}

TEST(VaultUuid, OnlyTheCanonicalText) {
    EXPECT_TRUE(uuid::isValid(kId));
    EXPECT_TRUE(uuid::isValid("0F8FAD5B-D9CB-469F-A165-70867728950E"));
    EXPECT_FALSE(uuid::isValid("0f8fad5b"));
    EXPECT_FALSE(uuid::isValid("0f8fad5bd9cb469fa16570867728950e"));
    EXPECT_FALSE(uuid::isValid("0f8fad5b-d9cb-469f-a165-70867728950g"));
    EXPECT_FALSE(uuid::isValid("{0f8fad5b-d9cb-469f-a165-70867728950e}"));
    EXPECT_FALSE(uuid::isValid(kId + "x"));
    EXPECT_FALSE(
        uuid::isValid(string("0f8fad5b-d9cb-469f-a165-70867728950e").replace(35, 1, 1, '\0')));
}

TEST(VaultNotesFolder, ContainedNames) {
    const std::filesystem::path folder = "/home/u/Vantrel/Notes";
    for (const string good :
         {"a.md", "2025-03-04 0506 .. 0f8fad5b.md", "...md", ".hidden", "a\\b"}) {
        EXPECT_TRUE(NotesFolder::isContainedName(folder, good)) << good;
        EXPECT_TRUE(NotesFolder::isContainedName("/home/u/Vantrel/Notes/", good)) << good;
    }
    for (const string& bad :
         std::vector<string>{"", ".", "..", "../a.md", "/etc/passwd", "sub/a.md", "a/", "./a.md",
                             "x/../../a.md", string("a\0b", 3)}) {
        EXPECT_FALSE(NotesFolder::isContainedName(folder, bad)) << bad;
    }
}

}  // namespace
}  // namespace larkspire
