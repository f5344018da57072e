#include <signal.h>
#include <sys/resource.h>

#include "AppFixture.h"

namespace larkspire {
namespace {

using testing::FakeInsertion;
using testing::Strings;

class Reliability : public testing::AppFixture {
  protected:
    void SetUp() override {
        testing::AppFixture::SetUp();
        signedIn();
        insertion.front = std::make_shared<FakeInsertion::Target>(4242, false);
        start();
    }
    int uploads() const { return transport->count("/api/transcribe"); }
};

TEST_F(Reliability, ARetryChosenAgainWhileTheFirstIsInFlightSendsNothingTwice) {
    transport->on("/api/transcribe", 500, R"({"error":"Transcription failed"})");
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    transport->on("/api/transcribe", 200, R"({"text":"Once."})");
    app->retryRecordingItem()->trigger();
    app->retryRecordingItem()->trigger();  // the first retry has not come back yet
    scheduler.runUntilIdle();
    EXPECT_EQ(uploads(), 2);  // the failed one and one retry
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Once."});
}

TEST_F(Reliability, ADoubleTapThatRecordedNothingNeverClaimsHandsFreeRecording) {
    for (const bool secureField : {true, false}) {
        SCOPED_TRACE(secureField ? "secure field" : "microphone refused");
        insertion.front = std::make_shared<FakeInsertion::Target>(77, secureField);
        microphone.setAuthorization(secureField ? platform::MicrophoneAuthorization::authorized
                                                : platform::MicrophoneAuthorization::denied);
        for (int tap = 0; tap < 2; ++tap) {
            app->fnDown();
            scheduler.advance(platform::Duration(0.1));
            app->fnUp();
        }
        EXPECT_FALSE(app->locked());
        EXPECT_NE(panel.content().text, "Recording hands-free");
        scheduler.advance(platform::Duration(5));
    }
}

// A file-size limit stands in for a full disk: writes past it fail as they would there.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_{};
};

TEST_F(Reliability, AFailedWriteIsSaidAndEndsTheRecordingKeepingWhatWasWritten) {
    transport->on("/api/transcribe", 500, R"({"error":"Transcription failed"})");
    microphone.load(tone(1.0));
    app->fnDown();
    EXPECT_EQ(panel.content().text, "Listening");
    {
        const FileSizeLimit twoBlocks(68 + 2 * 4 * fake::FakeAudioInput::kBlockFrames + 100);
        microphone.playAll();
        scheduler.runSerialQueues();
        scheduler.runDue();
    }
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_NE(panel.content().text, "Listening");
    EXPECT_EQ(status.icon().accessibility, "Couldn’t save the recording: File too large");
    scheduler.runUntilIdle();
    ASSERT_EQ(store().pendingRecordings().size(), 1u);
    // The two blocks written before the failure, as 16 kHz audio.
    EXPECT_GT(std::filesystem::file_size(store().pendingRecordings().front()), 5000u);
    EXPECT_EQ(Recorder::saveFailureText(ENOSPC), "Couldn’t save the recording: the disk is full");
}

}  // namespace
}  // namespace larkspire
