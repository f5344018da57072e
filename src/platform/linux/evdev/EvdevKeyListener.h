#pragma once

#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <thread>

#include "platform/KeyListener.h"
#include "platform/SystemLog.h"
#include "util/FileIO.h"

namespace larkspire::linux_desktop {

// Keys and mouse buttons of every input device in `folder` (/dev/input), read from the
// kernel's evdev nodes on a thread of its own. It hears every session, Wayland included,
// but needs read access to the devices (the "input" group). Listen-only: no device is
// grabbed, so the desktop still gets every event. Keyboards plugged in later are opened
// as they appear. Events of the agent's own virtual keyboard (UinputKeyInjector) arrive
// marked synthetic.
class EvdevKeyListener : public platform::KeyListener {
  public:
    explicit EvdevKeyListener(platform::SystemLog& log,
                              std::filesystem::path folder = "/dev/input");
    ~EvdevKeyListener() override;

    bool start(Handler handler) override;
    std::string unavailableReason() const override { return reason_; }
    void stop() override;

  private:
    struct Device {
        Device(int descriptor, std::string node, bool synthetic)
            : fd(descriptor), node(std::move(node)), synthetic(synthetic) {}
        fileio::FileDescriptor fd;
        std::string node;  // name in the folder ("event3")
        bool synthetic;
    };
    enum class Opened { reading, skipped, unreadable };

    // Opens the node `name` of the folder and keeps it when it reports keys or buttons.
    Opened open(const std::string& name);
    void run();
    // Delivers what the device has ready; false when it is gone.
    bool drain(Device& device);
    void openAdded();

    platform::SystemLog& log_;
    std::filesystem::path folder_;
    std::string reason_;
    Handler handler_;
    // Touched by start() before the thread runs and by the thread after.
    std::list<Device> devices_;
    std::optional<fileio::FileDescriptor> wake_;
    std::optional<fileio::FileDescriptor> added_;  // inotify of the folder
    std::thread thread_;
};

}  // namespace larkspire::linux_desktop
