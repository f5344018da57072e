#include "server/speech/Synthesizer.h"

#include <espeak-ng/speak_lib.h>

#include <cstdint>
#include <vector>

#include "server/speech/Wav.h"

namespace larkspire::server {
namespace {

// eSpeak hands each block of samples to this callback; the buffer to fill travels in the
// events' user data, so no state lives outside the request.
int collect(short* samples, int count, espeak_EVENT* events) {
    if (events == nullptr) {
        return 0;
    }
    auto* out = static_cast<std::vector<int16_t>*>(events->user_data);
    if (out != nullptr && samples != nullptr && count > 0) {
        out->insert(out->end(), samples, samples + count);
    }
    return 0;
}

}  // namespace

Synthesizer::Synthesizer(std::string voice) : voice_(std::move(voice)) {
    sampleRate_ =
        espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (sampleRate_ <= 0) {
        throw SynthesizerError("eSpeak NG failed to initialise");
    }
    espeak_SetSynthCallback(collect);
    if (espeak_SetVoiceByName(voice_.c_str()) != EE_OK) {
        espeak_Terminate();
        throw SynthesizerError("eSpeak NG has no voice " + voice_);
    }
}

Synthesizer::~Synthesizer() {
    espeak_Terminate();
}

std::string Synthesizer::speak(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::vector<int16_t> samples;
    espeak_ERROR rc = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                   espeakCHARS_UTF8, nullptr, &samples);
    if (rc != EE_OK || espeak_Synchronize() != EE_OK) {
        throw SynthesizerError("speech synthesis failed");
    }
    return wav::encode(samples, sampleRate_);
}

}  // namespace larkspire::server
