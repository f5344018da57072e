#include "platform/linux/evdev/EvdevKeyListener.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "platform/fake/FakeSystemLog.h"
#include "platform/linux/evdev/UinputKeyInjector.h"
#include "support/TempDir.h"

namespace larkspire::platform {
void PrintTo(const RawKeyEvent& e, std::ostream* out) {
    *out << (e.button ? "button " : "key ") << e.keycode << (e.pressed ? " down" : " up")
         << (e.synthetic ? " synthetic" : "");
}
}  // namespace larkspire::platform

namespace larkspire::linux_desktop {
namespace {

using platform::RawKeyEvent;
using namespace std::chrono_literals;

// The events the listener delivered, from its thread.
class Heard {
  public:
    void add(const RawKeyEvent& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        arrived_.notify_all();
    }
    // Everything delivered once `count` events have arrived, or within 5 s.
    std::vector<RawKeyEvent> first(std::size_t count) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, 5s, [&] { return events_.size() >= count; });
        return events_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<RawKeyEvent> events_;
};

input_event ev(unsigned short type, unsigned short code, int value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

// A pipe in place of a device node; the listener opens it as a device.
std::filesystem::path makeNode(const std::filesystem::path& folder, const char* name) {
    const auto path = folder / name;
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return path;
}

// Opens the node for writing once the listener reads it.
int openWriter(const std::filesystem::path& node) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int fd = -1;
    while ((fd = open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    return fd;
}

void writeEvents(int fd, const std::vector<input_event>& events) {
    const auto size = static_cast<ssize_t>(events.size() * sizeof(input_event));
    ASSERT_EQ(write(fd, events.data(), static_cast<std::size_t>(size)), size);
}

TEST(EvdevKeyListenerTest, DeliversKeyTransitionsAndClicksOfADevice) {
    struct Case {
        const char* name;
        std::vector<input_event> written;
        std::vector<RawKeyEvent> delivered;
    };
    const input_event syn = ev(EV_SYN, SYN_REPORT, 0);
    const std::vector<Case> cases = {
        {"press, autorepeat, release",
         {ev(EV_MSC, MSC_SCAN, 7), ev(EV_KEY, KEY_RIGHTALT, 1), syn, ev(EV_KEY, KEY_RIGHTALT, 2),
          syn, ev(EV_KEY, KEY_RIGHTALT, 0), syn},
         {{KEY_RIGHTALT + 8, true}, {KEY_RIGHTALT + 8, false}}},
        {"a key past the buttons", {ev(EV_KEY, KEY_FN, 1), syn}, {{KEY_FN + 8, true}}},
        {"mouse buttons by their X numbers",
         {ev(EV_KEY, BTN_LEFT, 1), ev(EV_KEY, BTN_RIGHT, 1), ev(EV_KEY, BTN_MIDDLE, 0),
          ev(EV_KEY, BTN_SIDE, 1), syn},
         {{1, true, false, true},
          {3, true, false, true},
          {2, false, false, true},
          {8, true, false, true}}},
        {"a touchpad's touch and motion are no clicks",
         {ev(EV_KEY, BTN_TOUCH, 1), ev(EV_KEY, BTN_TOOL_FINGER, 1), ev(EV_REL, REL_X, 5),
          ev(EV_ABS, ABS_X, 300), syn},
         {}},
    };
    // Written after each case: everything before it has been delivered once it is.
    const RawKeyEvent marker{KEY_ESC + 8, true};
    for (const Case& c : cases) {
        testing::TempDir folder;
        const auto node = makeNode(folder.path(), "event0");
        fake::FakeSystemLog log;
        EvdevKeyListener listener(log, folder.path());
        Heard heard;
        ASSERT_TRUE(listener.start([&](const RawKeyEvent& e) { heard.add(e); })) << c.name;
        const int writer = openWriter(node);
        ASSERT_GE(writer, 0) << c.name;
        auto written = c.written;
        written.push_back(ev(EV_KEY, KEY_ESC, 1));
        writeEvents(writer, written);
        auto expected = c.delivered;
        expected.push_back(marker);
        EXPECT_EQ(heard.first(expected.size()), expected) << c.name;
        close(writer);
        listener.stop();
    }
}

TEST(EvdevKeyListenerTest, OpensADeviceThatAppearsWhileListening) {
    testing::TempDir folder;
    makeNode(folder.path(), "event0");
    fake::FakeSystemLog log;
    EvdevKeyListener listener(log, folder.path());
    Heard heard;
    ASSERT_TRUE(listener.start([&](const RawKeyEvent& e) { heard.add(e); }));
    const int writer = openWriter(makeNode(folder.path(), "event1"));
    ASSERT_GE(writer, 0);
    writeEvents(writer, {ev(EV_KEY, KEY_F13, 1), ev(EV_SYN, SYN_REPORT, 0)});
    const std::vector<RawKeyEvent> expected = {{KEY_F13 + 8, true}};
    EXPECT_EQ(heard.first(1), expected);
    close(writer);
}

TEST(EvdevKeyListenerTest, WithoutInputDevicesDoesNotStartAndSaysWhy) {
    testing::TempDir folder;
    testing::writeFile(folder.path() / "mice", "");
    std::filesystem::create_directory(folder.path() / "by-id");
    fake::FakeSystemLog log;
    EvdevKeyListener listener(log, folder.path());
    EXPECT_FALSE(listener.start([](const RawKeyEvent&) { ADD_FAILURE(); }));
    EXPECT_EQ(listener.unavailableReason(), "There are no input devices in " +
                                                folder.path().string() +
                                                ": Larkspire cannot hear the keyboard.");
}

// The injector's events read back by the listener are the ones it announced before
// sending: the agent's key monitor then claims them as its own.
TEST(UinputKeyInjectorTest, ListenerHearsTheChordsAsTheInjectorAnnouncedThem) {
    testing::TempDir folder;
    const auto node = makeNode(folder.path(), "event0");
    fake::FakeSystemLog log;
    EvdevKeyListener listener(log, folder.path());
    Heard heard;
    ASSERT_TRUE(listener.start([&](const RawKeyEvent& e) { heard.add(e); }));
    const int writer = openWriter(node);
    ASSERT_GE(writer, 0);
    std::vector<RawKeyEvent> announced;
    UinputKeyInjector injector(
        [&](int keycode, bool pressed) {
            announced.push_back({keycode, pressed});
        },
        writer);

    using platform::ChordKey;
    injector.sendChord({ChordKey::control, ChordKey::shift, ChordKey::v});
    injector.tapBlankKey();
    injector.release({KEY_RIGHTALT + 8});
    const int control = KEY_LEFTCTRL + 8;
    const int shift = KEY_LEFTSHIFT + 8;
    const int v = KEY_V + 8;
    const int blank = KEY_UNKNOWN + 8;
    const std::vector<RawKeyEvent> sent = {
        {control, true}, {shift, true},  {v, true},
        {v, false},      {shift, false}, {control, false},
        {blank, true},   {blank, false}, {KEY_RIGHTALT + 8, false}};
    EXPECT_EQ(announced, sent);
    EXPECT_EQ(heard.first(sent.size()), sent);
}

}  // namespace
}  // namespace larkspire::linux_desktop
