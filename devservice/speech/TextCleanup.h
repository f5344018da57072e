#pragma once

#include <string>
#include <vector>

namespace larkspire::devservice::text {

// The recogniser's words without its markers (<sil>, [NOISE], pronunciation numbers).
std::string rawTranscript(const std::string& hypothesis);

// What a user wants pasted: filler words dropped, spoken punctuation applied, "i" as "I",
// sentences capitalised and the last one closed with "." or "?".
std::string cleanTranscript(const std::string& raw);

// A short title for a note: the first words of its first line, without closing punctuation.
std::string titleFor(const std::string& cleaned);

std::vector<std::string> words(const std::string& text);
std::string lower(std::string text);
std::string trim(const std::string& text);

// Splits prose into sentences at ".", "?", "!" and line breaks, each trimmed.
std::vector<std::string> sentences(const std::string& text);

// Capitalises the first letter of every sentence and closes the text with punctuation.
std::string tidySentences(const std::string& text);

}  // namespace larkspire::devservice::text
