#pragma once

#include <string>
#include <vector>

namespace larkspire::server::text {

// The recogniser's words without its markers (<sil>, [NOISE], pronunciation numbers).
std::string rawTranscript(const std::string& hypothesis);

// What a user wants pasted: filler words dropped, spoken punctuation applied, "i" as "I",
// sentences capitalised and the last one closed with "." or "?".
std::string cleanTranscript(const std::string& raw);

// The texts Whisper-class engines invent on silence or noise ("Thank you.", "[BLANK_AUDIO]",
// "you"): bracketed non-speech markers are taken out, and a transcript that is then nothing
// but one of the invented phrases is answered as "".
std::string withoutInventedText(const std::string& transcript);

// "new line" and "new paragraph", still spoken in a text that an engine has cleaned, become a
// line break and an empty line, with the next sentence capitalised.
std::string applySpokenBreaks(const std::string& text);

// Each word of the vocabulary, wherever the text has it in another case, spelled the
// vocabulary's way ("larkspire" → "Larkspire").
std::string applyVocabulary(const std::string& text, const std::vector<std::string>& vocabulary);

// At most `limit` bytes of the text, cut at a character boundary of UTF-8.
std::string utf8Prefix(std::string text, size_t limit);

// A short title for a note: the first words of its first line, without closing punctuation.
std::string titleFor(const std::string& cleaned);

std::vector<std::string> words(const std::string& text);
std::string lower(std::string text);
std::string trim(const std::string& text);

// Splits prose into sentences at ".", "?", "!" and line breaks, each trimmed.
std::vector<std::string> sentences(const std::string& text);

// Capitalises the first letter of every sentence and closes the text with punctuation.
std::string tidySentences(const std::string& text);

}  // namespace larkspire::server::text
