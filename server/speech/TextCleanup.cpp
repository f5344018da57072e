#include "server/speech/TextCleanup.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>

namespace larkspire::server::text {
namespace {

const std::set<std::string>& fillers() {
    static const std::set<std::string> words{"um", "umm", "uh", "uhm", "er",    "erm",
                                             "ah", "hmm", "mm", "mhm", "uh-huh"};
    return words;
}

const std::set<std::string>& questionWords() {
    static const std::set<std::string> words{"who",    "what", "when", "where", "why",   "how",
                                             "which",  "is",   "are",  "can",   "could", "would",
                                             "should", "do",   "does", "did",   "will",  "shall",
                                             "may",    "have", "has",  "was",   "were",  "whose"};
    return words;
}

bool endsSentence(char c) {
    return c == '.' || c == '?' || c == '!';
}

struct SpokenMark {
    std::vector<std::string> spoken;
    std::string mark;
};

const std::array<SpokenMark, 7>& spokenMarks() {
    static const std::array<SpokenMark, 7> marks{{
        {{"new", "paragraph"}, "\n\n"},
        {{"new", "line"}, "\n"},
        {{"question", "mark"}, "?"},
        {{"exclamation", "mark"}, "!"},
        {{"exclamation", "point"}, "!"},
        {{"full", "stop"}, "."},
        {{"comma"}, ","},
    }};
    return marks;
}

std::string capitaliseI(const std::string& word) {
    if (word == "i" || word.rfind("i'", 0) == 0) {
        std::string out = word;
        out[0] = 'I';
        return out;
    }
    return word;
}

}  // namespace

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim(const std::string& text) {
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

std::string rawTranscript(const std::string& hypothesis) {
    std::string out;
    for (auto w : words(hypothesis)) {
        if ((w.front() == '<' && w.back() == '>') || (w.front() == '[' && w.back() == ']') ||
            (w.front() == '+' && w.back() == '+')) {
            continue;
        }
        if (auto paren = w.find('('); paren != std::string::npos && paren > 0 && w.back() == ')') {
            w.erase(paren);
        }
        if (!out.empty()) {
            out += ' ';
        }
        out += w;
    }
    return out;
}

std::string tidySentences(const std::string& input) {
    std::string out = trim(input);
    bool capitalise = true;
    for (char& c : out) {
        if (capitalise && std::isalpha(static_cast<unsigned char>(c))) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            capitalise = false;
        } else if (endsSentence(c) || c == '\n') {
            capitalise = true;
        } else if (std::isalnum(static_cast<unsigned char>(c))) {
            capitalise = false;
        }
    }
    if (!out.empty() && !endsSentence(out.back())) {
        while (!out.empty() && (out.back() == ',' || out.back() == ';' || out.back() == ':')) {
            out.pop_back();
        }
        // A question is recognised by the first word of the last sentence.
        auto start = out.find_last_of(".?!\n");
        auto last = words(lower(start == std::string::npos ? out : out.substr(start + 1)));
        bool question = !last.empty() && questionWords().count(last.front()) > 0;
        out += question ? '?' : '.';
    }
    return out;
}

std::string cleanTranscript(const std::string& raw) {
    auto in = words(raw);
    std::string out;
    for (size_t i = 0; i < in.size();) {
        std::string w = lower(in[i]);
        if (fillers().count(w) > 0) {
            ++i;
            continue;
        }
        bool matched = false;
        for (const auto& m : spokenMarks()) {
            if (i + m.spoken.size() > in.size()) {
                continue;
            }
            bool same = true;
            for (size_t k = 0; k < m.spoken.size() && same; ++k) {
                same = lower(in[i + k]) == m.spoken[k];
            }
            if (same) {
                while (!out.empty() && out.back() == ' ') {
                    out.pop_back();
                }
                out += m.mark;
                if (m.mark.back() != '\n') {
                    out += ' ';
                }
                i += m.spoken.size();
                matched = true;
                break;
            }
        }
        if (matched) {
            continue;
        }
        out += capitaliseI(in[i]);
        out += ' ';
        ++i;
    }
    return tidySentences(out);
}

std::string withoutInventedText(const std::string& transcript) {
    // Seen from whisper.cpp and faster-whisper on silence, hum and breath.
    static const std::set<std::string> invented{"you",
                                                "thank you",
                                                "thanks",
                                                "thank you very much",
                                                "thanks for watching",
                                                "thank you for watching",
                                                "thank you so much for watching",
                                                "bye",
                                                "subtitles by the amara org community",
                                                "please subscribe"};
    static const std::regex marker(R"(\[[^\]]*\]|\((silence|music|noise|inaudible)\)|(♪)+)",
                                   std::regex::icase);
    const std::string kept = trim(std::regex_replace(transcript, marker, " "));
    std::string key;
    for (unsigned char c : lower(kept)) {
        if (std::isalnum(c)) {
            key += static_cast<char>(c);
        } else if (!key.empty() && key.back() != ' ') {
            key += ' ';
        }
    }
    key = trim(key);
    if (key.empty() || invented.count(key) > 0) {
        return "";
    }
    // Markers inside speech leave double spaces behind.
    return std::regex_replace(kept, std::regex("  +"), " ");
}

std::string applySpokenBreaks(const std::string& input) {
    static const std::regex spoken(R"([ \t]*[,.;:]?[ \t]*\bnew (line|paragraph)\b[,.;:]?[ \t]*)",
                                   std::regex::icase);
    std::string out;
    bool capitalise = false;
    auto copy = [&](auto from, auto to) {
        for (; from != to; ++from) {
            const auto c = static_cast<unsigned char>(*from);
            out += static_cast<char>(capitalise && std::isalpha(c) ? std::toupper(c) : c);
            capitalise = capitalise && !std::isalpha(c);
        }
    };
    auto last = input.cbegin();
    for (std::sregex_iterator it(input.begin(), input.end(), spoken), end; it != end; ++it) {
        copy(last, (*it)[0].first);
        out += lower((*it)[1].str()) == "line" ? "\n" : "\n\n";
        capitalise = true;
        last = (*it)[0].second;
    }
    copy(last, input.cend());
    return out;
}

std::string applyVocabulary(const std::string& input, const std::vector<std::string>& vocabulary) {
    std::string out = input;
    for (const auto& word : vocabulary) {
        std::string pattern;
        for (char c : word) {
            if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) {
                pattern += '\\';
            }
            pattern += c;
        }
        out = std::regex_replace(out, std::regex("\\b" + pattern + "\\b", std::regex::icase), word);
    }
    return out;
}

std::string utf8Prefix(std::string text, size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    text.resize(cut);
    return text;
}

std::string titleFor(const std::string& cleaned) {
    std::string firstLine = trim(cleaned.substr(0, cleaned.find('\n')));
    auto ws = words(firstLine);
    std::string title;
    for (size_t i = 0; i < ws.size() && i < 8; ++i) {
        if (!title.empty()) {
            title += ' ';
        }
        title += ws[i];
    }
    if (title.size() > 60) {
        title.resize(60);
    }
    while (!title.empty() &&
           (endsSentence(title.back()) || title.back() == ',' || title.back() == ' ')) {
        title.pop_back();
    }
    return title;
}

std::vector<std::string> sentences(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            if (!trim(current).empty()) {
                out.push_back(trim(current));
            }
            current.clear();
            continue;
        }
        current += c;
        if (endsSentence(c)) {
            out.push_back(trim(current));
            current.clear();
        }
    }
    if (!trim(current).empty()) {
        out.push_back(trim(current));
    }
    return out;
}

}  // namespace larkspire::server::text
