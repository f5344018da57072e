#include "server/speech/Synthesizer.h"

#include <espeak-ng/speak_lib.h>

#include <cstdint>

namespace larkspire::server {
namespace {

using SampleSink = std::function<bool(std::span<const int16_t>)>;

// eSpeak hands each block of samples to this callback as it is made; the request's sink
// travels in the events' user data, so no state lives outside the request. Non-zero
// ends the synthesis.
int collect(short* samples, int count, espeak_EVENT* events) {
    if (events == nullptr) {
        return 0;
    }
    auto* sink = static_cast<const SampleSink*>(events->user_data);
    if (sink != nullptr && samples != nullptr && count > 0) {
        return (*sink)(std::span<const int16_t>(samples, static_cast<std::size_t>(count))) ? 0 : 1;
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

void Synthesizer::speak(const std::string& text, const SampleSink& onSamples) {
    std::lock_guard lock(mutex_);
    espeak_ERROR rc = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                   espeakCHARS_UTF8, nullptr, const_cast<SampleSink*>(&onSamples));
    if (rc != EE_OK || espeak_Synchronize() != EE_OK) {
        throw SynthesizerError("speech synthesis failed");
    }
}

}  // namespace larkspire::server
