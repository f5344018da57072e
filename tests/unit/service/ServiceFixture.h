#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeScheduler.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "support/ScriptedTransport.h"

namespace larkspire::testing {

constexpr const char* kServiceUrl = "http://service.test";

// A client wired to an in-memory transport, a virtual clock and a fake keychain.
class ServiceTest : public ::testing::Test {
  protected:
    static Config configFor(bool withPassword = false) {
        Config c;
        c.api_url = kServiceUrl;
        if (withPassword) {
            c.supabase_url = std::string(kServiceUrl) + "/supabase";
            c.anon_key = "anon-key-1";
            c.email = "ada@example.com";
            c.password = "pa$$word";
        }
        return c;
    }

    double nowSeconds() const {
        return std::chrono::duration<double>(clock.now().time_since_epoch()).count();
    }

    // Stores a session in the keychain that expires `secondsLeft` from now.
    void storeSession(double secondsLeft, std::string access = "stored-access",
                      std::string refresh = "stored-refresh") {
        SessionStore::save(keychain, NativeSession{access, refresh, nowSeconds() + secondsLeft});
        keychain.clearCalls();
    }

    std::unique_ptr<APIClient> makeClient(Config config, APIClient::Options options = {}) {
        return std::make_unique<APIClient>(std::move(config), clock, keychain, transport,
                                           std::move(options));
    }

    // A client holding a fresh token "T1" that stays valid for an hour.
    std::unique_ptr<APIClient> signedInClient(bool withPassword = false) {
        storeSession(3600, "T1", "R1");
        return makeClient(configFor(withPassword));
    }

    static std::string sessionJson(const std::string& access, const std::string& refresh,
                                   double expiresAt) {
        return nlohmann::json{
            {"accessToken", access}, {"refreshToken", refresh}, {"expiresAt", expiresAt}}
            .dump();
    }

    // Runs `f` and returns the APIError text it raised ("<no APIError>" otherwise).
    template <class F>
    static std::string apiErrorText(F&& f) {
        try {
            f();
        } catch (const APIClient::APIError& e) {
            return e.description();
        }
        return "<no APIError>";
    }

    // The one request sent to `path`.
    HttpRequest sentTo(const std::string& path) const {
        const auto requests = transport->sentTo(path);
        EXPECT_EQ(requests.size(), 1u) << path;
        return requests.empty() ? HttpRequest{} : requests.back();
    }

    fake::VirtualClock clock;
    fake::FakeKeychain keychain;
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
};

}  // namespace larkspire::testing
