#include "unit/vault/NotesServer.h"

#include <httplib.h>

#include <mutex>
#include <stdexcept>
#include <thread>

namespace larkspire::testing {

struct NotesServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    mutable std::mutex mutex;
    int status = 200;
    std::string body = R"({"notes":[]})";
    std::vector<std::string> targets;
};

NotesServer::NotesServer() : impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    impl.server.Get("/api/notes",
                    [&impl](const httplib::Request& request, httplib::Response& response) {
                        std::lock_guard lock(impl.mutex);
                        impl.targets.push_back(request.target);
                        response.status = impl.status;
                        response.set_content(impl.body, "application/json");
                    });
    impl.port = impl.server.bind_to_any_port("127.0.0.1");
    if (impl.port <= 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    impl.thread = std::thread([&impl] { impl.server.listen_after_bind(); });
    // stop() does nothing before the accept loop runs; wait for it so teardown never hangs.
    while (!impl.server.is_running()) {
        std::this_thread::yield();
    }
}

NotesServer::~NotesServer() {
    impl_->server.stop();
    impl_->thread.join();
}

std::string NotesServer::url() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

void NotesServer::setNotes(const std::vector<nlohmann::json>& notes) {
    setAnswer(200, nlohmann::json{{"notes", nlohmann::json(notes)}}.dump());
}

void NotesServer::setAnswer(int status, std::string body) {
    std::lock_guard lock(impl_->mutex);
    impl_->status = status;
    impl_->body = std::move(body);
}

std::vector<std::string> NotesServer::targets() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->targets;
}

}  // namespace larkspire::testing
