#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace larkspire {

// A note as a Markdown file: its name and its contents.
class NoteFile {
  public:
    // File name of a note, without ".md": "yyyy-MM-dd HHmm" in UTC, the sanitised title
    // ("Note" when empty) and, when an id is given, its first 8 characters. A creation
    // time that does not parse stands for `now`.
    static std::string fileName(std::string_view createdAt, std::string_view title,
                                const std::optional<std::string_view>& id, platform::TimePoint now);
    // Drops the characters  / \ : ? % * | " < > # ^ [ ], the control characters
    // (U+0000–U+001F, U+007F) and the line and paragraph separators, trims spaces and
    // keeps the first 60 user-perceived characters.
    static std::string sanitize(std::string_view title);
    // The Markdown file of a note: front matter, body and related links.
    static std::string fileContents(const nlohmann::json& note, std::string_view id,
                                    std::string_view createdAt, platform::TimePoint now);
    // The note id that an existing file's front matter names: the first line starting
    // with "id: " within its first 500 characters, when the rest of that line is a UUID.
    // Nothing for any other file, text that is not UTF-8 included.
    static std::optional<std::string> managedId(std::string_view contents);
};

}  // namespace larkspire
