#include "support/LoopbackServer.h"

#include <httplib.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace larkspire::testing {

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
        if (strcasecmp(n.c_str(), name.c_str()) == 0) {
            return v;
        }
    }
    return std::nullopt;
}

size_t RecordedRequest::headerCount(const std::string& name) const {
    return static_cast<size_t>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) {
        return strcasecmp(h.first.c_str(), name.c_str()) == 0;
    }));
}

struct LoopbackServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::vector<RecordedRequest> requests;
    std::map<std::string, CannedResponse> standing;
    std::map<std::string, std::deque<CannedResponse>> pending;

    void handle(const httplib::Request& request, httplib::Response& response) {
        RecordedRequest seen{request.method, request.target, request.path, {}, request.body};
        for (const auto& [name, value] : request.headers) {
            // httplib adds these on its side of the socket; they were never sent.
            if (!name.starts_with("REMOTE_") && !name.starts_with("LOCAL_")) {
                seen.headers.emplace_back(name, value);
            }
        }
        std::unique_lock lock(mutex);
        requests.push_back(std::move(seen));
        CannedResponse answer{404, R"({"error":"no handler in the test server"})"};
        if (auto it = pending.find(request.path); it != pending.end() && !it->second.empty()) {
            answer = std::move(it->second.front());
            it->second.pop_front();
        } else if (auto s = standing.find(request.path); s != standing.end()) {
            answer = s->second;
        }
        if (answer.noAnswer) {
            stopped.wait(lock, [this] { return stopping; });
            return;
        }
        response.status = answer.status;
        for (const auto& [name, value] : answer.headers) {
            response.set_header(name, value);
        }
        if (answer.trickleMs > 0) {
            const auto pause = std::chrono::milliseconds(answer.trickleMs);
            response.set_content_provider(
                answer.body.size(), "application/json",
                [body = answer.body, pause](size_t offset, size_t, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(pause);
                    sink.write(body.data() + offset, 1);
                    return true;
                });
        } else if (answer.omitContentLength) {
            response.set_chunked_content_provider(
                "text/plain", [body = answer.body](size_t, httplib::DataSink& sink) {
                    sink.write(body.data(), body.size());
                    sink.done();
                    return true;
                });
        } else {
            response.set_content(answer.body, "application/json");
        }
    }
};

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    const auto handler = [&impl](const httplib::Request& request, httplib::Response& response) {
        impl.handle(request, response);
    };
    impl.server.Get(".*", handler);
    impl.server.Post(".*", handler);
    impl.server.Put(".*", handler);
    impl.server.Delete(".*", handler);
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

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->stopped.notify_all();
    impl_->server.stop();
    impl_->thread.join();
}

std::string LoopbackServer::url() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

int LoopbackServer::port() const {
    return impl_->port;
}

void LoopbackServer::on(const std::string& path, CannedResponse response) {
    std::lock_guard lock(impl_->mutex);
    impl_->standing[path] = std::move(response);
}

void LoopbackServer::once(const std::string& path, CannedResponse response) {
    std::lock_guard lock(impl_->mutex);
    impl_->pending[path].push_back(std::move(response));
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<RecordedRequest> LoopbackServer::requestsTo(const std::string& path) const {
    std::vector<RecordedRequest> out = requests();
    std::erase_if(out, [&](const RecordedRequest& r) { return r.path != path; });
    return out;
}

}  // namespace larkspire::testing
