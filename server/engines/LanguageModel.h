#pragma once

#include <optional>
#include <string>
#include <vector>

#include "server/drafting/Drafting.h"
#include "server/engines/OpenAIEngine.h"

namespace larkspire::server {

// Transcript cleanup by a chat model: punctuation, capitals, fillers out, "new line" and
// "new paragraph" applied, the vocabulary's spellings kept. The transcript goes in as data
// to clean, never as a request to the model. Nothing when the answer is not a cleaned
// version of the transcript (empty, or far longer: the model answered it instead), so
// the caller can fall back to the rules. Throws EngineError.
std::optional<std::string> cleanWithModel(const OpenAIEngine& model, const std::string& raw,
                                          const std::vector<std::string>& vocabulary);

struct ModelDraft {
    std::string draft;
    std::string explanation;
};

// A screen-aware draft by a chat model: the spoken instruction in, the window's (already
// redacted) text as quoted data that gives no orders. The answer is checked (a draft must
// be there) and bounded (draft 20,000 bytes, explanation 600). Throws EngineError.
ModelDraft draftWithModel(const OpenAIEngine& model, const DraftRequest& request);

}  // namespace larkspire::server
