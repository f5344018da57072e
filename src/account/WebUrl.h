#pragma once

#include <optional>
#include <string>

namespace larkspire {

// The parts of an absolute URL the workspace decides by, read with libcurl's URL parser.
// Absent parts are empty; `path` is percent-decoded.
struct WebUrl {
    std::string scheme;
    std::string host;
    std::string port;
    std::string path;

    // Any scheme is accepted; absent when the text is not an absolute URL.
    static std::optional<WebUrl> parse(const std::string& text);
    // `reference` resolved against `base`, as absolute text; absent when either fails.
    static std::optional<std::string> resolve(const std::string& base,
                                              const std::string& reference);
};

}  // namespace larkspire
