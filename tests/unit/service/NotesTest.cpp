#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;

using NotesTest = ServiceTest;

TEST_F(NotesTest, NotesComeInOrderAndTheQueryCarriesSinceAndFull) {
    transport->once("/api/notes", 200, R"({"notes":[{"id":"b"},{"id":"a","title":"T"}]})");
    transport->on("/api/notes", 200, R"({"notes":[]})");
    auto api = signedInClient();
    EXPECT_EQ(api->fetchNotes("", false),
              (vector<json>{json{{"id", "b"}}, json{{"id", "a"}, {"title", "T"}}}));
    api->fetchNotes("2026-01-01T10:00:00+01:00", true);
    api->fetchNotes("2026", false);
    const auto requests = transport->sentTo("/api/notes");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].url, string(kServiceUrl) + "/api/notes");
    EXPECT_EQ(requests[1].url,
              string(kServiceUrl) + "/api/notes?since=2026-01-01T10%3A00%3A00%2B01%3A00&full=1");
    EXPECT_EQ(requests[2].url, string(kServiceUrl) + "/api/notes?since=2026");
}

TEST_F(NotesTest, ANoteNestedDeeplyDoesNotOverflowTheStack) {
    const size_t depth = 100000;
    transport->on("/api/notes", 200,
                  R"({"notes":[{"id":"a","x":)" + string(depth, '[') + string(depth, ']') + "}]}");
    auto api = signedInClient();
    try {
        EXPECT_LE(api->fetchNotes("", true).size(), 1u);
    } catch (const APIClient::APIError&) {
        // The nesting bound refuses the answer; crashing is the failure.
    }
}

}  // namespace
}  // namespace larkspire::testing
