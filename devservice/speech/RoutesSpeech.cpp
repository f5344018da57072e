// Transcription, long-recording finalisation, read-aloud synthesis and contextual drafts.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "devservice/auth/Crypto.h"
#include "devservice/drafting/Drafting.h"
#include "devservice/http/Http.h"
#include "devservice/http/Service.h"
#include "devservice/speech/TextCleanup.h"
#include "devservice/speech/Upload.h"
#include "devservice/store/NoteJson.h"

namespace larkspire::devservice {
namespace {

constexpr size_t kMaxSpeechText = 10000;

Note newNote(const std::string& userId, double now, const std::string& raw,
             const std::string& cleaned, const std::string& source,
             std::optional<int64_t> durationSecs) {
    Note note;
    note.id = crypto::uuid();
    note.userId = userId;
    note.createdAt = Clock::iso8601(now);
    note.title = text::titleFor(cleaned.empty() ? raw : cleaned);
    note.text = raw;
    note.cleanedText = cleaned;
    note.source = source;
    note.durationSecs = durationSecs;
    return note;
}

}  // namespace

void Service::registerSpeechRoutes() {
    post("/api/transcribe", authed([this](const httplib::Request& req, httplib::Response& res,
                                          const std::string& userId) {
             UploadError error{0, ""};
             auto upload = readUpload(req, error);
             if (!upload) {
                 http::sendError(res, error.status, error.error);
                 return;
             }
             std::string raw;
             try {
                 raw = text::rawTranscript(recognizer_.recognise(upload->audio.samples));
             } catch (const RecognizerError& e) {
                 log_.line(std::string("recognition failed: ") + e.what());
                 http::sendError(res, 500, "Speech recognition failed");
                 return;
             }
             if (raw.empty()) {
                 // Silence is an answer, not a failure: a long recording whose last piece is
                 // quiet must not fail, nor fail again on every retry. Nothing is stored.
                 // The level tells a silent upload from speech the recogniser missed.
                 const auto& samples = upload->audio.samples;
                 int peak = 0;
                 double energy = 0;
                 for (int16_t s : samples) {
                     peak = std::max(peak, std::abs(static_cast<int>(s)));
                     energy += static_cast<double>(s) * s;
                 }
                 const double rms = samples.empty() ? 0 : std::sqrt(energy / samples.size());
                 log_.line("heard nothing in " + std::to_string(samples.size()) +
                           " samples (peak " + std::to_string(peak) + ", rms " +
                           std::to_string(static_cast<int>(rms)) + ")");
                 http::sendJson(res, 200, {{"row", {{"text", ""}, {"cleaned_text", ""}}}});
                 return;
             }
             std::string cleaned = text::cleanTranscript(raw);
             log_.line("heard \"" + raw + "\"" + (upload->ephemeral ? " (ephemeral)" : ""));
             if (upload->ephemeral) {
                 // Nothing is stored: the answer carries the texts only, without an id.
                 http::sendJson(res, 200, {{"row", {{"text", raw}, {"cleaned_text", cleaned}}}});
                 return;
             }
             auto seconds = upload->durationSecs.value_or(
                 static_cast<int64_t>(upload->audio.samples.size() / 16000));
             Note note = newNote(userId, clock_.now(), raw, cleaned, upload->source, seconds);
             store_.insertNote(note);
             http::sendJson(res, 200, {{"row", noteJson(note, false)}});
         }));

    post("/api/transcribe/finalize",
         authed([this](const httplib::Request& req, httplib::Response& res,
                       const std::string& userId) {
             auto body = http::objectBody(req);
             if (!body) {
                 http::sendError(res, 400, "Request body must be a JSON object");
                 return;
             }
             const std::string* raw = http::stringMember(*body, "rawText");
             if (raw == nullptr) {
                 http::sendError(res, 400, "Missing rawText");
                 return;
             }
             auto cleanedIt = body->find("cleanedText");
             if (cleanedIt != body->end() && !cleanedIt->is_string()) {
                 http::sendError(res, 400, "cleanedText must be a string");
                 return;
             }
             std::optional<int64_t> seconds;
             if (auto d = body->find("durationSecs"); d != body->end()) {
                 if (!d->is_number_integer() || d->get<int64_t>() < 0) {
                     http::sendError(res, 400, "durationSecs must be a whole number of seconds");
                     return;
                 }
                 seconds = d->get<int64_t>();
             }
             std::string cleaned = cleanedIt != body->end() ? cleanedIt->get<std::string>()
                                                            : text::cleanTranscript(*raw);
             if (text::trim(*raw).empty() && text::trim(cleaned).empty()) {
                 http::sendError(res, 400, "Nothing to save: the transcript is empty");
                 return;
             }
             const std::string* source = http::stringMember(*body, "source");
             Note note =
                 newNote(userId, clock_.now(), *raw, cleaned, source ? *source : "api", seconds);
             store_.insertNote(note);
             http::sendJson(res, 200, {{"row", noteJson(note, false)}});
         }));

    post("/api/speech",
         authed([this](const httplib::Request& req, httplib::Response& res, const std::string&) {
             auto body = http::objectBody(req);
             const std::string* text = body ? http::stringMember(*body, "text") : nullptr;
             if (text == nullptr || text::trim(*text).empty()) {
                 http::sendError(res, 400, "Missing text");
                 return;
             }
             if (text->size() > kMaxSpeechText) {
                 http::sendError(res, 413, "Text is too long to read aloud");
                 return;
             }
             std::string audio;
             try {
                 audio = synthesizer_.speak(*text);
             } catch (const SynthesizerError& e) {
                 log_.line(std::string("synthesis failed: ") + e.what());
                 http::sendError(res, 500, "Speech synthesis failed");
                 return;
             }
             res.status = 200;
             res.set_content(std::move(audio), "audio/wav");
         }));

    post("/api/contextual", authed([this](const httplib::Request& req, httplib::Response& res,
                                          const std::string& userId) {
             auto body = http::objectBody(req);
             if (!body) {
                 http::sendError(res, 400, "Request body must be a JSON object");
                 return;
             }
             const std::string* instruction = http::stringMember(*body, "instruction");
             if (instruction == nullptr || text::trim(*instruction).empty()) {
                 http::sendError(res, 400, "Missing instruction");
                 return;
             }
             DraftRequest r;
             r.instruction = *instruction;
             std::pair<const char*, std::string*> fields[] = {
                 {"application", &r.application},
                 {"windowTitle", &r.windowTitle},
                 {"role", &r.role},
                 {"selectedText", &r.selectedText},
                 {"surroundingText", &r.surroundingText},
                 {"windowText", &r.windowText}};
             for (auto& [key, target] : fields) {
                 if (auto it = body->find(key); it != body->end()) {
                     if (!it->is_string()) {
                         http::sendError(res, 400, std::string(key) + " must be a string");
                         return;
                     }
                     *target = it->get<std::string>();
                 }
             }
             if (auto it = body->find("windowImage"); it != body->end()) {
                 std::string image;
                 if (!it->is_string() || !crypto::decodeBase64(it->get<std::string>(), image)) {
                     http::sendError(res, 400, "windowImage must be Base64 text");
                     return;
                 }
                 r.hasWindowImage = !image.empty();
             }
             if (const std::string* projectId = http::stringMember(*body, "activeProjectId")) {
                 if (auto project = store_.project(userId, *projectId)) {
                     r.projectName = project->name;
                 }
             }
             Draft d = makeDraft(r);
             http::Json answer{{"intent", d.intent},
                               {"draft", d.draft},
                               {"explanation", d.explanation},
                               {"surface", d.surface},
                               {"insertLabel", d.insertLabel},
                               {"usedWindowImage", d.usedWindowImage},
                               {"usedWritingStyle", d.usedWritingStyle},
                               {"voiceEnabled", d.voiceEnabled},
                               {"voiceSpeed", d.voiceSpeed}};
             if (d.projectName) {
                 answer["projectName"] = *d.projectName;
             }
             {
                 std::lock_guard lock(lastDraftMutex_);
                 lastDraftRequest_ = req.body;
                 lastDraftAnswer_ = answer.dump();
             }
             http::sendJson(res, 200, answer);
         }));
}

}  // namespace larkspire::devservice
