// Sign-in: one-time codes by e-mail, refresh with rotation, and the password grant of the
// outside authentication service, served here so the whole sign-in path runs offline.
#include "server/auth/Crypto.h"
#include "server/http/Http.h"
#include "server/http/Service.h"

namespace larkspire::server {
namespace {

http::Json nativeSession(const IssuedSession& s) {
    http::Json j{{"accessToken", s.accessToken},
                 {"refreshToken", s.refreshToken},
                 {"expiresAt", s.expiresAt}};
    j["user"] = {{"id", s.userId}};
    if (!s.email.empty()) {
        j["user"]["email"] = s.email;
    }
    return j;
}

}  // namespace

void Service::registerAuthRoutes() {
    post("/api/native-auth/request", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = http::objectBody(req);
        const std::string* email = body ? http::stringMember(*body, "email") : nullptr;
        if (email == nullptr) {
            http::sendError(res, 400, "Enter a valid e-mail address");
            return;
        }
        auto result = auth_.requestCode(*email);
        if (!result) {
            http::sendError(res, result.failure.status, result.failure.error);
            return;
        }
        http::sendJson(res, 200, {{"ok", true}});
    });

    post("/api/native-auth/verify", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = http::objectBody(req);
        const std::string* email = body ? http::stringMember(*body, "email") : nullptr;
        const std::string* code = body ? http::stringMember(*body, "code") : nullptr;
        if (email == nullptr || code == nullptr) {
            http::sendError(res, 400, "E-mail and code are required");
            return;
        }
        auto result = auth_.verifyCode(*email, *code);
        if (!result) {
            http::sendError(res, result.failure.status, result.failure.error);
            return;
        }
        log_.line("signed in " + result.value->email + " with a one-time code");
        http::sendJson(res, 200, nativeSession(*result.value));
    });

    post("/api/native-auth/refresh", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = http::objectBody(req);
        const std::string* token = body ? http::stringMember(*body, "refreshToken") : nullptr;
        if (token == nullptr || token->empty()) {
            http::sendError(res, 400, "Missing refresh token");
            return;
        }
        auto result = auth_.refresh(*token);
        if (!result) {
            http::sendError(res, result.failure.status, result.failure.error);
            return;
        }
        http::sendJson(res, 200, nativeSession(*result.value));
    });

    post("/auth/v1/token", [this](const httplib::Request& req, httplib::Response& res) {
        if (!crypto::equalConstantTime(req.get_header_value("apikey"), options_.anonKey)) {
            http::sendJson(res, 401,
                           {{"error", "Invalid API key"}, {"message", "Invalid API key"}});
            return;
        }
        if (req.get_param_value("grant_type") != "password") {
            http::sendError(res, 400, "unsupported_grant_type");
            return;
        }
        auto body = http::objectBody(req);
        const std::string* email = body ? http::stringMember(*body, "email") : nullptr;
        const std::string* password = body ? http::stringMember(*body, "password") : nullptr;
        if (email == nullptr || password == nullptr) {
            http::sendError(res, 400, "Missing email or password");
            return;
        }
        auto result = auth_.passwordSignIn(*email, *password);
        if (!result) {
            http::sendJson(
                res, result.failure.status,
                {{"error", result.failure.error}, {"error_description", result.failure.error}});
            return;
        }
        const auto& s = *result.value;
        log_.line("signed in " + s.email + " with a password");
        http::sendJson(res, 200,
                       {{"access_token", s.accessToken},
                        {"token_type", "bearer"},
                        {"expires_in", static_cast<int64_t>(auth_.settings().accessLifetime)},
                        {"expires_at", static_cast<int64_t>(s.expiresAt)},
                        {"refresh_token", s.refreshToken},
                        {"user", {{"id", s.userId}, {"email", s.email}}}});
    });
}

}  // namespace larkspire::server
