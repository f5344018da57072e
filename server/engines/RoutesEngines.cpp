// Which engines serve the account, and the account's vocabulary.
#include "server/http/Http.h"
#include "server/http/Service.h"
#include "server/speech/TextCleanup.h"

namespace larkspire::server {
namespace {

constexpr size_t kMaxWordBytes = 100;
constexpr size_t kMaxWords = 500;

}  // namespace

void Service::registerEngineRoutes() {
    server_.Get(
        "/api/engines",
        authed([this](const httplib::Request&, httplib::Response& res, const std::string&) {
            auto list = http::Json::array();
            for (const auto& d : describe(options_.engines)) {
                list.push_back(
                    {{"task", d.task}, {"engine", d.engine}, {"url", d.url}, {"model", d.model}});
            }
            http::sendJson(res, 200, {{"engines", list}});
        }));

    server_.Get("/api/vocabulary", authed([this](const httplib::Request&, httplib::Response& res,
                                                 const std::string& userId) {
                    http::sendJson(res, 200, {{"words", store_.vocabulary(userId)}});
                }));

    post("/api/vocabulary", authed([this](const httplib::Request& req, httplib::Response& res,
                                          const std::string& userId) {
             auto body = http::objectBody(req);
             const std::string* given = body ? http::stringMember(*body, "word") : nullptr;
             const std::string word = given ? text::trim(*given) : "";
             const bool printable =
                 std::none_of(word.begin(), word.end(), [](unsigned char c) { return c < 0x20; });
             if (word.empty() || word.size() > kMaxWordBytes || !printable) {
                 http::sendError(res, 400, "A word needs 1 to 100 characters on one line");
                 return;
             }
             if (store_.vocabulary(userId).size() >= kMaxWords) {
                 http::sendError(res, 400, "The vocabulary holds at most 500 words");
                 return;
             }
             store_.addWord(userId, word, clock_.now());
             http::sendJson(res, 200, {{"words", store_.vocabulary(userId)}});
         }));

    remove("/api/vocabulary", authed([this](const httplib::Request& req, httplib::Response& res,
                                            const std::string& userId) {
               auto body = http::objectBody(req);
               const std::string* word = body ? http::stringMember(*body, "word") : nullptr;
               if (word == nullptr || !store_.removeWord(userId, *word)) {
                   http::sendError(res, 404, "No such word in the vocabulary");
                   return;
               }
               http::sendJson(res, 200, {{"words", store_.vocabulary(userId)}});
           }));
}

}  // namespace larkspire::server
