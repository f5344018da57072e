#pragma once

#include <optional>
#include <string>

namespace larkspire::server {

struct DraftRequest {
    std::string instruction;
    std::string application;
    std::string windowTitle;
    std::string role;
    std::string selectedText;
    std::string surroundingText;
    std::string windowText;
    bool hasWindowImage = false;
    std::optional<std::string> projectName;
};

struct Draft {
    std::string intent;
    std::string draft;
    std::string explanation;
    std::string surface;
    std::string insertLabel;
    bool usedWindowImage = false;
    std::optional<std::string> projectName;
    bool usedWritingStyle = false;
    bool voiceEnabled = true;
    double voiceSpeed = 1.0;
};

// Rule-based drafting: the instruction's verbs pick the intent, the application picks the
// surface, and the draft is built from the words of the instruction and the captured text.
// There is no language model here; the rules are predictable so tests can state results.
Draft makeDraft(const DraftRequest& request);

// The kind of application the text is going to ("email", "chat", "code", ...).
std::string surfaceOf(const std::string& application, const std::string& windowTitle);

}  // namespace larkspire::server
