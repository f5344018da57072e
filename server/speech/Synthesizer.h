#pragma once

#include <mutex>
#include <string>

namespace larkspire::server {

struct SynthesizerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Speech synthesis with eSpeak NG. The library keeps one synthesiser per process and is not
// re-entrant, so create one instance and let requests take turns on it.
class Synthesizer {
  public:
    explicit Synthesizer(std::string voice = "en-us");
    ~Synthesizer();
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    // The text spoken into a 16-bit mono WAV file at the synthesiser's own rate.
    std::string speak(const std::string& text);

  private:
    std::mutex mutex_;
    std::string voice_;
    int sampleRate_ = 0;
};

}  // namespace larkspire::server
