#pragma once

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

namespace larkspire::server::fuzz {

// A server that takes one request from memory instead of a socket, so a fuzz target runs the
// library's request parsing (headers, chunked bodies, multipart forms) and the service's
// handlers without any network.
class MemoryServer : public httplib::Server {
  public:
    // Serves the request in `bytes`; returns what the server wrote back.
    std::string serve(std::string_view bytes) {
        MemoryStream stream(bytes);
        bool closed = false;
        process_request(stream, true, closed, [](httplib::Request&) {});
        return stream.written;
    }

  private:
    class MemoryStream : public httplib::Stream {
      public:
        explicit MemoryStream(std::string_view input) : input_(input) {}
        std::string written;

        bool is_readable() const override { return !input_.empty(); }
        bool is_writable() const override { return true; }
        ssize_t read(char* ptr, size_t size) override {
            size = std::min(size, input_.size());
            input_.copy(ptr, size);
            input_.remove_prefix(size);
            return static_cast<ssize_t>(size);
        }
        ssize_t write(const char* ptr, size_t size) override {
            written.append(ptr, size);
            return static_cast<ssize_t>(size);
        }
        void get_remote_ip_and_port(std::string& ip, int& port) const override {
            ip = "127.0.0.1";
            port = 50000;
        }
        void get_local_ip_and_port(std::string& ip, int& port) const override {
            ip = "127.0.0.1";
            port = 3000;
        }
        socket_t socket() const override { return INVALID_SOCKET; }

      private:
        std::string_view input_;
    };
};

// A request with `head` (ending in CRLF) and the fuzz input as its body. The first byte
// chooses the framing: even, a Content-Length; odd, chunked in pieces of byte / 2 + 1.
inline std::string frame(const std::string& head, std::string_view input) {
    unsigned char choice = input.empty() ? 0 : static_cast<unsigned char>(input[0]);
    std::string_view body = input.empty() ? input : input.substr(1);
    if ((choice & 1) == 0) {
        return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               std::string(body);
    }
    size_t piece = choice / 2 + 1;
    std::string out = head + "Transfer-Encoding: chunked\r\n\r\n";
    char size[32];
    while (!body.empty()) {
        std::string_view chunk = body.substr(0, piece);
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        out += size;
        out += chunk;
        out += "\r\n";
        body.remove_prefix(chunk.size());
    }
    return out + "0\r\n\r\n";
}

}  // namespace larkspire::server::fuzz
