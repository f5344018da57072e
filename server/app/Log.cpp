#include "server/app/Log.h"

#include <chrono>
#include <ctime>

namespace larkspire::server {

void Log::line(const std::string& text) {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::lock_guard lock(mutex_);
    out_ << stamp << ' ' << text << std::endl;
}

}  // namespace larkspire::server
