#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace larkspire::testing {

// One part of a multipart/form-data body.
struct FormPart {
    std::string name;
    std::optional<std::string> filename;
    std::optional<std::string> contentType;
    std::string data;
    bool operator==(const FormPart&) const = default;
};
// For test failures: the headers and the data's size, not the data.
void PrintTo(const FormPart& part, std::ostream* out);

// The boundary named by a "multipart/form-data; boundary=..." content type; empty if none.
std::string boundaryOf(std::string_view contentType);

// The parts of `body`, read strictly: every delimiter line, header and blank line must
// end in CRLF, a part's headers are only Content-Disposition and Content-Type, and
// nothing may follow the closing delimiter. Nullopt for anything else.
std::optional<std::vector<FormPart>> parseMultipart(std::string_view body,
                                                    std::string_view boundary);

}  // namespace larkspire::testing
