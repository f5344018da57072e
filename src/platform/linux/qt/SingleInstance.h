#pragma once

#include <QLocalServer>
#include <QStringList>
#include <functional>
#include <memory>

namespace larkspire::linux_desktop {

// One agent per user session. The first launch listens on a socket in the runtime
// folder; a later launch hands its arguments (a "larkspire:" URL, say) to it and exits.
class SingleInstance {
  public:
    explicit SingleInstance(QString name);
    ~SingleInstance();
    // True when this process is the only agent; false when another one took the message.
    bool claim(const QStringList& arguments);
    // Called in the running agent with what a later launch was given.
    void onMessage(std::function<void(const QStringList&)> handler) {
        handler_ = std::move(handler);
    }

  private:
    QString name_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void(const QStringList&)> handler_;
};

}  // namespace larkspire::linux_desktop
