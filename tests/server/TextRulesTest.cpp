// The text rules behind the cleaned transcript, checked directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "server/auth/Crypto.h"
#include "server/http/Faults.h"
#include "server/speech/TextCleanup.h"

namespace larkspire::server {
namespace {

TEST(CleanTranscript, CapitalisesClosesAndDropsFillers) {
    EXPECT_EQ(text::cleanTranscript("um please uh call the bank"), "Please call the bank.");
    EXPECT_EQ(text::cleanTranscript("where is the station"), "Where is the station?");
    EXPECT_EQ(text::cleanTranscript("i think i'm late"), "I think I'm late.");
    EXPECT_EQ(text::cleanTranscript(""), "");
    EXPECT_EQ(text::cleanTranscript("um uh"), "");
}

TEST(CleanTranscript, AppliesSpokenPunctuation) {
    EXPECT_EQ(text::cleanTranscript("hello comma world full stop how are you question mark"),
              "Hello, world. How are you?");
    EXPECT_EQ(text::cleanTranscript("first new paragraph second"), "First\n\nSecond.");
}

TEST(RawTranscript, DropsRecogniserMarkers) {
    EXPECT_EQ(text::rawTranscript("<s> hello(2) [NOISE] world <sil> </s>"), "hello world");
}

TEST(Title, TakesTheFirstWordsOfTheFirstLine) {
    EXPECT_EQ(text::titleFor("Please call the bank tomorrow morning."),
              "Please call the bank tomorrow morning");
    EXPECT_EQ(text::titleFor("One two three four five six seven eight nine ten."),
              "One two three four five six seven eight");
}

TEST(Codes, AreSixDigitsAndVary) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        auto c = crypto::sixDigitCode();
        ASSERT_EQ(c.size(), 6u);
        ASSERT_TRUE(std::all_of(c.begin(), c.end(), ::isdigit));
        seen.insert(c);
    }
    EXPECT_GT(seen.size(), 45u);
}

TEST(Passwords, VerifyOnlyTheRightOne) {
    auto stored = crypto::hashPassword("correct horse");
    EXPECT_TRUE(crypto::verifyPassword("correct horse", stored));
    EXPECT_FALSE(crypto::verifyPassword("correct horse ", stored));
    EXPECT_NE(stored, crypto::hashPassword("correct horse"));  // salted
}

TEST(FaultOptions, ParseStatusDelayAndCount) {
    auto f = Faults::parseFailOption("/api/transcribe=503x2");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->path, "/api/transcribe");
    EXPECT_EQ(f->status, 503);
    EXPECT_EQ(f->remaining, 2);
    EXPECT_FALSE(Faults::parseFailOption("/api/transcribe=42"));
    EXPECT_FALSE(Faults::parseFailOption("api=500"));
    auto d = Faults::parseDelayOption("/api/speech=250");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->delay.count(), 250);
    EXPECT_EQ(d->remaining, -1);

    Faults faults;
    faults.add(*Faults::parseFailOption("/x=500x2"));
    EXPECT_EQ(faults.take("/x")->status, 500);
    EXPECT_EQ(faults.take("/x")->status, 500);
    EXPECT_FALSE(faults.take("/x"));
}

}  // namespace
}  // namespace larkspire::server
