// Sign-in over HTTP: one-time codes, sessions, refresh rotation, password grant, bearer checks.
#include <gtest/gtest.h>

#include <future>
#include <regex>

#include "ServiceProcess.h"

namespace larkspire::server::testing {
namespace {

const std::string kInvalidCode = "Invalid or expired code";

class OneTimeCode : public ::testing::Test {
  protected:
    // Requests a code for `email`; the code mailed.
    std::string request(const std::string& email) {
        EXPECT_EQ(service.postJson("/api/native-auth/request", {{"email", email}})->status, 200);
        return service.lastCode(email);
    }
    httplib::Result verify(const std::string& email, const std::string& code) {
        return service.postJson("/api/native-auth/verify", {{"email", email}, {"code", code}});
    }
    ServiceProcess service;
};

TEST_F(OneTimeCode, IsMailedToTheOutboxAsSixDigitsAndVerifiesIntoASession) {
    EXPECT_EQ(service.postJson("/api/native-auth/request", {{"email", "Ann@Example.com"}})->status,
              200);
    const std::string code = service.lastCode("ann@example.com");
    ASSERT_TRUE(std::regex_match(code, std::regex("[0-9]{6}"))) << code;
    // The log repeats the message, so a developer sees the code in the terminal too.
    EXPECT_NE(readText(service.dataDir() / "service.log").find(code), std::string::npos);

    auto verified = verify("ann@example.com", code);
    ASSERT_EQ(verified->status, 200) << verified->body;
    auto session = Json::parse(verified->body);
    ASSERT_TRUE(session["accessToken"].is_string());
    ASSERT_TRUE(session["refreshToken"].is_string());
    // 256 random bits in URL-safe Base64.
    EXPECT_EQ(session["accessToken"].get<std::string>().size(), 43u);
    EXPECT_NE(session["accessToken"], session["refreshToken"]);
    EXPECT_NEAR(session["expiresAt"].get<double>(), std::time(nullptr) + 3600.0, 30);
    EXPECT_EQ(service.get("/api/projects", session["accessToken"])->status, 200);
}

TEST_F(OneTimeCode, WorksOnceOnlyTheLatestAndIgnoresSpacesAroundAPastedOne) {
    const std::string first = request("two@example.com");
    const std::string second = request("two@example.com");
    if (first != second) {
        EXPECT_TRUE(failsWith(verify("two@example.com", first), 400, kInvalidCode));
    }
    EXPECT_EQ(verify(" Two@Example.com", " " + second + "\n")->status, 200);
    EXPECT_TRUE(failsWith(verify("two@example.com", second), 400, kInvalidCode));
}

TEST_F(OneTimeCode, ExpiresAfterTenMinutes) {
    const std::string late = request("late@example.com");
    service.advanceClock(599);
    const std::string early = request("early@example.com");
    service.advanceClock(2);  // 601 s after the first code, 2 s after the second
    EXPECT_TRUE(failsWith(verify("late@example.com", late), 400, kInvalidCode));
    EXPECT_EQ(verify("early@example.com", early)->status, 200);
}

TEST_F(OneTimeCode, IsRetiredAfterFiveWrongGuesses) {
    const std::string code = request("guess@example.com");
    const std::string wrong = code == "000000" ? "111111" : "000000";
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(failsWith(verify("guess@example.com", wrong), 400, kInvalidCode));
    }
    EXPECT_TRUE(failsWith(verify("guess@example.com", wrong), 429,
                          "Too many attempts; request a new code"));
    EXPECT_TRUE(failsWith(verify("guess@example.com", code), 400, kInvalidCode));
}

TEST_F(OneTimeCode, ParallelGuessesGetNoMoreThanFiveWrongTries) {
    // Twelve guesses at once, the right one among them. Taken in any order, either the right
    // one comes within the first five and is accepted, or the fifth wrong one retires the code:
    // exactly one of the two. Eight addresses, as a race does not show every time.
    for (int round = 0; round < 8; ++round) {
        const std::string email = "p" + std::to_string(round) + "@example.com";
        const int code = std::stoi(request(email));
        std::vector<std::future<int>> answers;
        for (int i = 0; i < 12; ++i) {
            char guess[8];
            std::snprintf(guess, sizeof guess, "%06d",
                          i == 6 ? code : 100000 + (code + i + 1) % 900000);
            answers.push_back(std::async(std::launch::async, [&, guess = std::string(guess)] {
                auto r = verify(email, guess);
                return r ? r->status : -1;
            }));
        }
        int accepted = 0, limitReached = 0;
        for (auto& answer : answers) {
            const int status = answer.get();
            accepted += status == 200;
            limitReached += status == 429;
        }
        EXPECT_EQ(accepted + limitReached, 1)
            << email << ": " << accepted << " accepted, " << limitReached << " told the limit";
    }
}

TEST_F(OneTimeCode, RequestsAreLimitedPerAddress) {
    for (int i = 0; i < 5; ++i) {
        request("spam@example.com");
    }
    EXPECT_TRUE(
        failsWith(service.postJson("/api/native-auth/request", {{"email", "spam@example.com"}}),
                  429, "Too many sign-in codes requested; try again in a few minutes"));
    service.advanceClock(601);
    request("spam@example.com");
}

class Sessions : public ::testing::Test {
  protected:
    httplib::Result refresh(const Json& token) {
        return service.postJson("/api/native-auth/refresh", {{"refreshToken", token}});
    }
    int projectsStatus(const Json& token) { return service.get("/api/projects", token)->status; }
    ServiceProcess service{{"--token-lifetime", "120"}};
};

TEST_F(Sessions, RefreshRotatesBothTokensAndLeavesTheOldAccessTokenToItsLifetime) {
    auto first = service.signIn("rot@example.com");
    auto refreshed = refresh(first["refreshToken"]);
    ASSERT_EQ(refreshed->status, 200) << refreshed->body;
    auto second = Json::parse(refreshed->body);
    EXPECT_NE(second["accessToken"], first["accessToken"]);
    EXPECT_NE(second["refreshToken"], first["refreshToken"]);
    EXPECT_TRUE(second["expiresAt"].is_number());
    EXPECT_EQ(projectsStatus(second["accessToken"]), 200);
    // An upload that another thread started with the old token must not fail.
    EXPECT_EQ(projectsStatus(first["accessToken"]), 200);

    // Presenting the rotated token again means it leaked: the whole session ends.
    EXPECT_TRUE(failsWith(refresh(first["refreshToken"]), 401,
                          "Refresh token already used; sign in again"));
    EXPECT_EQ(projectsStatus(second["accessToken"]), 401);
    EXPECT_EQ(projectsStatus(first["accessToken"]), 401);
    EXPECT_EQ(refresh(second["refreshToken"])->status, 401);
}

TEST_F(Sessions, AccessTokensExpireAtTheirLifetime) {
    auto session = service.signIn("exp@example.com");
    EXPECT_NEAR(session["expiresAt"].get<double>(), std::time(nullptr) + 120.0, 30);
    service.advanceClock(110);
    EXPECT_EQ(projectsStatus(session["accessToken"]), 200);
    service.advanceClock(15);
    EXPECT_TRUE(failsWith(service.get("/api/projects", session["accessToken"]), 401,
                          "Invalid or expired access token"));
    // The refresh token outlives the access token and brings a working one.
    auto refreshed = refresh(session["refreshToken"]);
    ASSERT_EQ(refreshed->status, 200);
    EXPECT_EQ(projectsStatus(Json::parse(refreshed->body)["accessToken"]), 200);
}

TEST_F(Sessions, EveryAuthorisedEndpointRefusesMissingAndBadTokens) {
    const std::vector<std::pair<std::string, std::string>> endpoints{
        {"POST", "/api/transcribe"},  {"POST", "/api/transcribe/finalize"},
        {"POST", "/api/contextual"},  {"POST", "/api/speech"},
        {"POST", "/api/activation"},  {"POST", "/api/native-status"},
        {"GET", "/api/projects"},     {"GET", "/api/notes?full=1"},
        {"GET", "/api/native-status"}};
    for (const auto& [method, path] : endpoints) {
        EXPECT_TRUE(
            failsWith(service.send(method, path, Json::object()), 401, "Missing access token"))
            << method << " " << path;
        EXPECT_TRUE(failsWith(service.send(method, path, Json::object(), "not-a-token"), 401,
                              "Invalid or expired access token"))
            << method << " " << path;
    }
}

TEST(PasswordGrant, SignsInAnAccountCreatedOnTheCommandLineAndNothingElse) {
    ServiceProcess service;
    const std::string command = std::string(LARKSPIRE_SERVER_BINARY) +
                                " add-user pat@example.com 's3cret pass' --data '" +
                                service.dataDir().string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    service.signIn("codeonly@example.com");
    const auto signIn = [&](const std::string& apikey, const Json& body,
                            const std::string& grant = "password") {
        return service.client().Post("/auth/v1/token?grant_type=" + grant, {{"apikey", apikey}},
                                     body.dump(), "application/json");
    };
    const std::string key = "larkspire-dev-anon-key";
    const Json pat{{"email", "pat@example.com"}, {"password", "s3cret pass"}};

    auto ok = signIn(key, pat);
    ASSERT_EQ(ok->status, 200) << ok->body;
    auto s = Json::parse(ok->body);
    ASSERT_TRUE(s["access_token"].is_string());
    EXPECT_EQ(s["expires_in"], 3600);
    EXPECT_EQ(service.get("/api/projects", s["access_token"])->status, 200);
    // Its refresh token works with the service's own refresh path.
    EXPECT_EQ(service.postJson("/api/native-auth/refresh", {{"refreshToken", s["refresh_token"]}})
                  ->status,
              200);

    struct Case {
        std::string apikey, grant;
        Json body;
        int status;
        std::string error;
    };
    const std::vector<Case> refused{
        {key,
         "password",
         {{"email", "pat@example.com"}, {"password", "nope"}},
         400,
         "Invalid login credentials"},
        {key,
         "password",
         {{"email", "who@example.com"}, {"password", "x"}},
         400,
         "Invalid login credentials"},
        {key,
         "password",
         {{"email", "codeonly@example.com"}, {"password", ""}},
         400,
         "Invalid login credentials"},
        {"other-key", "password", pat, 401, "Invalid API key"},
        {key, "refresh_token", pat, 400, "unsupported_grant_type"},
        {key, "password", {{"email", "pat@example.com"}}, 400, "Missing email or password"},
    };
    for (const Case& c : refused) {
        EXPECT_TRUE(failsWith(signIn(c.apikey, c.body, c.grant), c.status, c.error)) << c.body;
    }
}

}  // namespace
}  // namespace larkspire::server::testing
