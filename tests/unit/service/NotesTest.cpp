#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;

using NotesTest = ServiceTest;

TEST_F(NotesTest, FullFetchReturnsTheNotesInOrder) {
    server.on("/api/notes", {200, R"({"notes":[{"id":"b"},{"id":"a","title":"T"}]})"});
    auto api = signedInClient();
    const auto notes = api->fetchNotes("", true);
    EXPECT_EQ(notes, (vector<json>{json{{"id", "b"}}, json{{"id", "a"}, {"title", "T"}}}));
    const RecordedRequest r = server.requestsTo("/api/notes").at(0);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/api/notes?full=1");
    EXPECT_EQ(r.header("Authorization"), "Bearer T1");
    EXPECT_TRUE(r.body.empty());
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/notes"), 60);
}

TEST_F(NotesTest, QueryItems) {
    server.on("/api/notes", {200, R"({"notes":[]})"});
    auto api = signedInClient();
    api->fetchNotes("", false);
    api->fetchNotes("2026-01-01T10:00:00+01:00", true);
    api->fetchNotes("2026", false);
    const auto requests = server.requestsTo("/api/notes");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/api/notes");
    EXPECT_EQ(requests[1].target, "/api/notes?since=2026-01-01T10%3A00%3A00%2B01%3A00&full=1");
    EXPECT_EQ(requests[2].target, "/api/notes?since=2026");
}

TEST_F(NotesTest, FailuresNeverReadTheErrorMember) {
    const vector<std::pair<CannedResponse, string>> cases = {
        {{500, R"({"error":"Database down"})"}, "notes fetch HTTP 500"},
        {{200, R"({"notes":{}})"}, "notes fetch HTTP 200"},
        {{200, R"({"notes":[{"id":"a"},3]})"}, "notes fetch HTTP 200"},
        {{200, R"({"error":"x"})"}, "notes fetch HTTP 200"},
        {{200, "<html>"}, "notes fetch HTTP 200"},
    };
    auto api = signedInClient();
    for (const auto& [answer, text] : cases) {
        server.once("/api/notes", answer);
        EXPECT_EQ(apiErrorText([&] { api->fetchNotes("", true); }), text) << answer.body;
    }
    EXPECT_EQ(api->cachedAccessToken(), "T1");
}

TEST_F(NotesTest, ANoteNestedDeeplyDoesNotOverflowTheStack) {
    const size_t depth = 100000;
    server.on("/api/notes", {200, R"({"notes":[{"id":"a","x":)" + string(depth, '[') +
                                      string(depth, ']') + "}]}"});
    auto api = signedInClient();
    try {
        EXPECT_EQ(api->fetchNotes("", true).size(), 1u);
    } catch (const APIClient::APIError&) {
        // A limit on nesting may refuse the answer instead; crashing is the failure.
    }
}

TEST_F(NotesTest, Unauthorized401DropsTheToken) {
    server.on("/api/notes", {401, R"({"error":"JWT expired"})"});
    auto api = signedInClient();
    EXPECT_EQ(apiErrorText([&] { api->fetchNotes("", true); }), "notes fetch HTTP 401");
    EXPECT_EQ(api->cachedAccessToken(), std::nullopt);
}

}  // namespace
}  // namespace larkspire::testing
