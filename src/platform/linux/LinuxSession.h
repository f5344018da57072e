#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/AccessibilityBus.h"
#include "platform/AudioInput.h"
#include "platform/AudioPlayerFactory.h"
#include "platform/Autostart.h"
#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/FloatingPanel.h"
#include "platform/FrontmostApp.h"
#include "platform/ImageEncoder.h"
#include "platform/KeyInjector.h"
#include "platform/KeyListener.h"
#include "platform/Keychain.h"
#include "platform/ModalAlert.h"
#include "platform/Scheduler.h"
#include "platform/StatusArea.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "platform/WindowCapture.h"

class QApplication;

namespace larkspire::linux_desktop {

// A key command ("--key press" and the like) handed to the running agent before any
// display connection: the exit status, or nothing when the arguments ask for none.
std::optional<int> handKeyCommand(const std::vector<std::string>& arguments);

// The desktop session the agent runs in, with every platform service it offers, chosen
// here: X11; under Wayland, the compositor's own protocols (wlroots: virtual keyboard,
// data control, screencopy, the key from its bindings), else the desktop portal (GNOME,
// KDE Plasma: global shortcuts, a remote-desktop keyboard, its clipboard), or evdev and
// uinput where the user chose them. The process entry composes the logic from these;
// it never names a technology. Main thread.
class LinuxSession {
  public:
    // Records a key the agent sends itself (X keycode, pressed), so that it is not taken
    // for the user's.
    using InjectionRecorder = std::function<void(int keycode, bool pressed)>;

    // What the user chose in the configuration file: "evdev" to hear keys from the input
    // devices, "uinput" to paste through a virtual device; empty for the session's own.
    struct Choices {
        std::string keySource;
        std::string pasteThrough;
    };

    // The session for this agent; null when another agent of the user runs, which then
    // got `arguments` (a "larkspire:" URL, or a plain relaunch).
    static std::unique_ptr<LinuxSession> open(QApplication& application,
                                              const std::vector<std::string>& arguments,
                                              const Choices& choices,
                                              InjectionRecorder ownInjection);
    ~LinuxSession();
    LinuxSession(const LinuxSession&) = delete;
    LinuxSession& operator=(const LinuxSession&) = delete;

    platform::Clock& clock();
    platform::Scheduler& scheduler();
    platform::SystemLog& log();
    platform::UserDefaults& defaults();
    platform::Desktop& desktop();
    platform::StatusArea& statusArea();
    platform::FloatingPanel& panel();
    platform::AudioInput& microphone();
    platform::AudioPlayerFactory& players();
    platform::Autostart& autostart();
    platform::Keychain& keychain();
    platform::KeyListener& keyListener();
    platform::KeyInjector& keyInjector();
    platform::Clipboard& clipboard();
    platform::FrontmostApp& frontmost();
    platform::Accessibility& accessibility();
    platform::AccessibilityBus& accessibilityBus();
    platform::WindowCapture& windowCapture();
    platform::ImageEncoder& imageEncoder();
    platform::ModalAlert& alerts();
    // Whether the keyboard layout types with Right Alt (AltGr), which then cannot be the
    // dictation key without losing characters.
    bool rightAltIsAltGr() const;

    // The tray icon shown (or its stand-in window); raised when a later launch asks for
    // the agent.
    void showStatusArea();
    void raiseStatusArea();
    // What a later launch hands over, key commands excepted (they go to the key listener
    // where the session hears keys through them).
    void onMessage(std::function<void(const std::vector<std::string>& arguments)> handler);
    // The desktop's approvals that come after sign-in (the portal's keyboard for pasting).
    void signedIn();
    // The path of a helper program of the agent ("larkspire-workspace"): beside it in a
    // build tree, else in libexec next to its bin folder.
    static std::string helperProgram(const std::string& name);

  private:
    struct Services;
    explicit LinuxSession(std::unique_ptr<Services> services);
    std::unique_ptr<Services> s_;
};

}  // namespace larkspire::linux_desktop
