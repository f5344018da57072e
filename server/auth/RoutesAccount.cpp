// Activation milestones, permission status reports, projects and the signed-in account.
#include "server/auth/Crypto.h"
#include "server/http/Http.h"
#include "server/http/Service.h"
#include "server/speech/TextCleanup.h"

namespace larkspire::server {

void Service::registerAccountRoutes() {
    post("/api/activation", authed([this](const httplib::Request& req, httplib::Response& res,
                                          const std::string& userId) {
             auto body = http::objectBody(req);
             const char* keys[] = {"event", "installationId", "platform", "appVersion"};
             const std::string* values[4] = {};
             for (int i = 0; i < 4; ++i) {
                 values[i] = body ? http::stringMember(*body, keys[i]) : nullptr;
                 if (values[i] == nullptr) {
                     http::sendError(res, 400, "Missing activation fields");
                     return;
                 }
             }
             if (values[0]->empty()) {
                 http::sendError(res, 400, "Missing activation fields");
                 return;
             }
             store_.addActivationEvent(userId, *values[0], *values[1], *values[2], *values[3],
                                       Clock::iso8601(clock_.now()));
             http::sendJson(res, 200, {{"ok", true}});
         }));

    post("/api/native-status", authed([this](const httplib::Request& req, httplib::Response& res,
                                             const std::string& userId) {
             auto body = http::objectBody(req);
             NativeStatus st;
             bool valid = body.has_value();
             std::pair<const char*, std::string*> strings[] = {
                 {"installationId", &st.installationId},
                 {"platform", &st.platform},
                 {"appVersion", &st.appVersion}};
             for (auto& [key, target] : strings) {
                 const std::string* v = valid ? http::stringMember(*body, key) : nullptr;
                 valid = valid && v != nullptr;
                 if (valid) {
                     *target = *v;
                 }
             }
             std::pair<const char*, bool*> flags[] = {{"microphone", &st.microphone},
                                                      {"accessibility", &st.accessibility},
                                                      {"inputMonitoring", &st.inputMonitoring},
                                                      {"screenRecording", &st.screenRecording}};
             for (auto& [key, target] : flags) {
                 auto it = valid ? body->find(key) : body->end();
                 valid = valid && it != body->end() && it->is_boolean();
                 if (valid) {
                     *target = it->get<bool>();
                 }
             }
             if (!valid || st.installationId.empty()) {
                 http::sendError(res, 400, "Invalid native status report");
                 return;
             }
             st.updatedAt = Clock::iso8601(clock_.now());
             store_.putNativeStatus(userId, st);
             http::sendJson(res, 200, {{"ok", true}});
         }));

    server_.Get("/api/native-status", authed([this](const httplib::Request&, httplib::Response& res,
                                                    const std::string& userId) {
                    auto list = http::Json::array();
                    for (const auto& st : store_.nativeStatuses(userId)) {
                        list.push_back({{"installationId", st.installationId},
                                        {"platform", st.platform},
                                        {"appVersion", st.appVersion},
                                        {"microphone", st.microphone},
                                        {"accessibility", st.accessibility},
                                        {"inputMonitoring", st.inputMonitoring},
                                        {"screenRecording", st.screenRecording},
                                        {"updatedAt", st.updatedAt}});
                    }
                    http::sendJson(res, 200, {{"statuses", list}});
                }));

    server_.Get("/api/projects", authed([this](const httplib::Request&, httplib::Response& res,
                                               const std::string& userId) {
                    auto list = http::Json::array();
                    for (const auto& p : store_.projects(userId)) {
                        list.push_back({{"id", p.id}, {"name", p.name}});
                    }
                    http::sendJson(res, 200, {{"projects", list}});
                }));

    post("/api/projects", authed([this](const httplib::Request& req, httplib::Response& res,
                                        const std::string& userId) {
             auto body = http::objectBody(req);
             const std::string* name = body ? http::stringMember(*body, "name") : nullptr;
             if (name == nullptr || text::trim(*name).empty() || name->size() > 100) {
                 http::sendError(res, 400, "A project needs a name of 1 to 100 characters");
                 return;
             }
             auto p = store_.addProject(userId, text::trim(*name), crypto::uuid(),
                                        Clock::iso8601(clock_.now()));
             http::sendJson(res, 200, {{"project", {{"id", p.id}, {"name", p.name}}}});
         }));

    server_.Get("/api/me", authed([this](const httplib::Request&, httplib::Response& res,
                                         const std::string& userId) {
                    const auto user = store_.userById(userId);
                    http::sendJson(res, 200,
                                   {{"user", {{"id", userId}, {"email", user ? user->email : ""}}},
                                    {"activation", store_.activationEvents(userId)},
                                    {"notes", store_.noteCount(userId)}});
                }));
}

}  // namespace larkspire::server
