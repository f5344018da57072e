#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/Insertion.h"

namespace larkspire::fake {

// Records what was pasted where; targets are made by the test.
class FakeInsertion : public Insertion {
  public:
    struct Target : InsertionPoint {
        Target(std::int32_t pid, bool secure) : pid(pid), secure(secure) {}
        std::int32_t processId() const override { return pid; }
        bool isSecure() const override { return secure; }
        std::int32_t pid;
        bool secure;
    };

    std::shared_ptr<InsertionPoint> capture() override {
        ++captures;
        return front;
    }
    void paste(const InsertionPoint& target, const std::string& text) override {
        events.push_back("paste " + std::to_string(target.processId()) + " " + text);
    }
    void pasteFront(const std::string& text) override { events.push_back("pasteFront " + text); }
    bool isRunning(std::int32_t pid) override { return running.count(pid) > 0; }
    void activate(std::int32_t pid) override {
        events.push_back("activate " + std::to_string(pid));
    }
    void undo() override { events.push_back("undo"); }
    void copyToClipboard(const std::string& text) override { events.push_back("copy " + text); }

    std::shared_ptr<InsertionPoint> front;
    std::set<std::int32_t> running;
    std::vector<std::string> events;
    int captures = 0;
};

}  // namespace larkspire::fake
