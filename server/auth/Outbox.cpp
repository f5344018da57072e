#include "server/auth/Outbox.h"

#include <fstream>
#include <stdexcept>

namespace larkspire::server {

Outbox::Outbox(std::filesystem::path file, Log log)
    : file_(std::move(file)), log_(std::move(log)) {}

void Outbox::send(const std::string& to, const std::string& subject, const std::string& body,
                  const std::string& date) {
    std::string message =
        "To: " + to + "\nSubject: " + subject + "\nDate: " + date + "\n\n" + body + "\n\n";
    {
        std::lock_guard lock(mutex_);
        std::ofstream out(file_, std::ios::app | std::ios::binary);
        out << message;
        out.flush();
        if (!out) {
            throw std::runtime_error("cannot append to " + file_.string());
        }
    }
    log_("mail to " + to + ": " + subject + " | " + body);
}

}  // namespace larkspire::server
