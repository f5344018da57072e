#include "server/auth/Auth.h"

#include <algorithm>
#include <cctype>

#include "server/auth/Crypto.h"
#include "server/speech/TextCleanup.h"

namespace larkspire::server {
namespace {

std::string codeHash(const std::string& email, const std::string& code) {
    return crypto::sha256Hex(email + "\n" + code);
}

template <typename T>
AuthResult<T> fail(int status, std::string error) {
    AuthResult<T> r;
    r.failure = AuthFailure{status, std::move(error)};
    return r;
}

template <typename T>
AuthResult<T> ok(T value) {
    AuthResult<T> r;
    r.value = std::move(value);
    return r;
}

}  // namespace

Auth::Auth(Store& store, Clock& clock, Outbox& outbox, AuthSettings settings)
    : store_(store), clock_(clock), outbox_(outbox), settings_(settings) {}

std::string Auth::normaliseEmail(const std::string& email) {
    auto begin = std::find_if_not(email.begin(), email.end(),
                                  [](unsigned char c) { return std::isspace(c); });
    auto end = std::find_if_not(email.rbegin(), email.rend(), [](unsigned char c) {
                   return std::isspace(c);
               }).base();
    std::string out = begin < end ? std::string(begin, end) : std::string();
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool Auth::plausibleEmail(const std::string& email) {
    auto at = email.find('@');
    return email.size() <= 254 && at != std::string::npos && at > 0 &&
           email.find('@', at + 1) == std::string::npos && at + 1 < email.size() &&
           email.find('.', at + 1) != std::string::npos &&
           std::none_of(email.begin(), email.end(),
                        [](unsigned char c) { return std::isspace(c) || std::iscntrl(c); });
}

AuthResult<bool> Auth::requestCode(const std::string& rawEmail) {
    std::string email = normaliseEmail(rawEmail);
    if (!plausibleEmail(email)) {
        return fail<bool>(400, "Enter a valid e-mail address");
    }
    double now = clock_.now();
    if (store_.codesRequestedSince(email, now - settings_.codeLifetime) >=
        settings_.codesPerWindow) {
        return fail<bool>(429, "Too many sign-in codes requested; try again in a few minutes");
    }
    std::string code = crypto::sixDigitCode();
    store_.addCode(email, codeHash(email, code), now + settings_.codeLifetime, now);
    int minutes = static_cast<int>(settings_.codeLifetime / 60);
    outbox_.send(email, "Your Larkspire sign-in code",
                 "Your Larkspire sign-in code is " + code + ". It expires in " +
                     std::to_string(minutes) + " minutes and works once.",
                 Clock::iso8601(now));
    return ok(true);
}

AuthResult<IssuedSession> Auth::verifyCode(const std::string& rawEmail,
                                           const std::string& typedCode) {
    std::string email = normaliseEmail(rawEmail);
    // Codes are often pasted from a mail with a space or line break around them.
    std::string code = text::trim(typedCode);
    std::string guessHash = codeHash(email, code);
    auto matches = [&](const std::string& stored) {
        return crypto::equalConstantTime(guessHash, stored);
    };
    switch (store_.checkCode(email, matches, settings_.codeAttempts, clock_.now())) {
        case CodeCheck::Accepted:
            break;
        case CodeCheck::LimitReached:
            return fail<IssuedSession>(429, "Too many attempts; request a new code");
        case CodeCheck::Wrong:
        case CodeCheck::NoLiveCode:
            return fail<IssuedSession>(400, "Invalid or expired code");
    }
    return ok(issue(store_.findOrCreateUser(email, clock_.now())));
}

AuthResult<IssuedSession> Auth::refresh(const std::string& refreshToken) {
    double now = clock_.now();
    IssuedSession session;
    session.accessToken = crypto::randomToken();
    session.refreshToken = crypto::randomToken();
    session.expiresAt = now + settings_.accessLifetime;
    std::string userId;
    switch (store_.rotate(crypto::sha256Hex(refreshToken), crypto::sha256Hex(session.accessToken),
                          session.expiresAt, crypto::sha256Hex(session.refreshToken),
                          now + settings_.refreshLifetime, now, userId)) {
        case RotateOutcome::Rotated:
            session.userId = userId;
            return ok(session);
        case RotateOutcome::Reused:
            return fail<IssuedSession>(401, "Refresh token already used; sign in again");
        case RotateOutcome::Expired:
            return fail<IssuedSession>(401, "Refresh token expired; sign in again");
        case RotateOutcome::Unknown:
            break;
    }
    return fail<IssuedSession>(401, "Invalid refresh token");
}

AuthResult<IssuedSession> Auth::passwordSignIn(const std::string& rawEmail,
                                               const std::string& password) {
    std::string email = normaliseEmail(rawEmail);
    auto stored = store_.passwordHash(email);
    if (!stored || !crypto::verifyPassword(password, *stored)) {
        return fail<IssuedSession>(400, "Invalid login credentials");
    }
    auto user = store_.findUser(email);
    if (!user) {
        return fail<IssuedSession>(400, "Invalid login credentials");
    }
    return ok(issue(*user));
}

std::optional<std::string> Auth::userForBearer(const std::string& header) {
    static constexpr std::string_view prefix = "Bearer ";
    if (header.size() <= prefix.size() || header.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    return store_.userForAccessToken(crypto::sha256Hex(header.substr(prefix.size())), clock_.now());
}

IssuedSession Auth::issue(const User& user) {
    double now = clock_.now();
    IssuedSession session;
    session.userId = user.id;
    session.email = user.email;
    session.accessToken = crypto::randomToken();
    session.refreshToken = crypto::randomToken();
    session.expiresAt = now + settings_.accessLifetime;
    store_.createSession(user.id, crypto::sha256Hex(session.accessToken), session.expiresAt,
                         crypto::sha256Hex(session.refreshToken), now + settings_.refreshLifetime,
                         now);
    return session;
}

}  // namespace larkspire::server
