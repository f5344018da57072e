#pragma once

#include <string>
#include <string_view>

namespace larkspire::uuid {

// A random (version 4) UUID in its canonical 36-character text.
std::string randomLowerCase();
std::string randomUpperCase();
// True for the 8-4-4-4-12 hexadecimal text of a UUID, in either case.
bool isValid(std::string_view text);

}  // namespace larkspire::uuid
