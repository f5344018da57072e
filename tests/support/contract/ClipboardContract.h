#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/Clipboard.h"

namespace larkspire::contract {

// What every Clipboard does, fake and real alike. Instantiate with a type whose `make()`
// returns a clipboard.
template <class Maker>
class ClipboardContract : public ::testing::Test {
  protected:
    std::unique_ptr<platform::Clipboard> clipboard = Maker::make();
};
TYPED_TEST_SUITE_P(ClipboardContract);

TYPED_TEST_P(ClipboardContract, EachWriteReplacesTheWholeText) {
    for (const std::string text :
         {"a longer first text", "héllo wörld ✓", "two\nlines\r\n\ttab", "x", ""}) {
        this->clipboard->setText(text);
        EXPECT_EQ(this->clipboard->text(), text);
    }
}

TYPED_TEST_P(ClipboardContract, OfferingPrimaryLeavesTheClipboardAlone) {
    this->clipboard->setText("on the clipboard");
    this->clipboard->setPrimaryText("on primary");
    EXPECT_EQ(this->clipboard->text(), "on the clipboard");
}

REGISTER_TYPED_TEST_SUITE_P(ClipboardContract, EachWriteReplacesTheWholeText,
                            OfferingPrimaryLeavesTheClipboardAlone);

}  // namespace larkspire::contract
