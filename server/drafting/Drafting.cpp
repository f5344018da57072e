#include "server/drafting/Drafting.h"

#include <array>
#include <regex>
#include <utility>
#include <vector>

#include "server/speech/TextCleanup.h"

namespace larkspire::server {
namespace {

bool containsAny(const std::string& haystack, std::initializer_list<const char*> needles) {
    for (const char* n : needles) {
        if (haystack.find(n) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string intentOf(const std::string& ins) {
    auto ws = text::words(ins);
    std::string first = ws.empty() ? "" : ws.front();
    if (containsAny(ins, {"reply", "respond", "answer"})) {
        return "reply";
    }
    if (containsAny(ins, {"summar", "tldr", "tl;dr", "sum up"})) {
        return "summarize";
    }
    if (containsAny(ins, {"rewrite", "rephrase", "improve", "fix ", "correct", "shorten", "shorter",
                          "formal", "polish", "proofread"})) {
        return "rewrite";
    }
    if (containsAny(ins, {"explain", "?"}) ||
        (first == "what" || first == "why" || first == "how" || first == "who" || first == "when" ||
         first == "where" || first == "is" || first == "does" || first == "tell")) {
        return "ask";
    }
    return "write";
}

// The words the user wants written: what follows "saying", "that says", "to say", ":".
std::string spokenContent(const std::string& instruction) {
    std::string ins = text::lower(instruction);
    for (const char* marker : {" saying ", " that says ", " to say ", " telling them ", ": "}) {
        auto at = ins.find(marker);
        if (at != std::string::npos) {
            return text::trim(instruction.substr(at + std::string(marker).size()));
        }
    }
    return "";
}

std::string withoutCommand(const std::string& instruction) {
    static const std::regex command(
        R"(^\s*(please\s+)?(write|draft|compose|type|create|make|add)\s+(me\s+)?((a|an|the)\s+)?((short|quick|brief)\s+)?((note|message|email|e-mail|text|list|line)\s+)?((to|for)\s+\w+\s+)?((about|that|saying)\s+)?)",
        std::regex::icase);
    return text::trim(
        std::regex_replace(instruction, command, "", std::regex_constants::format_first_only));
}

std::string recipientName(const std::string& context) {
    static const std::regex from(R"((^|\n)\s*From:\s*"?([A-Z][A-Za-z'-]+))");
    std::smatch m;
    if (std::regex_search(context, m, from)) {
        return m[2].str();
    }
    return "";
}

std::string firstNonEmpty(std::initializer_list<const std::string*> texts) {
    for (const auto* t : texts) {
        if (!text::trim(*t).empty()) {
            return text::trim(*t);
        }
    }
    return "";
}

std::string expandContractions(std::string s) {
    static const std::array<std::pair<const char*, const char*>, 12> pairs{{
        {"can't", "cannot"},
        {"won't", "will not"},
        {"don't", "do not"},
        {"doesn't", "does not"},
        {"isn't", "is not"},
        {"aren't", "are not"},
        {"I'm", "I am"},
        {"I'll", "I will"},
        {"I've", "I have"},
        {"it's", "it is"},
        {"we're", "we are"},
        {"thanks", "thank you"},
    }};
    for (const auto& [from, to] : pairs) {
        std::regex word(std::string("\\b") + from + "\\b", std::regex::icase);
        s = std::regex_replace(s, word, to);
    }
    static const std::regex greeting(R"(^\s*(hi|hey)\b)", std::regex::icase);
    return std::regex_replace(s, greeting, "Hello");
}

std::string collapseSpaces(const std::string& s) {
    static const std::regex spaces(R"([ \t]+)");
    static const std::regex beforePunct(R"( +([,.;:?!]))");
    return std::regex_replace(std::regex_replace(s, spaces, " "), beforePunct, "$1");
}

std::string joinFirst(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < parts.size() && i < count; ++i) {
        if (!out.empty()) {
            out += ' ';
        }
        out += parts[i];
    }
    return out;
}

std::string appName(const DraftRequest& r) {
    return r.application.empty() ? std::string("this window") : r.application;
}

void reply(const DraftRequest& r, const std::string& surface, Draft& d) {
    std::string content = spokenContent(r.instruction);
    static const std::regex replyWith(
        R"(^\s*(please\s+)?(reply|answer|respond)(\s+to\s+\w+)?\s+(with|that)\s+(.+)$)",
        std::regex::icase);
    std::smatch m;
    if (content.empty() && std::regex_match(r.instruction, m, replyWith)) {
        content = m[5].str();
    }
    std::string body = content.empty() ? "Thanks for your message. I'll get back to you soon."
                                       : text::tidySentences(text::cleanTranscript(content));
    std::string name = recipientName(r.surroundingText + "\n" + r.windowText);
    if (surface == "email") {
        d.draft = (name.empty() ? "Hi," : "Hi " + name + ",") + "\n\n" + body + "\n\nBest regards";
    } else {
        d.draft = body;
    }
    d.insertLabel = "Insert reply";
    // The explanation quotes what the window was about, so a listener can tell the
    // context arrived.
    const std::string about =
        r.windowTitle.empty() ? "" : " about “" + text::trim(r.windowTitle) + "”";
    d.explanation =
        (name.empty() ? "I drafted a reply" : "I drafted a reply to " + name) + about + ".";
}

void summarize(const DraftRequest& r, Draft& d) {
    std::string source = firstNonEmpty({&r.selectedText, &r.surroundingText, &r.windowText});
    auto all = text::sentences(source);
    if (all.empty()) {
        d.explanation = "There is no text here to summarise.";
        return;
    }
    size_t keep = all.size() <= 2 ? all.size() : std::max<size_t>(2, (all.size() + 2) / 3);
    keep = std::min<size_t>(keep, 3);
    d.draft = text::tidySentences(joinFirst(all, keep));
    d.explanation =
        "I kept " + std::to_string(keep) + " of " + std::to_string(all.size()) + " sentences.";
}

void rewrite(const DraftRequest& r, const std::string& ins, Draft& d) {
    std::string source = firstNonEmpty({&r.selectedText, &r.surroundingText});
    if (source.empty()) {
        d.explanation = "Select the text you want rewritten first.";
        return;
    }
    std::string out = collapseSpaces(source);
    if (containsAny(ins, {"shorten", "shorter", "brief", "concise"})) {
        auto all = text::sentences(out);
        out = joinFirst(all, std::max<size_t>(1, all.size() / 2));
        d.explanation = "I shortened it to its opening.";
    } else if (containsAny(ins, {"formal", "polite", "professional"})) {
        out = expandContractions(out);
        d.explanation = "I made the wording more formal.";
    } else {
        d.explanation = "I tidied spacing, capitals and punctuation.";
    }
    static const std::regex loneI(R"(\bi\b)");
    d.draft = text::tidySentences(std::regex_replace(out, loneI, "I"));
    d.insertLabel = r.selectedText.empty() ? "Insert at cursor" : "Replace selection";
}

void ask(const DraftRequest& r, const std::string& ins, Draft& d) {
    std::string app = appName(r);
    if (containsAny(ins, {"select"}) && !text::trim(r.selectedText).empty()) {
        std::string sel = text::trim(r.selectedText);
        d.explanation = "The selection has " + std::to_string(text::words(sel).size()) +
                        " words and begins: " + text::sentences(sel).front();
        return;
    }
    std::string source = firstNonEmpty({&r.windowText, &r.surroundingText, &r.selectedText});
    if (source.empty()) {
        d.explanation = "I can't read any text in " + app + ".";
        return;
    }
    auto ws = text::words(source);
    std::string title = r.windowTitle.empty() ? "" : " (" + r.windowTitle + ")";
    d.explanation = app + title + " shows " + std::to_string(ws.size()) +
                    " words. It begins: " + text::sentences(source).front();
}

void write(const DraftRequest& r, Draft& d) {
    std::string content = spokenContent(r.instruction);
    if (content.empty()) {
        content = withoutCommand(r.instruction);
    }
    d.draft = content.empty() ? "" : text::cleanTranscript(content);
    d.explanation = d.draft.empty() ? "I didn't catch what to write." : "";
}

}  // namespace

std::string surfaceOf(const std::string& application, const std::string& windowTitle) {
    std::string where = text::lower(application + " " + windowTitle);
    if (containsAny(where, {"thunderbird", "evolution", "geary", "mail", "outlook"})) {
        return "email";
    }
    if (containsAny(where, {"slack", "discord", "telegram", "signal", "element", "teams",
                            "whatsapp", "mattermost", "chat"})) {
        return "chat";
    }
    if (containsAny(where, {"terminal", "xterm", "konsole", "alacritty", "kitty", "tilix"})) {
        return "terminal";
    }
    if (containsAny(where, {"code", "vim", "emacs", "kate", "jetbrains", "intellij", "pycharm",
                            "qtcreator", "sublime"})) {
        return "code";
    }
    if (containsAny(where, {"writer", "libreoffice", "docs", "abiword", "word"})) {
        return "document";
    }
    if (containsAny(where, {"firefox", "chromium", "chrome", "browser", "epiphany"})) {
        return "browser";
    }
    return "generic";
}

Draft makeDraft(const DraftRequest& r) {
    Draft d;
    std::string ins = text::lower(r.instruction);
    d.intent = intentOf(ins);
    d.surface = surfaceOf(r.application, r.windowTitle);
    d.insertLabel = "Insert at cursor";
    d.projectName = r.projectName;
    if (d.intent == "reply") {
        reply(r, d.surface, d);
    } else if (d.intent == "summarize") {
        summarize(r, d);
    } else if (d.intent == "rewrite") {
        rewrite(r, ins, d);
    } else if (d.intent == "ask") {
        ask(r, ins, d);
    } else {
        write(r, d);
    }
    return d;
}

}  // namespace larkspire::server
