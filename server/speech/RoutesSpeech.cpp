// Transcription, long-recording finalisation, read-aloud synthesis and contextual drafts.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "server/auth/Crypto.h"
#include "server/drafting/Drafting.h"
#include "server/engines/LanguageModel.h"
#include "server/http/Http.h"
#include "server/http/Service.h"
#include "server/speech/TextCleanup.h"
#include "server/speech/Upload.h"
#include "server/store/NoteJson.h"

namespace larkspire::server {
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

std::string Service::transcribe(const httplib::Request& req, const std::vector<int16_t>& samples,
                                const std::vector<std::string>& vocabulary) {
    if (!stt_) {
        recognizer_.learn(vocabulary);
        return text::rawTranscript(recognizer_.recognise(samples));
    }
    std::string prompt;
    for (const auto& word : vocabulary) {
        prompt += (prompt.empty() ? "" : ", ") + word;
    }
    const std::string heard =
        stt_->transcribe(req.get_file_value("audio").content, options_.engines.sttLanguage, prompt);
    std::string kept = text::withoutInventedText(heard);
    if (kept.empty() && !text::trim(heard).empty()) {
        log_.line("dropped \"" + text::trim(heard) + "\", a text engines invent on silence");
    }
    return kept;
}

std::string Service::clean(const std::string& raw, const std::vector<std::string>& vocabulary) {
    if (llm_ && !options_.engines.ruleCleanup) {
        if (auto cleaned = cleanWithModel(*llm_, raw, vocabulary)) {
            return *cleaned;
        }
        log_.line(
            "the language model's cleanup was not a version of the transcript; "
            "cleaned by the rules instead");
    }
    return text::applyVocabulary(text::cleanTranscript(raw), vocabulary);
}

void Service::engineFailed(httplib::Response& res, const char* task, const EngineError& e) {
    log_.line(std::string(task) + " failed: " + e.what());
    http::sendError(res, e.status(), e.what());
}

void Service::speakAsMade(httplib::Response& res, const std::string& text) {
    res.status = 200;
    res.set_chunked_content_provider("audio/wav", [this, text](size_t, httplib::DataSink& sink) {
        const auto started = std::chrono::steady_clock::now();
        std::string bytes = wav::streamingHeader(synthesizer_.sampleRate());
        size_t samples = 0;
        bool sent = sink.write(bytes.data(), bytes.size());
        try {
            if (sent) {
                synthesizer_.speak(text, [&](std::span<const int16_t> block) {
                    bytes.clear();
                    wav::appendSamples(bytes, block);
                    samples += block.size();
                    sent = sink.write(bytes.data(), bytes.size());
                    return sent;
                });
            }
        } catch (const SynthesizerError& e) {
            // The status has gone out: the answer ends short, which the agent reports.
            log_.line(std::string("synthesis failed: ") + e.what());
            return false;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        log_.line("synthesis: " + std::to_string(samples) + " samples in " +
                  std::to_string(ms.count()) + " ms" + (sent ? "" : ", client gone"));
        if (sent) {
            sink.done();
        }
        return sent;
    });
}

void Service::registerSpeechRoutes() {
    post("/api/transcribe", authed([this](const httplib::Request& req, httplib::Response& res,
                                          const std::string& userId) {
             UploadError error{0, ""};
             auto upload = readUpload(req, error);
             if (!upload) {
                 http::sendError(res, error.status, error.error);
                 return;
             }
             const auto vocabulary = store_.vocabulary(userId);
             std::string raw, cleaned;
             try {
                 raw = transcribe(req, upload->audio.samples, vocabulary);
                 cleaned = raw.empty() ? "" : clean(raw, vocabulary);
             } catch (const EngineError& e) {
                 // Nothing is stored: the agent keeps the recording and can send it again.
                 engineFailed(res, "transcription", e);
                 return;
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
             if (!tts_) {
                 speakAsMade(res, *text);
                 return;
             }
             std::string audio;
             try {
                 audio = tts_->speak(*text, options_.engines.ttsVoice);
             } catch (const EngineError& e) {
                 engineFailed(res, "synthesis", e);
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
             if (llm_) {
                 try {
                     auto written = draftWithModel(*llm_, r);
                     d.draft = std::move(written.draft);
                     d.explanation = std::move(written.explanation);
                     // The model is given the window's text, not its picture.
                     d.usedWindowImage = false;
                 } catch (const EngineError& e) {
                     engineFailed(res, "draft", e);
                     return;
                 }
             }
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

}  // namespace larkspire::server
