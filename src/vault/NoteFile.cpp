#include "vault/NoteFile.h"

#include <date/date.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <iterator>

#include "service/Wire.h"
#include "util/InternetDateTime.h"
#include "util/Text.h"
#include "util/Uuid.h"

namespace larkspire {

using nlohmann::json;

namespace {

bool isValidUtf8(std::string_view bytes) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    return status == U_ZERO_ERROR || status == U_BUFFER_OVERFLOW_ERROR ||
           status == U_STRING_NOT_TERMINATED_WARNING;
}

}  // namespace

std::string NoteFile::sanitize(std::string_view title) {
    static constexpr std::string_view kRemoved = "/\\:?%*|\"<>#^[]";
    // Control characters and the line and paragraph separators: a NUL made the write
    // fail, and a line break would end a wiki link.
    static constexpr std::string_view kLineSeparator = "\u2028", kParagraphSeparator = "\u2029";
    std::string kept;
    kept.reserve(title.size());
    for (size_t i = 0; i < title.size(); ++i) {
        const auto c = static_cast<unsigned char>(title[i]);
        // Every removed character but the separators is ASCII, which never occurs
        // inside a multi-byte sequence.
        if (c < 0x20 || c == 0x7F || kRemoved.find(title[i]) != std::string_view::npos) {
            continue;
        }
        const std::string_view rest = title.substr(i);
        if (rest.starts_with(kLineSeparator) || rest.starts_with(kParagraphSeparator)) {
            i += kLineSeparator.size() - 1;
            continue;
        }
        kept.push_back(title[i]);
    }
    const size_t begin = kept.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return "";
    }
    const size_t end = kept.find_last_not_of(" \t");
    return text::prefixCharacters(std::string_view(kept).substr(begin, end - begin + 1), 60);
}

std::string NoteFile::fileName(std::string_view createdAt, std::string_view title,
                               const std::optional<std::string_view>& id, platform::TimePoint now) {
    const platform::TimePoint moment = parseInternetDateTime(createdAt).value_or(now);
    std::string name = date::format("%Y-%m-%d %H%M", date::floor<std::chrono::minutes>(moment));
    name += ' ';
    name += sanitize(title.empty() ? std::string_view("Note") : title);
    if (id) {
        name += ' ';
        name += text::prefixCharacters(*id, 8);
    }
    return name;
}

std::string NoteFile::fileContents(const json& note, std::string_view id,
                                   std::string_view createdAt, platform::TimePoint now) {
    std::string out = "---\n";
    out += "id: ";
    out += id;
    out += "\ndate: ";
    out += createdAt;
    out += '\n';
    if (const auto project = wire::stringAt(note, "project")) {
        out += "project: \"" + *project + "\"\n";
    }
    if (const auto tags = note.find("tags");
        tags != note.end() && tags->is_array() && !tags->empty() &&
        std::all_of(tags->begin(), tags->end(), [](const json& t) { return t.is_string(); })) {
        out += "tags: [";
        for (auto it = tags->begin(); it != tags->end(); ++it) {
            if (it != tags->begin()) {
                out += ", ";
            }
            out += it->get_ref<const std::string&>();
        }
        out += "]\n";
    }
    out += "source: " + wire::stringAt(note, "source").value_or("web") + "\n";
    out += "---\n\n";

    const std::string text = wire::stringAt(note, "text").value_or("");
    const auto cleaned = wire::stringAt(note, "cleaned_text");
    if (cleaned && *cleaned != text) {
        out += *cleaned + "\n\n## Raw\n\n" + text;
    } else {
        out += text;
    }

    std::string links;
    if (const auto related = note.find("related"); related != note.end() && related->is_array()) {
        for (const json& target : *related) {
            const auto targetCreatedAt = wire::stringAt(target, "created_at");
            if (!targetCreatedAt) {
                continue;
            }
            const auto targetId = wire::stringAt(target, "id");
            if (!links.empty()) {
                links += '\n';
            }
            links += "- [[" +
                     fileName(*targetCreatedAt, wire::stringAt(target, "title").value_or(""),
                              targetId ? std::optional<std::string_view>(*targetId) : std::nullopt,
                              now) +
                     "]]";
        }
    }
    if (!links.empty()) {
        out += "\n\n## Related\n\n" + links;
    }
    out += '\n';
    return out;
}

std::optional<std::string> NoteFile::managedId(std::string_view contents) {
    if (!isValidUtf8(contents)) {
        return std::nullopt;
    }
    const std::string head = text::prefixCharacters(contents, 500);
    // Lines end at line feeds; a carriage return before one makes a single character
    // with it, so it does not end a line.
    size_t start = 0;
    while (start < head.size()) {
        size_t end = start;
        while (end < head.size() && !(head[end] == '\n' && (end == 0 || head[end - 1] != '\r'))) {
            ++end;
        }
        const std::string_view line = std::string_view(head).substr(start, end - start);
        start = end + 1;
        if (line.starts_with("id: ")) {
            std::string id = text::trimmed(line.substr(4));
            if (!uuid::isValid(id)) {
                return std::nullopt;
            }
            return id;
        }
    }
    return std::nullopt;
}

}  // namespace larkspire
