#include "service/APIClient.h"

#include "service/SessionStore.h"
#include "service/Wire.h"
#include "util/BoundedJson.h"

namespace larkspire {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

constexpr std::chrono::seconds kDefaultTimeout = 60s;
// A cached token is used only while it stays valid for longer than this.
constexpr std::chrono::seconds kExpiryMargin = 60s;
constexpr double kDefaultLifetimeSeconds = 3600;

}  // namespace

APIClient::APIClient(Config config, const platform::Clock& clock, platform::Keychain& keychain,
                     std::shared_ptr<HttpTransport> transport, Options options)
    : config_(std::move(config)),
      clock_(clock),
      keychain_(keychain),
      transport_(transport ? std::move(transport) : std::make_shared<CurlTransport>()),
      appVersion_(options.appVersion.value_or(LARKSPIRE_VERSION)) {
    if (auto stored = SessionStore::load(keychain_)) {
        accessToken_ = stored->accessToken;
        refreshToken_ = stored->refreshToken;
        tokenExpiry_ = wire::timePointFrom(stored->expiresAt);
    }
}

std::optional<std::string> APIClient::cachedAccessToken() const {
    std::lock_guard lock(tokenMutex_);
    return accessToken_;
}

void APIClient::dropAccessToken() {
    std::lock_guard lock(tokenMutex_);
    accessToken_.reset();
}

std::string APIClient::endpointUrl(std::string_view path) const {
    // The path is appended as text, a trailing slash of the base included.
    std::string url = config_.api_url + std::string(path);
    if (!isUsableHttpUrl(config_.api_url) || !isUsableHttpUrl(url)) {
        throw APIError::requestFailed("The service address “" + config_.api_url +
                                      "” in the configuration (api_url) is not a usable URL");
    }
    return url;
}

HttpRequest APIClient::jsonRequest(std::string_view path, const json& body,
                                   std::chrono::seconds timeout,
                                   const std::optional<std::string>& token) const {
    HttpRequest request;
    request.method = "POST";
    request.url = endpointUrl(path);
    request.timeout = timeout;
    if (token) {
        request.headers.emplace_back("Authorization", "Bearer " + *token);
    }
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = wire::serialized(body);
    return request;
}

HttpResponse APIClient::syncRequest(const HttpRequest& request) {
    return transport_->send(request);
}

std::optional<NativeSession> APIClient::decodeSession(std::string_view body) const {
    const json root = parseBoundedJson(body);
    if (!root.is_object()) {
        return std::nullopt;
    }
    auto access = wire::stringAt(root, "accessToken");
    auto refresh = wire::stringAt(root, "refreshToken");
    if (!access || !refresh) {
        return std::nullopt;
    }
    double expiresAt = wire::secondsSince1970(clock_.now()) + kDefaultLifetimeSeconds;
    if (auto it = root.find("expiresAt"); it != root.end() && it->is_number()) {
        expiresAt = it->get<double>();
    }
    return NativeSession{*access, *refresh, expiresAt};
}

void APIClient::install(const NativeSession& session) {
    std::lock_guard lock(tokenMutex_);
    installLocked(session);
}

void APIClient::installLocked(const NativeSession& session) {
    accessToken_ = session.accessToken;
    refreshToken_ = session.refreshToken;
    tokenExpiry_ = wire::timePointFrom(session.expiresAt);
    SessionStore::save(keychain_, session);
}

NativeSession APIClient::refreshSession(const std::string& refreshToken) {
    const HttpRequest request =
        jsonRequest("/api/native-auth/refresh", json{{"refreshToken", refreshToken}},
                    kDefaultTimeout, std::nullopt);
    const HttpResponse response = syncRequest(request);
    if (response.status == 200) {
        if (auto session = decodeSession(response.body)) {
            return *session;
        }
    }
    SessionStore::clear(keychain_);
    throw APIError::authFailed();
}

std::string APIClient::ensureToken() {
    std::lock_guard lock(tokenMutex_);
    if (accessToken_ && tokenExpiry_ > clock_.now() + kExpiryMargin) {
        return *accessToken_;
    }
    if (refreshToken_) {
        try {
            const NativeSession session = refreshSession(*refreshToken_);
            installLocked(session);
            return session.accessToken;
        } catch (...) {
            // Any failure of the refresh falls through to the password sign-in.
        }
    }
    return passwordSignIn();
}

