#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeScheduler.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "unit/service/LoopbackServer.h"

namespace larkspire::testing {

// libcurl underneath, with every request's time-out noted on the way.
class RecordingTransport : public HttpTransport {
  public:
    HttpResponse send(const HttpRequest& request) override {
        {
            std::lock_guard lock(mutex_);
            sent_.push_back(request);
        }
        return curl_.send(request);
    }
    std::vector<HttpRequest> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    // The time-out, in seconds, of the last request sent to a URL ending in `suffix`.
    double timeoutFor(const std::string& pathSuffix) const {
        std::lock_guard lock(mutex_);
        for (auto it = sent_.rbegin(); it != sent_.rend(); ++it) {
            const std::string url = it->url.substr(0, it->url.find('?'));
            if (url.size() >= pathSuffix.size() &&
                url.compare(url.size() - pathSuffix.size(), pathSuffix.size(), pathSuffix) == 0) {
                return std::chrono::duration<double>(it->timeout).count();
            }
        }
        return -1;
    }

  private:
    CurlTransport curl_;
    mutable std::mutex mutex_;
    std::vector<HttpRequest> sent_;
};

// A client wired to a loopback server, a virtual clock and a fake keychain.
class ServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initHttp(); }

    Config configFor(bool withPassword = false) const {
        Config c;
        c.api_url = server.url();
        if (withPassword) {
            c.supabase_url = server.url() + "/supabase";
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

    std::unique_ptr<APIClient> makeClient(Config config) {
        return std::make_unique<APIClient>(std::move(config), clock, keychain, transport);
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

    LoopbackServer server;
    fake::VirtualClock clock;
    fake::FakeKeychain keychain;
    std::shared_ptr<RecordingTransport> transport = std::make_shared<RecordingTransport>();
};

}  // namespace larkspire::testing
