#include "support/Multipart.h"

namespace larkspire::testing {
namespace {

// The quoted value of `key="..."` in a Content-Disposition line.
std::optional<std::string> quoted(std::string_view line, std::string_view key) {
    const std::string needle = "; " + std::string(key) + "=\"";
    const size_t at = line.find(needle);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const size_t start = at + needle.size();
    const size_t end = line.find('"', start);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(line.substr(start, end - start));
}

}  // namespace

void PrintTo(const FormPart& part, std::ostream* out) {
    *out << "{" << part.name << ", filename " << part.filename.value_or("none") << ", type "
         << part.contentType.value_or("none") << ", " << part.data.size() << " bytes}";
}

std::string boundaryOf(std::string_view contentType) {
    constexpr std::string_view prefix = "multipart/form-data; boundary=";
    return contentType.starts_with(prefix) ? std::string(contentType.substr(prefix.size())) : "";
}

std::optional<std::vector<FormPart>> parseMultipart(std::string_view body,
                                                    std::string_view boundary) {
    const std::string delimiter = "--" + std::string(boundary);
    if (boundary.empty() || !body.starts_with(delimiter + "\r\n")) {
        return std::nullopt;
    }
    std::vector<FormPart> parts;
    size_t pos = delimiter.size() + 2;
    for (;;) {
        const size_t headEnd = body.find("\r\n\r\n", pos);
        const size_t next = body.find("\r\n" + delimiter, pos);
        if (headEnd == std::string_view::npos || next == std::string_view::npos || next < headEnd) {
            return std::nullopt;
        }
        FormPart part;
        for (size_t line = pos; line < headEnd + 2;) {
            const size_t end = body.find("\r\n", line);
            const std::string_view header = body.substr(line, end - line);
            if (header.starts_with("Content-Disposition: form-data; name=\"")) {
                part.name = quoted(header, "name").value_or("");
                part.filename = quoted(header, "filename");
            } else if (header.starts_with("Content-Type: ")) {
                part.contentType = std::string(header.substr(14));
            } else {
                return std::nullopt;
            }
            line = end + 2;
        }
        part.data = std::string(body.substr(headEnd + 4, next - headEnd - 4));
        parts.push_back(std::move(part));
        pos = next + 2 + delimiter.size();
        if (body.substr(pos) == "--\r\n") {
            return parts;
        }
        if (!body.substr(pos).starts_with("\r\n")) {
            return std::nullopt;
        }
        pos += 2;
    }
}

}  // namespace larkspire::testing
