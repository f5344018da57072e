// The notes: the full list the vault mirrors, and the edits the web app makes (rename, tag,
// assign a project, relate, archive).
#include "server/http/Http.h"
#include "server/http/Service.h"
#include "server/speech/TextCleanup.h"
#include "server/store/NoteJson.h"

namespace larkspire::server {
namespace {

constexpr const char* kNoteId = R"(/api/notes/([0-9a-fA-F-]{36}))";

}  // namespace

void Service::registerNotesRoutes() {
    server_.Get(
        "/api/notes", authed([this](const httplib::Request& req, httplib::Response& res,
                                    const std::string& userId) {
            bool full = req.get_param_value("full") == "1";
            auto list = http::Json::array();
            for (const auto& note : store_.notes(userId, req.get_param_value("since"), full)) {
                list.push_back(noteJson(note, full));
            }
            http::sendJson(res, 200, {{"notes", list}});
        }));

    server_.Get(kNoteId, authed([this](const httplib::Request& req, httplib::Response& res,
                                       const std::string& userId) {
                    auto note = store_.note(userId, req.matches[1]);
                    if (!note) {
                        http::sendError(res, 404, "Note not found");
                        return;
                    }
                    http::sendJson(res, 200, {{"note", noteJson(*note, true)}});
                }));

    patch(kNoteId, authed([this](const httplib::Request& req, httplib::Response& res,
                                 const std::string& userId) {
              auto note = store_.note(userId, req.matches[1]);
              if (!note) {
                  http::sendError(res, 404, "Note not found");
                  return;
              }
              auto body = http::objectBody(req);
              if (!body) {
                  http::sendError(res, 400, "Request body must be a JSON object");
                  return;
              }
              if (auto it = body->find("title"); it != body->end()) {
                  if (!it->is_string() || it->get<std::string>().size() > 200) {
                      http::sendError(res, 400, "title must be a string of at most 200 characters");
                      return;
                  }
                  note->title = text::trim(it->get<std::string>());
              }
              if (auto it = body->find("tags"); it != body->end()) {
                  if (!it->is_array()) {
                      http::sendError(res, 400, "tags must be an array of strings");
                      return;
                  }
                  std::vector<std::string> tags;
                  for (const auto& t : *it) {
                      if (!t.is_string()) {
                          http::sendError(res, 400, "tags must be an array of strings");
                          return;
                      }
                      std::string tag = text::trim(t.get<std::string>());
                      if (!tag.empty() && std::find(tags.begin(), tags.end(), tag) == tags.end()) {
                          tags.push_back(tag);
                      }
                  }
                  note->tags = tags;
              }
              if (auto it = body->find("project"); it != body->end()) {
                  if (it->is_null() ||
                      (it->is_string() && text::trim(it->get<std::string>()).empty())) {
                      note->project.reset();
                  } else if (it->is_string()) {
                      note->project = text::trim(it->get<std::string>());
                  } else {
                      http::sendError(res, 400, "project must be a string or null");
                      return;
                  }
              }
              if (auto it = body->find("archived"); it != body->end()) {
                  if (!it->is_boolean()) {
                      http::sendError(res, 400, "archived must be true or false");
                      return;
                  }
                  if (!it->get<bool>()) {
                      note->archivedAt.reset();
                  } else if (!note->archivedAt) {
                      note->archivedAt = Clock::iso8601(clock_.now());
                  }
              }
              store_.updateNote(*note);
              http::sendJson(res, 200, {{"note", noteJson(*store_.note(userId, note->id), true)}});
          }));

    post(std::string(kNoteId) + "/related",
         authed([this](const httplib::Request& req, httplib::Response& res,
                       const std::string& userId) {
             auto body = http::objectBody(req);
             const std::string* other = body ? http::stringMember(*body, "id") : nullptr;
             if (other == nullptr) {
                 http::sendError(res, 400, "Missing id of the related note");
                 return;
             }
             if (!store_.link(userId, req.matches[1], *other)) {
                 http::sendError(res, 404, "Note not found");
                 return;
             }
             http::sendJson(res, 200,
                            {{"note", noteJson(*store_.note(userId, req.matches[1]), true)}});
         }));

    remove(std::string(kNoteId) + R"(/related/([0-9a-fA-F-]{36}))",
           authed([this](const httplib::Request& req, httplib::Response& res,
                         const std::string& userId) {
               if (!store_.unlink(userId, req.matches[1], req.matches[2])) {
                   http::sendError(res, 404, "Note not found");
                   return;
               }
               http::sendJson(res, 200,
                              {{"note", noteJson(*store_.note(userId, req.matches[1]), true)}});
           }));
}

}  // namespace larkspire::server
