#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <stdexcept>
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

    // The text spoken at sampleRate(), handed to `onSamples` block by block as it is made
    // (blocks of about 60 ms); `onSamples` returning false ends the synthesis early.
    void speak(const std::string& text,
               const std::function<bool(std::span<const int16_t> samples)>& onSamples);
    int sampleRate() const { return sampleRate_; }

  private:
    std::mutex mutex_;
    std::string voice_;
    int sampleRate_ = 0;
};

}  // namespace larkspire::server
