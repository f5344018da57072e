#include "AppFixture.h"

namespace larkspire {
namespace {

using testing::Shown;
using testing::Strings;

class ReadingAloud : public testing::AppFixture {
  protected:
    void SetUp() override {
        testing::AppFixture::SetUp();
        signedIn();
        transport->on("/api/speech", speech);
        start();
    }

    void choose() { app->readAloudItem()->trigger(); }
    // Chooses the item and lets the service answer: the reading is playing.
    fake::FakeAudioPlayer& playing(const std::string& text = "Hello there.") {
        clipboard.setText(text);
        choose();
        scheduler.runUntilIdle();
        EXPECT_NE(players.latest(), nullptr);
        return *players.latest();
    }
    std::string title() const { return app->readAloudItem()->title(); }
    std::string bytesOf(const fake::FakeAudioPlayer& p) const {
        return std::string(p.bytes().begin(), p.bytes().end());
    }
    // The panel is visible until just before `seconds` from now, and hidden just after.
    void expectHiddenAfter(double seconds) {
        scheduler.advance(platform::Duration(seconds - 0.01));
        EXPECT_TRUE(panel.isVisible()) << "hidden before " << seconds << " s";
        scheduler.advance(platform::Duration(0.02));
        EXPECT_FALSE(panel.isVisible()) << "still shown after " << seconds << " s";
    }

