#pragma once

#include <optional>
#include <string>

#include "server/app/Clock.h"
#include "server/auth/Outbox.h"
#include "server/store/Store.h"

namespace larkspire::server {

struct AuthSettings {
    double accessLifetime = 3600;             // seconds
    double refreshLifetime = 30 * 24 * 3600;  // seconds
    double codeLifetime = 600;                // one-time codes: 10 minutes
    int codeAttempts = 5;                     // wrong guesses before a code is retired
    int codesPerWindow = 5;                   // code requests per address per code lifetime
};

struct IssuedSession {
    std::string userId;
    std::string email;
    std::string accessToken;
    std::string refreshToken;
    double expiresAt = 0;
};

// A failure with the HTTP status and the "error" text the client shows.
struct AuthFailure {
    int status;
    std::string error;
};

template <typename T>
struct AuthResult {
    std::optional<T> value;
    AuthFailure failure{0, ""};
    explicit operator bool() const { return value.has_value(); }
};

class Auth {
  public:
    Auth(Store& store, Clock& clock, Outbox& outbox, AuthSettings settings);

    static std::string normaliseEmail(const std::string& email);
    static bool plausibleEmail(const std::string& email);

    AuthResult<bool> requestCode(const std::string& email);
    AuthResult<IssuedSession> verifyCode(const std::string& email, const std::string& code);
    AuthResult<IssuedSession> refresh(const std::string& refreshToken);
    AuthResult<IssuedSession> passwordSignIn(const std::string& email, const std::string& password);
    // The account owning a live access token, from an "Authorization" header value.
    std::optional<std::string> userForBearer(const std::string& authorizationHeader);

    const AuthSettings& settings() const { return settings_; }

  private:
    IssuedSession issue(const User& user);

    Store& store_;
    Clock& clock_;
    Outbox& outbox_;
    AuthSettings settings_;
};

}  // namespace larkspire::server
