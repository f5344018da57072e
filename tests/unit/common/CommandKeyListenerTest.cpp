#include "platform/linux/common/CommandKeyListener.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/FnKeyMonitor.h"
#include "platform/fake/FakeKeyInjector.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/linux/common/KeyCommand.h"
#include "support/GestureLog.h"

namespace larkspire::linux_desktop {
namespace {

using Arguments = std::vector<std::string>;

TEST(KeyCommandTest, ReadsTheCommandLineOfAKeyBinding) {
    struct Case {
        Arguments arguments;
        std::optional<KeyCommand> command;
        bool requested = true;  // a key command at all, malformed or not
    };
    const std::vector<Case> cases = {
        {{"--key", "press"}, KeyCommand{true, false}},
        {{"--key=release"}, KeyCommand{false, false}},
        {{"--key", "press", "--control"}, KeyCommand{true, true}},
        {{"--control", "--key", "press"}, KeyCommand{true, true}},
        {{"--key"}, std::nullopt},
        {{"--key", "down"}, std::nullopt},
        {{"--key", "press", "--key", "release"}, std::nullopt},
        {{"--key", "press", "larkspire:open"}, std::nullopt},
        {{"--control"}, std::nullopt, false},
        {{"larkspire:open"}, std::nullopt, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeyCommand::parse(c.arguments), c.command)
            << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(KeyCommand::requested(c.arguments), c.requested)
            << ::testing::PrintToString(c.arguments);
    }
}

// Commands through the listener into the monitor that the X11 listener drives: the same
// gestures come out.
TEST(CommandKeyListenerTest, CommandsDriveTheGesturesOfTheDictationKey) {
    struct Case {
        const char* name;
        const char* key;  // the configured dictation key
        std::vector<KeyCommand> commands;
        std::vector<std::string> gestures;
    };
    const KeyCommand press{true, false};
    const KeyCommand pressWithControl{true, true};
    const KeyCommand release{false, false};
    const std::vector<Case> cases = {
        {"hold", "KEY_RIGHTALT", {press, release}, {"fnDown", "fnUp"}},
        {"with Control", "KEY_RIGHTALT", {pressWithControl, release}, {"contextDown", "contextUp"}},
        {"Right Ctrl as the key, with Control",
         "KEY_RIGHTCTRL",
         {pressWithControl, release},
         {"contextDown", "contextUp"}},
        {"Left Ctrl as the key, with Control",
         "KEY_LEFTCTRL",
         {pressWithControl, release},
         {"contextDown", "contextUp"}},
        {"repeated press", "KEY_F13", {press, press, press, release}, {"fnDown", "fnUp"}},
        {"release alone", "KEY_RIGHTALT", {release, release}, {}},
        {"Control released with the key",
         "KEY_RIGHTALT",
         {pressWithControl, release, press, release},
         {"contextDown", "contextUp", "fnDown", "fnUp"}},
    };
    for (const Case& c : cases) {
        fake::VirtualClock clock;
        fake::FakeScheduler scheduler{clock};
        InjectionJournal journal{clock};
        fake::ActionLog injected{clock};
        fake::FakeKeyInjector injector{injected};
        CommandKeyListener listener;
        FnKeyMonitor monitor(listener, scheduler, journal, injector);
        const FnKey key = *fnKeyNamed(c.key);
        monitor.setFnKey(key);
        testing::Gestures gestures;
        testing::recordGestures(monitor, gestures);
        ASSERT_TRUE(monitor.start());
        for (const KeyCommand& command : c.commands) {
            listener.handle(command);
            scheduler.runDue();
        }
        EXPECT_EQ(gestures, c.gestures) << c.name;
        EXPECT_FALSE(monitor.fnIsDown() || monitor.controlIsDown()) << c.name;
    }
}

}  // namespace
}  // namespace larkspire::linux_desktop