    Strings texts;
    // Each answer names its request, so a test can tell which audio was played.
    std::function<HttpResponse(const HttpRequest&)> speech = [this](const HttpRequest& request) {
        texts.push_back(nlohmann::json::parse(request.body).at("text"));
        return HttpResponse{"RIFF-" + std::to_string(texts.size()), 200};
    };
};

TEST_F(ReadingAloud, PreparesThenPlaysTheTrimmedClipboardAndEndsQuietly) {
    clipboard.setText("\n  Hello there.\u00a0\t");
    choose();
    EXPECT_EQ(title(), "Stop reading");
    EXPECT_EQ(shown(), (Shown{"Preparing your voice", "speaker.wave.2", "speaker.wave.2",
                              "Preparing clipboard audio"}));
    EXPECT_EQ(scheduler.backgroundPriorities(), std::vector{platform::Priority::userInitiated});

    scheduler.runUntilIdle();
    EXPECT_EQ(texts, Strings{"Hello there."});
    fake::FakeAudioPlayer* player = players.latest();
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(bytesOf(*player), "RIFF-1");
    EXPECT_EQ(player->calls(), Strings{"play"});  // at the default rate
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(shown(), (Shown{"Reading clipboard", "speaker.wave.2.fill", "speaker.wave.2.fill",
                              "Reading clipboard aloud"}));
    EXPECT_TRUE(panel.content().controlsVisible);
    EXPECT_EQ(panel.frame().width, 330);
    EXPECT_EQ(title(), "Stop reading");

    app->toggleItem()->setTitle("Stop & transcribe");
    player->finish(true);
    scheduler.runDue();
    EXPECT_EQ(players.latest(), nullptr);
    EXPECT_EQ(title(), "Read clipboard aloud");
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    EXPECT_EQ(app->toggleItem()->title(), "Start recording");
    EXPECT_FALSE(panel.isVisible());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(ReadingAloud, PauseRestartAndResumeFromThePanel) {
    fake::FakeAudioPlayer& player = playing();
    panel.clickPause();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(shown(), (Shown{"Reading paused", "speaker.slash.fill", "pause.circle.fill",
                              "Clipboard reading paused"}));
    EXPECT_EQ(panel.content().pauseSymbol, "play.fill");
    EXPECT_EQ(panel.content().pauseLabel, "Resume");
    EXPECT_EQ(title(), "Stop reading");

    panel.clickRestart();
    EXPECT_TRUE(player.isPlaying());
    EXPECT_EQ(player.calls(), (Strings{"play", "pause", "position 0.000000", "play"}));
    EXPECT_EQ(shown(), (Shown{"Reading clipboard", "speaker.wave.2.fill", "speaker.wave.2.fill",
                              "Reading clipboard aloud from the beginning"}));
    EXPECT_EQ(panel.content().pauseSymbol, "pause.fill");
    EXPECT_EQ(panel.content().pauseLabel, "Pause");

    panel.clickPause();
    panel.clickPause();
    EXPECT_TRUE(player.isPlaying());
    EXPECT_EQ(shown(), (Shown{"Reading clipboard", "speaker.wave.2.fill", "speaker.wave.2.fill",
                              "Reading clipboard aloud"}));
}

// Stopping from the menu item or the panel, while preparing, playing or paused.
TEST_F(ReadingAloud, EveryStopEndsTheReadingAtOnce) {
    struct Case {
        const char* name;
        std::function<void()> before;  // brings the reading into its state
        std::function<void()> stop;
    };
    const std::vector<Case> cases{
        {"menu while preparing",
         [this] {
             clipboard.setText("Hello.");
             choose();
         },
         [this] { choose(); }},
        // An answer that is no longer current says nothing, not even a failure.
        {"menu while preparing, the answer fails",
         [this] {
             transport->on("/api/speech", 500, R"({"error":"Speech synthesis failed"})");
             clipboard.setText("Hello.");
             choose();
         },
         [this] { choose(); }},
        {"menu while playing", [this] { playing(); }, [this] { choose(); }},
        {"menu while paused",
         [this] {
             playing();
             panel.clickPause();
         },
         [this] { choose(); }},
        {"panel while playing", [this] { playing(); }, [this] { panel.clickStop(); }},
        {"panel while paused",
         [this] {
             playing();
             panel.clickPause();
         },
         [this] { panel.clickStop(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        c.stop();
        EXPECT_EQ(players.latest(), nullptr);  // dropped, which silences it
        EXPECT_EQ(title(), "Read clipboard aloud");
        EXPECT_EQ(shown(),
                  (Shown{"Reading stopped", "stop.circle", "larkspire.idle", "Larkspire idle"}));
        EXPECT_FALSE(panel.content().controlsVisible);
        scheduler.runUntilIdle();  // a late answer is dropped
        EXPECT_EQ(players.latest(), nullptr);
        EXPECT_EQ(panel.content().text, "Reading stopped");
        expectHiddenAfter(1.2);
        EXPECT_TRUE(log.lines.empty());
        transport->on("/api/speech", speech);
    }
}

TEST_F(ReadingAloud, OnlyTheCurrentRequestsAudioIsPlayed) {
    clipboard.setText("First.");
    choose();
    choose();  // stopped while the first audio is prepared
    clipboard.setText("Second.");
    choose();
    ASSERT_EQ(scheduler.pendingBackground(), 2u);
    scheduler.runUntilIdle();
    EXPECT_EQ(texts, (Strings{"First.", "Second."}));
    ASSERT_EQ(players.made(), 1);
    EXPECT_EQ(bytesOf(*players.latest()), "RIFF-2");
    EXPECT_EQ(panel.content().text, "Reading clipboard");
    // The stopped reading's download was told to end; the current one was not.
    const auto requests = transport->sentTo("/api/speech");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].cancelled && *requests[0].cancelled);
    EXPECT_TRUE(requests[1].cancelled && !*requests[1].cancelled);
}

TEST_F(ReadingAloud, TheAnswerIsDecodedOffTheMainQueueAndAQuitCancelsItsDownload) {
    clipboard.setText("Hello.");
    choose();
    scheduler.runBackground();  // the request and the decoding
    EXPECT_EQ(players.made(), 1);
    EXPECT_EQ(panel.content().text, "Preparing your voice");
    scheduler.runDue();
    ASSERT_NE(players.latest(), nullptr);
    EXPECT_TRUE(players.latest()->isPlaying());
    panel.clickStop();
    choose();
    app.reset();  // quit while the second reading is being prepared
    scheduler.runUntilIdle();
    const auto requests = transport->sentTo("/api/speech");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(*requests[1].cancelled);
    EXPECT_EQ(players.made(), 1);
}

TEST_F(ReadingAloud, FailuresShowOnThePanelAndAsTheWarning) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* copied;  // put on the clipboard, then the item is chosen
        std::string message;
    };
    const std::string kEmpty = "Copy some text, then choose Read clipboard aloud";
    const auto answer = [this](int status, std::string body) {
        return [this, status, body] { transport->on("/api/speech", status, body); };
    };
    const std::vector<Case> cases{
        {"empty clipboard", nullptr, "", kEmpty},
        {"only white space", nullptr, " \n\t\u2003", kEmpty},
        {"no text on the clipboard",
         [this] {
             clipboard = fake::FakeClipboard{};
             choose();
         },
         nullptr, kEmpty},
        {"service error", answer(500, R"({"error":"Speech synthesis failed"})"), "Hello.",
         "Speech synthesis failed"},
        {"service error without a text", answer(502, "<html>Bad gateway</html>"), "Hello.",
         "Speech request HTTP 502"},
        {"audio that does not decode", answer(200, "ID3 but not really"), "Hello.",
         "Couldn’t play generated audio"},
        {"playback that does not start", [this] { players.startFails = true; }, "Hello.",
         "Couldn’t play generated audio"},
        {"playback that breaks off",
         [this] {
             playing().finish(false);
             scheduler.runDue();
         },
         nullptr, "Audio playback stopped unexpectedly"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        const int requests = transport->count("/api/speech");
        if (c.arrange) {
            c.arrange();
        }
        if (c.copied) {
            clipboard.setText(c.copied);
            choose();
        }
        scheduler.runUntilIdle();
        const bool empty = c.message == kEmpty;
        EXPECT_EQ(shown(), (Shown{empty ? "Copy some text first" : "Couldn’t read clipboard",
                                  empty ? "doc.on.clipboard" : "exclamationmark.triangle",
                                  "exclamationmark.triangle", c.message}));
        EXPECT_EQ(log.lines, Strings{"Vantrel error: " + c.message});
        EXPECT_EQ(title(), "Read clipboard aloud");
        EXPECT_EQ(players.latest(), nullptr);
        EXPECT_EQ(transport->count("/api/speech") - requests, empty ? 0 : 1);
        expectHiddenAfter(2.0);
        scheduler.advance(platform::Duration(0.5));  // the warning's own 2.5 s
        EXPECT_EQ(status.icon().name, "larkspire.idle");
        transport->on("/api/speech", speech);
        players.startFails = false;
    }
}

// A long answer arrives in pieces; the main queue runs between them, as it does while the
// download goes on.
class ReadingAnArrivingAnswer : public ReadingAloud {
  protected:
    // The answer's first piece, then `rest` (further pieces, or how the download ends).
    void answerInPieces(std::function<HttpResponse(const HttpRequest&)> rest) {
        transport->on("/api/speech", [this, rest](const HttpRequest& request) {
            EXPECT_TRUE(request.onBody("RIFF-first"));
            scheduler.runDue();
            return rest(request);
        });
        clipboard.setText("A long text.");
        choose();
    }
    // What libcurl does when the body's handler refuses a piece.
    static HttpResponse more(const HttpRequest& request, std::string_view piece) {
        if (!request.onBody(piece)) {
            throw TransportError(23, "Failure writing output to destination");
        }
        return HttpResponse{"", 200};
    }
};

TEST_F(ReadingAnArrivingAnswer, PlaysFromTheFirstPieceOnAndEndsQuietlyAfterTheLast) {
    bool playedBeforeTheEnd = false;
    answerInPieces([&](const HttpRequest& request) {
        const fake::FakeAudioPlayer* player = players.latest();
        playedBeforeTheEnd =
            player && player->isPlaying() && player->arriving() && bytesOf(*player) == "RIFF-first";
        EXPECT_EQ(shown(), (Shown{"Reading clipboard", "speaker.wave.2.fill", "speaker.wave.2.fill",
                                  "Reading clipboard aloud"}));
        return more(request, "-second");
    });
    scheduler.runUntilIdle();
    EXPECT_TRUE(playedBeforeTheEnd);
    ASSERT_EQ(players.made(), 1);
    fake::FakeAudioPlayer& player = *players.latest();
    EXPECT_EQ(bytesOf(player), "RIFF-first-second");
    EXPECT_FALSE(player.arriving());
    EXPECT_EQ(player.calls(), Strings{"play"});
    player.finish(true);
    scheduler.runDue();
    EXPECT_EQ(title(), "Read clipboard aloud");
    EXPECT_TRUE(log.lines.empty());
}

// A stop while the rest downloads ends the download at its next piece; a download that
// breaks off ends the reading with the transport's text, however much had played.
TEST_F(ReadingAnArrivingAnswer, AStopEndsTheDownloadAndABreakEndsTheReading) {
    bool refused = false;
    answerInPieces([&](const HttpRequest& request) {
        choose();  // "Stop reading"
        EXPECT_TRUE(*request.cancelled);
        refused = !request.onBody("-second");
        return more(request, "-third");
    });
    scheduler.runUntilIdle();
    EXPECT_TRUE(refused);
    EXPECT_EQ(players.latest(), nullptr);
    EXPECT_EQ(shown(),
              (Shown{"Reading stopped", "stop.circle", "larkspire.idle", "Larkspire idle"}));
    EXPECT_TRUE(log.lines.empty());

    const std::string broken = "transfer closed with 52000 bytes remaining to read";
    answerInPieces([&](const HttpRequest&) -> HttpResponse {
        EXPECT_TRUE(players.latest() && players.latest()->isPlaying());
        throw TransportError(18, broken);
    });
    scheduler.runUntilIdle();
    EXPECT_EQ(players.latest(), nullptr);
    EXPECT_EQ(shown(), (Shown{"Couldn’t read clipboard", "exclamationmark.triangle",
                              "exclamationmark.triangle", broken}));
    EXPECT_EQ(log.lines, Strings{"Vantrel error: " + broken});
    EXPECT_EQ(title(), "Read clipboard aloud");
}

}  // namespace
}  // namespace larkspire
