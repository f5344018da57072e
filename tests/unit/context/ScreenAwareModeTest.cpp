#include <gtest/gtest.h>

#include "context/ScreenAwareMode.h"

namespace larkspire {
namespace {

struct Case {
    const char* intent;
    bool inserted;
    const char* explanation;
    std::optional<std::string> spoken;
};

class FeedbackText : public ::testing::TestWithParam<Case> {};

TEST_P(FeedbackText, SaysWhatWasDone) {
    const auto& c = GetParam();
    EXPECT_EQ(ScreenAwareMode::feedbackText(c.intent, c.inserted, c.explanation), c.spoken);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FeedbackText,
    ::testing::Values(Case{"reply", true, "  I kept it short.\n", "I pasted it. I kept it short."},
                      Case{"reply", true, " \n", "I pasted your reply."},
                      Case{"write", true, "", "I pasted it."},
                      Case{"ask", false, "\tIt is a receipt. ", "It is a receipt."},
                      Case{"reply", false, "\n ", std::nullopt}));

}  // namespace
}  // namespace larkspire
