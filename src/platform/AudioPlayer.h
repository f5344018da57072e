#pragma once

#include <functional>

namespace larkspire::platform {

// One decoded sound and its playback on the default output. Made by an
// AudioPlayerFactory. Main thread only; every call returns promptly (waits on the audio
// server are bounded by about 2 s), and a pause or stop is heard within 100 ms.
class AudioPlayer {
  public:
    // Runs on the main queue when playback ends by itself: `successfully` is true when
    // the sound played to its end, false when the output broke off (the audio server went
    // away). It never runs for a playback ended by stop() or a new position, nor once
    // the player is destroyed.
    using FinishHandler = std::function<void(AudioPlayer& player, bool successfully)>;

    // Stops playback: when the destructor returns, no sound of it is heard any more.
    virtual ~AudioPlayer() = default;

    virtual void setFinishHandler(FinishHandler handler) = 0;

    // Playback speed (1 = as recorded); the pitch stays. Applies to the sound not yet
    // played.
    virtual void setRate(double rate) = 0;

    // Starts playing at the current position, or resumes after pause(). False when
    // playback could not start (no audio server, no output); then nothing plays.
    virtual bool play() = 0;
    // Holds playback at its position; play() continues from there.
    virtual void pause() = 0;
    // Ends playback and keeps the position; the finish handler does not run.
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;

    // Moves the play position to `seconds` from the start (clamped to the sound so far), playing
    // on from there when playing.
    virtual void setPosition(double seconds) = 0;
    // The sound's length in seconds at rate 1; of a sound still arriving, the part that
    // has arrived.
    virtual double duration() const = 0;
};

}  // namespace larkspire::platform