// Runs with tokenMutex_ held.
std::string APIClient::passwordSignIn() {
    if (!config_.supabase_url || !config_.anon_key || !config_.email || !config_.password) {
        throw APIError::authFailed();
    }
    const std::string url = *config_.supabase_url + "/auth/v1/token?grant_type=password";
    if (!isUsableHttpUrl(*config_.supabase_url) || !isUsableHttpUrl(url)) {
        throw APIError::requestFailed("The sign-in address “" + *config_.supabase_url +
                                      "” in the configuration (supabase_url) is not a usable URL");
    }
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeout = kDefaultTimeout;
    request.headers.emplace_back("apikey", *config_.anon_key);
    request.headers.emplace_back("Content-Type", "application/json");
    request.body =
        wire::serialized(json{{"email", *config_.email}, {"password", *config_.password}});

    const HttpResponse response = syncRequest(request);
    if (response.status != 200) {
        throw APIError::authFailed();
    }
    const json root = parseBoundedJson(response.body);
    const auto token = wire::stringAt(root, "access_token");
    if (!token) {
        throw APIError::authFailed();
    }
    double lifetime = kDefaultLifetimeSeconds;
    if (auto it = root.find("expires_in"); it != root.end() && it->is_number()) {
        lifetime = it->get<double>();
    }
    const auto now = clock_.now();
    if (auto refresh = wire::stringAt(root, "refresh_token")) {
        installLocked(NativeSession{*token, *refresh, wire::secondsSince1970(now) + lifetime});
        return *token;
    }
    // Without a refresh token nothing is stored; the refresh token held so far stays.
    accessToken_ = *token;
    tokenExpiry_ = wire::timePointFrom(wire::secondsSince1970(now) + lifetime);
    return *token;
}

// Account, activation, status and projects.

void APIClient::requestSignInCode(const std::string& email) {
    const HttpResponse response = syncRequest(
        jsonRequest("/api/native-auth/request", json{{"email", email}}, kDefaultTimeout, {}));
    if (response.status != 200) {
        throw APIError::requestFailed(
            wire::errorMessage(wire::objectOrEmpty(response.body), "Couldn’t send sign-in code"));
    }
}

void APIClient::verifySignInCode(const std::string& email, const std::string& code) {
    const HttpResponse response = syncRequest(jsonRequest(
        "/api/native-auth/verify", json{{"email", email}, {"code", code}}, kDefaultTimeout, {}));
    if (response.status == 200) {
        if (auto session = decodeSession(response.body)) {
            install(*session);
            return;
        }
    }
    throw APIError::requestFailed(
        wire::errorMessage(wire::objectOrEmpty(response.body), "Invalid or expired code"));
}

void APIClient::recordActivationEvent(const std::string& event, const std::string& installationId) {
    const std::string token = ensureToken();
    const json body = {{"event", event},
                       {"installationId", installationId},
                       {"platform", "macos"},
                       {"appVersion", appVersion_}};
    const HttpResponse response = syncRequest(jsonRequest("/api/activation", body, 10s, token));
    if (response.status != 200) {
        throw APIError::requestFailed(
            wire::errorMessage(wire::objectOrEmpty(response.body), "Activation event failed"));
    }
}

void APIClient::updateNativeStatus(const std::string& installationId, bool microphone,
                                   bool accessibility, bool inputMonitoring, bool screenRecording) {
    const std::string token = ensureToken();
    const json body = {{"installationId", installationId},  {"platform", "macos"},
                       {"appVersion", appVersion_},         {"microphone", microphone},
                       {"accessibility", accessibility},    {"inputMonitoring", inputMonitoring},
                       {"screenRecording", screenRecording}};
    const HttpResponse response = syncRequest(jsonRequest("/api/native-status", body, 10s, token));
    if (response.status != 200) {
        throw APIError::requestFailed(
            wire::errorMessage(wire::objectOrEmpty(response.body),
                               "Native status HTTP " + std::to_string(response.status)));
    }
}

std::vector<ProjectChoice> APIClient::fetchProjects() {
    const std::string token = ensureToken();
    HttpRequest request;
    request.url = endpointUrl("/api/projects");
    request.timeout = kDefaultTimeout;
    request.headers.emplace_back("Authorization", "Bearer " + token);
    const HttpResponse response = syncRequest(request);

    const json root = wire::objectOrEmpty(response.body);
    if (response.status == 401) {
        dropAccessToken();
    }
    if (response.status == 200) {
        auto projects = root.find("projects");
        if (projects != root.end() && projects->is_array() &&
            std::all_of(projects->begin(), projects->end(),
                        [](const json& p) { return p.is_object(); })) {
            std::vector<ProjectChoice> out;
            for (const json& p : *projects) {
                auto id = wire::stringAt(p, "id");
                auto name = wire::stringAt(p, "name");
                if (id && name) {
                    out.push_back({*id, *name});
                }
            }
            return out;
        }
    }
    throw APIError::requestFailed(
        wire::errorMessage(root, "Projects request HTTP " + std::to_string(response.status)));
}

}  // namespace larkspire
