#include "server/speech/Recognizer.h"

#include <ckd_alloc.h>
#include <pocketsphinx.h>

#include <sstream>

#include "server/speech/TextCleanup.h"

namespace larkspire::server {

struct Recognizer::Decoder {
    struct FreeConfig {
        void operator()(cmd_ln_t* c) const { cmd_ln_free_r(c); }
    };
    struct FreeDecoder {
        void operator()(ps_decoder_t* d) const { ps_free(d); }
    };
    std::unique_ptr<cmd_ln_t, FreeConfig> config;
    std::unique_ptr<ps_decoder_t, FreeDecoder> decoder;
};

Recognizer::Recognizer(RecognizerSettings settings) : settings_(std::move(settings)) {
    namespace fs = std::filesystem;
    for (const auto& required :
         {settings_.modelDir / "en-us", settings_.modelDir / "cmudict-en-us.dict",
          settings_.modelDir / "en-us.lm.bin"}) {
        if (!fs::exists(required)) {
            throw RecognizerError("speech model missing: " + required.string());
        }
    }
    if (settings_.grammar && !fs::is_regular_file(*settings_.grammar)) {
        throw RecognizerError("grammar file not found: " + settings_.grammar->string());
    }
}

Recognizer::~Recognizer() = default;

void Recognizer::loadLocked() {
    auto hmm = (settings_.modelDir / "en-us").string();
    auto dict = (settings_.modelDir / "cmudict-en-us.dict").string();
    auto lm = (settings_.modelDir / "en-us.lm.bin").string();
    auto log = settings_.logFile.string();
    auto grammar = settings_.grammar ? settings_.grammar->string() : std::string();
    auto decoder = std::make_unique<Decoder>();
    // cmd_ln_init takes a NULL-terminated list of option pairs. Each upload is a whole
    // utterance, normalised by its own cepstral mean ("batch"): the default running mean
    // starts from the model's values and carries over from one request to the next, so a
    // text would depend on what the service heard before.
    decoder->config.reset(
        settings_.grammar
            ? cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dict.c_str(),
                          "-jsgf", grammar.c_str(), "-cmn", "batch", "-logfn", log.c_str(), nullptr)
            : cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dict.c_str(),
                          "-lm", lm.c_str(), "-cmn", "batch", "-logfn", log.c_str(), nullptr));
    if (!decoder->config) {
        throw RecognizerError("speech recogniser configuration rejected");
    }
    decoder->decoder.reset(ps_init(decoder->config.get()));
    if (!decoder->decoder) {
        throw RecognizerError("speech recogniser failed to load (see " + log + ")");
    }
    decoder_ = std::move(decoder);
}

void Recognizer::load() {
    std::lock_guard lock(mutex_);
    if (!decoder_) {
        loadLocked();
    }
}

std::vector<std::string> Recognizer::learn(const std::vector<std::string>& entries) {
    std::vector<std::string> unplaced;
    if (usesGrammar()) {
        return unplaced;
    }
    std::lock_guard lock(mutex_);
    if (!decoder_) {
        loadLocked();
    }
    ps_decoder_t* ps = decoder_->decoder.get();
    auto phones = [ps](const std::string& word) {
        std::unique_ptr<char, void (*)(void*)> found(ps_lookup_word(ps, word.c_str()), ckd_free);
        return found ? std::string(found.get()) : std::string();
    };
    for (const auto& entry : entries) {
        for (const auto& spelled : text::words(entry)) {
            const std::string word = text::lower(spelled);
            if (auto seen = learned_.find(word); seen != learned_.end()) {
                if (!seen->second) {
                    unplaced.push_back(spelled);
                }
                continue;
            }
            bool placed = !phones(word).empty();
            for (size_t cut = 2; !placed && cut + 2 <= word.size(); ++cut) {
                const std::string head = phones(word.substr(0, cut));
                const std::string tail = head.empty() ? "" : phones(word.substr(cut));
                placed = !tail.empty() &&
                         ps_add_word(ps, word.c_str(), (head + " " + tail).c_str(), TRUE) >= 0;
            }
            learned_[word] = placed;
            if (!placed) {
                unplaced.push_back(spelled);
            }
        }
    }
    return unplaced;
}

std::string Recognizer::recognise(const std::vector<int16_t>& samples) {
    std::lock_guard lock(mutex_);
    if (!decoder_) {
        loadLocked();
    }
    ps_decoder_t* ps = decoder_->decoder.get();
    if (ps_start_utt(ps) < 0) {
        throw RecognizerError("speech recogniser could not start");
    }
    if (!samples.empty() && ps_process_raw(ps, samples.data(), samples.size(), FALSE, TRUE) < 0) {
        ps_end_utt(ps);
        throw RecognizerError("speech recogniser rejected the audio");
    }
    if (ps_end_utt(ps) < 0) {
        throw RecognizerError("speech recogniser could not finish");
    }
    int32 score = 0;
    const char* hyp = ps_get_hyp(ps, &score);
    return hyp ? std::string(hyp) : std::string();
}

}  // namespace larkspire::server
