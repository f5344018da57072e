#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "service/Http.h"

namespace larkspire::fuzz {

// Stops the run as a finding: libFuzzer saves the input that got here.
[[noreturn]] inline void fail(std::string_view what) {
    std::fprintf(stderr, "fuzz finding: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

// Answers every request with one status and body, as a hostile service would.
class AnswerTransport : public HttpTransport {
  public:
    AnswerTransport(int status, std::string body) : status_(status), body_(std::move(body)) {}
    HttpResponse send(const HttpRequest&) override { return {body_, status_}; }

  private:
    int status_;
    std::string body_;
};

// A private folder for the files one input turns into, in memory where the system offers
// /dev/shm (a pass syncs its files: on a disk that costs most of the run). Removed with
// the object.
class ScratchFolder {
  public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp && *tmp ? tmp : "/tmp";
        if (std::filesystem::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0) {
            base = "/dev/shm";
        }
        std::string pattern = base + "/larkspire-fuzz.XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            fail("cannot create a scratch folder");
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Empties the folder for the next input.
    void clear() const {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace larkspire::fuzz
