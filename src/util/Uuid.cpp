#include "util/Uuid.h"

#include <uuid/uuid.h>

namespace larkspire::uuid {
namespace {

std::string random(void (*unparse)(const uuid_t, char*)) {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    unparse(id, text);
    return text;
}

}  // namespace

std::string randomLowerCase() {
    return random(uuid_unparse_lower);
}
std::string randomUpperCase() {
    return random(uuid_unparse_upper);
}

bool isValid(std::string_view text) {
    if (text.size() != 36) {
        return false;  // also keeps a NUL inside the text from cutting it short
    }
    uuid_t parsed;
    return uuid_parse(std::string(text).c_str(), parsed) == 0;
}

}  // namespace larkspire::uuid
