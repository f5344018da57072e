#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace larkspire::testing {

// The notes endpoint on 127.0.0.1 with a kernel-chosen port, on its own thread. It answers
// GET /api/notes with whatever the test set last and records each request's target.
class NotesServer {
  public:
    NotesServer();
    ~NotesServer();
    NotesServer(const NotesServer&) = delete;
    NotesServer& operator=(const NotesServer&) = delete;

    // "http://127.0.0.1:PORT"
    std::string url() const;
    // Answers 200 with {"notes": notes}.
    void setNotes(const std::vector<nlohmann::json>& notes);
    void setAnswer(int status, std::string body);
    // Path and query of every request, in arrival order.
    std::vector<std::string> targets() const;
    size_t requestCount() const { return targets().size(); }

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace larkspire::testing
