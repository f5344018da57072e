#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace larkspire::server {

struct RecognizerSettings {
    std::filesystem::path modelDir;                // holds en-us/, cmudict-en-us.dict, en-us.lm.bin
    std::optional<std::filesystem::path> grammar;  // JSGF file restricting what is heard
    std::filesystem::path logFile;                 // the decoder's own chatter goes here
};

struct RecognizerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Offline recognition with PocketSphinx. A decoder holds per-utterance state and is not safe
// for concurrent use, so requests take turns on one decoder.
class Recognizer {
  public:
    explicit Recognizer(RecognizerSettings settings);
    ~Recognizer();
    Recognizer(const Recognizer&) = delete;
    Recognizer& operator=(const Recognizer&) = delete;

    // 16 kHz mono samples in, lower-case words out ("" when nothing was heard).
    std::string recognise(const std::vector<int16_t>& samples);

    // Teaches the dictionary the words it lacks, where a pronunciation can be put together
    // from two words it knows ("larkspire" from "lark" and "spire"). Words of several parts
    // are taken word by word. One dictionary serves every account. Under a grammar, which
    // hears only its own sentences, it does nothing. Returns the words it could not place.
    std::vector<std::string> learn(const std::vector<std::string>& words);

    // Loads the model now rather than on the first request.
    void load();

    bool usesGrammar() const { return settings_.grammar.has_value(); }

  private:
    struct Decoder;
    void loadLocked();

    RecognizerSettings settings_;
    std::mutex mutex_;
    std::unique_ptr<Decoder> decoder_;
    // Lower-case words already looked up, placed or not.
    std::map<std::string, bool> learned_;
};

}  // namespace larkspire::server
