// Sign-in over HTTP: one-time codes, sessions, refresh rotation, password grant, bearer checks.
#include <gtest/gtest.h>

#include <future>
#include <regex>

#include "ServiceProcess.h"

namespace larkspire::devservice::testing {
namespace {

class OneTimeCode : public ::testing::Test {
  protected:
    ServiceProcess service;
};

TEST_F(OneTimeCode, IsMailedToTheOutboxAsSixDigitsAndVerifiesIntoASession) {
    auto requested = service.postJson("/api/native-auth/request", {{"email", "Ann@Example.com"}});
    ASSERT_TRUE(requested);
    EXPECT_EQ(requested->status, 200);
    std::string code = service.lastCode("ann@example.com");
    ASSERT_TRUE(std::regex_match(code, std::regex("[0-9]{6}"))) << code;
    // The log repeats the message, so a developer sees the code in the terminal too.
    EXPECT_NE(readFile(service.dataDir() / "service.log").find(code), std::string::npos);

    auto verified =
        service.postJson("/api/native-auth/verify", {{"email", "ann@example.com"}, {"code", code}});
    ASSERT_TRUE(verified);
    ASSERT_EQ(verified->status, 200) << verified->body;
    auto session = Json::parse(verified->body);
    ASSERT_TRUE(session["accessToken"].is_string());
    ASSERT_TRUE(session["refreshToken"].is_string());
    ASSERT_TRUE(session["expiresAt"].is_number());
    // 256 random bits in URL-safe Base64.
    EXPECT_EQ(session["accessToken"].get<std::string>().size(), 43u);
    EXPECT_NE(session["accessToken"], session["refreshToken"]);
    double now = static_cast<double>(std::time(nullptr));
    EXPECT_NEAR(session["expiresAt"].get<double>(), now + 3600, 30);

    auto projects = service.get("/api/projects", session["accessToken"]);
    ASSERT_TRUE(projects);
    EXPECT_EQ(projects->status, 200);
}

TEST_F(OneTimeCode, WorksOnlyOnce) {
    service.postJson("/api/native-auth/request", {{"email", "once@example.com"}});
    std::string code = service.lastCode("once@example.com");
    auto first = service.postJson("/api/native-auth/verify",
                                  {{"email", "once@example.com"}, {"code", code}});
    ASSERT_EQ(first->status, 200);
    auto second = service.postJson("/api/native-auth/verify",
                                   {{"email", "once@example.com"}, {"code", code}});
    EXPECT_EQ(second->status, 400);
    EXPECT_EQ(errorOf(second), "Invalid or expired code");
}

TEST_F(OneTimeCode, IgnoresSpacesAroundAPastedCode) {
    service.postJson("/api/native-auth/request", {{"email", "paste@example.com"}});
    std::string code = service.lastCode("paste@example.com");
    auto r = service.postJson("/api/native-auth/verify",
                              {{"email", " Paste@Example.com"}, {"code", " " + code + "\n"}});
    EXPECT_EQ(r->status, 200) << r->body;
}

TEST_F(OneTimeCode, ExpiresAfterTenMinutes) {
    service.postJson("/api/native-auth/request", {{"email", "late@example.com"}});
    std::string code = service.lastCode("late@example.com");
    service.advanceClock(599);
    service.postJson("/api/native-auth/request", {{"email", "early@example.com"}});
    std::string earlyCode = service.lastCode("early@example.com");

    service.advanceClock(2);  // 601 s after the first code, 2 s after the second
    auto late = service.postJson("/api/native-auth/verify",
                                 {{"email", "late@example.com"}, {"code", code}});
    EXPECT_EQ(late->status, 400);
    EXPECT_EQ(errorOf(late), "Invalid or expired code");
    auto early = service.postJson("/api/native-auth/verify",
                                  {{"email", "early@example.com"}, {"code", earlyCode}});
    EXPECT_EQ(early->status, 200) << early->body;
}

TEST_F(OneTimeCode, IsRetiredAfterFiveWrongGuesses) {
    service.postJson("/api/native-auth/request", {{"email", "guess@example.com"}});
    std::string code = service.lastCode("guess@example.com");
    std::string wrong = code == "000000" ? "111111" : "000000";
    for (int i = 0; i < 4; ++i) {
        auto r = service.postJson("/api/native-auth/verify",
                                  {{"email", "guess@example.com"}, {"code", wrong}});
        EXPECT_EQ(r->status, 400);
        EXPECT_EQ(errorOf(r), "Invalid or expired code");
    }
    auto fifth = service.postJson("/api/native-auth/verify",
                                  {{"email", "guess@example.com"}, {"code", wrong}});
    EXPECT_EQ(fifth->status, 429);
    EXPECT_EQ(errorOf(fifth), "Too many attempts; request a new code");
    auto right = service.postJson("/api/native-auth/verify",
                                  {{"email", "guess@example.com"}, {"code", code}});
    EXPECT_EQ(right->status, 400);
    EXPECT_EQ(errorOf(right), "Invalid or expired code");
}

TEST_F(OneTimeCode, ParallelGuessesGetNoMoreThanFiveWrongTries) {
    // Twelve guesses at once, the right one among them. Taken in any order, either the right
    // one comes within the first five and is accepted, or the fifth wrong one retires the code:
    // exactly one of the two. Eight addresses, as a race does not show every time.
    for (int round = 0; round < 8; ++round) {
        std::string email = "p" + std::to_string(round) + "@example.com";
        service.postJson("/api/native-auth/request", {{"email", email}});
        int code = std::stoi(service.lastCode(email));
        std::vector<std::future<int>> answers;
        for (int i = 0; i < 12; ++i) {
            char guess[8];
            std::snprintf(guess, sizeof guess, "%06d",
                          i == 6 ? code : 100000 + (code + i + 1) % 900000);
            answers.push_back(std::async(std::launch::async, [&, guess = std::string(guess)] {
                auto r = service.postJson("/api/native-auth/verify",
                                          {{"email", email}, {"code", guess}});
                return r ? r->status : -1;
            }));
        }
        int accepted = 0, limitReached = 0;
        for (auto& answer : answers) {
            int status = answer.get();
            accepted += status == 200;
            limitReached += status == 429;
        }
        EXPECT_EQ(accepted + limitReached, 1)
            << email << ": " << accepted << " accepted, " << limitReached << " told the limit";
    }
}

TEST_F(OneTimeCode, ANewCodeReplacesTheEarlierOne) {
    service.postJson("/api/native-auth/request", {{"email", "two@example.com"}});
    std::string first = service.lastCode("two@example.com");
    service.postJson("/api/native-auth/request", {{"email", "two@example.com"}});
    std::string second = service.lastCode("two@example.com");
    if (first != second) {
        auto old = service.postJson("/api/native-auth/verify",
                                    {{"email", "two@example.com"}, {"code", first}});
        EXPECT_EQ(old->status, 400);
    }
    auto fresh = service.postJson("/api/native-auth/verify",
                                  {{"email", "two@example.com"}, {"code", second}});
    EXPECT_EQ(fresh->status, 200);
}

TEST_F(OneTimeCode, RequestsAreLimitedPerAddress) {
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(
            service.postJson("/api/native-auth/request", {{"email", "spam@example.com"}})->status,
            200);
    }
    auto sixth = service.postJson("/api/native-auth/request", {{"email", "spam@example.com"}});
    EXPECT_EQ(sixth->status, 429);
    EXPECT_EQ(errorOf(sixth), "Too many sign-in codes requested; try again in a few minutes");
    service.advanceClock(601);
    EXPECT_EQ(service.postJson("/api/native-auth/request", {{"email", "spam@example.com"}})->status,
              200);
}

TEST_F(OneTimeCode, RejectsMalformedRequests) {
    auto noEmail = service.postJson("/api/native-auth/request", Json::object());
    EXPECT_EQ(noEmail->status, 400);
    EXPECT_EQ(errorOf(noEmail), "Enter a valid e-mail address");
    auto badEmail = service.postJson("/api/native-auth/request", {{"email", "not an address"}});
    EXPECT_EQ(badEmail->status, 400);
    EXPECT_EQ(errorOf(badEmail), "Enter a valid e-mail address");
    auto notJson = service.client().Post("/api/native-auth/request", "email=a@b.c",
                                         "application/x-www-form-urlencoded");
    EXPECT_EQ(notJson->status, 400);
    auto noCode = service.postJson("/api/native-auth/verify", {{"email", "a@example.com"}});
    EXPECT_EQ(noCode->status, 400);
    EXPECT_EQ(errorOf(noCode), "E-mail and code are required");
    auto neverRequested = service.postJson("/api/native-auth/verify",
                                           {{"email", "nobody@example.com"}, {"code", "123456"}});
    EXPECT_EQ(neverRequested->status, 400);
    EXPECT_EQ(errorOf(neverRequested), "Invalid or expired code");
}

class Sessions : public ::testing::Test {
  protected:
    ServiceProcess service{{"--token-lifetime", "120"}};
};

TEST_F(Sessions, RefreshRotatesBothTokensAndLeavesTheOldAccessTokenToItsLifetime) {
    auto first = service.signIn("rot@example.com");
    auto refreshed =
        service.postJson("/api/native-auth/refresh", {{"refreshToken", first["refreshToken"]}});
    ASSERT_EQ(refreshed->status, 200) << refreshed->body;
    auto second = Json::parse(refreshed->body);
    EXPECT_NE(second["accessToken"], first["accessToken"]);
    EXPECT_NE(second["refreshToken"], first["refreshToken"]);
    EXPECT_TRUE(second["expiresAt"].is_number());

    EXPECT_EQ(service.get("/api/projects", second["accessToken"])->status, 200);
    // An upload that another thread started with the old token must not fail.
    EXPECT_EQ(service.get("/api/projects", first["accessToken"])->status, 200);

    // Presenting the rotated token again means it leaked: the whole session ends.
    auto reused =
        service.postJson("/api/native-auth/refresh", {{"refreshToken", first["refreshToken"]}});
    EXPECT_EQ(reused->status, 401);
    EXPECT_EQ(errorOf(reused), "Refresh token already used; sign in again");
    EXPECT_EQ(service.get("/api/projects", second["accessToken"])->status, 401);
    EXPECT_EQ(service.get("/api/projects", first["accessToken"])->status, 401);
    auto afterRevoke =
        service.postJson("/api/native-auth/refresh", {{"refreshToken", second["refreshToken"]}});
    EXPECT_EQ(afterRevoke->status, 401);
}

TEST_F(Sessions, AnUnknownRefreshTokenIsRefused) {
    auto r = service.postJson("/api/native-auth/refresh", {{"refreshToken", "nonsense"}});
    EXPECT_EQ(r->status, 401);
    EXPECT_EQ(errorOf(r), "Invalid refresh token");
    auto missing = service.postJson("/api/native-auth/refresh", Json::object());
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(errorOf(missing), "Missing refresh token");
}

TEST_F(Sessions, AccessTokensExpireAtTheirLifetime) {
    auto session = service.signIn("exp@example.com");
    double now = static_cast<double>(std::time(nullptr));
    EXPECT_NEAR(session["expiresAt"].get<double>(), now + 120, 30);
    service.advanceClock(110);
    EXPECT_EQ(service.get("/api/projects", session["accessToken"])->status, 200);
    service.advanceClock(15);
    auto expired = service.get("/api/projects", session["accessToken"]);
    EXPECT_EQ(expired->status, 401);
    EXPECT_EQ(errorOf(expired), "Invalid or expired access token");
    // The refresh token outlives the access token and brings a working one.
    auto refreshed =
        service.postJson("/api/native-auth/refresh", {{"refreshToken", session["refreshToken"]}});
    ASSERT_EQ(refreshed->status, 200);
    EXPECT_EQ(service.get("/api/projects", Json::parse(refreshed->body)["accessToken"])->status,
              200);
}

TEST_F(Sessions, EveryAuthorisedEndpointRefusesMissingAndBadTokens) {
    const std::vector<std::pair<std::string, std::string>> endpoints{
        {"POST", "/api/transcribe"},  {"POST", "/api/transcribe/finalize"},
        {"POST", "/api/contextual"},  {"POST", "/api/speech"},
        {"POST", "/api/activation"},  {"POST", "/api/native-status"},
        {"GET", "/api/projects"},     {"GET", "/api/notes?full=1"},
        {"GET", "/api/native-status"}};
    for (const auto& [method, path] : endpoints) {
        for (const std::string& token : {std::string(), std::string("not-a-token")}) {
            auto r = method == "GET" ? service.get(path, token)
                                     : service.postJson(path, Json::object(), token);
            ASSERT_TRUE(r) << path;
            EXPECT_EQ(r->status, 401) << method << " " << path;
            EXPECT_EQ(errorOf(r),
                      token.empty() ? "Missing access token" : "Invalid or expired access token")
                << path;
        }
    }
}

class PasswordGrant : public ::testing::Test {
  protected:
    ServiceProcess service;
    httplib::Result signIn(const std::string& apikey, const Json& body,
                           const std::string& grant = "password") {
        httplib::Headers headers{{"apikey", apikey}};
        return service.client().Post(("/auth/v1/token?grant_type=" + grant).c_str(), headers,
                                     body.dump(), "application/json");
    }
};

TEST_F(PasswordGrant, SignsInAnAccountCreatedOnTheCommandLine) {
    std::string command = std::string(LARKSPIRE_DEVSERVICE_BINARY) + " add-user pat@example.com " +
                          "'s3cret pass' --data '" + service.dataDir().string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    auto ok = signIn("larkspire-dev-anon-key",
                     {{"email", "pat@example.com"}, {"password", "s3cret pass"}});
    ASSERT_EQ(ok->status, 200) << ok->body;
    auto s = Json::parse(ok->body);
    ASSERT_TRUE(s["access_token"].is_string());
    EXPECT_EQ(s["expires_in"], 3600);
    ASSERT_TRUE(s["refresh_token"].is_string());
    EXPECT_EQ(service.get("/api/projects", s["access_token"])->status, 200);
    // Its refresh token works with the service's own refresh path.
    auto refreshed =
        service.postJson("/api/native-auth/refresh", {{"refreshToken", s["refresh_token"]}});
    EXPECT_EQ(refreshed->status, 200);

    auto wrongPassword =
        signIn("larkspire-dev-anon-key", {{"email", "pat@example.com"}, {"password", "nope"}});
    EXPECT_EQ(wrongPassword->status, 400);
    EXPECT_EQ(errorOf(wrongPassword), "Invalid login credentials");
    auto unknown =
        signIn("larkspire-dev-anon-key", {{"email", "who@example.com"}, {"password", "x"}});
    EXPECT_EQ(unknown->status, 400);
    auto wrongKey =
        signIn("other-key", {{"email", "pat@example.com"}, {"password", "s3cret pass"}});
    EXPECT_EQ(wrongKey->status, 401);
    EXPECT_EQ(errorOf(wrongKey), "Invalid API key");
    auto wrongGrant =
        signIn("larkspire-dev-anon-key",
               {{"email", "pat@example.com"}, {"password", "s3cret pass"}}, "refresh_token");
    EXPECT_EQ(wrongGrant->status, 400);
    EXPECT_EQ(errorOf(wrongGrant), "unsupported_grant_type");
    auto missing = signIn("larkspire-dev-anon-key", {{"email", "pat@example.com"}});
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(errorOf(missing), "Missing email or password");
}

TEST_F(PasswordGrant, AnAccountWithoutPasswordCannotUseIt) {
    service.signIn("codeonly@example.com");
    auto r =
        signIn("larkspire-dev-anon-key", {{"email", "codeonly@example.com"}, {"password", ""}});
    EXPECT_EQ(r->status, 400);
}

}  // namespace
}  // namespace larkspire::devservice::testing
